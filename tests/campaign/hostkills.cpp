// velahostkills: the host killed again and again in the middle of one run.
// velahost runs one worklist on one data folder against velasim (the
// analyzer, which outlives every host), is killed with SIGKILL at seeded
// moments while tests are on the analyzer, and started again each time;
// the last start runs to its end. Every assay is then compared with the
// simulator's own record of the tests it accepted and released. Prints one
// line and exits 0 only when no assay was placed twice, lost or given
// another's result, and no test was left on the analyzer.

#include "commandcodec.h"
#include "hubport.h"

#include "sim/simtruth.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

struct Entry
{
    QString sample, position, assay, dilution, method;
    QByteArray code, item;
    int factor = 1;
    char letter = 'L';
};

// Samples of up to four assays each, one sample per rack position.
QList<Entry> worklist(int count, quint32 seed)
{
    QRandomGenerator rng(seed);
    const char* const assays[] = {"PT", "APTT", "TT", "FIB"};
    QList<Entry> entries;
    for (int i = 0; i < count; ++i) {
        const int sample = i / 4;
        Entry e;
        e.sample = QStringLiteral("K%1").arg(sample + 1, 4, 10, QLatin1Char('0'));
        e.position = QStringLiteral("%1%2").arg(QLatin1Char(sample % 40 < 20 ? 'A' : 'B')).arg(sample % 20 + 1);
        e.assay = QLatin1String(assays[i % 4]);
        e.factor = rng.bounded(2) ? 2 : 1;
        e.dilution = QStringLiteral("1/%1").arg(e.factor);
        e.letter = rng.bounded(2) ? 'C' : 'L';
        e.method = e.letter == 'C' ? QStringLiteral("磁珠法") : QStringLiteral("光学法");
        e.code = positionCode(e.position);
        e.item = e.assay.left(2).toLatin1();
        entries.append(e);
    }
    return entries;
}

bool writeList(const QString& file, const QList<Entry>& entries)
{
    QFile f(file);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("sample,position,assay,dilution,method\n");
    for (const Entry& e : entries)
        f.write(QStringLiteral("%1,%2,%3,%4,%5\n").arg(e.sample, e.position, e.assay, e.dilution, e.method).toUtf8());
    return true;
}

