// Run scheduler: places the host's queued assays on the analyzer as tests,
// collects their results and releases them again.

#include "runscheduler.h"

#include "instrvela.h"

#include "commandcodec.h"
#include "heldassay.h"
#include "linktrace.h"
#include "placementjournal.h"
#include "workerthread.h"

#include <tqcore/assay.h>
#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QThread>
#include <QTime>

#include <memory>

#include <cmath>

namespace {

// A shadow test of the demonstration mode ends after 2 to 5 s; the wait
// gives way to a stop request.
void demonstrationDelay(const std::atomic<bool>* stop)
{
    QDeadlineTimer deadline(QRandomGenerator::global()->bounded(2000, 5000));
    while (!*stop && !deadline.hasExpired())
        QThread::msleep(qMin<qint64>(50, qMax<qint64>(1, deadline.remainingTime())));
}

bool isOursRunning(const QList<TestRecord>& running)
{
    for (const TestRecord& r : running) {
        if (!r.shadow)
            return true;
    }
    return false;
}

} // namespace

RunScheduler::RunScheduler(InstrVela& instrument, const std::atomic<bool>& linkLost)
    : m_instrument(instrument)
    , m_linkLost(linkLost)
    , m_journal(std::make_unique<PlacementJournal>())
{
    m_testId = quint32(QTime(0, 0).secsTo(QTime::currentTime()));
    m_worker = new WorkerThread(this);
    QObject::connect(m_worker, &QThread::started, &m_instrument, &Instrument::setRunning);
    QObject::connect(m_worker, &QThread::finished, &m_instrument, &Instrument::setStopped);
}

RunScheduler::~RunScheduler()
{
    stopWorker();
}

bool RunScheduler::wake()
{
    if (!m_instrument.worklist() || !m_worker)
        return false;
    m_worker->wake();
    return true;
}

void RunScheduler::stopWorker()
{
    delete m_worker;
    m_worker = nullptr;
}

void RunScheduler::beginRun()
{
    if (Workbench* wb = m_instrument.workbench())
        wb->setTmpValue(QStringLiteral("vela/added"), 0);
}

bool RunScheduler::isWorking() const
{
    return m_worker && m_worker->isRunning();
}

bool RunScheduler::waitForWorker(int ms)
{
    return !m_worker || m_worker->wait(QDeadlineTimer(ms));
}

quint32 RunScheduler::nextTestId()
{
    for (;;) {
        quint32 id = m_testId.load();
        quint32 next;
        do {
            next = id + 1;
            if (next == 0)
                next = 1;
        } while (!m_testId.compare_exchange_weak(id, next));
        // An id the analyzer may still hold for a journalled test is never
        // given to another.
        if (!m_journal->isOpen() || !m_journal->holdsUnreleased(next))
            return next;
    }
}

bool RunScheduler::hasScheduledTests() const
{
    return !m_running.isEmpty() || !m_pending.isEmpty() || !m_recovered.isEmpty();
}

