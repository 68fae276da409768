#include "rig.h"

#include "workerthread.h"

#include "core/profile.h"

#include <tqcore/tqapp.h>

#include <QDir>
#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "statushistory.h"
#include "testtime.h"

namespace {

QByteArray idText(quint32 id)
{
    return QByteArray::number(id, 16).rightJustified(8, '0').toUpper();
}

quint32 testIdOf(Assay* a)
{
    return a->tempValue(QStringLiteral("vela/id")).toUInt();
}

bool hasAssay(const QSignalSpy& spy, const void* address)
{
    for (const QList<QVariant>& args : spy) {
        if (static_cast<const void*>(args.at(0).value<Assay*>()) == address)
            return true;
    }
    return false;
}

// Swallows the queued calls to an object while it lives (a swallowed call
// is dropped as it would be with the object gone), counting them.
class QueuedCallsHeld : public QObject
{
public:
    explicit QueuedCallsHeld(QObject* target)
        : m_target(target)
    {
        target->installEventFilter(this);
    }
    ~QueuedCallsHeld() override
    {
        if (m_target)
            m_target->removeEventFilter(this);
    }
    int count() const { return m_count; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_target || event->type() != QEvent::MetaCall)
            return false;
        ++m_count;
        return true;
    }

private:
    QPointer<QObject> m_target;
    int m_count = 0;
};

int shadowCount(const QList<TestRecord>& records)
{
    int n = 0;
    for (const TestRecord& r : records)
        n += r.shadow ? 1 : 0;
    return n;
}

} // namespace

class TestScheduler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noWorklist();
    void emptyWorklistRunsOnePass();
    void dilutionFactor_data();
    void dilutionFactor();
    void commandFields_data();
    void commandFields();
    void oneTestPerPassWithoutRoom();
    void refusedPlacementStaysPending();
    void refusedReleaseRetriedWithoutQuery();
    void deletedAssayReleasedSilently();
    void deletedDuringExchange_data();
    void deletedDuringExchange();
    void missingPosition_data();
    void missingPosition();
    void dilutionOutOfRange();
    void refusals_data();
    void refusals();
    void queryFailures_data();
    void queryFailures();
    void curveFailureKeepsClotTime_data();
    void curveFailureKeepsClotTime();
    void unknownTest_data();
    void unknownTest();
    void worklistRunsThroughWorker();
    void finishedHeadIsSkipped();
    void demonstrationShadows();
    void destroyDuringPass_data();
    void destroyDuringPass();

private:
    QTemporaryDir m_dir;
};

void TestScheduler::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
    Profile::instance();
    registerAnalysisResultMetaType();
}

void TestScheduler::init()
{
    Profile::instance().setValue(QStringLiteral("debug/active"), false, false);
    TqApp::setTmpValue(QStringLiteral("vela/added"), 0);
}

void TestScheduler::cleanup()
{
    Profile::instance().setValue(QStringLiteral("debug/active"), false, false);
}

void TestScheduler::noWorklist()
{
    InstrVela instrument(nullptr);
    QVERIFY(!instrument.startWork());
    QVERIFY(!instrument.scheduler().isWorking());
}

void TestScheduler::emptyWorklistRunsOnePass()
{
    Rig rig;
    QVERIFY(rig.connected);
    TqApp::setTmpValue(QStringLiteral("vela/added"), 7);
    QSignalSpy running(rig.instrument.data(), &Instrument::runningChanged);
    QVERIFY(rig.instrument->startWork());
    QVERIFY(rig.instrument->scheduler().waitForWorker(5000));
    QTRY_COMPARE(running.count(), 2);
    QCOMPARE(running.at(0).at(0).toBool(), true);
    QCOMPARE(running.at(1).at(0).toBool(), false);
    QVERIFY(rig.server.requests().isEmpty());
    QCOMPARE(TqApp::tmpValue(QStringLiteral("vela/added")).toInt(), 0);

    // and it starts again for the next work
    rig.addAssay("S1", "A1", "PT");
    QVERIFY(rig.instrument->startWork());
    QTRY_VERIFY_WITH_TIMEOUT(rig.worklist()->assays().at(0)->isFinished(), testsupport::scaled(15000));
    QVERIFY(rig.instrument->scheduler().waitForWorker(5000));
}

