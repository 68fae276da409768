#include "hubport.h"
#include "lineserver.h"
#include "talkthread.h"
#include "testthread.h"
#include "testtime.h"

#include <QtTest>

#include <atomic>

class TestTalkThread : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void stoppedThread();
    void exchange();
    void framing_data();
    void framing();
    void unaskedLinesAreDropped();
    void strayLines_data();
    void strayLines();
    void refusedConnection();
    void linkBreaksWhileWaiting();
    void lateReplyIsNeverTaken();
    void overlongReplyClosesLink();
    void lineBreakInRequestIsNotSent();
    void reopenAfterClose();
    void threadsGetTheirOwnReplies();
    void wireTrace();

private:
    static void usePort(quint16 port) { qputenv("VELA_LINKHUB_PORT", QByteArray::number(port)); }
};

void TestTalkThread::init()
{
    qunsetenv("VELA_LINKHUB_PORT");
    qunsetenv("VELA_TALK_TIMEOUT_MS");
}

void TestTalkThread::stoppedThread()
{
    LineServer server;
    usePort(server.port());
    TalkThread talk;
    QVERIFY(!talk.isRunning());
    QCOMPARE(talk.talk("24"), QByteArray());
    QVERIFY(!talk.close());
    QTest::qWait(50);
    QCOMPARE(server.connections(), 0);
    QVERIFY(server.lines().isEmpty());
}

void TestTalkThread::exchange()
{
    LineServer server([](const QByteArray& line) { return LineServer::line("  " + line + "-ok \t"); });
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    QVERIFY(talk.isConnected());
    QVERIFY(talk.open()); // already open: nothing new
    QCOMPARE(talk.talk("24"), QByteArray("24-ok"));
    QCOMPARE(talk.talk("73"), QByteArray("73-ok"));
    QCOMPARE(server.lines(), (QList<QByteArray>{"24", "73"}));
    QCOMPARE(server.connections(), 1);
    QVERIFY(talk.close());
    QVERIFY(!talk.isConnected());
    QCOMPARE(talk.talk("24"), QByteArray());
    QCOMPARE(server.lines().size(), 2);
}

void TestTalkThread::framing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("dribble");
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("CR LF") << QByteArray("3111\r\n") << false << QByteArray("3111");
    QTest::newRow("LF only") << QByteArray("3111\n") << false << QByteArray("3111");
    QTest::newRow("one byte at a time") << QByteArray("3200000012340F\r\n") << true << QByteArray("3200000012340F");
    QTest::newRow("empty line") << QByteArray("\r\n") << false << QByteArray();
    QTest::newRow("GBK bytes kept") << QByteArray("32\xb2\xe2\xca\xd4\r\n") << false
                                    << QByteArray("32\xb2\xe2\xca\xd4");
}

void TestTalkThread::framing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, dribble);
    QFETCH(QByteArray, reply);
    LineServer server([bytes, dribble](const QByteArray&) {
        LineServer::Reply r;
        r.bytes = bytes;
        r.dribble = dribble;
        return r;
    });
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    QCOMPARE(talk.talk("24"), reply);
    QCOMPARE(talk.talk("24"), reply);
    QVERIFY(talk.isConnected());
}

// Several lines in one chunk answer one request: the extra lines must not
// be taken for the replies of later requests.
void TestTalkThread::unaskedLinesAreDropped()
{
    LineServer server([](const QByteArray& line) {
        if (line == "first")
            return LineServer::Reply{"one\r\nstray\r\npart", false, false, false};
        return LineServer::line(line + "-reply");
    });
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    QCOMPARE(talk.talk("first"), QByteArray("one"));
    QTest::qWait(50); // let the stray bytes arrive before the next request
    QCOMPARE(talk.talk("second"), QByteArray("second-reply"));
}

namespace {
// The reply a scripted analyzer gives to a request: 32 and 60 name their
// test, the others echo the command code.
QByteArray replyTo(const QByteArray& request)
{
    if (request.startsWith("32"))
        return "3205 " + request.mid(2, 8) + "B1PT01L";
    if (request.startsWith("60"))
        return "6001" + request.mid(2, 14) + "-00010002-";
    return request.left(2) + "00";
}
} // namespace

