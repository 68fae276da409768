// The cost of Linkhub's always-on wire trace, or of the driver's durable
// placement journal: whole runs of the stack (velahost, the driver, Linkhub
// with its simulated analyzer) with it and without it, alternating, in one
// invocation. Without the trace: --trace-files 0. Without the durable
// journal: the journal in memory (VELA_JOURNAL=":memory:"), which does the
// same work but never writes or syncs a file.
//
//   bench_trace [--assays N] [--speed X] [--rounds R] [--journal]
//
// Prints the CPU time (user + system, of velahost and Linkhub together) per
// assay with and without the trace, the difference in per cent, and the
// bytes of trace per assay with what the default ring (8 x 32 MiB) holds of a
// lab's 2000 tests a day. The analyzer's pace sets how often a running test
// is polled, so bytes per assay depend on --speed: 1 is the field's pace.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <sys/resource.h>

namespace {

double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

QByteArray worklist(int assays)
{
    static const char* const rows[][3] = {
        {"PT", "1/1", ""},
        {"APTT", "1/1", ""},
        {"TT", "1/1", "bead"},
        {"FIB", "1/10", ""},
    };
    QByteArray csv = "sample,position,assay,dilution,method\n";
    for (int i = 0; i < assays; ++i) {
        const auto& r = rows[i % 4];
        csv += QByteArray::number(1000 + i / 4) + ",A" + QByteArray::number(1 + (i / 4) % 20) + ',' + r[0] + ',' + r[1]
               + ',' + r[2] + '\n';
    }
    return csv;
}

struct Outcome
{
    bool ok = false;
    double cpu = 0;
    qint64 traceBytes = 0;
    qint64 wallMs = 0;
    double hubCpu = 0;   // Linkhub's own
    qint64 commands = 0; // request lines the driver sent (from the trace ring)
};

// One run in a fresh data folder. Linkhub is started here, as a child, so
// that its CPU time is counted; the driver's own start finds it serving.
Outcome runOnce(int assays, double speed, bool trace, bool journal, int round)
{
    Outcome o;
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    QDir().mkpath(data);
    const QString list = dir.filePath(QStringLiteral("list.csv"));
    QFile csv(list);
    if (!csv.open(QIODevice::WriteOnly))
        return o;
    csv.write(worklist(assays));
    csv.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"VELA_LINKHUB_TRACE", "VELA_LINKHUB_TRACE_DIR", "VELA_LINKHUB_TRACE_SIZE",
                             "VELA_SIM_FAULTS", "QT_LOGGING_RULES", "VELA_LINKHUB"})
        env.remove(QLatin1String(name));
    const quint16 port = freePort();
    env.insert(QStringLiteral("VELA_LINKHUB_PORT"), QString::number(port));
    env.insert(QStringLiteral("VELA_LINKHUB_KEY"),
               QStringLiteral("bench_trace_%1_%2").arg(QCoreApplication::applicationPid()).arg(round));
    env.insert(QStringLiteral("VELA_LINKHUB_IDLE"), QStringLiteral("300"));
    env.insert(QStringLiteral("VELA_SIM_SPEED"), QString::number(speed));
    env.insert(QStringLiteral("VELA_LINKHUB_TRACE_FILES"), trace ? QStringLiteral("8") : QStringLiteral("0"));
    if (journal)
        env.remove(QStringLiteral("VELA_JOURNAL"));
    else
        env.insert(QStringLiteral("VELA_JOURNAL"), QStringLiteral(":memory:"));

    const double before = childCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QProcess hub;
    hub.setProcessEnvironment(env);
    hub.setWorkingDirectory(data);
    hub.setProcessChannelMode(QProcess::ForwardedErrorChannel); // stdout: the times
    const QString portFile = dir.filePath(QStringLiteral("port"));
    // Through bash, whose "times" then tells Linkhub's own CPU time: the
    // trace changes nothing else, so this is where its cost shows clearest.
    hub.start(QStringLiteral("bash"), {QStringLiteral("-c"), QStringLiteral("\"$0\" \"$@\"; times"),
                                       QStringLiteral(LINKHUB_PATH), QStringLiteral("--port-file"), portFile});
    for (int i = 0; i < 1000 && !QFile::exists(portFile); ++i)
        QThread::msleep(5);

    QProcess host;
    host.setProcessEnvironment(env);
    host.setStandardOutputFile(QProcess::nullDevice());
    host.setStandardErrorFile(QProcess::nullDevice());
    host.start(QStringLiteral(VELAHOST_PATH),
               {QStringLiteral("run"), QStringLiteral("--data"), data, QStringLiteral("--worklist"), list,
                QStringLiteral("--speed"), QString::number(speed)});
    host.waitForFinished(-1);
    hub.waitForFinished(-1);
    o.wallMs = wall.elapsed();
    // "0m0.001s 0m0.000s" for bash itself, then the same for its child.
    const QList<QByteArray> times = hub.readAllStandardOutput().trimmed().split('\n');
    const QRegularExpression span(QStringLiteral("(\\d+)m([\\d.]+)s"));
    auto it = span.globalMatch(QString::fromLatin1(times.value(times.size() - 1)));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        o.hubCpu += m.captured(1).toDouble() * 60 + m.captured(2).toDouble();
    }
    o.cpu = childCpuSeconds() - before;
    o.ok = host.exitStatus() == QProcess::NormalExit && host.exitCode() == 0;
    for (const QFileInfo& f : QDir(data + QStringLiteral("/trace")).entryInfoList({QStringLiteral("wire-*.trace")})) {
        o.traceBytes += f.size();
        QFile file(f.filePath());
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n'))
                o.commands += line.contains(" C> ") ? 1 : 0;
        }
    }
    return o;
}

