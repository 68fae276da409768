// The Linkhub program as its client sees it: readiness, the line contract,
// control lines, lifetime, and the serial path to velasim.

#include "hubtestutil.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QTest>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using namespace hubtest;

namespace {

// The driver's test for an error reply.
bool isErrorReply(const QByteArray& reply)
{
    static const QRegularExpression pattern(QStringLiteral("^(Err:|([0-9A-F]{2})?XX)"));
    return pattern.match(QString::fromLatin1(reply)).hasMatch();
}

struct Step
{
    QByteArray request;
    QString expected; // regular expression the reply must match
};

} // namespace

Q_DECLARE_METATYPE(QList<Step>)

class tst_Linkhub : public QObject
{
    Q_OBJECT

private slots:
    void readyOnlyOnceListening();
    void loopbackOnly();
    void oneReplyPerLine_data();
    void oneReplyPerLine();
    void controlLines_data();
    void controlLines();
    void pipelinedLinesAnsweredInOrder();
    void silentAnalyzerGetsTimeoutError();
    void dropLinkClosesClient();
    void strayLineInItsOwnWrite_data();
    void strayLineInItsOwnWrite();
    void exitAfterLines();
    void secondClientIsBusy_data();
    void secondClientIsBusy();
    void secondInstanceExits();
    void idleExit();
    void wireTrace();
    void traceRingSurvivesKill();

    void serialEndToEnd();
    void serialAllFramesBad();
    void serialSilence();
    void serialHangUp();
    void serialAnalyzerOffAndOnOnStablePath();
    void serialNobodyAnswers();

private:
    static bool openSim(Client& client, const QByteArray& id = "VELA01");
};

bool tst_Linkhub::openSim(Client& client, const QByteArray& id)
{
    return client.exchange("/00SIM") == "/00OK" && !isErrorReply(client.exchange("/010"))
           && client.exchange("/02" + id) == "/02OK";
}

void tst_Linkhub::readyOnlyOnceListening()
{
    Hub hub;
    QVERIFY(hub.start());
    // Released after listen(): the very first attempt must connect.
    Client client;
    QVERIFY2(client.connectTo(hub.port), qPrintable(client.socket.errorString()));
    QCOMPARE(client.exchange("/00SIM"), QByteArray("/00OK"));
    // Released once, not again.
    QVERIFY(!acquireWithin(hub.key, 300));
}

void tst_Linkhub::loopbackOnly()
{
    QHostAddress outside;
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) {
            outside = a;
            break;
        }
    }
    if (outside.isNull())
        QSKIP("needs a non-loopback IPv4 address on this machine");

    Hub hub;
    QVERIFY(hub.start());
    Client remote;
    QVERIFY2(!remote.connectTo(hub.port, outside), qPrintable(outside.toString()));
    Client local;
    QVERIFY(local.connectTo(hub.port));
}

void tst_Linkhub::oneReplyPerLine_data()
{
    QTest::addColumn<QByteArray>("line"); // sent as it is, with its end
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty line") << QByteArray("\r\n") << QStringLiteral("^Err:");
    QTest::newRow("blank LF") << QByteArray("\n") << QStringLiteral("^Err:");
    QTest::newRow("bare LF end") << QByteArray("73\n") << QStringLiteral("^73");
    QTest::newRow("overlong 5000") << QByteArray(5000, '7') + "\r\n" << QStringLiteral("^Err:line too long");
    QTest::newRow("overlong 200000") << QByteArray(200000, 'A') + "\r\n" << QStringLiteral("^Err:line too long");
    QTest::newRow("binary") << QByteArray("\x00\xff\x02\x03\x10\r\n", 7) << QStringLiteral(".");
    QTest::newRow("CR inside") << QByteArray("7\r3\r\n") << QStringLiteral(".");
    QTest::newRow("GBK bytes") << QByteArray("32\xb2\xe2\xca\xd4\r\n") << QStringLiteral(".");
    QTest::newRow("lone slash") << QByteArray("/\r\n") << QStringLiteral("^Err:");
}