void TestScheduler::dilutionFactor_data()
{
    QTest::addColumn<double>("dilution");
    QTest::addColumn<int>("factor");
    QTest::newRow("1/1") << 1.0 << 1;
    QTest::newRow("0.5 -> 2") << 0.5 << 2;
    QTest::newRow("0.1 -> 10") << 0.1 << 10;
    QTest::newRow("0.4 -> 2.5 -> 3 (half away from zero)") << 0.4 << 3;
    QTest::newRow("2/3 -> 1.5 -> 2") << 2.0 / 3.0 << 2;
    QTest::newRow("0.3 -> 3.33 -> 3") << 0.3 << 3;
    QTest::newRow("zero: no fraction") << 0.0 << 1;
    QTest::newRow("negative: no fraction") << -0.5 << 1;
}

void TestScheduler::dilutionFactor()
{
    QFETCH(double, dilution);
    QFETCH(int, factor);
    QCOMPARE(InstrVela::dilutionFactor(dilution), factor);
}

void TestScheduler::commandFields_data()
{
    QTest::addColumn<QString>("position");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("dilution");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QByteArray>("fields"); // after the test id

    QTest::newRow("PT at A1, 1/1, optical") << "A1"
                                            << "PT"
                                            << "1/1"
                                            << "光学法" << QByteArray("B1PT01L");
    QTest::newRow("dilution 0.5 -> 02") << "A1"
                                        << "PT"
                                        << "1/2"
                                        << "光学法" << QByteArray("B1PT02L");
    QTest::newRow("dilution 0.1 -> 10") << "A1"
                                        << "PT"
                                        << "1/10"
                                        << "光学法" << QByteArray("B1PT10L");
    QTest::newRow("APTT at A12, bead") << "A12"
                                       << "APTT"
                                       << "1/1"
                                       << "磁珠法" << QByteArray("BCAP01C");
    QTest::newRow("default method") << "R3"
                                    << "FIB"
                                    << "1/5"
                                    << "" << QByteArray("R3FI05L");
}

void TestScheduler::commandFields()
{
    QFETCH(QString, position);
    QFETCH(QString, item);
    QFETCH(QString, dilution);
    QFETCH(QString, method);
    QFETCH(QByteArray, fields);

    Rig rig;
    Assay* a = rig.addAssay("S1", position, item, dilution);
    a->setMethod(method);
    rig.pass();
    const QList<QByteArray> placed = rig.server.requests("31");
    QCOMPARE(placed.size(), 1);
    QCOMPARE(placed.at(0), "31" + idText(testIdOf(a)) + fields);
    QCOMPARE(a->status(), tq::Started);
    QVERIFY(rig.instrument->containsAssay(a));
}

void TestScheduler::oneTestPerPassWithoutRoom()
{
    Rig rig;
    rig.analyzer.freeCount = 0; // "311100"
    rig.analyzer.runningReplies = 100;
    for (int i = 0; i < 3; ++i)
        rig.addAssay(QStringLiteral("S%1").arg(i), QStringLiteral("A%1").arg(i + 1), "PT");
    for (int pass = 1; pass <= 4; ++pass) {
        rig.server.clearRequests();
        rig.pass();
        QCOMPARE(rig.server.requests("31").size(), pass <= 3 ? 1 : 0);
        QCOMPARE(rig.instrument->scheduler().runningTests().size(), qMin(pass, 3));
        // each pass asks every test already running for its result
        QCOMPARE(rig.server.requests("32").size(), qMin(pass - 1, 3));
    }
}

void TestScheduler::refusedPlacementStaysPending()
{
    Rig rig;
    rig.analyzer.freeCount = -1;
    Assay* a = rig.addAssay("S1", "A1", "PT");
    QSignalSpy begun(rig.instrument.data(), &Instrument::assayBegun);
    rig.pass();
    rig.pass();
    const QList<QByteArray> offered = rig.server.requests("31");
    QCOMPARE(offered.size(), 2);
    QCOMPARE(offered.at(0), offered.at(1)); // the same test, offered again
    QCOMPARE(rig.instrument->scheduler().pendingTests().size(), 1);
    QVERIFY(rig.instrument->scheduler().runningTests().isEmpty());
    QCOMPARE(begun.count(), 0);
    QCOMPARE(a->status(), tq::Waiting);

    rig.analyzer.freeCount = 3;
    rig.pass();
    QCOMPARE(begun.count(), 1);
    QVERIFY(rig.instrument->scheduler().pendingTests().isEmpty());
    QCOMPARE(rig.instrument->scheduler().runningTests().size(), 1);
    QCOMPARE(rig.instrument->scheduler().runningTests().at(0).testId, testIdOf(a));
}