// The journal on disk against the journal in memory, alternating; the trace
// ring stays on in both, and its request lines count the commands per test.
int compareJournal(int assays, double speed, int rounds)
{
    double cpu[2] = {0, 0};
    qint64 wall[2] = {0, 0};
    qint64 commands[2] = {0, 0};
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 2; ++k) {
            const bool durable = (round % 2 == 0) ? k == 1 : k == 0;
            const Outcome o = runOnce(assays, speed, true, durable, round * 2 + k);
            if (!o.ok) {
                std::fprintf(stderr, "bench_trace: a run failed\n");
                return 1;
            }
            cpu[durable ? 1 : 0] += o.cpu;
            wall[durable ? 1 : 0] += o.wallMs;
            commands[durable ? 1 : 0] += o.commands;
        }
    }
    const double n = double(assays) * rounds;
    const double without = cpu[0] / n * 1000.0, with = cpu[1] / n * 1000.0;
    std::printf("assays per run %d, speed %g, rounds %d\n", assays, speed, rounds);
    std::printf("journal in memory: CPU per assay %.2f ms, wall per run %.1f s, commands per test %.2f\n", without,
                double(wall[0]) / rounds / 1000.0, double(commands[0]) / n);
    std::printf("journal on disk:   CPU per assay %.2f ms (%+.1f %%), wall per run %.1f s (%+.1f %%), "
                "commands per test %.2f\n",
                with, (with - without) / without * 100.0, double(wall[1]) / rounds / 1000.0,
                (double(wall[1]) - double(wall[0])) / double(wall[0]) * 100.0, double(commands[1]) / n);
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption assaysOption(QStringLiteral("assays"), QStringLiteral("Assays per run (default 64)."),
                                          QStringLiteral("n"), QStringLiteral("64"));
    const QCommandLineOption speedOption(QStringLiteral("speed"), QStringLiteral("Analyzer time factor (default 50)."),
                                         QStringLiteral("x"), QStringLiteral("50"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"),
                                          QStringLiteral("Runs with and without the trace each (default 3)."),
                                          QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption journalOption(QStringLiteral("journal"),
                                           QStringLiteral("Compare the durable placement journal with one in memory "
                                                          "(the trace stays on in both)."));
    parser.addOptions({assaysOption, speedOption, roundsOption, journalOption});
    parser.process(app);
    const int assays = qMax(1, parser.value(assaysOption).toInt());
    const double speed = qMax(0.01, parser.value(speedOption).toDouble());
    const int rounds = qMax(1, parser.value(roundsOption).toInt());
    if (parser.isSet(journalOption))
        return compareJournal(assays, speed, rounds);

    double cpu[2] = {0, 0};
    double hubCpu[2] = {0, 0};
    qint64 bytes = 0;
    qint64 wall = 0;
    int runs = 0;
    for (int round = 0; round < rounds; ++round) {
        // Alternating, so that a change in the machine's load falls on both.
        for (int traced = 0; traced < 2; ++traced) {
            const bool trace = (round % 2 == 0) ? traced == 1 : traced == 0;
            const Outcome o = runOnce(assays, speed, trace, true, round * 2 + traced);
            if (!o.ok) {
                std::fprintf(stderr, "bench_trace: a run failed\n");
                return 1;
            }
            cpu[trace ? 1 : 0] += o.cpu;
            hubCpu[trace ? 1 : 0] += o.hubCpu;
            if (trace)
                bytes += o.traceBytes;
            wall += o.wallMs;
            ++runs;
        }
    }
    const double n = double(assays) * rounds;
    const double without = cpu[0] / n * 1000.0, with = cpu[1] / n * 1000.0;
    const double perAssay = double(bytes) / n;
    const double ring = 8.0 * 32 * 1024 * 1024;
    std::printf("assays per run %d, speed %g, rounds %d, %d runs in %.1f s\n", assays, speed, rounds, runs,
                double(wall) / 1000.0);
    std::printf("CPU per assay without trace   %.2f ms\n", without);
    std::printf("CPU per assay with trace      %.2f ms (%+.1f %%)\n", with, (with - without) / without * 100.0);
    const double hubWithout = hubCpu[0] / n * 1000.0, hubWith = hubCpu[1] / n * 1000.0;
    std::printf("Linkhub alone per assay       %.2f ms without, %.2f ms with trace: the trace costs %.2f ms, "
                "%.1f %% of the stack\n",
                hubWithout, hubWith, hubWith - hubWithout, (hubWith - hubWithout) / without * 100.0);
    std::printf("trace bytes per assay         %.0f\n", perAssay);
    std::printf("default ring (8 x 32 MiB) holds %.0f assays, %.1f days at 2000 assays a day\n", ring / perAssay,
                ring / perAssay / 2000.0);
    return 0;
}