void tst_Linkhub::oneReplyPerLine()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, expected);

    Hub hub;
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QVERIFY(openSim(client));

    // The line and a marker in one write: exactly two replies come back.
    client.send(line + "/00SIM\r\n");
    const QByteArray reply = client.readLine();
    QVERIFY2(!reply.isNull(), "no reply");
    QVERIFY2(QRegularExpression(expected).match(QString::fromLatin1(reply)).hasMatch(), reply.constData());
    QVERIFY(!reply.contains('\r') && !reply.contains('\n'));
    QCOMPARE(client.readLine(), QByteArray("/00OK"));
    QVERIFY(client.readLine(300).isNull());
}

void tst_Linkhub::controlLines_data()
{
    QTest::addColumn<QList<Step>>("steps");
    const QString err = QStringLiteral("^Err:");

    QTest::newRow("nothing open") << QList<Step>{
        {"/010", QStringLiteral("^Err:no port open$")},
        {"/02VELA01", QStringLiteral("^Err:no port open$")},
        {"73", QStringLiteral("^Err:no port open$")},
    };
    QTest::newRow("SIM: list and select") << QList<Step>{
        {"/00SIM", QStringLiteral("^/00OK$")},
        {"73", QStringLiteral("^Err:no analyzer selected$")},
        {"/010", QStringLiteral("^VELA01,VELA02$")},
        {"/02NOPE", QStringLiteral("^Err:unknown analyzer NOPE$")},
        {"/02", err},
        {"/02VELA02", QStringLiteral("^/02OK$")},
        {"73", QStringLiteral("^73 ")},
    };
    QTest::newRow("select without listing") << QList<Step>{
        {"/00SIM", QStringLiteral("^/00OK$")},
        {"/02VELA02", QStringLiteral("^/02OK$")},
        {"73", QStringLiteral("^73 ")},
    };
    QTest::newRow("empty port name is SIM") << QList<Step>{
        {"/00", QStringLiteral("^/00OK$")},
        {"/010", QStringLiteral("^VELA01,VELA02$")},
    };
    QTest::newRow("missing device") << QList<Step>{
        {"/00SIM", QStringLiteral("^/00OK$")},
        {"/02VELA01", QStringLiteral("^/02OK$")},
        {"/00/dev/no-such-serial-port", QStringLiteral("^Err:cannot open /dev/no-such-serial-port: ")},
        {"/010", QStringLiteral("^Err:no port open$")},
        {"73", QStringLiteral("^Err:no port open$")},
    };
    QTest::newRow("reopening a port clears the selection") << QList<Step>{
        {"/00SIM", QStringLiteral("^/00OK$")},
        {"/02VELA01", QStringLiteral("^/02OK$")},
        {"/00SIM", QStringLiteral("^/00OK$")},
        {"73", QStringLiteral("^Err:no analyzer selected$")},
    };
    QTest::newRow("unknown control lines") << QList<Step>{
        {"/03", QStringLiteral("^Err:unknown control line")},
        {"/FFx", QStringLiteral("^Err:unknown control line")},
        {"/zz", QStringLiteral("^Err:unknown control line")},
        {"/0", QStringLiteral("^Err:unknown control line")},
    };
    QTest::newRow("list argument is not examined") << QList<Step>{
        {"/00SIM", QStringLiteral("^/00OK$")},
        {"/01", QStringLiteral("^VELA01,VELA02$")},
    };
}

void tst_Linkhub::controlLines()
{
    QFETCH(QList<Step>, steps);

    Hub hub;
    hub.env.insert(QStringLiteral("VELA_SIM_IDS"), QStringLiteral("VELA01,VELA02"));
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    for (const Step& step : steps) {
        const QByteArray reply = client.exchange(step.request);
        const QString where = QStringLiteral("%1 -> \"%2\", want %3")
                                  .arg(QString::fromLatin1(step.request), QString::fromLatin1(reply), step.expected);
        QVERIFY2(QRegularExpression(step.expected).match(QString::fromLatin1(reply)).hasMatch(), qPrintable(where));
        // Our own failures use the error form the driver recognises.
        if (step.expected.startsWith(QLatin1String("^Err")))
            QVERIFY2(isErrorReply(reply), qPrintable(where));
        else
            QVERIFY2(!isErrorReply(reply), qPrintable(where));
    }
}