void TestScheduler::refusedReleaseRetriedWithoutQuery()
{
    Rig rig;
    rig.analyzer.runningReplies = 0;
    rig.analyzer.refusedReleases = 1;
    Assay* a = rig.addAssay("S1", "A1", "PT");
    QSignalSpy ended(rig.instrument.data(), &Instrument::assayEnded);
    rig.pass(); // placed
    rig.pass(); // final result, release refused
    QCOMPARE(rig.server.requests("32").size(), 1);
    QCOMPARE(rig.server.requests("34").size(), 1);
    QCOMPARE(rig.instrument->scheduler().runningTests().size(), 1);
    QCOMPARE(rig.instrument->scheduler().runningTests().at(0).phase, int(TestRecord::Final));
    QCOMPARE(ended.count(), 0);
    QCOMPARE(a->result().value(), 30.0);

    rig.pass(); // released, no second query
    QCOMPARE(rig.server.requests("32").size(), 1);
    QCOMPARE(rig.server.requests("34").size(), 2);
    QVERIFY(rig.instrument->scheduler().runningTests().isEmpty());
    QCOMPARE(ended.count(), 1);
    QVERIFY(a->isFinished());
    QVERIFY(!rig.instrument->containsAssay(a));
}

void TestScheduler::deletedAssayReleasedSilently()
{
    Rig rig;
    rig.analyzer.runningReplies = 100;
    Assay* a = rig.addAssay("S1", "A1", "PT");
    rig.pass();
    const quint32 id = testIdOf(a);
    QCOMPARE(rig.instrument->scheduler().runningTests().size(), 1);

    QSignalSpy ended(rig.instrument.data(), &Instrument::assayEnded);
    QSignalSpy begun(rig.instrument.data(), &Instrument::assayBegun);
    rig.worklist()->remove(a);
    rig.server.clearRequests();
    rig.pass();
    QCOMPARE(rig.server.requests(), QList<QByteArray>{"34" + idText(id)});
    QVERIFY(rig.instrument->scheduler().runningTests().isEmpty());
    QCOMPARE(ended.count(), 0);
    QCOMPARE(begun.count(), 0);
}

void TestScheduler::deletedDuringExchange_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("placing (31)") << QByteArray("31");
    QTest::newRow("result query (32)") << QByteArray("32");
    QTest::newRow("curve read (60)") << QByteArray("60");
    QTest::newRow("release (34)") << QByteArray("34");
}

void TestScheduler::deletedDuringExchange()
{
    // The host deletes the assay from its own thread while the worker waits
    // for the reply to one of the assay's commands.
    QFETCH(QByteArray, command);
    Rig rig;
    rig.analyzer.runningReplies = 0;
    Assay* doomed = rig.addAssay("S1", "A1", "PT");
    Assay* other = rig.addAssay("S2", "A2", "TT");
    const void* doomedAddress = doomed;
    QPointer<Assay> watch(doomed);
    Worklist* list = rig.worklist();
    QObject host; // lives in the host's thread
    struct Strike
    {
        std::atomic<bool> done{false};
        std::atomic<quint32> id{0};
        QSemaphore removed;
    };
    auto strike = std::make_shared<Strike>();
    rig.server.setHandler([&rig, &host, command, strike, list, watch](const QByteArray& request) {
        if (request.startsWith(command) && !strike->done.exchange(true)) {
            strike->id = request.mid(2, 8).toUInt(nullptr, 16);
            // Queued and waited for, as a blocking call would be, through a
            // semaphore the thread sanitizer sees.
            QMetaObject::invokeMethod(
                &host,
                [list, watch, strike] {
                    if (watch)
                        list->remove(watch.data());
                    strike->removed.release();
                },
                Qt::QueuedConnection);
            strike->removed.acquire();
        }
        return rig.analyzer.handle(request);
    });
    QSignalSpy begun(rig.instrument.data(), &Instrument::assayBegun);
    QSignalSpy ended(rig.instrument.data(), &Instrument::assayEnded);

    QVERIFY(rig.instrument->startWork());
    QTRY_VERIFY_WITH_TIMEOUT(strike->done && !rig.instrument->scheduler().isWorking(), 30000);
    QVERIFY(watch.isNull());
    QVERIFY(!hasAssay(ended, doomedAddress));
    if (command == "31")
        QVERIFY(!hasAssay(begun, doomedAddress));
    QVERIFY(rig.analyzer.test(strike->id).released);
    QVERIFY(!rig.instrument->hasScheduledTests());
    QVERIFY(other->isFinished());
    QCOMPARE(other->result().value(), 30.0);
}

