// Playing a recorded session back: tests found by order of placement, their
// replies in order with the driver's ids in them, other commands by kind,
// and the first request that does not fit named with where it was expected.

#include "sim/velasim/replayrecording.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A ring file as Linkhub writes it: a connection, two tests placed, one
// measured to its end, then an analyzer that went silent and a client that
// left before a reply.
const char* const recorded = "2026-05-06T09:30:00.000 - -- client connected from port 5000\n"                   // 1
                             "2026-05-06T09:30:00.001 - C> /00SIM\n"                                            // 2
                             "2026-05-06T09:30:00.002 - C< /00OK\n"                                             // 3
                             "2026-05-06T09:30:00.003 - C> /010\n"                                              // 4
                             "2026-05-06T09:30:00.004 - C< VELA01\n"                                            // 5
                             "2026-05-06T09:30:00.005 - C> /02VELA01\n"                                         // 6
                             "2026-05-06T09:30:00.006 VELA01 C< /02OK\n"                                        // 7
                             "2026-05-06T09:30:00.007 VELA01 C> 24\n"                                           // 8
                             "2026-05-06T09:30:00.008 VELA01 C< 24 Sensor-0-\n"                                 // 9
                             "2026-05-06T09:30:00.009 VELA01 C> 3100001111A1PT01L\n"                            // 10
                             "2026-05-06T09:30:00.010 VELA01 C< 311103\n"                                       // 11
                             "2026-05-06T09:30:00.011 VELA01 C> 3100002222A2AP01L\n"                            // 12
                             "2026-05-06T09:30:00.012 VELA01 C< 311102\n"                                       // 13
                             "2026-05-06T09:30:00.013 VELA01 C> 3200001111\n"                                   // 14
                             "2026-05-06T09:30:00.014 VELA01 C< 3203 00001111A1PT01L \\xB2\\xE2\n"              // 15
                             "2026-05-06T09:30:00.015 VELA01 C< 3203 00001111A1PT01L [stray]\n"                 // 16
                             "2026-05-06T09:30:00.016 VELA01 C> 3200001111\n"                                   // 17
                             "2026-05-06T09:30:00.017 VELA01 C< 320F 00001111A1PT01L 1234\n"                    // 18
                             "2026-05-06T09:30:00.018 VELA01 C> 60000011110000037\n"                            // 19
                             "2026-05-06T09:30:00.019 VELA01 C< 600100001111000037-0001-\n"                     // 20
                             "2026-05-06T09:30:00.020 VELA01 C> 60000011110037037\n"                            // 21
                             "2026-05-06T09:30:00.021 VELA01 C< 600100001111003702-0002-0000-\n"                // 22
                             "2026-05-06T09:30:00.022 VELA01 C> 3400001111\n"                                   // 23
                             "2026-05-06T09:30:00.023 VELA01 C< 3400\n"                                         // 24
                             "2026-05-06T09:30:00.024 VELA01 C> 3200002222\n"                                   // 25
                             "2026-05-06T09:30:00.025 VELA01 C< Err:time-out, analyzer VELA01 did not answer\n" // 26
                             "2026-05-06T09:30:00.026 VELA01 C> 73\n"                                           // 27
                             "2026-05-06T09:30:00.027 VELA01 -- client left\n"                                  // 28
                             "2026-05-06T09:30:00.028 VELA01 C> 24"; // 29, broken off

} // namespace

class tst_ReplayRecording : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void answersByTestAndKind();
    void pollsBeyondTheRecordingGetTheLastAnswer();
    void namesFirstMismatch_data();
    void namesFirstMismatch();
    void oldTraceFormat();

private:
    QTemporaryDir m_dir;
};

