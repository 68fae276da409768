// The driver after a restart of its host: the tests an earlier session
// journalled are asked for, followed, given from the journal, placed or
// released, and never placed a second time.
#include "rig.h"

#include "commandcodec.h"
#include "placementjournal.h"

#include "core/analysisresult.h"

#include <QFile>
#include <QTest>

namespace {

const quint32 oldId = 0x00ABCDEF;

QByteArray idText(quint32 id)
{
    return QByteArray::number(id, 16).rightJustified(8, '0').toUpper();
}

// What the analyzer holds under the old id when the driver comes back.
enum class Held { Nothing, Ours, Other };

} // namespace

Q_DECLARE_METATYPE(Held)
Q_DECLARE_METATYPE(PlacementJournal::State)

class TestRecovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void adoption_data();
    void adoption();
    void orphanReleased();
    void cleanEndMeasuresAnew();
    void idsSkipJournalled();
    void unwritableJournalStopsPlacement();

private:
    // An earlier session, ended by a crash unless clean: one test of sample
    // S1 at A1, PT, 1/1, optical, in the given state.
    void earlierSession(PlacementJournal::State state, bool withResult, bool clean = false);
    void hold(Rig& rig, Held held);
    static int passUntilFinished(Rig& rig, Assay* a);
    QString journalFile() const { return qEnvironmentVariable("VELA_JOURNAL"); }
};

void TestRecovery::initTestCase()
{
    openSettingsInTemporaryFolder();
    registerAnalysisResultMetaType();
}

void TestRecovery::init()
{
    qputenv("VELA_ORPHAN_GRACE_MS", "0");
}

void TestRecovery::earlierSession(PlacementJournal::State state, bool withResult, bool clean)
{
    PlacementJournal j;
    QString error;
    QVERIFY2(j.open(journalFile(), &error), qPrintable(error));
    QVERIFY(j.beginSession(&error));
    PlacementJournal::Test t;
    t.testId = oldId;
    t.sample = QStringLiteral("S1");
    t.place = QStringLiteral("A1");
    t.position = positionCode(QStringLiteral("A1"));
    t.item = "PT";
    t.dilution = 1;
    t.method = "L";
    QVERIFY(j.recordPlacing(t, &error));
    if (state >= PlacementJournal::Accepted)
        QVERIFY(j.setState(oldId, PlacementJournal::Accepted, &error));
    if (withResult) {
        t.hasResult = true;
        t.value = 12.34;
        t.channel = 7;
        t.report = QStringLiteral("measured before");
        ClotCurve curve;
        curve.setSegments({ClotCurve::Segment(0.0, 0.1, QVector<double>{1, 2, 3, 4})});
        t.curve = curve.toBuffer();
        QVERIFY(j.recordResult(t, &error));
    }
    if (state == PlacementJournal::Released)
        QVERIFY(j.recordRelease(oldId, QString(), &error));
    if (clean)
        QVERIFY(j.endSession(&error));
}

void TestRecovery::hold(Rig& rig, Held held)
{
    const QByteArray code = positionCode(QStringLiteral("A1"));
    if (held == Held::Ours)
        rig.analyzer.handle("31" + idText(oldId) + code + "PT01L");
    else if (held == Held::Other)
        rig.analyzer.handle("31" + idText(oldId) + positionCode(QStringLiteral("B7")) + "FI02C");
}

int TestRecovery::passUntilFinished(Rig& rig, Assay* a)
{
    int passes = 0;
    while (!a->isFinished() && passes < 20) {
        rig.pass();
        ++passes;
    }
    return passes;
}

void TestRecovery::adoption_data()
{
    QTest::addColumn<PlacementJournal::State>("state");
    QTest::addColumn<bool>("withResult");
    QTest::addColumn<Held>("held");
    QTest::addColumn<QString>("placed");   // "old" id, "new" id, or "none"
    QTest::addColumn<double>("value");     // the assay's result; -1: an error result
    QTest::addColumn<bool>("releasedOld"); // a 34 for the old id

    QTest::newRow("accepted, still on the analyzer: followed")
        << PlacementJournal::Accepted << false << Held::Ours << "none" << 30.0 << true;
    QTest::newRow("about to place, arrived: followed")
        << PlacementJournal::AboutToPlace << false << Held::Ours << "none" << 30.0 << true;
    QTest::newRow("about to place, never arrived: placed under its id")
        << PlacementJournal::AboutToPlace << false << Held::Nothing << "old" << 30.0 << true;
    QTest::newRow("about to place, another test holds its id: a fresh id")
        << PlacementJournal::AboutToPlace << false << Held::Other << "new" << 30.0 << false;
    QTest::newRow("accepted, lost by the analyzer: told, not placed")
        << PlacementJournal::Accepted << false << Held::Nothing << "none" << -1.0 << false;
    QTest::newRow("accepted, another test holds its id: lost, not placed")
        << PlacementJournal::Accepted << false << Held::Other << "none" << -1.0 << false;
    QTest::newRow("result read, not released: given, then released")
        << PlacementJournal::ResultRead << true << Held::Ours << "none" << 12.34 << true;
    QTest::newRow("result read, gone from the analyzer: given")
        << PlacementJournal::ResultRead << true << Held::Nothing << "none" << 12.34 << false;
    QTest::newRow("result read and released before the crash: given")
        << PlacementJournal::Released << true << Held::Nothing << "none" << 12.34 << false;
}

