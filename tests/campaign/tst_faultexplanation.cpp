#include "faultexplanation.h"

#include <QtTest>

Q_DECLARE_METATYPE(simtruth::Strike)

// Which strikes explain an error of test 7, whose assay ran from 10000 to
// 20000 ms, with a driver time-out of 1500 ms.
class TestFaultExplanation : public QObject
{
    Q_OBJECT

private slots:
    void cause_data();
    void cause();
};

namespace {

simtruth::Strike strike(const char* kind, const char* command, quint32 testId, qint64 atMs, int delayMs = 0)
{
    simtruth::Strike s;
    s.kind = kind;
    s.command = command;
    s.testId = testId;
    s.atMs = atMs;
    s.delayMs = delayMs;
    return s;
}

} // namespace

void TestFaultExplanation::cause_data()
{
    QTest::addColumn<simtruth::Strike>("struck");
    QTest::addColumn<bool>("explains");
    QTest::newRow("error on its 32") << strike("error", "32", 7, 90000) << true;
    QTest::newRow("malformed reply to its 60") << strike("malformed", "60", 7, 1000) << true;
    QTest::newRow("its 31 dropped") << strike("drop", "31", 7, 500) << true;
    QTest::newRow("its 32 silent") << strike("silence", "32", 7, 15000) << true;
    QTest::newRow("its 32 held past the time-out") << strike("delay", "32", 7, 15000, 3000) << true;
    QTest::newRow("its 32 held within the time-out") << strike("delay", "32", 7, 15000, 100) << false;
    QTest::newRow("error on another test's 32") << strike("error", "32", 8, 15000) << false;
    QTest::newRow("error on a status poll") << strike("error", "24", 0, 15000) << false;
    QTest::newRow("link dropped while it ran") << strike("drop", "24", 0, 15000) << true;
    QTest::newRow("link dropped in another's exchange") << strike("drop", "32", 8, 15000) << true;
    QTest::newRow("link dropped just before it was seen") << strike("drop", "24", 0, 9000) << true;
    QTest::newRow("link dropped long before") << strike("drop", "24", 0, 5000) << false;
    QTest::newRow("link dropped after it ended") << strike("drop", "24", 0, 25000) << false;
    QTest::newRow("stray line while it ran") << strike("stray", "73", 0, 12000, 5) << true;
    QTest::newRow("Linkhub exits while it ran") << strike("exit", "", 0, 19000) << true;
    QTest::newRow("poll held past the time-out") << strike("delay", "24", 0, 12000, 3000) << true;
    QTest::newRow("poll held within the time-out") << strike("delay", "24", 0, 12000, 100) << false;
}

void TestFaultExplanation::cause()
{
    QFETCH(simtruth::Strike, struck);
    QFETCH(bool, explains);
    const FaultExplanation faults({struck}, 1500);
    QCOMPARE(!faults.cause(7, 10000, 20000).isEmpty(), explains);
    QVERIFY(FaultExplanation({}, 1500).cause(7, 10000, 20000).isEmpty());
}

QTEST_GUILESS_MAIN(TestFaultExplanation)
#include "tst_faultexplanation.moc"