void TestScheduler::missingPosition_data()
{
    QTest::addColumn<QString>("position");
    QTest::newRow("empty") << QString();
    QTest::newRow("not a position name") << QStringLiteral("A99");
}

void TestScheduler::missingPosition()
{
    QFETCH(QString, position);
    Rig rig;
    rig.addAssay("S7", position, "PT");
    rig.addAssay("S8", "A2", "PT");
    rig.pass();
    rig.pass();
    QCOMPARE(rig.messages.texts(), QStringList(2, QStringLiteral("没有给S7指定位置")));
    QCOMPARE(rig.messages.messages().at(0).icon, QMessageBox::Critical);
    QVERIFY(rig.server.requests("31").isEmpty());
    QVERIFY(!rig.instrument->hasScheduledTests());
}

void TestScheduler::dilutionOutOfRange()
{
    // The 31 command has two digits for the factor: 1/100 cannot be sent.
    Rig rig;
    Assay* tooFar = rig.addAssay("S1", "A1", "PT", "1/100");
    Assay* edge = rig.addAssay("S2", "A2", "PT", "1/99");
    QSignalSpy ended(rig.instrument.data(), &Instrument::assayEnded);
    rig.pass();
    const QList<QByteArray> placed = rig.server.requests("31");
    QCOMPARE(placed, QList<QByteArray>{"31" + idText(testIdOf(edge)) + "B2PT99L"});
    QVERIFY(tooFar->isFinished());
    QVERIFY(!rig.instrument->containsAssay(tooFar));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(1).toBool(), false);
    QCOMPARE(tooFar->result().error(), AnalysisResult::UnknownError);
    QVERIFY2(tooFar->result().errorText().contains(QStringLiteral("1/100")), qPrintable(tooFar->result().errorText()));
    QCOMPARE(tooFar->message(), tooFar->result().errorText());
}

void TestScheduler::refusals_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("oursRunning");
    QTest::addColumn<bool>("told");
    QTest::newRow("intake full, nothing of ours on it") << QByteArray("3100") << false << true;
    QTest::newRow("error reply") << QByteArray("31XX") << false << true;
    QTest::newRow("error reply while ours run") << QByteArray("31XX") << true << true;
    QTest::newRow("intake full while ours run") << QByteArray("3100") << true << false;
}

void TestScheduler::refusals()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, oursRunning);
    QFETCH(bool, told);
    Rig rig;
    rig.analyzer.runningReplies = 1000000;
    if (oursRunning) {
        rig.addAssay("S0", "A9", "PT");
        rig.pass();
        QCOMPARE(rig.instrument->scheduler().runningTests().size(), 1);
    }
    Assay* a = rig.addAssay("S1", "A1", "PT");
    auto refusing = std::make_shared<std::atomic<bool>>(true);
    rig.server.setHandler([&rig, reply, refusing](const QByteArray& request) {
        if (request.startsWith("31") && *refusing)
            return reply;
        return rig.analyzer.handle(request);
    });
    for (int i = 1; i < RunScheduler::refusalNotice; ++i)
        rig.pass();
    QVERIFY(a->message().isEmpty());
    rig.pass();
    QCOMPARE(a->message().contains(QStringLiteral("拒绝")), told);
    QCOMPARE(rig.server.requests("31" + idText(testIdOf(a))).size(), RunScheduler::refusalNotice);
    QCOMPARE(a->status(), tq::Waiting);

    // still offered, and placed once the analyzer takes it
    *refusing = false;
    rig.pass();
    QCOMPARE(a->status(), tq::Started);
    QVERIFY(a->message().isEmpty());
}