void TestRecovery::adoption()
{
    QFETCH(PlacementJournal::State, state);
    QFETCH(bool, withResult);
    QFETCH(Held, held);
    QFETCH(QString, placed);
    QFETCH(double, value);
    QFETCH(bool, releasedOld);

    Rig rig;
    QVERIFY(rig.connected);
    earlierSession(state, withResult);
    hold(rig, held);
    rig.analyzer.runningReplies = 0;
    Assay* a = rig.addAssay(QStringLiteral("S1"), QStringLiteral("A1"), QStringLiteral("PT"));
    QVERIFY(passUntilFinished(rig, a) < 20);

    const QList<QByteArray> placements = rig.server.requests("31");
    if (placed == QLatin1String("none")) {
        QVERIFY2(placements.isEmpty(), placements.join(' ').constData());
    } else {
        QCOMPARE(placements.size(), 1);
        QCOMPARE(placements.first().mid(2, 8) == idText(oldId), placed == QLatin1String("old"));
    }
    QCOMPARE(rig.server.requests("34" + idText(oldId)).size() > 0, releasedOld);
    const AnalysisResult r = a->result();
    if (value < 0) {
        QVERIFY2(r.errorText().contains(QStringLiteral("丢失")), qPrintable(r.errorText()));
    } else {
        QCOMPARE(r.value(), value);
        QVERIFY(r.curve().size() > 0);
    }
    if (withResult) {
        QCOMPARE(r.ch(), 7);
        QVERIFY2(a->message().contains(QStringLiteral("重新启动前")), qPrintable(a->message()));
    }
    // Nothing of the earlier session is left unreleased in the journal.
    PlacementJournal j;
    QString error;
    QVERIFY(j.open(journalFile(), &error));
    QVERIFY(j.unreleased().isEmpty());
    QVERIFY(rig.messages.texts().isEmpty());
}

// A test on the analyzer that no assay claims is released, and the operator
// is told its sample, position and item.
void TestRecovery::orphanReleased()
{
    Rig rig;
    QVERIFY(rig.connected);
    earlierSession(PlacementJournal::Accepted, false);
    hold(rig, Held::Ours);
    Assay* other = rig.addAssay(QStringLiteral("S2"), QStringLiteral("A2"), QStringLiteral("PT"));
    rig.pass();
    QCOMPARE(rig.server.requests("34" + idText(oldId)).size(), 1);
    QCOMPARE(rig.messages.texts().size(), 1);
    const QString box = rig.messages.texts().first();
    QVERIFY2(box.contains(QStringLiteral("S1")) && box.contains(QStringLiteral("A1"))
                 && box.contains(QStringLiteral("PT")),
             qPrintable(box));
    QVERIFY(passUntilFinished(rig, other) < 20); // the rest of the work goes on
    QVERIFY(other->result().value() > 0.0);
}

// After a session that ended cleanly nothing read before is given again: a
// new queue entry is a new test.
void TestRecovery::cleanEndMeasuresAnew()
{
    Rig rig;
    QVERIFY(rig.connected);
    earlierSession(PlacementJournal::Released, true, true);
    rig.analyzer.runningReplies = 0;
    Assay* a = rig.addAssay(QStringLiteral("S1"), QStringLiteral("A1"), QStringLiteral("PT"));
    QVERIFY(passUntilFinished(rig, a) < 20);
    QCOMPARE(rig.server.requests("31").size(), 1);
    QCOMPARE(a->result().value(), 30.0);
}

// No id the journal holds unreleased is given again, to a run's test or a
// manual one, and the counter goes on above the journal's newest id.
void TestRecovery::idsSkipJournalled()
{
    qputenv("VELA_ORPHAN_GRACE_MS", "600000");
    Rig rig;
    QVERIFY(rig.connected);
    earlierSession(PlacementJournal::Accepted, false);
    hold(rig, Held::Ours);
    rig.instrument->seedTestIds(1);
    rig.pass(); // opens the journal: ids go on above its newest
    QCOMPARE(rig.instrument->nextTestId(), oldId + 1);
    rig.instrument->seedTestIds(oldId - 1);
    QCOMPARE(rig.instrument->nextTestId(), oldId + 1);
}

// A journal that cannot be written: no test goes out that it does not know,
// and the operator is told why.
void TestRecovery::unwritableJournalStopsPlacement()
{
    Rig rig;
    QVERIFY(rig.connected);
    QFile blocker(rig.journalDir.filePath(QStringLiteral("data")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("VELA_JOURNAL", rig.journalDir.filePath(QStringLiteral("data/placements.db")).toLocal8Bit());
    Assay* a = rig.addAssay(QStringLiteral("S1"), QStringLiteral("A1"), QStringLiteral("PT"));
    rig.pass();
    rig.pass();
    QVERIFY(rig.server.requests("31").isEmpty());
    QCOMPARE(rig.messages.texts().size(), 1);
    QVERIFY2(rig.messages.texts().first().contains(QStringLiteral("无法写入测试记录文件")),
             qPrintable(rig.messages.texts().first()));
    QCOMPARE(a->status(), tq::Waiting);
}

QTEST_MAIN(TestRecovery)
#include "tst_recovery.moc"
