#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QtGlobal>

// The simulator's own record of what each placed test will report, for
// tools that compare a run's results with it. With VELA_SIM_TRUTH naming a
// file, every test the analyzer accepts appends one line:
//   <id, 8 hex> <clot time, hundredths> <points> <position> <item> <dilution> <method>
// and every fault that strikes appends one line:
//   fault <ms since the epoch> <kind> <command or -> <test id, 8 hex, or -> <ms>
// and every test a 34 takes off the analyzer appends:
//   released <test id, 8 hex>
// The file is opened for appending per line, so that several simulator
// processes (Linkhub's "SIM" port, velasim) may share it.
namespace simtruth {

struct Entry
{
    quint32 id = 0;
    int clotHundredths = 0; // what the final 32 reply reports
    int pointCount = 0;     // points the 60 replies carry
    QByteArray position, item, method;
    int dilution = 0;
};

// One fault as it struck.
struct Strike
{
    qint64 atMs = 0;    // wall-clock time, ms since the epoch
    QByteArray kind;    // the fault grammar's kind name; "exit" for a Linkhub that exits
    QByteArray command; // the struck request's command code; empty: none
    quint32 testId = 0; // the test the struck request names; 0: none
    int delayMs = 0;    // how long a delayed reply or a stray line was held back
};

// Appends entry to the truth file, when one is configured.
void record(const Entry& entry);
// Appends that the test with this id was taken off the analyzer.
void recordRelease(quint32 id);
// Appends a strike of a fault of `kind` on `request`, stamped now, to the
// truth file when one is configured.
void recordStrike(const QByteArray& kind, const QByteArray& request, int delayMs = 0);
// The test a request names: commands 31, 32, 34 and 60 carry its id in
// characters 2-9; 0 for any other request.
quint32 testIdOf(const QByteArray& request);

// Reads a truth file; a later line for the same id replaces an earlier one.
QHash<quint32, Entry> read(const QString& path);
// The ids of the tests taken off the analyzer, by the truth file.
QSet<quint32> readReleases(const QString& path);
// The strikes of a truth file, in the order they were written.
QList<Strike> readStrikes(const QString& path);

} // namespace simtruth