void tst_Linkhub::pipelinedLinesAnsweredInOrder()
{
    Hub hub;
    hub.env.insert(QStringLiteral("VELA_SIM_FAULTS"), QStringLiteral("delay:73,count=1,ms=300"));
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QVERIFY(openSim(client));

    // The delayed reply holds back the ones after it.
    client.send("73\r\nFB1\r\n/00SIM\r\n");
    QVERIFY(client.readLine().startsWith("73 "));
    QVERIFY(client.readLine().startsWith("FB1"));
    QCOMPARE(client.readLine(), QByteArray("/00OK"));
}

void tst_Linkhub::silentAnalyzerGetsTimeoutError()
{
    Hub hub;
    QVERIFY(writeProfile(hub.workDir() + QStringLiteral("/profile.db"),
                         {{QStringLiteral("instrument/timeout/read"), 400}}));
    hub.env.insert(QStringLiteral("VELA_SIM_FAULTS"), QStringLiteral("silence:73,count=1"));
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QVERIFY(openSim(client));

    QElapsedTimer timer;
    timer.start();
    const QByteArray reply = client.exchange("73");
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(reply.startsWith("Err:time-out"), reply.constData());
    QVERIFY2(elapsed >= 390 && elapsed < 5000, qPrintable(QString::number(elapsed)));
    QVERIFY(client.exchange("73").startsWith("73 "));
}

void tst_Linkhub::dropLinkClosesClient()
{
    Hub hub;
    hub.env.insert(QStringLiteral("VELA_SIM_FAULTS"), QStringLiteral("drop:73,count=1"));
    QVERIFY(hub.start());
    {
        Client client;
        QVERIFY(client.connectTo(hub.port));
        QVERIFY(openSim(client));
        QVERIFY(client.exchange("73", 5000).isNull());
        QVERIFY(client.waitForClose(testsupport::scaled(5000)));
    }
    // The hub goes on; the port stays open but the selection was the old
    // client's.
    Client next;
    QVERIFY(next.connectTo(hub.port));
    QCOMPARE(next.exchange("73"), QByteArray("Err:no analyzer selected"));
    QCOMPARE(next.exchange("/02VELA01"), QByteArray("/02OK"));
    QVERIFY(next.exchange("73").startsWith("73 "));
}

// The stray fault of VELA_SIM_FAULTS: on "SIM" the simulated analyzer's,
// on a serial port the hub's own (the framing would drop a repeated frame).
void tst_Linkhub::strayLineInItsOwnWrite_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("SIM") << false;
    QTest::newRow("serial port") << true;
}

void tst_Linkhub::strayLineInItsOwnWrite()
{
    QFETCH(bool, serial);
    Velasim sim;
    if (serial)
        QVERIFY(sim.start({}));
    Hub hub;
    const QString traceFile = hub.workDir() + QStringLiteral("/wire.trace");
    hub.env.insert(QStringLiteral("VELA_LINKHUB_TRACE"), traceFile);
    hub.env.insert(QStringLiteral("VELA_SIM_FAULTS"), QStringLiteral("stray:74,ms=150"));
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    if (serial) {
        QCOMPARE(client.exchange("/00" + sim.device().toLocal8Bit()), QByteArray("/00OK"));
        QCOMPARE(client.exchange("/02VELA01"), QByteArray("/02OK"));
    } else {
        QVERIFY(openSim(client));
    }
    const QByteArray reply = client.exchange("74");
    QVERIFY(reply.startsWith("74-"));
    // The same line once more, then nothing but the replies asked for.
    QCOMPARE(client.readLine(5000), reply);
    QVERIFY(client.exchange("73").startsWith("73 "));
    QVERIFY(client.readLine(400).isNull());
    hub.stop();

    // The hub's own record, on its own clock: the reply was written, and the
    // extra line in a write of its own, no sooner than asked.
    QFile file(traceFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QDateTime replied, strayed;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QDateTime at = QDateTime::fromString(QString::fromLatin1(line.left(23)), Qt::ISODateWithMs);
        const QByteArray what = line.mid(24);
        if (what == "C< " + reply && !replied.isValid())
            replied = at;
        else if (what == "C< " + reply + " [stray]")
            strayed = at;
    }
    QVERIFY(replied.isValid());
    QVERIFY(strayed.isValid());
    QVERIFY2(replied.msecsTo(strayed) >= 150, qPrintable(QString::number(replied.msecsTo(strayed))));
}

