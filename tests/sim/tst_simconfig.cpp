#include "sim/simclock.h"
#include "sim/simconfig.h"

#include <QtTest>

Q_DECLARE_METATYPE(SimFault)

namespace {
SimFault fault(SimFault::Kind kind, const QByteArray& command, int after = 0, int count = 1, int ms = 0)
{
    SimFault f;
    f.kind = kind;
    f.command = command;
    f.after = after;
    f.count = count;
    f.delayMs = ms;
    return f;
}
} // namespace

class TestSimConfig : public QObject
{
    Q_OBJECT

private slots:
    void parseFaults_data();
    void parseFaults();
    void rejectsBadFaults_data();
    void rejectsBadFaults();
    void faultTextRoundTrips();
    void environment();
    void environmentIgnoresBadValues();
    void clocks();
};

void TestSimConfig::parseFaults_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<SimFault>>("expected");

    SimFault delay = fault(SimFault::Delay, "73", 0, 1, 1000);
    SimFault overlong = fault(SimFault::Overlong, "24");
    overlong.length = 100;

    QTest::newRow("empty") << "" << QList<SimFault>{};
    QTest::newRow("error on 32") << "error:32" << QList<SimFault>{fault(SimFault::ErrorReply, "32")};
    QTest::newRow("lower-case code, all")
        << "silence:fb,count=all" << QList<SimFault>{fault(SimFault::Silence, "FB", 0, -1)};
    QTest::newRow("drop after 5") << "drop,after=5" << QList<SimFault>{fault(SimFault::DropLink, "", 5)};
    QTest::newRow("star is every command")
        << "malformed:*,count=3" << QList<SimFault>{fault(SimFault::Malformed, "", 0, 3)};
    QTest::newRow("delay default 1 s") << "delay:73" << QList<SimFault>{delay};
    QTest::newRow("stray default 5 ms") << "stray:32,after=3" << QList<SimFault>{fault(SimFault::Stray, "32", 3, 1, 5)};
    QTest::newRow("overlong length") << "overlong:24,len=100" << QList<SimFault>{overlong};
    QTest::newRow("two, blanks") << " error:31 ; delay:60,ms=250,after=2 "
                                 << QList<SimFault>{fault(SimFault::ErrorReply, "31"),
                                                    fault(SimFault::Delay, "60", 2, 1, 250)};
}

void TestSimConfig::parseFaults()
{
    QFETCH(QString, text);
    QFETCH(QList<SimFault>, expected);
    QList<SimFault> faults;
    QString error;
    QVERIFY2(SimConfig::parseFaults(text, &faults, &error), qPrintable(error));
    QCOMPARE(faults.size(), expected.size());
    for (int i = 0; i < faults.size(); ++i)
        QVERIFY2(faults.at(i) == expected.at(i), qPrintable(faults.at(i).toString()));
}

void TestSimConfig::rejectsBadFaults_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("unknown kind") << "explode:32";
    QTest::newRow("long code") << "error:321";
    QTest::newRow("unknown key") << "error:32,often=2";
    QTest::newRow("negative after") << "drop,after=-1";
    QTest::newRow("count zero") << "error:32,count=0";
    QTest::newRow("ms not a number") << "delay:73,ms=soon";
    QTest::newRow("second item bad") << "error:32;bogus";
}

