#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QtGlobal>

// The simulator's own record of what each placed test will report, for
// tools that compare a run's results with it. With VELA_SIM_TRUTH naming a
// file, every test the analyzer accepts appends one line:
//   <id, 8 hex> <clot time, hundredths> <points> <position> <item> <dilution> <method>
// The file is opened for appending per line, so that several simulator
// processes (Linkhub's "SIM" port, velasim) may share it.
namespace simtruth {

struct Entry
{
    quint32 id = 0;
    int clotHundredths = 0;   // what the final 32 reply reports
    int pointCount = 0;       // points the 60 replies carry
    QByteArray position, item, method;
    int dilution = 0;
};

// Appends entry to the truth file, when one is configured.
void record(const Entry& entry);

// Reads a truth file; a later line for the same id replaces an earlier one.
QHash<quint32, Entry> read(const QString& path);

} // namespace simtruth