void tst_Linkhub::exitAfterLines()
{
    Hub hub;
    QVERIFY(hub.start({QStringLiteral("--exit-after"), QStringLiteral("4")}));
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QVERIFY(openSim(client));
    // The fourth line is handled but never answered: the hub is gone.
    QVERIFY(client.exchange("73", 5000).isNull());
    QVERIFY(client.waitForClose(testsupport::scaled(5000)));
    QVERIFY(hub.process.waitForFinished(testsupport::scaled(5000)));
    QCOMPARE(hub.process.exitCode(), 3);
}

// A second client waits a moment for the first to leave (a host started
// again after it died) and is served then; while the first stays it is
// refused.
void tst_Linkhub::secondClientIsBusy_data()
{
    QTest::addColumn<bool>("firstLeaves");
    QTest::newRow("first stays: refused") << false;
    QTest::newRow("first leaves meanwhile: served") << true;
}

void tst_Linkhub::secondClientIsBusy()
{
    QFETCH(bool, firstLeaves);
    Hub hub;
    QVERIFY(hub.start());
    Client first;
    QVERIFY(first.connectTo(hub.port));
    QVERIFY(openSim(first));

    Client second;
    QVERIFY(second.connectTo(hub.port));
    if (firstLeaves) {
        first.socket.abort();
        QVERIFY(openSim(second));
        QVERIFY(second.exchange("73").startsWith("73 "));
        return;
    }
    QCOMPARE(second.readLine(), QByteArray("Err:busy"));
    QVERIFY(second.waitForClose(testsupport::scaled(5000)));

    QVERIFY(first.exchange("73").startsWith("73 "));
}

void tst_Linkhub::secondInstanceExits()
{
    Hub hub;
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QVERIFY(openSim(client));

    // A driver already waiting on the semaphore when the second one starts
    // is let go on. (The release is the process's own and is undone when it
    // exits, so only a waiter that is there in time takes it.)
    SemaphoreWaiter waiter(hub.key);
    QVERIFY(waiter.waitUntilBlocked(testsupport::scaled(10000)));

    QProcess second;
    QProcessEnvironment env = hub.env;
    env.insert(QStringLiteral("VELA_LINKHUB_PORT"), QString::number(hub.port));
    env.remove(QStringLiteral("VELA_LINKHUB_PORT_FILE"));
    second.setProcessEnvironment(env);
    second.setWorkingDirectory(hub.workDir());
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(QStringLiteral(LINKHUB_PATH), QStringList());
    QVERIFY(second.waitForFinished(testsupport::scaled(10000)));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 3); // "port already served", no other ending
    // Quietly: it shares the console of whoever started it, and its exit
    // code says all.
    QCOMPARE(second.readAll(), QByteArray());
    QVERIFY(waiter.waitUntilAcquired(testsupport::scaled(10000)));

    // The first one still serves its client.
    QVERIFY(client.exchange("73").startsWith("73 "));
    QCOMPARE(hub.process.state(), QProcess::Running);
}

void tst_Linkhub::idleExit()
{
    // Nobody comes.
    {
        Hub hub;
        hub.env.insert(QStringLiteral("VELA_LINKHUB_IDLE"), QStringLiteral("500"));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(hub.start());
        QVERIFY(hub.process.waitForFinished(testsupport::scaled(10000)));
        QCOMPARE(hub.process.exitCode(), 0);
        QVERIFY(timer.elapsed() >= 500);
    }
    // A client stays longer than the idle time, then leaves.
    {
        Hub hub;
        hub.env.insert(QStringLiteral("VELA_LINKHUB_IDLE"), QStringLiteral("500"));
        QVERIFY(hub.start());
        Client client;
        QVERIFY(client.connectTo(hub.port));
        QVERIFY(!hub.process.waitForFinished(1500));
        QVERIFY(openSim(client));
        client.socket.disconnectFromHost();
        QElapsedTimer timer;
        timer.start();
        QVERIFY(hub.process.waitForFinished(testsupport::scaled(10000)));
        QVERIFY2(timer.elapsed() >= 400, qPrintable(QString::number(timer.elapsed())));
    }
}