// A stray line in a segment of its own: already waiting before the request
// goes out, arriving between the request and its reply, or right after the
// reply (before or during the next request). Every request still gets its
// own reply, and a stray never shifts a later one.
void TestTalkThread::strayLines_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("stray");
    QTest::addColumn<QString>("when");

    const QByteArray other32 = "320F 0000BEEFB1PT01L  01 00";
    QTest::newRow("32 of another test, before") << QByteArray("3200001234") << other32 << "before";
    QTest::newRow("32 of another test, between") << QByteArray("3200001234") << other32 << "between";
    QTest::newRow("32 of another test, after") << QByteArray("3200001234") << other32 << "after";
    QTest::newRow("refusal of another command, between") << QByteArray("3200001234") << QByteArray("31XX") << "between";
    QTest::newRow("31 answer while 34 waits") << QByteArray("3400001234") << QByteArray("311103") << "between";
    QTest::newRow("34 answer while 31 waits") << QByteArray("3100001234B1PT01L") << QByteArray("3400") << "between";
    QTest::newRow("other chunk of the curve") << QByteArray("60000012340037")
                                              << QByteArray("6001000012340000"
                                                            "37-0001-")
                                              << "between";
    QTest::newRow("curve of another test")
        << QByteArray("60000012340000") << QByteArray("60010000BEEF000037-0001-") << "between";
    QTest::newRow("busy greeting before") << QByteArray("24") << QByteArray("Err:busy") << "before";
    QTest::newRow("junk after") << QByteArray("74") << QByteArray("junk \x01") << "after";
}

void TestTalkThread::strayLines()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, stray);
    QFETCH(QString, when);

    std::atomic<int> strays{0};
    LineServer server([&](const QByteArray& line) {
        const QByteArray reply = replyTo(line) + "\r\n";
        if (line != request || strays.fetch_add(1) > 0)
            return LineServer::Reply{reply, false, false, false};
        LineServer::Reply r;
        r.gapMs = 5;
        if (when == QLatin1String("between"))
            r.segments = {stray + "\r\n", reply};
        else if (when == QLatin1String("after"))
            r.segments = {reply, stray + "\r\n"};
        else // before the next request: the test waits for it
            r.segments = {reply, stray + "\r\n"};
        return r;
    });
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    const QList<QByteArray> requests{"24", request, request, "3200005678", request, "74"};
    for (const QByteArray& r : requests) {
        QCOMPARE(talk.talk(r), replyTo(r));
        if (when == QLatin1String("before") && r == request)
            QTRY_COMPARE(server.segmentsWritten(), 2);
    }
    QVERIFY(talk.isConnected());
    QCOMPARE(server.lines(), requests);
}

void TestTalkThread::refusedConnection()
{
    // Reserved for this test and served by nobody; a port that was free a
    // moment ago might be another test's server by now.
    const testsupport::HubPort unused;
    QVERIFY(unused.port() != 0);
    usePort(unused.port());
    TalkThread talk;
    QVERIFY(!talk.open());
    QVERIFY(!talk.isConnected());
    QCOMPARE(talk.socketError(), QAbstractSocket::ConnectionRefusedError);
    QVERIFY2(talk.errorString().contains(QLatin1String("refused"), Qt::CaseInsensitive),
             qPrintable(talk.errorString()));
    QVERIFY(talk.wait(testsupport::scaled(5000)));
    QCOMPARE(talk.talk("24"), QByteArray());
}

void TestTalkThread::linkBreaksWhileWaiting()
{
    LineServer server(
        [](const QByteArray& line) { return line == "drop" ? LineServer::hangUp() : LineServer::echo(line); });
    usePort(server.port());
    TalkThread talk;
    std::atomic<int> lost{0};
    talk.setLinkLostHandler([&] { ++lost; });
    QVERIFY(talk.open());
    QCOMPARE(talk.talk("ping"), QByteArray("ping"));
    QCOMPARE(talk.talk("drop"), QByteArray());
    QVERIFY(!talk.isConnected());
    QCOMPARE(lost.load(), 1); // told before the caller got its empty reply
    for (int i = 0; i < 3; ++i)
        QCOMPARE(talk.talk("ping"), QByteArray());
    QCOMPARE(server.lines(), (QList<QByteArray>{"ping", "drop"}));
    QVERIFY(talk.wait(testsupport::scaled(5000)));

    // The request handed over after the end never reaches a new link.
    QVERIFY(talk.open());
    QCOMPARE(talk.talk("again"), QByteArray("again"));
    QCOMPARE(server.lines(), (QList<QByteArray>{"ping", "drop", "again"}));
    QVERIFY(talk.close());
    QCOMPARE(lost.load(), 1); // a close asked for is no loss
}

// A reply that comes after its time-out closed the link can never be taken
// for a later request, on this link or the next.
void TestTalkThread::lateReplyIsNeverTaken()
{
    LineServer server([](const QByteArray& line) {
        if (line != "32000000AA")
            return LineServer::line(replyTo(line));
        LineServer::Reply late;
        late.segments = {QByteArray(), replyTo(line) + "\r\n"};
        late.gapMs = 400;
        return late;
    });
    usePort(server.port());
    qputenv("VELA_TALK_TIMEOUT_MS", "150");
    TalkThread talk;
    QCOMPARE(talk.replyTimeout(), 150);
    std::atomic<int> lost{0};
    talk.setLinkLostHandler([&] { ++lost; });
    QVERIFY(talk.open());
    QElapsedTimer timer;
    timer.start();
    const QByteArray reply = talk.talk("32000000AA");
    QVERIFY2(reply.startsWith("Err:"), reply.constData());
    QVERIFY(timer.elapsed() >= 100);
    QVERIFY(!talk.isConnected());
    QCOMPARE(lost.load(), 1);
    QCOMPARE(talk.talk("32000000AA"), QByteArray());
    talk.setReplyTimeout(10000); // the server finishes the late write first
    QVERIFY(talk.open());
    for (int i = 0; i < 5; ++i)
        QCOMPARE(talk.talk("32000000AB"), replyTo("32000000AB"));
    QCOMPARE(server.lines(),
             (QList<QByteArray>{"32000000AA", "32000000AB", "32000000AB", "32000000AB", "32000000AB", "32000000AB"}));
}

