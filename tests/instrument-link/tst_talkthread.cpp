#include "lineserver.h"
#include "talkthread.h"

#include <QtTest>

#include <atomic>
#include "testtime.h"

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
    void refusedConnection();
    void linkBreaksWhileWaiting();
    void silentServerTimesOut();
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
    QVERIFY(talk.open());   // already open: nothing new
    QCOMPARE(talk.talk("24"), QByteArray("24-ok"));
    QCOMPARE(talk.talk("73"), QByteArray("73-ok"));
    QCOMPARE(server.lines(), (QList<QByteArray>{ "24", "73" }));
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
    QTest::newRow("GBK bytes kept") << QByteArray("32\xb2\xe2\xca\xd4\r\n") << false << QByteArray("32\xb2\xe2\xca\xd4");
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
    QCOMPARE(talk.talk("32"), reply);
    QCOMPARE(talk.talk("32"), reply);
    QVERIFY(talk.isConnected());
}

// Several lines in one chunk answer one request: the extra lines must not
// be taken for the replies of later requests.
void TestTalkThread::unaskedLinesAreDropped()
{
    LineServer server([](const QByteArray& line) {
        if (line == "first")
            return LineServer::Reply{ "one\r\nstray\r\npart", false, false, false };
        return LineServer::line(line + "-reply");
    });
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    QCOMPARE(talk.talk("first"), QByteArray("one"));
    QTest::qWait(50);   // let the stray bytes arrive before the next request
    QCOMPARE(talk.talk("second"), QByteArray("second-reply"));
}

void TestTalkThread::refusedConnection()
{
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    usePort(port);
    TalkThread talk;
    QVERIFY(!talk.open());
    QVERIFY(!talk.isConnected());
    QCOMPARE(talk.socketError(), QAbstractSocket::ConnectionRefusedError);
    QVERIFY2(talk.errorString().contains(QLatin1String("refused"), Qt::CaseInsensitive), qPrintable(talk.errorString()));
    QVERIFY(talk.wait(testsupport::scaled(5000)));
    QCOMPARE(talk.talk("24"), QByteArray());
}

void TestTalkThread::linkBreaksWhileWaiting()
{
    LineServer server([](const QByteArray& line) {
        return line == "drop" ? LineServer::hangUp() : LineServer::echo(line);
    });
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    QCOMPARE(talk.talk("ping"), QByteArray("ping"));
    QCOMPARE(talk.talk("drop"), QByteArray());
    QVERIFY(!talk.isConnected());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(talk.talk("ping"), QByteArray());
    QCOMPARE(server.lines(), (QList<QByteArray>{ "ping", "drop" }));
    QVERIFY(talk.wait(testsupport::scaled(5000)));

    // The request handed over after the end never reaches a new link.
    QVERIFY(talk.open());
    QCOMPARE(talk.talk("again"), QByteArray("again"));
    QCOMPARE(server.lines(), (QList<QByteArray>{ "ping", "drop", "again" }));
}

void TestTalkThread::silentServerTimesOut()
{
    LineServer server([](const QByteArray& line) {
        return line == "late" ? LineServer::silence() : LineServer::echo(line);
    });
    usePort(server.port());
    qputenv("VELA_TALK_TIMEOUT_MS", "300");
    TalkThread talk;
    QCOMPARE(talk.replyTimeout(), 300);
    QVERIFY(talk.open());
    QElapsedTimer timer;
    timer.start();
    const QByteArray reply = talk.talk("late");
    QVERIFY2(reply.startsWith("Err:"), reply.constData());
    QVERIFY(timer.elapsed() >= 250);
    QVERIFY(timer.elapsed() < testsupport::scaled(5000));
    QVERIFY(!talk.isConnected());
    QCOMPARE(talk.talk("next"), QByteArray());
    QCOMPARE(server.lines(), (QList<QByteArray>{ "late" }));
}

void TestTalkThread::overlongReplyClosesLink()
{
    LineServer server([](const QByteArray&) {
        return LineServer::Reply{ QByteArray(3 << 20, 'A'), false, false, false };
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
    QCOMPARE(server.lines(), (QList<QByteArray>{ "24" }));
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

void TestTalkThread::threadsGetTheirOwnReplies()
{
    LineServer server;
    usePort(server.port());
    TalkThread talk;
    QVERIFY(talk.open());
    const int perThread = 20000;
    std::atomic<int> mismatches{0};
    QList<QThread*> threads;
    for (int t = 0; t < 3; ++t) {
        threads.append(QThread::create([&talk, &mismatches, t] {
            for (int i = 0; i < perThread; ++i) {
                const QByteArray request = "T" + QByteArray::number(t) + "-" + QByteArray::number(i);
                if (talk.talk(request) != request)
                    ++mismatches;
            }
        }));
    }
    for (QThread* thread : threads)
        thread->start();
    for (QThread* thread : threads) {
        QVERIFY(thread->wait(120000));
        delete thread;
    }
    QCOMPARE(mismatches.load(), 0);
    QCOMPARE(server.lines().size(), 3 * perThread);
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
    const QRegularExpression line(QStringLiteral("^-> \"32000012\" <- \"32\\\\xB2\\\\xE2 \\\\\"ok\\\\\"\" \\(\\d+ ms\\)$"));
    QVERIFY2(line.match(traceLines.first()).hasMatch(), qPrintable(traceLines.first()));
}

QTEST_GUILESS_MAIN(TestTalkThread)
#include "tst_talkthread.moc"