void tst_Linkhub::wireTrace()
{
    Hub hub;
    const QString traceFile = hub.workDir() + QStringLiteral("/wire.trace");
    hub.env.insert(QStringLiteral("VELA_LINKHUB_TRACE"), traceFile);
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QVERIFY(openSim(client));
    client.exchange(QByteArray("7\x00\xb2\\", 4));
    hub.stop();

    QFile file(traceFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    auto has = [&lines](const QByteArray& tail) {
        for (const QByteArray& l : lines) {
            // 2024-05-06T09:30:12.345 C> ...
            if (l.size() > 24 && l.at(4) == '-' && l.at(10) == 'T' && l.at(19) == '.' && l.mid(24) == tail)
                return true;
        }
        return false;
    };
    QVERIFY(has("C> /00SIM"));
    QVERIFY(has("C< /00OK"));
    QVERIFY(has("C> /02VELA01"));
    QVERIFY(has("C> 7\\x00\\xB2\\\\"));
}

// The ring lies in "trace" in the working folder by default, stays within
// its size while lines pour in, and a Linkhub killed mid-write leaves every
// file whole to its last line; the next one goes on from there.
void tst_Linkhub::traceRingSurvivesKill()
{
    Hub hub;
    hub.env.insert(QStringLiteral("VELA_LINKHUB_TRACE_FILES"), QStringLiteral("3"));
    hub.env.insert(QStringLiteral("VELA_LINKHUB_TRACE_SIZE"), QStringLiteral("4096"));
    const QString ring = hub.workDir() + QStringLiteral("/trace");
    auto checkRing = [&ring](int* lines) {
        const QStringList files = QDir(ring).entryList({QStringLiteral("wire-*.trace")}, QDir::Files, QDir::Name);
        QVERIFY(!files.isEmpty());
        QVERIFY2(files.size() <= 3, qPrintable(files.join(' ')));
        *lines = 0;
        for (const QString& name : files) {
            QFile file(ring + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray text = file.readAll();
            QVERIFY2(text.size() <= 4096, qPrintable(name));
            // A part line could only stand at the end; the rest must parse.
            const QList<QByteArray> whole = text.left(text.lastIndexOf('\n') + 1).split('\n');
            for (const QByteArray& line : whole) {
                if (line.isEmpty())
                    continue;
                ++*lines;
                QVERIFY2(line.size() > 24 && line.at(23) == ' ' && line.mid(24).contains(' '), line.constData());
            }
        }
    };

    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QVERIFY(openSim(client));
    QByteArray burst;
    for (int i = 0; i < 400; ++i)
        burst += "73\r\n";
    client.send(burst);
    for (int i = 0; i < 200; ++i)
        QVERIFY(client.readLine().startsWith("73 "));
    hub.process.kill(); // while the rest are being answered and traced
    QVERIFY(hub.process.waitForFinished(testsupport::scaled(5000)));
    int lines = 0;
    checkRing(&lines);
    QVERIFY(lines > 0);

    Hub again; // in a folder of its own, told where the ring is
    again.env.insert(QStringLiteral("VELA_LINKHUB_TRACE_FILES"), QStringLiteral("3"));
    again.env.insert(QStringLiteral("VELA_LINKHUB_TRACE_SIZE"), QStringLiteral("4096"));
    QVERIFY(again.start({QStringLiteral("--trace-dir"), ring}));
    Client second;
    QVERIFY(second.connectTo(again.port));
    QVERIFY(openSim(second));
    QVERIFY(second.exchange("74").startsWith("74-"));
    again.stop();
    checkRing(&lines);
    const QStringList files = QDir(ring).entryList({QStringLiteral("wire-*.trace")}, QDir::Files, QDir::Name);
    QFile newest(ring + QLatin1Char('/') + files.constLast());
    QVERIFY(newest.open(QIODevice::ReadOnly));
    QVERIFY(newest.readAll().contains(" VELA01 C> 74\n"));
}

void tst_Linkhub::serialEndToEnd()
{
    Velasim sim;
    QVERIFY(sim.start(
        {QStringLiteral("--corrupt"), QStringLiteral("3"), QStringLiteral("--ids"), QStringLiteral("VELA01,VELA07")}));
    Hub hub;
    const QString traceFile = hub.workDir() + QStringLiteral("/wire.trace");
    hub.env.insert(QStringLiteral("VELA_LINKHUB_TRACE"), traceFile);
    QVERIFY(hub.start());

    Client client;
    QVERIFY(client.connectTo(hub.port));
    QCOMPARE(client.exchange("/00" + sim.device().toLocal8Bit()), QByteArray("/00OK"));
    QCOMPARE(client.exchange("/010"), QByteArray("VELA01,VELA07"));
    QCOMPARE(client.exchange("/02VELA07"), QByteArray("/02OK"));
    // Every third reply frame arrives damaged and is asked for again.
    for (int i = 0; i < 4; ++i) {
        QVERIFY(client.exchange("73").startsWith("73 "));
        QVERIFY(client.exchange("FB1").startsWith("FB1"));
    }
    hub.stop();

    QFile file(traceFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray trace = file.readAll();
    QVERIFY2(trace.count("-- bad check") >= 2, trace.constData());
    QVERIFY(trace.contains("-- repeat 1 of frame"));
    QVERIFY(trace.contains("S> \\x02"));

    // The ring keeps the frames only of the exchanges that met trouble: each
    // bad check comes with the frames before it, the clean ones go.
    const QStringList ring =
        QDir(hub.workDir() + QStringLiteral("/trace")).entryList({QStringLiteral("wire-*.trace")}, QDir::Files);
    QCOMPARE(ring.size(), 1);
    QFile ringFile(hub.workDir() + QStringLiteral("/trace/") + ring.constFirst());
    QVERIFY(ringFile.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = ringFile.readAll().split('\n');
    int frames = 0, badChecks = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).contains(" VELA07 S"))
            ++frames;
        if (lines.at(i).endsWith(" VELA07 -- bad check")) {
            ++badChecks;
            QVERIFY2(i >= 2 && lines.at(i - 1).contains(" VELA07 S< \\x02")
                         && lines.at(i - 2).contains(" VELA07 S> \\x02"),
                     lines.at(i).constData());
        }
    }
    QCOMPARE(badChecks, int(trace.count("-- bad check")));
    QVERIFY2(frames > 0 && frames < int(trace.count(" S> ") + trace.count(" S< ")),
             qPrintable(QString::number(frames)));
}

void tst_Linkhub::serialAllFramesBad()
{
    Velasim sim;
    QVERIFY(sim.start({QStringLiteral("--corrupt"), QStringLiteral("1")}));
    Hub hub;
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QCOMPARE(client.exchange("/00" + sim.device().toLocal8Bit()), QByteArray("/00OK"));
    const QByteArray reply = client.exchange("/010");
    QVERIFY2(reply.startsWith("Err:bad frame"), reply.constData());
    QVERIFY(isErrorReply(reply));
}

void tst_Linkhub::serialSilence()
{
    Velasim sim;
    QVERIFY(sim.start({QStringLiteral("--faults"), QStringLiteral("silence:73,count=1")}));
    Hub hub;
    // Long enough for velasim to answer on a busy machine; the silence
    // still costs every try its whole read time-out.
    const int readMs = testsupport::scaled(600);
    QVERIFY(writeProfile(hub.workDir() + QStringLiteral("/profile.db"),
                         {{QStringLiteral("instrument/timeout/read"), readMs},
                          {QStringLiteral("instrument/timeout/interval"), QString::number(testsupport::scaled(200))}}));
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QCOMPARE(client.exchange("/00" + sim.device().toLocal8Bit()), QByteArray("/00OK"));
    QCOMPARE(client.exchange("/02VELA01"), QByteArray("/02OK"));

    // Three tries, each waiting out the read time-out: the clock here
    // starts before the hub's first one.
    QElapsedTimer timer;
    timer.start();
    const QByteArray reply = client.exchange("73", 10000 + 3 * readMs);
    QVERIFY2(reply.startsWith("Err:serial time-out"), reply.constData());
    QVERIFY2(timer.elapsed() >= 3 * readMs, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(client.exchange("73").startsWith("73 "));
}

void tst_Linkhub::serialHangUp()
{
    Velasim sim;
    QVERIFY(sim.start({QStringLiteral("--faults"), QStringLiteral("drop:73")}));
    Hub hub;
    QVERIFY(hub.start());
    {
        Client client;
        QVERIFY(client.connectTo(hub.port));
        QCOMPARE(client.exchange("/00" + sim.device().toLocal8Bit()), QByteArray("/00OK"));
        QCOMPARE(client.exchange("/02VELA01"), QByteArray("/02OK"));
        QVERIFY(client.exchange("73", 5000).isNull());
        QVERIFY(client.waitForClose(testsupport::scaled(5000)));
    }
    QVERIFY(sim.process.waitForFinished(testsupport::scaled(5000)));
    Client next;
    QVERIFY(next.connectTo(hub.port));
    QCOMPARE(next.exchange("/010"), QByteArray("Err:no port open"));
}

void tst_Linkhub::serialAnalyzerOffAndOnOnStablePath()
{
    QTemporaryDir dir;
    const QString link = dir.path() + QStringLiteral("/analyzer");
    const QString memory = dir.path() + QStringLiteral("/memory.bin");
    const QStringList arguments{QStringLiteral("--link"), link, QStringLiteral("--memory"), memory};
    auto velasim = std::make_unique<Velasim>();
    QVERIFY(velasim->start(arguments));
    QCOMPARE(velasim->device(), link);
    QVERIFY(QFileInfo(link).isSymLink());

    Hub hub;
    QVERIFY(hub.start());
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QCOMPARE(client.exchange("/00" + link.toLocal8Bit()), QByteArray("/00OK"));
    QCOMPARE(client.exchange("/02VELA01"), QByteArray("/02OK"));
    QCOMPARE(client.exchange("4D010002BEEF"), QByteArray("4D00"));

    // Switched off: the link goes with it, and the hub drops its client.
    velasim->process.terminate();
    QVERIFY(velasim->process.waitForFinished(testsupport::scaled(5000)));
    QVERIFY(!QFileInfo::exists(link));
    QVERIFY(client.exchange("73", 5000).isNull());

    // On again under the same name, with its memory: a new client reaches it.
    velasim = std::make_unique<Velasim>();
    QVERIFY(velasim->start(arguments));
    Client next;
    QVERIFY(next.connectTo(hub.port));
    QCOMPARE(next.exchange("/00" + link.toLocal8Bit()), QByteArray("/00OK"));
    QCOMPARE(next.exchange("/02VELA01"), QByteArray("/02OK"));
    QCOMPARE(next.exchange("4C010002"), QByteArray("4CBEEF"));
}

void tst_Linkhub::serialNobodyAnswers()
{
    // A line with nothing behind it: the test holds the other end silent.
    int master = -1, slave = -1;
    char name[256] = {};
    QCOMPARE(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    Hub hub;
    QVERIFY(hub.start({QStringLiteral("--read-timeout"), QStringLiteral("100")}));
    Client client;
    QVERIFY(client.connectTo(hub.port));
    QCOMPARE(client.exchange(QByteArray("/00") + name), QByteArray("/00OK"));
    const QByteArray reply = client.exchange("/010");
    QVERIFY2(reply == "Err:serial time-out, no analyzer answers on " + QByteArray(name), reply.constData());
    QCOMPARE(client.exchange("/02VELA01"), reply);

    // The enumeration frame went out three times.
    QByteArray sent;
    char buf[1024];
    ssize_t n;
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    while ((n = ::read(master, buf, sizeof buf)) > 0)
        sent.append(buf, int(n));
    QCOMPARE(sent.count("*:\x03"), 6);
    ::close(slave);
    ::close(master);
}

QTEST_GUILESS_MAIN(tst_Linkhub)
#include "tst_linkhub.moc"
