#include "sim/simanalyzer.h"
#include "sim/simtruth.h"
#include "simwire.h"

#include <QtTest>

// Outcomes of one request under injected faults:
//   ok          the reply a fault-free analyzer gives
//   error       "<code>XX"
//   silent      no reply
//   drop        the link is dropped
//   malformed   echo kept, the rest does not read
//   overlong:N  the normal reply padded to N characters
//   delay:N     the normal reply after N ms
//   stray:N     the normal reply, and a copy of it to send N ms later
class TestSimFaults : public QObject
{
    Q_OBJECT

private slots:
    void faults_data();
    void faults();
    void errorReplyDoesNotExecute();
    void malformedResultDoesNotParse();
    void malformedCurveDoesNotRead();
    void strikesRecordedWithTheirTest();
};

void TestSimFaults::faults_data()
{
    QTest::addColumn<QString>("faults");
    QTest::addColumn<QList<QByteArray>>("requests");
    QTest::addColumn<QStringList>("outcomes");

    const QList<QByteArray> three24{"24", "24", "24"};
    QTest::newRow("error once on 24") << "error:24" << three24 << QStringList{"error", "ok", "ok"};
    QTest::newRow("error on 24 every time") << "error:24,count=all" << QList<QByteArray>{"24", "74", "24", "24"}
                                            << QStringList{"error", "ok", "error", "error"};
    QTest::newRow("error after 1, twice")
        << "error:24,after=1,count=2" << QList<QByteArray>{"24", "24", "74", "24", "24"}
        << QStringList{"ok", "error", "ok", "error", "ok"};
    QTest::newRow("other commands untouched") << "error:32" << QList<QByteArray>{"24", "74"} << QStringList{"ok", "ok"};
    QTest::newRow("silence on 74") << "silence:74" << QList<QByteArray>{"24", "74", "74"}
                                   << QStringList{"ok", "silent", "ok"};
    QTest::newRow("drop after 3 requests") << "drop,after=3" << QList<QByteArray>{"24", "74", "24", "74", "24"}
                                           << QStringList{"ok", "ok", "ok", "drop", "ok"};
    QTest::newRow("drop every time after 1")
        << "drop,after=1,count=all" << three24 << QStringList{"ok", "drop", "drop"};
    QTest::newRow("malformed 74") << "malformed:74" << QList<QByteArray>{"74", "74"} << QStringList{"malformed", "ok"};
    QTest::newRow("overlong 24") << "overlong:24,len=5000" << three24 << QStringList{"overlong:5000", "ok", "ok"};
    QTest::newRow("delay 74") << "delay:74,ms=250,count=2" << QList<QByteArray>{"74", "24", "74", "74"}
                              << QStringList{"delay:250", "ok", "delay:250", "ok"};
    QTest::newRow("stray 32, default gap")
        << "stray:32" << QList<QByteArray>{"3200000001", "3200000001"} << QStringList{"stray:5", "ok"};
    QTest::newRow("stray every command") << "stray,ms=20,count=all" << QList<QByteArray>{"24", "74"}
                                         << QStringList{"stray:20", "stray:20"};
    QTest::newRow("first due fault wins") << "silence:24;error:24" << three24 << QStringList{"silent", "error", "ok"};
    QTest::newRow("all commands") << "error,after=2,count=2" << QList<QByteArray>{"24", "74", "24", "74", "24"}
                                  << QStringList{"ok", "ok", "error", "error", "ok"};
    QTest::newRow("unknown command gets XX") << "error" << QList<QByteArray>{"zz"} << QStringList{"error"};
}

void TestSimFaults::faults()
{
    QFETCH(QString, faults);
    QFETCH(QList<QByteArray>, requests);
    QFETCH(QStringList, outcomes);
    QCOMPARE(requests.size(), outcomes.size());

    SimConfig config;
    QString error;
    QVERIFY2(SimConfig::parseFaults(faults, &config.faults, &error), qPrintable(error));
    config.statusCodes = {0x0101};
    config.sensorWord = 0x48;
    ManualClock clock;
    SimAnalyzer faulty("VELA01", config, &clock);
    config.faults.clear();
    SimAnalyzer sound("VELA01", config, &clock);

    for (int i = 0; i < requests.size(); ++i) {
        const QByteArray& request = requests.at(i);
        const QString& outcome = outcomes.at(i);
        const SimReply r = faulty.handle(request);
        const SimReply normal = sound.handle(request);
        const QByteArray what = QStringLiteral("request %1 (%2): %3 -> \"%4\"")
                                    .arg(i)
                                    .arg(QString::fromLatin1(request), outcome, QString::fromLatin1(r.line.left(60)))
                                    .toLatin1();
        if (outcome == QLatin1String("ok")) {
            QVERIFY2(r.action == SimReply::Reply && r.delayMs == 0 && r.stray.isEmpty(), what.constData());
            QVERIFY2(r.line == normal.line, what.constData());
        } else if (outcome.startsWith(QLatin1String("stray:"))) {
            QVERIFY2(r.action == SimReply::Reply && r.delayMs == 0, what.constData());
            QVERIFY2(r.line == normal.line && r.stray == normal.line, what.constData());
            QVERIFY2(r.strayDelayMs == outcome.mid(6).toInt(), what.constData());
        } else if (outcome == QLatin1String("error")) {
            QVERIFY2(r.action == SimReply::Reply && wire::isErrorReply(r.line), what.constData());
            QVERIFY2(r.line == (request == "zz" ? QByteArray("XX") : request.left(2) + "XX"), what.constData());
        } else if (outcome == QLatin1String("silent")) {
            QVERIFY2(r.action == SimReply::Silent && r.line.isEmpty(), what.constData());
        } else if (outcome == QLatin1String("drop")) {
            QVERIFY2(r.action == SimReply::DropLink && r.line.isEmpty(), what.constData());
        } else if (outcome == QLatin1String("malformed")) {
            QVERIFY2(r.action == SimReply::Reply && r.line != normal.line, what.constData());
            QVERIFY2(r.line.startsWith(request.left(2)) && !wire::isErrorReply(r.line), what.constData());
            QVERIFY2(!r.line.startsWith(normal.line.left(3)), what.constData()); // "74-" is gone
        } else if (outcome.startsWith(QLatin1String("overlong:"))) {
            QVERIFY2(r.line.size() == outcome.mid(9).toInt(), what.constData());
            QVERIFY2(r.line.startsWith(normal.line), what.constData());
            // the padding reads as nothing: the status still parses the same
            QCOMPARE(wire::parse24(r.line).codes, wire::parse24(normal.line).codes);
            QCOMPARE(wire::parse24(r.line).sensor, 0x48);
        } else if (outcome.startsWith(QLatin1String("delay:"))) {
            QVERIFY2(r.action == SimReply::Reply && r.delayMs == outcome.mid(6).toInt(), what.constData());
            QVERIFY2(r.line == normal.line, what.constData());
        } else {
            QFAIL(qPrintable(QStringLiteral("bad outcome %1").arg(outcome)));
        }
    }
}