void TestScheduler::queryFailures_data()
{
    // to 32 while the fault lasts, "<id>" standing for the test's; empty: no link
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("givesUp");
    QTest::newRow("no link") << QByteArray() << false;
    QTest::newRow("analyzer silent on the line (Linkhub's Err:)") << QByteArray("Err:timeout") << false;
    QTest::newRow("replies that do not parse") << QByteArray("32ZZ garbled") << true;
    QTest::newRow("final reply without test time")
        << FakeAnalyzer::gbk(QStringLiteral("320F <id>B1PT01L2024120814300000 03 00   预温时间:0010")) << true;
}

void TestScheduler::queryFailures()
{
    // A fault that outlasts ten passes: only replies that do not parse end
    // the test; without an answer it waits and ends with its true result.
    QFETCH(QByteArray, reply);
    QFETCH(bool, givesUp);
    Rig rig;
    rig.analyzer.runningReplies = 0;
    auto faulty = std::make_shared<std::atomic<bool>>(false);
    rig.server.setHandler([&rig, reply, faulty](const QByteArray& request) {
        if (request.startsWith("32") && *faulty)
            return QByteArray(reply).replace("<id>", request.mid(2, 8));
        return rig.analyzer.handle(request);
    });
    Assay* a = rig.addAssay("S1", "A1", "PT");
    QSignalSpy ended(rig.instrument.data(), &Instrument::assayEnded);
    rig.pass(); // placed
    *faulty = true;
    if (reply.isEmpty())
        rig.instrument->talkThread()->close();
    for (int i = 1; i < RunScheduler::maxFailedQueries; ++i)
        rig.pass();
    QCOMPARE(ended.count(), 0);
    rig.pass();
    if (givesUp) {
        QCOMPARE(ended.count(), 1);
        QCOMPARE(a->result().error(), AnalysisResult::UnknownError);
        QVERIFY2(a->result().errorText().contains(QString::fromLatin1(reply.left(5))),
                 qPrintable(a->result().errorText()));
        QCOMPARE(rig.analyzer.released(), 1);
        return;
    }
    for (int i = 0; i < 5; ++i)
        rig.pass();
    QCOMPARE(ended.count(), 0);
    QVERIFY(a->result().isNull());

    *faulty = false;
    if (reply.isEmpty())
        QVERIFY(rig.instrument->talkThread()->open());
    rig.pass();
    QCOMPARE(ended.count(), 1);
    QCOMPARE(a->result().value(), 30.0);
    QCOMPARE(a->result().curve().size(), 120);
}

void TestScheduler::curveFailureKeepsClotTime_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("no closing dash") << QByteArray("60-0003");
    QTest::newRow("error reply") << QByteArray("60XX");
}

void TestScheduler::curveFailureKeepsClotTime()
{
    // The curve read breaks after its first reply, pass after pass: the
    // clot time stands with the points read, and the message says so.
    QFETCH(QByteArray, reply);
    Rig rig;
    rig.analyzer.runningReplies = 0;
    rig.server.setHandler([&rig, reply](const QByteArray& request) -> QByteArray {
        if (request.startsWith("60") && request.mid(10, 4) != "0000")
            return reply;
        return rig.analyzer.handle(request);
    });
    Assay* a = rig.addAssay("S1", "A1", "PT");
    QSignalSpy ended(rig.instrument.data(), &Instrument::assayEnded);
    rig.pass();
    for (int i = 1; i < RunScheduler::maxFailedQueries; ++i)
        rig.pass();
    QCOMPARE(ended.count(), 0);
    QVERIFY(a->result().isNull());
    rig.pass();
    QCOMPARE(ended.count(), 1);
    QVERIFY(a->result().isValid());
    QCOMPARE(a->result().value(), 30.0);
    QCOMPARE(a->result().curve().size(), 55);
    QVERIFY(a->message().startsWith(QStringLiteral("测试编号:")));
    QVERIFY2(a->message().contains(QStringLiteral("曲线数据不完整")), qPrintable(a->message()));
}

void TestScheduler::unknownTest_data()
{
    QTest::addColumn<int>("unknownReplies");
    QTest::addColumn<bool>("lost");
    QTest::newRow("unknown when asked again: lost") << 1000 << true;
    QTest::newRow("one 32XX, then known") << 1 << false;
}