void TestTalkThread::overlongReplyClosesLink()
{
    LineServer server([](const QByteArray&) {
        return LineServer::Reply{QByteArray(3 << 20, 'A'), false, false, false};
    });
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    const QByteArray reply = talk.talk("60");
    QVERIFY2(reply.startsWith("Err:"), reply.left(40).constData());
    QVERIFY(!talk.isConnected());
}

void TestTalkThread::lineBreakInRequestIsNotSent()
{
    LineServer server;
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    QVERIFY(talk.talk("5E1\r\n24").startsWith("Err:"));
    QCOMPARE(talk.talk("24"), QByteArray("24"));
    QCOMPARE(server.lines(), (QList<QByteArray>{"24"}));
}

void TestTalkThread::reopenAfterClose()
{
    LineServer server;
    usePort(server.port());
    TalkThread talk;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(talk.open());
        QCOMPARE(talk.talk("n" + QByteArray::number(i)), "n" + QByteArray::number(i));
        QVERIFY(talk.close());
    }
    QCOMPARE(server.connections(), 3);
}

// Three threads at once, 102 000 exchanges, with a stray result of another
// test in a segment of its own before every 7th reply and after every 11th:
// no thread ever gets a reply that is not its own.
void TestTalkThread::threadsGetTheirOwnReplies()
{
    std::atomic<int> served{0};
    LineServer server([&](const QByteArray& line) {
        const int n = ++served;
        const QByteArray reply = replyTo(line) + "\r\n";
        const QByteArray stray = replyTo("32" + QByteArray::number(0xF0000000u + n, 16).toUpper()) + "\r\n";
        LineServer::Reply r;
        if (n % 7 == 0)
            r.segments = {stray, reply};
        else if (n % 11 == 0)
            r.segments = {reply, stray};
        else
            r.bytes = reply;
        return r;
    });
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    // Each dropped stray is logged; count them instead of printing them.
    static std::atomic<int> dropped;
    dropped = 0;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& m) {
            if (m.startsWith(QLatin1String("unasked")))
                ++dropped;
        });
    const int perThread = 34000;
    std::atomic<int> mismatches{0};
    QList<QThread*> threads;
    for (int t = 0; t < 3; ++t) {
        threads.append(testsupport::createThread([&talk, &mismatches, t] {
            for (int i = 0; i < perThread; ++i) {
                const QByteArray request = "32"
                                           + QByteArray::number((t << 24) | i, 16).rightJustified(8, '0').toUpper();
                if (talk.talk(request) != replyTo(request))
                    ++mismatches;
            }
        }));
    }
    for (QThread* thread : threads)
        thread->start();
    for (QThread* thread : threads) {
        QVERIFY(testsupport::join(thread, 120000));
        delete thread;
    }
    qInstallMessageHandler(previous);
    qInfo("%d exchanges, %d mismatched replies, %d stray lines dropped", 3 * perThread, mismatches.load(),
          dropped.load());
    QCOMPARE(mismatches.load(), 0);
    QCOMPARE(server.lines().size(), 3 * perThread);
    QCOMPARE(dropped.load(), served / 7 + served / 11 - served / 77);
}

namespace {
QStringList traceLines;
void collectTrace(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (context.category && qstrcmp(context.category, "vela.link") == 0)
        traceLines.append(message);
}
} // namespace

// Each exchange is one debug line under "vela.link", bytes escaped, with
// the time it took; nothing is logged while the category is off.
void TestTalkThread::wireTrace()
{
    LineServer server([](const QByteArray&) { return LineServer::line("32\xb2\xe2 \"ok\""); });
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    traceLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectTrace);
    talk.talk("32000012");
    QLoggingCategory::setFilterRules(QStringLiteral("vela.link.debug=true"));
    talk.talk("32000012");
    QLoggingCategory::setFilterRules(QString());
    talk.close();
    talk.talk("24");
    qInstallMessageHandler(previous);
    QCOMPARE(traceLines.size(), 1);
    const QRegularExpression line(
        QStringLiteral("^-> \"32000012\" <- \"32\\\\xB2\\\\xE2 \\\\\"ok\\\\\"\" \\(\\d+ ms\\)$"));
    QVERIFY2(line.match(traceLines.first()).hasMatch(), qPrintable(traceLines.first()));
}

QTEST_GUILESS_MAIN(TestTalkThread)
#include "tst_talkthread.moc"