void TestSimFaults::errorReplyDoesNotExecute()
{
    SimConfig config;
    QVERIFY(SimConfig::parseFaults(QStringLiteral("error:31;silence:5C;drop:75"), &config.faults, nullptr));
    ManualClock clock;
    SimAnalyzer a("VELA01", config, &clock);
    QCOMPARE(a.handle("3100000001B1PT01L").line, QByteArray("31XX"));
    QVERIFY(!a.testInfo(1).exists);
    QVERIFY(a.handle("3100000001B1PT01L").line.startsWith("3111"));
    QCOMPARE(a.handle("5D3").line, QByteArray("5D00"));
    QCOMPARE(a.handle("5C3").action, SimReply::Silent);
    QVERIFY(!a.channelEnabled(3)); // a request lost on the way does nothing
    QCOMPARE(a.handle("7530.00 30.00 10.00").action, SimReply::DropLink);
    QCOMPARE(a.handle("74").line, QByteArray("74-37.00 37.00 15.00"));
}

void TestSimFaults::malformedResultDoesNotParse()
{
    SimConfig config;
    QVERIFY(SimConfig::parseFaults(QStringLiteral("malformed:32;malformed:73"), &config.faults, nullptr));
    ManualClock clock;
    SimAnalyzer a("VELA01", config, &clock);
    QVERIFY(a.handle("3100000001B1PT01L").line.startsWith("3111"));
    const QByteArray reply = a.handle("3200000001").line;
    QVERIFY(!wire::isErrorReply(reply));
    QVERIFY(!wire::parse32(reply).ok); // status does not read
    QVERIFY(wire::parse32(a.handle("3200000001").line).ok);
    const QVector<double> t = wire::parse73(a.handle("73").line);
    QVERIFY(t.size() < 9 || qIsNaN(t.at(0)));
}

void TestSimFaults::malformedCurveDoesNotRead()
{
    SimConfig config;
    QVERIFY(SimConfig::parseFaults(QStringLiteral("malformed:60"), &config.faults, nullptr));
    ManualClock clock;
    SimAnalyzer a("VELA01", config, &clock);
    QVERIFY(a.handle("3100000001B1PT01L").line.startsWith("3111"));
    clock.advance(300000);
    const int seconds = a.testInfo(1).clotHundredths / 100;
    // the driver returns false and asks again later
    QVERIFY(!wire::readCurve(&a, 1, seconds).ok);
    const wire::Curve again = wire::readCurve(&a, 1, seconds);
    QVERIFY(again.ok && again.attached);
    QCOMPARE(again.points.size(), a.testInfo(1).pointCount);
}

void TestSimFaults::strikesRecordedWithTheirTest()
{
    // Every fault that strikes is written to the truth file with the test
    // its request names, beside the tests, which still read as before.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString truth = dir.filePath(QStringLiteral("truth.txt"));
    qputenv("VELA_SIM_TRUTH", truth.toLocal8Bit());
    SimConfig config;
    QString error;
    QVERIFY2(SimConfig::parseFaults(QStringLiteral("error:32;delay,after=2,ms=40;drop:24"), &config.faults, &error),
             qPrintable(error));
    ManualClock clock;
    SimAnalyzer analyzer("VELA01", config, &clock);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    for (const QByteArray& request :
         {QByteArray("3100000009B1PT01L"), QByteArray("320000000A"), QByteArray("3200000009"), QByteArray("24")})
        analyzer.handle(request);
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    qunsetenv("VELA_SIM_TRUTH");

    const QHash<quint32, simtruth::Entry> tests = simtruth::read(truth);
    QCOMPARE(tests.keys(), QList<quint32>{9});
    QCOMPARE(tests.value(9).item, QByteArray("PT"));
    const QList<simtruth::Strike> strikes = simtruth::readStrikes(truth);
    QStringList seen;
    for (const simtruth::Strike& s : strikes) {
        QVERIFY(s.atMs >= before && s.atMs <= after);
        seen << QStringLiteral("%1 %2 %3 %4")
                    .arg(QString::fromLatin1(s.kind), QString::fromLatin1(s.command))
                    .arg(s.testId)
                    .arg(s.delayMs);
    }
    QCOMPARE(seen, (QStringList{QStringLiteral("error 32 10 0"), QStringLiteral("delay 32 9 40"),
                                QStringLiteral("drop 24 0 0")}));
}

QTEST_GUILESS_MAIN(TestSimFaults)
#include "tst_simfaults.moc"
