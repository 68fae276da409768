// Run scheduler: places the host's queued assays on the analyzer as tests,
// collects their results and releases them again.

#include "instrvela.h"

#include "commandcodec.h"
#include "talkthread.h"
#include "workerthread.h"

#include <tqcore/assay.h>
#include <tqcore/tqapp.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QThread>

#include <cmath>

namespace {

// A shadow test of the demonstration mode ends after 2 to 5 s; the wait
// gives way to a stop request.
void demonstrationDelay(const bool* stop)
{
    QDeadlineTimer deadline(QRandomGenerator::global()->bounded(2000, 5000));
    while (!*stop && !deadline.hasExpired())
        QThread::msleep(qMin<qint64>(50, qMax<qint64>(1, deadline.remainingTime())));
}

} // namespace

bool InstrVela::startWork()
{
    if (!worklist())
        return false;
    m_worker->wake();
    return true;
}

void InstrVela::haltWork()
{
}

bool InstrVela::hasScheduledTests() const
{
    return !m_running.isEmpty() || !m_pending.isEmpty();
}

int InstrVela::dilutionFactor(double dilution)
{
    // 1/2 -> 2, 1/10 -> 10; halves away from zero. No usable fraction: 1.
    if (!(dilution > 0.0) || !std::isfinite(dilution))
        return 1;
    const double factor = 1.0 / dilution;
    if (factor >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return int(std::lround(factor));
}

void InstrVela::schedulePass(const bool* stop)
{
    // A lost link keeps every record as it is until the link is back.
    if (m_linkLost)
        return;
    // Collect: results of the running tests, then their release.
    for (int i = 0; i < m_running.size() && !*stop;) {
        TestRecord& r = m_running[i];
        Assay* assay = r.assay.data();
        if (assay) {
            if (r.phase < TestRecord::Final) {
                if (r.shadow) {
                    if (i != 0) {
                        ++i;
                        continue;
                    }
                    demonstrationDelay(stop);
                    if (*stop)
                        break;
                } else if (!collectResult(r)) {
                    ++i;
                    continue;
                }
                r.phase = TestRecord::Final;
            }
            if (r.shadow || cancelTest(r.testId)) {
                endAssay(assay, false);
                m_running.removeAt(i);
                continue;
            }
        } else if (r.shadow || cancelTest(r.testId)) {
            // The host deleted the assay: release the test, tell nobody.
            m_running.removeAt(i);
            continue;
        }
        ++i;
    }

    // Place: offer pending tests while the analyzer reports room.
    if (m_pending.isEmpty()) {
        TestRecord r;
        if (prepareNextTest(r))
            m_pending.append(r);
    }
    int freeCount = -1; // not yet known
    while (!m_pending.isEmpty() && freeCount != 0 && !*stop) {
        TestRecord r = m_pending.first();
        Assay* assay = r.assay.data();
        if (!assay) {
            if (r.placementUnknown)
                cancelTest(r.testId);   // it may have arrived all the same
            m_pending.removeFirst();
        } else if (startTest(r, &freeCount)) {
            beginAssay(assay);
            assay->setStatus(tq::Started);
            r.phase = TestRecord::Placed;
            m_running.append(r);
            m_pending.removeFirst();
            if (!addDemonstrationShadow())
                break;
        } else {
            m_pending.first() = r;  // keeps what startTest learnt of it
            freeCount = 0;
        }
        if (m_pending.isEmpty() && freeCount != 0) {
            TestRecord next;
            if (prepareNextTest(next))
                m_pending.append(next);
        }
    }
}

bool InstrVela::collectResult(TestRecord& r)
{
    Assay* assay = r.assay.data();
    QString reason;
    const ResultQuery outcome = queryAssayResult(assay, &reason);
    if (outcome == ResultQuery::Final) {
        r.failedQueries = 0;
        return true;
    }
    if (outcome == ResultQuery::Running) {
        r.failedQueries = 0;
        return false;
    }
    // No answer because the link is down is no failure of the test.
    if (!m_talk->isConnected())
        return false;
    // A test whose queries keep failing is given up: it gets an error result
    // that says why, and is released and ended like any other, so that it
    // cannot hold the worker for good.
    if (++r.failedQueries < maxFailedQueries)
        return false;
    qWarning("InstrVela: test %08X: %d result queries failed in a row (%s); releasing it",
             r.testId, r.failedQueries, qPrintable(reason));
    AnalysisResult failed;
    failed.setErrorText(tr("测试结果查询失败: %1").arg(reason));
    assay->setResult(failed);
    return true;
}

bool InstrVela::addDemonstrationShadow()
{
    if (!TqApp::value(QStringLiteral("debug/active")).toBool())
        return true;
    Workbench* wb = workbench();
    const int added = (wb ? wb->tmpValue(QStringLiteral("vela/added")).toInt()
                          : TqApp::tmpValue(QStringLiteral("vela/added")).toInt()) + 1;
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
    Assay* assay = shadow.assay.data();
    if (!assay)
        return true;
    shadow.shadow = true;
    beginAssay(assay);
    assay->setStatus(tq::Started);
    shadow.phase = TestRecord::Placed;
    m_running.append(shadow);
    return true;
}

bool InstrVela::prepareNextTest(TestRecord& record)
{
    Worklist* list = worklist();
    if (!list)
        return false;

    QString unplacedSample;
    {
        QMutexLocker lock(list->mutex());
        const QList<Assay*> assays = list->assays();
        Assay* next = nextPlaceableAssay(assays);
        if (!next)
            return false;

        const QString position = next->samplePos();
        const QByteArray code = positionCode(position);
        if (position.isEmpty() || code.isEmpty()) {
            unplacedSample = next->sampleId();
        } else {
            record = TestRecord();
            record.positionCode = code;
            record.testId = nextTestId();
            next->setTempValue(QStringLiteral("vela/id"), record.testId);
            record.assay = next;
            record.phase = TestRecord::Prepared;
            record.itemCode = next->assay().left(2).toLatin1();
            record.dilutionFactor = dilutionFactor(next->dilution());
            record.shadow = false;
            return true;
        }
    }
    // The box waits for the operator; the worklist's lock is given back
    // first, so that the host may change the list meanwhile.
    if (Workbench* wb = workbench())
        wb->critical(tr("没有给%1指定位置").arg(unplacedSample), QMessageBox::Ok);
    return false;
}

Assay* InstrVela::nextPlaceableAssay(const QList<Assay*>& assays)
{
    // The walk starts after the leading run of finished assays seen last
    // time, so that a long worklist is not walked from its head for every
    // test. The list only grows at its end; when an assay before the mark
    // has been removed the mark no longer matches and the walk starts at 0.
    int from = 0;
    if (m_finishedLead > 0 && m_finishedLead <= assays.size()
        && assays.at(m_finishedLead - 1) == m_finishedLeadMark.data())
        from = m_finishedLead;
    else
        m_finishedLead = 0;

    for (int pass = 0; pass < 2; ++pass) {
        bool lead = from == m_finishedLead;
        for (int i = from; i < assays.size(); ++i) {
            Assay* a = assays.at(i);
            const bool finished = a->isFinished();
            if (lead && finished) {
                m_finishedLead = i + 1;
                m_finishedLeadMark = a;
                continue;
            }
            lead = false;
            if (!finished && !containsAssay(a))
                return a;
        }
        // Nothing after the mark: an assay before it may have been made
        // unfinished again by the host; look once from the head.
        if (from == 0)
            break;
        from = 0;
        m_finishedLead = 0;
        m_finishedLeadMark.clear();
    }
    return nullptr;
}

bool InstrVela::fetchAssayResult(Assay* assay)
{
    return queryAssayResult(assay, nullptr) == ResultQuery::Final;
}

InstrVela::ResultQuery InstrVela::queryAssayResult(Assay* assay, QString* reason)
{
    if (!assay)
        return ResultQuery::Failed;
    const quint32 id = assay->tempValue(QStringLiteral("vela/id")).toUInt();
    AnalysisResult result;
    const ResultQuery outcome = queryResult(id, &result, assay, reason);
    if (outcome == ResultQuery::Final)
        assay->setResult(result);
    return outcome;
}

int InstrVela::countPlaceableAssays()
{
    Worklist* list = worklist();
    if (!list)
        return 0;
    // Held so that no assay is deleted while it is looked at; the worker
    // never holds it at this point.
    QMutexLocker lock(list->mutex());
    int count = 0;
    const QList<Assay*> assays = list->assays();
    for (Assay* a : assays) {
        if (a->isFinished() || containsAssay(a))
            continue;
        if (needDilutionPos(a) && a->dilutionPos().isEmpty())
            continue;
        ++count;
    }
    return count;
}