void TestScheduler::unknownTest()
{
    QFETCH(int, unknownReplies);
    QFETCH(bool, lost);
    Rig rig;
    rig.analyzer.runningReplies = 0;
    Assay* a = rig.addAssay("S1", "A1", "PT");
    rig.pass();
    auto left = std::make_shared<std::atomic<int>>(unknownReplies);
    rig.server.setHandler([&rig, left](const QByteArray& request) -> QByteArray {
        if (request.startsWith("32") && (*left)-- > 0)
            return "32XX";
        return rig.analyzer.handle(request);
    });
    rig.pass();
    QVERIFY(a->isFinished());
    if (!lost) {
        QCOMPARE(a->result().value(), 30.0);
        QCOMPARE(a->result().curve().size(), 120);
        return;
    }
    // the zero value, with a reason, also in the assay's message
    QCOMPARE(a->result().value(), 0.0);
    QCOMPARE(a->result().error(), AnalysisResult::UnknownError);
    QVERIFY(a->result().errorText().contains(QStringLiteral("丢失")));
    QCOMPARE(a->message(), a->result().errorText());
    QVERIFY(a->result().curve().isEmpty());
    QVERIFY(rig.server.requests("60").isEmpty());
}

void TestScheduler::worklistRunsThroughWorker()
{
    Rig rig;
    rig.analyzer.freeCount = 2;
    rig.analyzer.runningReplies = 2;
    QList<Assay*> assays;
    const QStringList items{"PT", "APTT", "TT", "FIB"};
    for (int i = 0; i < 12; ++i)
        assays << rig.addAssay(QStringLiteral("S%1").arg(i), QStringLiteral("A%1").arg(i + 1), items.at(i % 4),
                               QStringLiteral("1/%1").arg(i % 3 + 1));
    QSignalSpy begun(rig.instrument.data(), &Instrument::assayBegun);
    QSignalSpy ended(rig.instrument.data(), &Instrument::assayEnded);
    StatusHistory statuses;
    recordStatuses(this, assays, statuses);

    QVERIFY(rig.instrument->startWork());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.instrument->scheduler().isWorking(), testsupport::scaled(40000));
    QCOMPARE(begun.count(), 12);
    QCOMPARE(ended.count(), 12);
    QCOMPARE(rig.analyzer.released(), 12);
    QSet<Assay*> once;
    for (int i = 0; i < assays.size(); ++i) {
        Assay* a = assays.at(i);
        QVERIFY(a->isFinished());
        QCOMPARE(a->result().value(), 30.0);
        QCOMPARE(a->result().curve().size(), 120);
        QCOMPARE(a->result().ch(), 3);
        QCOMPARE(statuses.at(i), (QList<tq::AnalysisStatus>{tq::Waiting, tq::Started, tq::Measuring, tq::Finished}));
        once.insert(begun.at(i).at(0).value<Assay*>());
    }
    QCOMPARE(once.size(), 12);
}

void TestScheduler::finishedHeadIsSkipped()
{
    // The placing walk remembers the finished head of the worklist; removals
    // before that point and assays made unfinished again are still seen.
    Rig rig;
    rig.analyzer.runningReplies = 0;
    QList<Assay*> assays;
    for (int i = 0; i < 6; ++i)
        assays << rig.addAssay(QStringLiteral("S%1").arg(i), QStringLiteral("A%1").arg(i + 1), "PT");
    for (int i = 0; i < 4; ++i)
        assays.at(i)->setFinished(true);
    rig.pass();
    QCOMPARE(rig.instrument->scheduler().runningTests().size(), 2);
    QCOMPARE(rig.instrument->scheduler().runningTests().at(0).assay.data(), assays.at(4));
    rig.pass(); // both released
    QVERIFY(!rig.instrument->hasScheduledTests());

    rig.worklist()->remove(assays.at(1));
    Assay* late = rig.addAssay("S9", "A9", "TT");
    rig.pass();
    QCOMPARE(rig.instrument->scheduler().runningTests().size(), 1);
    QCOMPARE(rig.instrument->scheduler().runningTests().at(0).assay.data(), late);
    rig.pass();

    assays.at(2)->setFinished(false);
    rig.pass();
    QCOMPARE(rig.instrument->scheduler().runningTests().size(), 1);
    QCOMPARE(rig.instrument->scheduler().runningTests().at(0).assay.data(), assays.at(2));
}

