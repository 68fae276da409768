// The flight recorder end to end: a demo run recorded by the always-on
// trace and played back by velasim ends with the same results, curves and
// messages; a diverging run is told where; a trace that cannot be written
// never costs a result.

#include "testtime.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
};

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// The results of a --json file, with what is the run's own (sample numbers,
// plot files, times) left out.
QList<QJsonObject> results(const QString& jsonFile)
{
    QFile file(jsonFile);
    QList<QJsonObject> list;
    if (!file.open(QIODevice::ReadOnly))
        return list;
    for (const QJsonValue& v :
         QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("results")).toArray()) {
        QJsonObject o = v.toObject();
        o.remove(QStringLiteral("sample"));
        o.remove(QStringLiteral("png"));
        // The driver's report names its test id, seeded from the clock.
        QString report = o.value(QStringLiteral("report")).toString();
        const QRegularExpressionMatch id = QRegularExpression(QStringLiteral(":([0-9A-F]{8})\n")).match(report);
        if (id.hasMatch())
            report.replace(id.captured(1), QStringLiteral("<test id>"));
        o.insert(QStringLiteral("report"), report);
        list << o;
    }
    return list;
}

} // namespace

class tst_ReplayRun : public QObject
{
    Q_OBJECT

private slots:
    void recordedRunReplays_data();
    void recordedRunReplays();
    void divergingReplayNamesFirstMismatch();
    void supportArchiveHoldsNoSampleNumber();
    void unwritableTraceCostsNoResult_data();
    void unwritableTraceCostsNoResult();

private:
    Run velahost(const QStringList& arguments, const QStringList& extraEnv = {});
    bool startVelasim(QProcess* process, const QStringList& arguments, const QString& link);
    bool recordDemo(const QString& dataDir, bool serial);
    int m_runs = 0;
};

Run tst_ReplayRun::velahost(const QStringList& arguments, const QStringList& extraEnv)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VELA_LINKHUB_PORT"), QString::number(freePort()));
    env.insert(QStringLiteral("VELA_LINKHUB_KEY"),
               QStringLiteral("tst_replayrun_%1_%2").arg(QCoreApplication::applicationPid()).arg(++m_runs));
    env.insert(QStringLiteral("VELA_LINKHUB_IDLE"), QStringLiteral("300"));
    for (const char* name : {"VELA_LINKHUB", "VELA_SIM_FAULTS", "VELA_LINKHUB_TRACE", "VELA_LINKHUB_TRACE_DIR",
                             "VELA_LINKHUB_TRACE_FILES", "VELA_LINKHUB_TRACE_SIZE", "QT_LOGGING_RULES"})
        env.remove(QLatin1String(name));
    for (const QString& kv : extraEnv) {
        const int eq = int(kv.indexOf(QLatin1Char('=')));
        env.insert(kv.left(eq), kv.mid(eq + 1));
    }
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(VELAHOST_PROGRAM), arguments);
    Run r;
    if (!p.waitForFinished(testsupport::scaled(120000))) {
        p.kill();
        p.waitForFinished(5000);
    } else {
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    r.output = QString::fromUtf8(p.readAll());
    return r;
}

bool tst_ReplayRun::startVelasim(QProcess* process, const QStringList& arguments, const QString& link)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("VELA_SIM_FAULTS"));
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(VELASIM_PROGRAM), arguments + QStringList{QStringLiteral("--link"), link});
    if (!process->waitForStarted(testsupport::scaled(10000)))
        return false;
    while (!process->canReadLine()) {
        if (!process->waitForReadyRead(testsupport::scaled(10000)))
            return false;
    }
    return QString::fromLocal8Bit(process->readLine()).trimmed() == link;
}