void TestSimConfig::rejectsBadFaults()
{
    QFETCH(QString, text);
    QList<SimFault> faults{fault(SimFault::Silence, "24")};
    QString error;
    QVERIFY(!SimConfig::parseFaults(text, &faults, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(faults.size(), 1); // untouched on failure
}

void TestSimConfig::faultTextRoundTrips()
{
    const QString text = QStringLiteral(
        "error:32,after=2;silence,count=all;delay:60,ms=300;overlong:24,len=99;stray:73,ms=40");
    QList<SimFault> faults, again;
    QVERIFY(SimConfig::parseFaults(text, &faults, nullptr));
    QStringList parts;
    for (const SimFault& f : faults)
        parts << f.toString();
    QVERIFY(SimConfig::parseFaults(parts.join(QLatin1Char(';')), &again, nullptr));
    QCOMPARE(again.size(), faults.size());
    for (int i = 0; i < faults.size(); ++i)
        QVERIFY(again.at(i) == faults.at(i));
}

void TestSimConfig::environment()
{
    qputenv("VELA_SIM_IDS", "A1, B2,A1");
    qputenv("VELA_SIM_SPEED", "20");
    qputenv("VELA_SIM_MEMORY", "/tmp/x.mem");
    qputenv("VELA_SIM_FAULTS", "error:32");
    qputenv("VELA_SIM_SEED", "0x10");
    qputenv("VELA_SIM_INTAKE", "2");
    qputenv("VELA_SIM_NOCLOT", "0.5");
    qputenv("VELA_SIM_NOCLOT_POSITIONS", "B1,C3");
    qputenv("VELA_SIM_STATUS", "0101,2A0");
    qputenv("VELA_SIM_SENSOR", "48");
    qputenv("VELA_SIM_CUPS", "10");
    const SimConfig c = SimConfig::fromEnvironment();
    for (const char* name :
         {"VELA_SIM_IDS", "VELA_SIM_SPEED", "VELA_SIM_MEMORY", "VELA_SIM_FAULTS", "VELA_SIM_SEED", "VELA_SIM_INTAKE",
          "VELA_SIM_NOCLOT", "VELA_SIM_NOCLOT_POSITIONS", "VELA_SIM_STATUS", "VELA_SIM_SENSOR", "VELA_SIM_CUPS"})
        qunsetenv(name);
    QCOMPARE(c.ids, (QList<QByteArray>{"A1", "B2"}));
    QCOMPARE(c.speed, 20.0);
    QCOMPARE(c.memoryFile, QStringLiteral("/tmp/x.mem"));
    QCOMPARE(c.faults.size(), 1);
    QCOMPARE(c.seed, 16u);
    QCOMPARE(c.intakeSize, 2);
    QCOMPARE(c.notClottingRate, 0.5);
    QCOMPARE(c.notClottingPositions, (QList<QByteArray>{"B1", "C3"}));
    QCOMPARE(c.statusCodes, (QList<quint16>{0x0101, 0x02A0}));
    QCOMPARE(c.sensorWord, quint16(0x48));
    QCOMPARE(c.cups, 10);
}

void TestSimConfig::environmentIgnoresBadValues()
{
    qputenv("VELA_SIM_SPEED", "-3");
    qputenv("VELA_SIM_FAULTS", "explode");
    qputenv("VELA_SIM_INTAKE", "0");
    qputenv("VELA_SIM_SENSOR", "1FF");
    const SimConfig c = SimConfig::fromEnvironment();
    for (const char* name : {"VELA_SIM_SPEED", "VELA_SIM_FAULTS", "VELA_SIM_INTAKE", "VELA_SIM_SENSOR"})
        qunsetenv(name);
    const SimConfig defaults;
    QCOMPARE(c.speed, defaults.speed);
    QVERIFY(c.faults.isEmpty());
    QCOMPARE(c.intakeSize, defaults.intakeSize);
    QCOMPARE(c.sensorWord, defaults.sensorWord);
    QCOMPARE(c.ids, defaults.ids);
}

void TestSimConfig::clocks()
{
    ManualClock manual;
    QCOMPARE(manual.nowMs(), 0);
    manual.advance(1500);
    manual.advance(-100); // never backwards
    QCOMPARE(manual.nowMs(), 1500);

    ScaledClock fast(1000.0);
    QElapsedTimer t;
    t.start();
    QTest::qWait(20);
    QVERIFY(fast.nowMs() >= 10000);
    ScaledClock bad(-1.0);
    QCOMPARE(bad.factor(), 1.0);
}

QTEST_GUILESS_MAIN(TestSimConfig)
#include "tst_simconfig.moc"