void TestScheduler::demonstrationShadows()
{
    Profile::instance().setValue(QStringLiteral("debug/active"), true, false);
    Rig rig;
    rig.analyzer.runningReplies = 0;
    QList<Assay*> assays;
    for (int i = 0; i < 10; ++i)
        assays << rig.addAssay(QStringLiteral("S%1").arg(i), QStringLiteral("A%1").arg(i + 1), "PT");
    const AnalysisResult own(12.5);
    assays.at(4)->setResult(own);

    rig.pass();
    // the fourth placement finds six more waiting and adds a shadow for the
    // fifth assay; later placements find four or fewer and add none
    QCOMPARE(shadowCount(rig.instrument->scheduler().runningTests()), 1);
    QCOMPARE(rig.instrument->scheduler().runningTests().size(), 10);
    QCOMPARE(rig.instrument->scheduler().runningTests().at(4).assay.data(), assays.at(4));
    QVERIFY(rig.instrument->scheduler().runningTests().at(4).shadow);
    QCOMPARE(rig.server.requests("31").size(), 9);
    QCOMPARE(TqApp::tmpValue(QStringLiteral("vela/added")).toInt(), 9);
    QVERIFY(rig.instrument->containsAssay(assays.at(4)));
    QCOMPARE(assays.at(4)->status(), tq::Started);

    // the shadow ends once it is first, without a word to the analyzer,
    // and keeps the result the host gave its assay
    rig.pass();
    QVERIFY(rig.instrument->scheduler().runningTests().isEmpty());
    const QByteArray shadowId = idText(testIdOf(assays.at(4)));
    for (const QByteArray& r : rig.server.requests())
        QVERIFY2(!r.contains(shadowId), r.constData());
    QVERIFY(assays.at(4)->isFinished());
    QVERIFY(assays.at(4)->result().isCopyOf(own));
}

void TestScheduler::destroyDuringPass_data()
{
    QTest::addColumn<bool>("shadow");
    QTest::newRow("worker raising a message box") << false;
    QTest::newRow("worker in a shadow test's delay") << true;
}

void TestScheduler::destroyDuringPass()
{
    // The instrument object is destroyed in the host's thread while its
    // worker is busy; the host's thread must not wait for good.
    QFETCH(bool, shadow);
    Rig rig;
    std::atomic<int> boxes{0};
    // Shows boxes as the modal presenter does: in the host's thread,
    // waiting for it from any other.
    const tq::MessagePresenter previous = tq::setMessagePresenter(
        [&](QMessageBox::Icon, const QString&, QMessageBox::StandardButtons, QMessageBox::StandardButton) {
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(), [] {}, Qt::BlockingQueuedConnection);
            ++boxes;
            return QMessageBox::Ok;
        });
    std::unique_ptr<QueuedCallsHeld> held;
    if (shadow) {
        Profile::instance().setValue(QStringLiteral("debug/active"), true, false);
        rig.analyzer.runningReplies = 0;
        for (int i = 0; i < 10; ++i)
            rig.addAssay(QStringLiteral("S%1").arg(i), QStringLiteral("A%1").arg(i + 1), "PT");
        QVERIFY(rig.instrument->startWork());
        // the four tests before the shadow are released; then its delay begins
        QTRY_VERIFY_WITH_TIMEOUT(rig.analyzer.released() >= 4, testsupport::scaled(20000));
    } else {
        // A test that runs on keeps the worker passing, at most 1 s apart.
        rig.analyzer.runningReplies = 1000000;
        rig.addAssay("S1", "A1", "PT");
        QVERIFY(rig.instrument->startWork());
        QTRY_VERIFY_WITH_TIMEOUT(rig.instrument->isRunning(), testsupport::scaled(20000));
        // The worker asks for a box in a call queued to the instrument
        // object, and waits for it. From now on such calls are held back, as
        // a host busy elsewhere would leave them: the box is never shown
        // while the worker waits for it. The next pass meets a sample with
        // no position.
        held = std::make_unique<QueuedCallsHeld>(rig.instrument.data());
        rig.addAssay("S2", QString(), "PT");
        QTRY_VERIFY_WITH_TIMEOUT(held->count() >= 1, testsupport::scaled(5000));
        QCOMPARE(boxes.load(), 0);
        QVERIFY(rig.instrument->scheduler().isWorking());
    }
    QElapsedTimer timer;
    timer.start();
    rig.instrument.reset();
    QVERIFY2(timer.elapsed() < testsupport::scaled(2000), qPrintable(QString::number(timer.elapsed())));
    tq::setMessagePresenter(previous);
}

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