void say(const QString& text)
{
    std::fprintf(stderr, "%s\n", qUtf8Printable(text));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Host kills: velahost killed during a run and started again."));
    parser.addHelpOption();
    const QCommandLineOption assaysOption(QStringLiteral("assays"), QStringLiteral("Worklist size (default 120)."),
                                          QStringLiteral("n"), QStringLiteral("120"));
    const QCommandLineOption killsOption(QStringLiteral("kills"), QStringLiteral("Kills (default 10)."),
                                         QStringLiteral("n"), QStringLiteral("10"));
    const QCommandLineOption speedOption(QStringLiteral("speed"),
                                         QStringLiteral("Simulator time factor (default 200)."), QStringLiteral("x"),
                                         QStringLiteral("200"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
                                        QStringLiteral("Seed of the list and the kill moments."), QStringLiteral("n"),
                                        QStringLiteral("1"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"), QStringLiteral("Print every run's output."));
    parser.addOptions({assaysOption, killsOption, speedOption, seedOption, verboseOption});
    parser.process(app);
    const int assays = qMax(1, parser.value(assaysOption).toInt());
    const int kills = qMax(0, parser.value(killsOption).toInt());
    const QString speed = parser.value(speedOption);
    const quint32 seed = parser.value(seedOption).toUInt();
    const bool verbose = parser.isSet(verboseOption);

    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    const QString list = dir.filePath(QStringLiteral("list.csv"));
    const QString json = dir.filePath(QStringLiteral("out.json"));
    const QString truth = dir.filePath(QStringLiteral("truth"));
    const QString tty = dir.filePath(QStringLiteral("analyzer"));
    const QList<Entry> entries = worklist(assays, seed);
    if (!writeList(list, entries)) {
        say(QStringLiteral("velahostkills: cannot write %1").arg(list));
        return 2;
    }

    // The analyzer: its 31 and 34 answers come late, so that kills fall
    // between a placement and its answer, and between a result and its
    // release.
    QProcess analyzer;
    QProcessEnvironment simEnv = QProcessEnvironment::systemEnvironment();
    simEnv.insert(QStringLiteral("VELA_SIM_TRUTH"), truth);
    simEnv.insert(QStringLiteral("VELA_SIM_FAULTS"),
                  QStringLiteral("delay:31,ms=300,count=all;delay:34,ms=300,count=all"));
    analyzer.setProcessEnvironment(simEnv);
    analyzer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    analyzer.start(QStringLiteral(VELASIM_PROGRAM), {QStringLiteral("--link"), tty, QStringLiteral("--speed"), speed,
                                                     QStringLiteral("--seed"), QString::number(seed)});
    if (!analyzer.waitForStarted(10000) || !analyzer.waitForReadyRead(10000)) {
        say(QStringLiteral("velahostkills: velasim did not start"));
        return 2;
    }

    // One Linkhub port for every host: the killed host's Linkhub, which
    // owns the analyzer's port, outlives it by its idle time, and the next
    // host's driver finds it serving.
    testsupport::HubPort hubPort;
    hubPort.next();
    QRandomGenerator rng(seed ^ 0x5eed);
    int exitCode = -1;
    QString lastOutput;
    QList<qint64> firstResultMs; // after a restart: from the connection to the first result
    for (int run = 0; run <= kills; ++run) {
        const bool kill = run < kills;
        QProcess host;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        hubPort.exportTo(&env);
        env.insert(QStringLiteral("VELA_LINKHUB_KEY"),
                   QStringLiteral("velahostkills_%1").arg(QCoreApplication::applicationPid()));
        env.insert(QStringLiteral("VELA_LINKHUB_IDLE"), QStringLiteral("5000"));
        env.insert(QStringLiteral("VELA_ORPHAN_GRACE_MS"), QStringLiteral("3000"));
        env.remove(QStringLiteral("VELA_SIM_FAULTS"));
        env.remove(QStringLiteral("VELA_LINKHUB"));
        host.setProcessEnvironment(env);
        host.setProcessChannelMode(QProcess::MergedChannels);
        host.start(QStringLiteral(VELAHOST_PROGRAM),
                   {QStringLiteral("run"), QStringLiteral("--data"), data, QStringLiteral("--worklist"), list,
                    QStringLiteral("--port"), tty, QStringLiteral("--speed"), speed, QStringLiteral("--json"), json});
        QByteArray output;
        // Killed a seeded while after the host has queued its work.
        const int after = rng.bounded(300, 3000);
        QElapsedTimer queued, connected;
        bool timed = run == 0;
        while (host.state() != QProcess::NotRunning) {
            host.waitForReadyRead(50);
            output += host.readAll();
            if (!connected.isValid() && output.contains("Connected ("))
                connected.start();
            // A result line: two blanks and the sample number ("  K0001 A1 PT: ...").
            if (!timed && connected.isValid() && output.indexOf("\n  K", output.indexOf("Connected (")) >= 0) {
                firstResultMs.append(connected.elapsed());
                timed = true;
            }
            if (kill && !queued.isValid() && output.contains("Queued "))
                queued.start();
            if (kill && queued.isValid() && queued.elapsed() >= after) {
                host.kill();
                break;
            }
            if (!kill && output.count('\n') > 100000)
                break;
        }
        host.waitForFinished(600000);
        output += host.readAll();
        if (verbose)
            say(QStringLiteral("--- run %1%2\n%3")
                    .arg(run + 1)
                    .arg(kill ? QStringLiteral(" (killed)") : QString(), QString::fromUtf8(output)));
        lastOutput = QString::fromUtf8(output);
        exitCode = host.exitStatus() == QProcess::NormalExit ? host.exitCode() : -1;
    }
    analyzer.terminate();
    analyzer.waitForFinished(5000);

    // What the analyzer accepted and released, and what the host reports.
    const QHash<quint32, simtruth::Entry> accepted = simtruth::read(truth);
    const QSet<quint32> released = simtruth::readReleases(truth);
    QFile out(json);
    QJsonArray results;
    if (out.open(QIODevice::ReadOnly))
        results = QJsonDocument::fromJson(out.readAll()).object().value(QStringLiteral("results")).toArray();

    int trueResult = 0, placedTwice = 0, lost = 0, misattributed = 0;
    QStringList details;
    for (int i = 0; i < entries.size(); ++i) {
        const Entry& e = entries.at(i);
        QList<simtruth::Entry> tests;
        for (const simtruth::Entry& t : accepted) {
            if (t.position == e.code && t.item == e.item && t.dilution == e.factor
                && t.method == QByteArray(1, e.letter))
                tests.append(t);
        }
        const QString name = QStringLiteral("%1 %2 %3").arg(e.sample, e.position, e.assay);
        if (tests.size() > 1) {
            ++placedTwice;
            details << QStringLiteral("%1: accepted %2 times").arg(name).arg(tests.size());
        }
        const QJsonObject o = results.at(i).toObject();
        if (results.size() != entries.size() || o.value(QStringLiteral("sample")).toString() != e.sample
            || o.value(QStringLiteral("value")).isNull() || o.value(QStringLiteral("value")).isUndefined()) {
            ++lost;
            details << QStringLiteral("%1: no result").arg(name);
            continue;
        }
        const double value = o.value(QStringLiteral("value")).toDouble();
        const int points = o.value(QStringLiteral("points")).toInt();
        bool own = false;
        for (const simtruth::Entry& t : std::as_const(tests))
            own = own || (std::abs(value - t.clotHundredths / 100.0) < 0.006 && points == t.pointCount);
        if (own) {
            ++trueResult;
        } else {
            ++misattributed;
            details
                << QStringLiteral("%1: %2 (%3 points) is not its own test's result").arg(name).arg(value).arg(points);
        }
    }
    int orphans = 0;
    for (auto it = accepted.cbegin(); it != accepted.cend(); ++it) {
        if (!released.contains(it.key())) {
            ++orphans;
            details << QStringLiteral("test %1 (%2 %3) left on the analyzer")
                           .arg(it.key(), 8, 16, QLatin1Char('0'))
                           .arg(QString::fromLatin1(it.value().position), QString::fromLatin1(it.value().item));
        }
    }
    std::printf("host kills %d: assays %d, true result %d, placed twice %d, orphans %d, lost %d, misattributed %d\n",
                kills, assays, trueResult, placedTwice, orphans, lost, misattributed);
    if (!firstResultMs.isEmpty()) {
        std::sort(firstResultMs.begin(), firstResultMs.end());
        std::printf("after a restart, the first result came %lld ms after the connection (median of %lld; "
                    "the slowest %lld ms)\n",
                    firstResultMs.at(firstResultMs.size() / 2), qint64(firstResultMs.size()), firstResultMs.last());
    }
    const bool ok = placedTwice == 0 && orphans == 0 && lost == 0 && misattributed == 0 && exitCode == 0;
    if (!ok) {
        for (const QString& d : std::as_const(details))
            say(QStringLiteral("  ") + d);
        if (exitCode != 0)
            say(QStringLiteral("the last run ended with %1:\n%2").arg(exitCode).arg(lastOutput.right(3000)));
    }
    return ok ? 0 : 1;
}
