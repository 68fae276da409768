#pragma once

#include <QString>

// One archive for a support case (gzip-compressed tar), made from a data
// folder while the host may be running:
//
//   trace/          Linkhub's wire trace ring (positions and items, no
//                   sample numbers)
//   settings.txt    what shapes the link: the port, the time-outs, the
//                   reconnection, the work mode, and the environment
//                   variables that override them
//   placements.db   a consistent copy of the driver's placement journal,
//                   its sample numbers blanked
//   versions.txt    the versions of the programs beside velahost, of Qt,
//                   SQLite and every library this program has loaded
//
// No patient data leaves: the journal's `sample` columns are emptied in the
// copy, and its free pages are wiped, before it is packed.
namespace supportreport {

// False with `error` set when the archive could not be written. `traceDir`
// empty: the ring Linkhub keeps by default, "trace" in the data folder, or
// the folder VELA_LINKHUB_TRACE_DIR names.
bool write(const QString& dataDir, const QString& archive, QString* error, const QString& traceDir = QString());

} // namespace supportreport