// A demo run on the simulated analyzer, inside Linkhub or behind a
// pseudo-terminal; its trace ring lies in dataDir/trace.
bool tst_ReplayRun::recordDemo(const QString& dataDir, bool serial)
{
    QStringList arguments{QStringLiteral("run"),
                          QStringLiteral("--data"),
                          dataDir,
                          QStringLiteral("--speed"),
                          QStringLiteral("300"),
                          QStringLiteral("--json"),
                          dataDir + QStringLiteral("/run.json")};
    QProcess analyzer;
    if (serial) {
        const QString link = dataDir + QStringLiteral(".analyzer");
        if (!startVelasim(&analyzer, {QStringLiteral("--speed"), QStringLiteral("300")}, link))
            return false;
        arguments << QStringLiteral("--port") << link;
    }
    const Run r = velahost(arguments);
    if (serial) {
        analyzer.terminate();
        analyzer.waitForFinished(5000);
    }
    if (r.exitCode != 0)
        qWarning("%s", qUtf8Printable(r.output));
    return r.exitCode == 0;
}

void tst_ReplayRun::recordedRunReplays_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("simulated port") << false;
    QTest::newRow("serial port") << true;
}

void tst_ReplayRun::recordedRunReplays()
{
    QFETCH(bool, serial);
    QTemporaryDir dir;
    const QString recorded = dir.filePath(QStringLiteral("recorded"));
    QVERIFY(recordDemo(recorded, serial));
    QVERIFY(!QDir(recorded + QStringLiteral("/trace")).entryList({QStringLiteral("wire-*.trace")}).isEmpty());

    QProcess replay;
    const QString link = dir.filePath(QStringLiteral("replayed.analyzer"));
    QVERIFY(startVelasim(&replay, {QStringLiteral("--replay"), recorded + QStringLiteral("/trace")}, link));
    const QString replayed = dir.filePath(QStringLiteral("replayed"));
    const Run r = velahost({QStringLiteral("run"), QStringLiteral("--data"), replayed, QStringLiteral("--port"), link,
                            QStringLiteral("--json"), replayed + QStringLiteral("/run.json")});
    replay.terminate();
    QVERIFY(replay.waitForFinished(testsupport::scaled(5000)));
    const QString said = QString::fromLocal8Bit(replay.readAllStandardError());
    QVERIFY2(r.exitCode == 0, qPrintable(r.output + said));
    QVERIFY2(said.contains(QStringLiteral(", 0 did not fit the recording")), qPrintable(said));

    // Clot times, point counts, channels, errors and messages, assay by assay.
    const QList<QJsonObject> before = results(recorded + QStringLiteral("/run.json"));
    const QList<QJsonObject> after = results(replayed + QStringLiteral("/run.json"));
    QCOMPARE(before.size(), 16);
    QCOMPARE(after.size(), before.size());
    for (int i = 0; i < before.size(); ++i) {
        QVERIFY(before.at(i).value(QStringLiteral("points")).toInt() > 0);
        QCOMPARE(after.at(i), before.at(i));
    }
}

void tst_ReplayRun::divergingReplayNamesFirstMismatch()
{
    QTemporaryDir dir;
    const QString recorded = dir.filePath(QStringLiteral("recorded"));
    QVERIFY(recordDemo(recorded, false));

    // Another worklist: its first test is not the recording's first.
    const QString list = dir.filePath(QStringLiteral("other.csv"));
    QFile csv(list);
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("sample,position,assay,dilution,method\n7,A7,TT,1/1,\n");
    csv.close();
    QProcess replay;
    const QString link = dir.filePath(QStringLiteral("replayed.analyzer"));
    QVERIFY(startVelasim(&replay, {QStringLiteral("--replay"), recorded + QStringLiteral("/trace")}, link));
    velahost({QStringLiteral("run"), QStringLiteral("--data"), dir.filePath(QStringLiteral("replayed")),
              QStringLiteral("--port"), link, QStringLiteral("--worklist"), list, QStringLiteral("--timeout"),
              QStringLiteral("5")});
    replay.terminate();
    QVERIFY(replay.waitForFinished(testsupport::scaled(5000)));
    QCOMPARE(replay.exitCode(), 1);
    const QString said = QString::fromLocal8Bit(replay.readAllStandardError());
    QVERIFY2(said.contains(QRegularExpression(
                 QStringLiteral("request \\d+ does not fit the recording: came \"31[0-9A-F]{8}B7TT.*\", expected "
                                "\"31[0-9A-F]{8}B1PT.*\" \\(wire-00000001\\.trace:\\d+\\)"))),
             qPrintable(said));
}