int RunScheduler::dilutionFactor(double dilution)
{
    // 1/2 -> 2, 1/10 -> 10; halves away from zero. No usable fraction: 1.
    if (!(dilution > 0.0) || !std::isfinite(dilution))
        return 1;
    const double factor = 1.0 / dilution;
    if (factor >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return int(std::lround(factor));
}

void RunScheduler::schedulePass(const std::atomic<bool>* stop)
{
    // A lost link keeps every record as it is until the link is back.
    if (m_linkLost)
        return;
    // Tests of an earlier session first: none is placed a second time.
    ensureJournal();
    if (m_reconcileDue && !reconcileJournal(stop))
        return;
    claimRecovered();
    // Collect: results of the running tests, then their release.
    for (int i = 0; i < m_running.size() && !*stop;) {
        TestRecord& r = m_running[i];
        if (r.shadow) {
            // Never on the analyzer: it ends after its delay, first in line;
            // at once when its assay is gone.
            if (r.assay.isNull()) {
                m_running.removeAt(i);
                continue;
            }
            if (i != 0) {
                ++i;
                continue;
            }
            demonstrationDelay(stop);
            if (*stop)
                break;
            HeldAssay assay(m_instrument.worklist(), r.assay);
            if (assay)
                m_instrument.endAssay(assay.get(), false);
            m_running.removeAt(i);
            continue;
        }
        if (r.phase < TestRecord::Final) {
            // A record whose assay the host deleted is released without a query.
            if (!collectResult(r)) {
                ++i;
                continue;
            }
            r.phase = TestRecord::Final;
        }
        if (cancelTest(r.testId)) {
            // Released on the analyzer; the host hears of it only while the
            // assay lives.
            journalRelease(r.testId, r.assay.isNull() ? tr("样本已被删除") : QString());
            HeldAssay assay(m_instrument.worklist(), r.assay);
            if (assay)
                m_instrument.endAssay(assay.get(), false);
            m_running.removeAt(i);
            continue;
        }
        ++i;
    }
    placePending(stop);
    releaseOrphans();
}

void RunScheduler::placePending(const std::atomic<bool>* stop)
{
    // Place: offer pending tests while the analyzer reports room.
    if (m_pending.isEmpty()) {
        TestRecord r;
        if (prepareNextTest(r))
            m_pending.append(r);
    }
    int freeCount = -1; // not yet known
    int clashes = 0;
    while (!m_pending.isEmpty() && freeCount != 0 && !*stop && !m_journalBroken) {
        TestRecord& r = m_pending.first();
        QByteArray reply;
        if (r.assay.isNull()) {
            // It may have arrived all the same; without an answer to the 34
            // the journal keeps it for the next connection.
            if ((!r.placementUnknown || cancelTest(r.testId)) && r.journalled)
                journalRelease(r.testId, tr("样本在放置前已被删除"));
            m_pending.removeFirst();
        } else if (!journalPlacing(r)) {
            // No test goes out that the journal does not know.
            break;
        } else if (startTest(r, &freeCount, &reply)) {
            r.phase = TestRecord::Placed;
            QString error;
            if (!m_journal->setState(r.testId, PlacementJournal::Accepted, &error))
                qCWarning(lcLink).noquote() << "placement journal:" << error;
            {
                // Deleted during the exchange: the test is on the analyzer
                // all the same; the collect step releases it.
                HeldAssay assay(m_instrument.worklist(), r.assay);
                if (assay) {
                    m_instrument.beginAssay(assay.get());
                    assay->setStatus(tq::Started);
                    if (r.refusals >= refusalNotice)
                        assay->setMessage(QString());
                }
            }
            r.refusals = 0;
            m_running.append(r);
            m_pending.removeFirst();
            if (!addDemonstrationShadow())
                break;
        } else if (r.idClash && clashes++ < 3) {
            renumberTest(r); // and offered again at once under its new id
            continue;
        } else {
            noteRefusal(r, reply);
            freeCount = 0;
        }
        if (m_pending.isEmpty() && freeCount != 0) {
            TestRecord next;
            if (prepareNextTest(next))
                m_pending.append(next);
        }
    }
}

void RunScheduler::renumberTest(TestRecord& r)
{
    const quint32 old = r.testId;
    r.testId = nextTestId();
    r.idClash = false;
    r.refusals = 0;
    QString error;
    if (r.journalled && !m_journal->changeId(old, r.testId, &error)) {
        journalBroken(error);
        return;
    }
    qCWarning(lcLink).nospace() << "test id " << Qt::hex << old << " is held by another test on the analyzer; "
                                << "placing as " << r.testId;
    HeldAssay assay(m_instrument.worklist(), r.assay);
    if (assay)
        assay->setTempValue(QStringLiteral("vela/id"), r.testId);
}

void RunScheduler::noteRefusal(TestRecord& r, const QByteArray& reply)
{
    // No reply: the link is down, nothing was refused. "3100" (no room) is
    // the analyzer's ordinary answer while tests of ours fill it; it counts
    // only when none of ours is there to make room.
    if (reply.isEmpty())
        return;
    if (reply.startsWith("3100") && isOursRunning(m_running))
        return;
    if (++r.refusals != refusalNotice)
        return;
    qWarning("InstrVela: test %08X refused %d times in a row (%s)", r.testId, r.refusals, reply.left(64).constData());
    HeldAssay assay(m_instrument.worklist(), r.assay);
    if (assay)
        assay->setMessage(tr("仪器连续%1次拒绝此测试（%2），仍在重试，请检查仪器")
                              .arg(r.refusals)
                              .arg(QString::fromLatin1(reply.left(64))));
}

bool RunScheduler::collectResult(TestRecord& r)
{
    // Worker thread. The facts the query needs are read before the
    // exchanges, and what came of them is handed to the assay after, each
    // time with the assay looked up again.
    AssayFacts facts;
    {
        HeldAssay assay(m_instrument.worklist(), r.assay);
        if (!assay)
            return true; // deleted: released without a word to the host
        facts = factsOf(assay.get(), isDemonstrationActive());
    }
    ResultReport report = queryResult(r.testId, facts);

    HeldAssay assay(m_instrument.worklist(), r.assay);
    if (!assay)
        return true;
    applyReport(report, assay.get());
    if (report.outcome == ResultQuery::Running) {
        r.failedQueries = 0;
        return false;
    }
    if (report.outcome == ResultQuery::Final) {
        r.failedQueries = 0;
        if (report.lost && !facts.demonstration) {
            // The analyzer lost the test (switched off and on, say): no
            // result, and the operator is told to run the sample again.
            const QString lost = tr("仪器已丢失此测试，没有结果，请重新测定此样本");
            report.result.setErrorText(lost);
            assay->setMessage(lost);
        }
        journalResult(r, report.result, assay->message());
        assay->setResult(report.result);
        return true;
    }
    // Only replies that do not parse count toward giving up: without a
    // reply the link is down and the test waits for it.
    if (!report.counts || ++r.failedQueries < maxFailedQueries)
        return false;
    qWarning("InstrVela: test %08X: %d result replies in a row did not parse (%s); releasing it", r.testId,
             r.failedQueries, qPrintable(report.reason));
    if (report.curveIncomplete) {
        // The clot time stands with the points that could be read.
        assay->setMessage(report.testReport + QLatin1Char('\n')
                          + tr("曲线数据不完整，只读到%1个点").arg(report.result.curve().size()));
        journalResult(r, report.result, assay->message());
        assay->setResult(report.result);
        return true;
    }
    AnalysisResult failed;
    failed.setErrorText(tr("测试结果查询失败: %1").arg(report.reason));
    journalResult(r, failed, assay->message());
    assay->setResult(failed);
    return true;
}

bool RunScheduler::addDemonstrationShadow()
{
    if (!TqApp::value(QStringLiteral("debug/active")).toBool())
        return true;
    Workbench* wb = m_instrument.workbench();
    const int added = (wb ? wb->tmpValue(QStringLiteral("vela/added")).toInt()
                          : TqApp::tmpValue(QStringLiteral("vela/added")).toInt())
                      + 1;
    if (wb)
        wb->setTmpValue(QStringLiteral("vela/added"), added);
    else
        TqApp::setTmpValue(QStringLiteral("vela/added"), added);
    if (added < 4 || countPlaceableAssays() <= 4)
        return true;

    TestRecord shadow;
    if (!m_pending.isEmpty())
        shadow = m_pending.first();
    else if (!prepareNextTest(shadow))
        return false;
    HeldAssay assay(m_instrument.worklist(), shadow.assay);
    if (!assay)
        return true;
    shadow.shadow = true;
    m_instrument.beginAssay(assay.get());
    assay->setStatus(tq::Started);
    shadow.phase = TestRecord::Placed;
    m_running.append(shadow);
    return true;
}