void tst_ReplayRecording::initTestCase()
{
    QFile file(m_dir.filePath(QStringLiteral("wire-00000001.trace")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(recorded);
}

void tst_ReplayRecording::answersByTestAndKind()
{
    ReplayRecording replay;
    QString error;
    QVERIFY2(replay.load({m_dir.path()}, &error), qPrintable(error));
    QCOMPARE(replay.identifiers(), QList<QByteArray>{"VELA01"});
    QCOMPARE(replay.recordedTests("VELA01"), 2);
    auto line = [&replay](const QByteArray& request) {
        const SimReply r = replay.handle("VELA01", request);
        return r.action == SimReply::Silent ? QByteArray("<silent>") : r.line;
    };
    // The driver's ids now, found by the order of placement.
    QCOMPARE(line("24"), QByteArray("24 Sensor-0-"));
    QCOMPARE(line("31ABCD0001A1PT01L"), QByteArray("311103"));
    QCOMPARE(line("31ABCD0002A2AP01L"), QByteArray("311102"));
    QCOMPARE(line("32ABCD0001"), QByteArray("3203 ABCD0001A1PT01L \xB2\xE2"));
    QCOMPARE(line("32ABCD0001"), QByteArray("320F ABCD0001A1PT01L 1234"));
    QCOMPARE(line("32ABCD0001"), QByteArray("320F ABCD0001A1PT01L 1234")); // the last, while more come
    QCOMPARE(line("60ABCD00010037037"), QByteArray("6001ABCD0001003702-0002-0000-"));
    QCOMPARE(line("60ABCD00010000037"), QByteArray("6001ABCD0001000037-0001-"));
    QCOMPARE(line("34ABCD0001"), QByteArray("3400"));
    QCOMPARE(line("24"), QByteArray("24 Sensor-0-"));
    // Linkhub's "Err:" and a request the client left: the analyzer is silent.
    QCOMPARE(line("32ABCD0002"), QByteArray("<silent>"));
    QCOMPARE(line("73"), QByteArray("<silent>"));
    QCOMPARE(replay.mismatches(), 0);
    QCOMPARE(replay.requests(), 12);
}

void tst_ReplayRecording::pollsBeyondTheRecordingGetTheLastAnswer()
{
    // 73 answered, then silent once, then left unanswered by a client that
    // went: polls past the recording get the last answer, not a silence.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("wire-00000001.trace")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("2026-05-06T09:30:00.007 VELA01 C> 73\n"
               "2026-05-06T09:30:00.008 VELA01 C< 73 22.0\n"
               "2026-05-06T09:30:00.009 VELA01 C> 73\n"
               "2026-05-06T09:30:00.010 VELA01 C< Err:time-out, analyzer VELA01 did not answer\n"
               "2026-05-06T09:30:00.011 VELA01 C> 73\n"
               "2026-05-06T09:30:00.012 VELA01 -- client left\n");
    file.close();
    ReplayRecording replay;
    QString error;
    QVERIFY2(replay.load({dir.path()}, &error), qPrintable(error));
    const SimReply::Action expected[] = {SimReply::Reply, SimReply::Silent, SimReply::Silent, SimReply::Reply,
                                         SimReply::Reply};
    for (SimReply::Action action : expected) {
        const SimReply r = replay.handle("VELA01", "73");
        QCOMPARE(r.action, action);
        if (action == SimReply::Reply)
            QCOMPARE(r.line, QByteArray("73 22.0"));
    }
}

void tst_ReplayRecording::namesFirstMismatch_data()
{
    QTest::addColumn<QList<QByteArray>>("requests");
    QTest::addColumn<QString>("named");
    QTest::newRow("another assay placed")
        << QList<QByteArray>{"24", "31ABCD0001A1TT01L", "FD"}
        << QStringLiteral("request 2 does not fit the recording: came \"31ABCD0001A1TT01L\", expected "
                          "\"31ABCD0001A1PT01L\" (wire-00000001.trace:10)");
    QTest::newRow("a kind never recorded")
        << QList<QByteArray>{"FD"} << QStringLiteral("came \"FD\", expected \"<no command FD in the recording>\"");
    QTest::newRow("a test never placed") << QList<QByteArray>{"32ABCD0009"}
                                         << QStringLiteral("came \"32ABCD0009\", expected \"<a test placed before>\"");
    QTest::newRow("a chunk not recorded")
        << QList<QByteArray>{"31ABCD0001A1PT01L", "60ABCD00010100037"}
        << QStringLiteral("expected \"<no such 60 for the test placed at wire-00000001.trace:10>\"");
    QTest::newRow("a test too many") << QList<QByteArray>{"31ABCD0001A1PT01L", "31ABCD0002A2AP01L", "31ABCD0003A3PT01L"}
                                     << QStringLiteral("request 3 does not fit");
    QTest::newRow("other text of a kind")
        << QList<QByteArray>{"24", "24 more"}
        << QStringLiteral("came \"24 more\", expected \"24\" (wire-00000001.trace:8)");
}

void tst_ReplayRecording::namesFirstMismatch()
{
    QFETCH(QList<QByteArray>, requests);
    QFETCH(QString, named);
    ReplayRecording replay;
    QString error;
    QVERIFY2(replay.load({m_dir.filePath(QStringLiteral("wire-00000001.trace"))}, &error), qPrintable(error));
    SimReply last;
    for (const QByteArray& request : requests)
        last = replay.handle("VELA01", request);
    QVERIFY(replay.mismatches() >= 1);
    QVERIFY2(replay.firstMismatch().contains(named), qPrintable(replay.firstMismatch()));
    // A request that does not fit gets an error reply; later ones are only counted.
    if (replay.mismatches() == 1 && requests.size() > 1 && requests.constLast() != "FD")
        QVERIFY(last.line.endsWith("XX"));
}

void tst_ReplayRecording::oldTraceFormat()
{
    // A trace named with --trace: no analyzer field, the selection from /02.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("old.trace")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("2026-05-06T09:30:00.005 C> /02VELA02\n"
               "2026-05-06T09:30:00.006 C< /02OK\n"
               "2026-05-06T09:30:00.007 C> 73\n"
               "2026-05-06T09:30:00.008 C< 73 22.0\n");
    file.close();
    ReplayRecording replay;
    QString error;
    QVERIFY2(replay.load({file.fileName()}, &error), qPrintable(error));
    QCOMPARE(replay.identifiers(), QList<QByteArray>{"VELA02"});
    QCOMPARE(replay.handle("VELA02", "73").line, QByteArray("73 22.0"));
}

QTEST_MAIN(tst_ReplayRecording)
#include "tst_replayrecording.moc"
