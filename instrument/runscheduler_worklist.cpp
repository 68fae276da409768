// The run scheduler and the host's worklist: which assay goes next, what
// stops one from being placed, and the boxes that tell the operator.
#include "runscheduler.h"

#include "instrvela.h"

#include "commandcodec.h"
#include "workerthread.h"

#include <tqcore/assay.h>
#include <tqcore/workbench.h>
#include <tqcore/worklist.h>

#include <QMessageBox>
#include <QMutexLocker>
#include <QThread>

#include <memory>

bool RunScheduler::prepareNextTest(TestRecord& record)
{
    Worklist* list = m_instrument.worklist();
    if (!list)
        return false;
    // The journal is open before an id is given: ids it holds are skipped.
    if (!ensureJournal())
        return false;

    QString unplacedSample;
    {
        QMutexLocker lock(list->mutex());
        const QList<Assay*> assays = list->assays();
        for (;;) {
            Assay* next = nextPlaceableAssay(assays);
            if (!next)
                return false;

            const QString position = next->samplePos();
            const QByteArray code = positionCode(position);
            if (position.isEmpty() || code.isEmpty()) {
                unplacedSample = next->sampleId();
                break;
            }
            const int factor = dilutionFactor(next->dilution());
            if (factor > maxDilutionFactor) {
                refuseDilution(next, factor); // ends it: the walk goes on past it
                continue;
            }
            record = TestRecord();
            record.sample = next->sampleId();
            record.samplePosition = position;
            record.positionCode = code;
            record.testId = nextTestId();
            next->setTempValue(QStringLiteral("vela/id"), record.testId);
            record.assay = next;
            record.phase = TestRecord::Prepared;
            record.itemCode = next->assay().left(2).toLatin1();
            record.dilutionFactor = factor;
            record.method = next->method();
            record.shadow = false;
            return true;
        }
    }
    // The box waits for the operator; the worklist's lock is given back
    // first, so that the host may change the list meanwhile.
    raiseCritical(tr("没有给%1指定位置").arg(unplacedSample));
    return false;
}

bool RunScheduler::refuseDilution(Assay* assay, int factor)
{
    // The analyzer takes the dilution as two decimal digits; a larger factor
    // would make a malformed command. The assay ends with the reason.
    const QString text =
        tr("稀释倍数1/%1超出仪器范围（最大1/%2），此项目不能在仪器上测定").arg(factor).arg(maxDilutionFactor);
    qWarning("InstrVela: sample %s %s: dilution factor %d refused", qUtf8Printable(assay->sampleId()),
             qUtf8Printable(assay->assay()), factor);
    AnalysisResult refused;
    refused.setErrorText(text);
    assay->setResult(refused);
    assay->setMessage(text);
    m_instrument.endAssay(assay, false);
    return true;
}

void RunScheduler::raiseCritical(const QString& text)
{
    Workbench* wb = m_instrument.workbench();
    if (!wb)
        return;
    if (QThread::currentThread() == m_instrument.thread() || !m_worker || QThread::currentThread() != m_worker) {
        wb->critical(text, QMessageBox::Ok);
        return;
    }
    // From the worker the box is shown in the instrument's own thread, and
    // the worker waits for it only until it is asked to stop: destroying the
    // instrument object there must not wait for a box that it keeps from
    // being shown. A box not yet shown then goes with the object.
    auto answered = std::make_shared<std::atomic<bool>>(false);
    QPointer<Workbench> bench(wb);
    QMetaObject::invokeMethod(
        &m_instrument,
        [bench, text, answered] {
            if (bench)
                bench->critical(text, QMessageBox::Ok);
            *answered = true;
        },
        Qt::QueuedConnection);
    while (!*answered && !m_worker->isStopping())
        QThread::msleep(20);
}

Assay* RunScheduler::nextPlaceableAssay(const QList<Assay*>& assays)
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
            if (!finished && !m_instrument.containsAssay(a))
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

bool RunScheduler::fetchAssayResult(Assay* assay)
{
    if (!assay)
        return false;
    const quint32 id = assay->tempValue(QStringLiteral("vela/id")).toUInt();
    AnalysisResult result;
    if (!fetchResult(id, &result, assay))
        return false;
    assay->setResult(result);
    return true;
}

int RunScheduler::countPlaceableAssays()
{
    Worklist* list = m_instrument.worklist();
    if (!list)
        return 0;
    // Held so that no assay is deleted while it is looked at; the worker
    // never holds it at this point.
    QMutexLocker lock(list->mutex());
    int count = 0;
    const QList<Assay*> assays = list->assays();
    for (Assay* a : assays) {
        if (a->isFinished() || m_instrument.containsAssay(a))
            continue;
        if (m_instrument.needDilutionPos(a) && a->dilutionPos().isEmpty())
            continue;
        ++count;
    }
    return count;
}