void tst_ReplayRun::supportArchiveHoldsNoSampleNumber()
{
    QTemporaryDir dir;
    const QString recorded = dir.filePath(QStringLiteral("recorded"));
    // Sample numbers that cannot turn up by chance.
    const QStringList samples{QStringLiteral("73519264"), QStringLiteral("73519265")};
    const QString list = dir.filePath(QStringLiteral("list.csv"));
    QFile csv(list);
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write("sample,position,assay,dilution,method\n73519264,A1,PT,1/1,\n73519265,A2,APTT,1/1,\n");
    csv.close();
    const Run run = velahost({QStringLiteral("run"), QStringLiteral("--data"), recorded, QStringLiteral("--worklist"),
                              list, QStringLiteral("--speed"), QStringLiteral("300")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QVERIFY(QFile::exists(recorded + QStringLiteral("/placements.db")));

    const QString archive = dir.filePath(QStringLiteral("case.tar.gz"));
    const Run r = velahost(
        {QStringLiteral("report"), QStringLiteral("--data"), recorded, QStringLiteral("--out"), archive});
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    const QString unpacked = dir.filePath(QStringLiteral("case"));
    QVERIFY(QDir().mkpath(unpacked));
    QCOMPARE(
        QProcess::execute(QStringLiteral("tar"), {QStringLiteral("-xzf"), archive, QStringLiteral("-C"), unpacked}), 0);

    const QStringList expected{QStringLiteral("trace/wire-00000001.trace"), QStringLiteral("settings.txt"),
                               QStringLiteral("versions.txt"), QStringLiteral("placements.db")};
    QByteArray everything;
    for (const QString& name : expected) {
        QFile f(unpacked + QLatin1Char('/') + name);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(name));
        everything += f.readAll();
    }
    QVERIFY(everything.contains("instrument/port = SIM"));
    QVERIFY(everything.contains("Linkhub 1."));
    // Not in the journal's rows, nor in pages it freed, nor anywhere else.
    for (const QString& sample : samples)
        QVERIFY2(!everything.contains(sample.toUtf8()), qPrintable(sample));
    QVERIFY(everything.contains("PT")); // the journal's rows are there all the same
}

void tst_ReplayRun::unwritableTraceCostsNoResult_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("folder cannot be made") << false;
    QTest::newRow("disk full") << true;
}

void tst_ReplayRun::unwritableTraceCostsNoResult()
{
    QFETCH(bool, diskFull);
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(data));
    QString traceDir = data + QStringLiteral("/trace");
    if (diskFull) {
        // Every write of the ring's newest file fails as on a full disk.
        QVERIFY(QDir().mkpath(traceDir));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), traceDir + QStringLiteral("/wire-00000001.trace")));
    } else {
        // A folder below a plain file cannot be made, whoever runs the test.
        QFile plain(dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        traceDir = plain.fileName() + QStringLiteral("/trace");
    }
    const QStringList arguments{QStringLiteral("run"), QStringLiteral("--data"), data, QStringLiteral("--speed"),
                                QStringLiteral("300")};
    const QString dirSetting = QStringLiteral("VELA_LINKHUB_TRACE_DIR=") + traceDir;
    const Run quiet = velahost(arguments, {dirSetting});
    QVERIFY2(quiet.exitCode == 0, qPrintable(quiet.output));
    QVERIFY2(quiet.output.contains(QStringLiteral("Summary: 16 of 16 assays with a result")), qPrintable(quiet.output));
    QVERIFY2(!quiet.output.contains(QStringLiteral("trace"), Qt::CaseInsensitive), qPrintable(quiet.output));

    // In the driver's category, one line says why there is no trace.
    const Run told = velahost(arguments, {dirSetting, QStringLiteral("QT_LOGGING_RULES=vela.link.debug=true")});
    QVERIFY2(told.exitCode == 0, qPrintable(told.output));
    QCOMPARE(told.output.count(QStringLiteral("Linkhub: wire trace skipped:")), 1);
}

QTEST_MAIN(tst_ReplayRun)
#include "tst_replayrun.moc"
