// After a restart: the tests an earlier session journalled and never
// released are asked for on the analyzer (reconciliation), followed for the
// assays the host queues again (adoption), and released when no assay
// claims them (orphans). Results read before the restart are given to their
// assays from the journal instead of being measured twice. Worker thread.
#include "runscheduler.h"

#include "instrvela.h"

#include "commandcodec.h"
#include "heldassay.h"
#include "linktrace.h"
#include "replyparser.h"
#include "velaprotocol.h"

#include <QMutexLocker>

namespace {
const int DefaultOrphanGrace = 60000;

bool matches(const PlacementJournal::Test& t, const QString& sample, const QByteArray& position, const QByteArray& item,
             int dilution, char method)
{
    return t.sample == sample && t.position == position && t.item == item && t.dilution == dilution
           && t.method == QByteArray(1, method);
}
} // namespace

// A host queues its work within moments of connecting (velahost queues the
// whole list before it starts the work); a test left on the analyzer is
// released only after this long without an assay that claims it, so that a
// host queueing gradually finds its tests. VELA_ORPHAN_GRACE_MS overrides.
int RunScheduler::orphanGrace()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VELA_ORPHAN_GRACE_MS", &ok);
    return ok && ms >= 0 ? ms : DefaultOrphanGrace;
}

bool RunScheduler::reconcileJournal(const std::atomic<bool>* stop)
{
    QSet<quint32> live;
    for (const TestRecord& r : std::as_const(m_running))
        live.insert(r.testId);
    for (const TestRecord& r : std::as_const(m_pending))
        live.insert(r.testId);
    for (const RecoveredTest& r : std::as_const(m_recovered))
        live.insert(r.test.testId);

    const QList<PlacementJournal::Test> open = m_journal->unreleased();
    for (const PlacementJournal::Test& t : open) {
        if (*stop)
            return false;
        if (live.contains(t.testId))
            continue;
        const QByteArray reply = m_instrument.protocol().queryTest(t.testId);
        if (ReplyParser::isLinkFault(reply))
            return false; // asked again on the next pass
        RecoveredTest rt;
        rt.test = t;
        const bool known = ReplyParser::isKnownTest(reply);
        rt.onAnalyzer = known
                        && ReplyParser::echoesOrder(reply, t.position, t.item, t.dilution,
                                                    t.method.isEmpty() ? 'L' : t.method.at(0));
        if (t.hasResult) {
            rt.kind = RecoveredTest::Result;
        } else if (rt.onAnalyzer) {
            rt.kind = RecoveredTest::Follow;
            QString error;
            if (t.state == PlacementJournal::AboutToPlace
                && !m_journal->setState(t.testId, PlacementJournal::Accepted, &error))
                qCWarning(lcLink).noquote() << "placement journal:" << error;
        } else if (t.state == PlacementJournal::AboutToPlace) {
            rt.kind = RecoveredTest::Place; // never arrived
            rt.clash = known;               // and another test holds its id
        } else {
            rt.kind = RecoveredTest::Lost; // accepted, and the analyzer lost it
        }
        m_recovered.append(rt);
    }
    m_givable = m_journal->givable();
    m_reconcileDue = false;
    m_reconciledAt.start();
    if (!m_recovered.isEmpty() || !m_givable.isEmpty()) {
        int on = 0;
        for (const RecoveredTest& r : std::as_const(m_recovered))
            on += r.onAnalyzer ? 1 : 0;
        qCInfo(lcLink).nospace() << "placement journal: " << m_recovered.size() << " tests of an earlier session not "
                                 << "released (" << on << " on the analyzer), " << m_givable.size()
                                 << " results to give again";
    }
    return true;
}

void RunScheduler::giveJournalResult(Assay* assay, const PlacementJournal::Test& t)
{
    AnalysisResult result(t.value);
    if (!t.errorText.isEmpty())
        result.setErrorText(t.errorText);
    else if (t.error != 0)
        result.setError(AnalysisResult::ErrorCode(t.error));
    result.setCh(t.channel);
    result.setFlags(t.flags);
    if (!t.curve.isEmpty())
        result.setCurve(ClotCurve::fromBuffer(t.curve));
    const QString note = tr("此结果在主机重新启动前已测得，由测试记录补回");
    assay->setMessage(t.report.isEmpty() ? note : t.report + QLatin1Char('\n') + note);
    assay->setResult(result);
}

void RunScheduler::claimRecovered()
{
    Worklist* list = m_instrument.worklist();
    if (!list || (m_recovered.isEmpty() && m_givable.isEmpty()))
        return;
    struct Claim
    {
        QPointer<Assay> assay;
        RecoveredTest recovered;
        bool fromGivable = false;
        TestRecord record;
    };
    QList<Claim> claims;
    {
        QMutexLocker lock(list->mutex());
        const QList<Assay*> assays = list->assays();
        for (Assay* a : assays) {
            if (a->isFinished() || m_instrument.containsAssay(a))
                continue;
            bool pending = false;
            for (const TestRecord& r : std::as_const(m_pending))
                pending = pending || r.assay == a;
            if (pending)
                continue;
            TestRecord record;
            record.sample = a->sampleId();
            record.samplePosition = a->samplePos();
            record.positionCode = positionCode(a->samplePos());
            record.itemCode = a->assay().left(2).toLatin1();
            record.dilutionFactor = dilutionFactor(a->dilution());
            record.method = a->method();
            record.assay = a;
            const char letter = VelaProtocol::methodLetter(record.method.isEmpty() ? m_instrument.defaultMethod()
                                                                                   : record.method);
            if (record.positionCode.isEmpty())
                continue;
            Claim claim;
            claim.assay = a;
            claim.record = record;
            bool found = false;
            for (int i = 0; i < m_recovered.size() && !found; ++i) {
                const PlacementJournal::Test& t = m_recovered.at(i).test;
                if (matches(t, record.sample, record.positionCode, record.itemCode, record.dilutionFactor, letter)) {
                    claim.recovered = m_recovered.takeAt(i);
                    found = true;
                }
            }
            for (int i = 0; i < m_givable.size() && !found; ++i) {
                const PlacementJournal::Test& t = m_givable.at(i);
                if (matches(t, record.sample, record.positionCode, record.itemCode, record.dilutionFactor, letter)) {
                    claim.recovered.test = m_givable.takeAt(i);
                    claim.fromGivable = true;
                    found = true;
                }
            }
            if (found)
                claims.append(claim);
        }
    }

    for (Claim& c : claims) {
        const PlacementJournal::Test& t = c.recovered.test;
        TestRecord r = c.record;
        r.testId = t.testId;
        r.journalled = true;
        QString error;
        HeldAssay assay(m_instrument.worklist(), c.assay);
        if (!assay) {
            if (!c.fromGivable)
                m_recovered.append(c.recovered); // for another assay, or an orphan
            continue;
        }
        if (c.fromGivable) {
            // Read and released before the host died; the host may not have
            // stored it. Given once in this session, never measured again.
            giveJournalResult(assay.get(), t);
            if (!m_journal->markGiven(t.testId, &error))
                qCWarning(lcLink).noquote() << "placement journal:" << error;
            m_instrument.endAssay(assay.get(), false);
            continue;
        }
        assay->setTempValue(QStringLiteral("vela/id"), r.testId);
        switch (c.recovered.kind) {
        case RecoveredTest::Follow:
            // Still on the analyzer: followed as if the host had never died.
            r.phase = TestRecord::Placed;
            m_instrument.beginAssay(assay.get());
            assay->setStatus(tq::Started);
            m_running.append(r);
            break;
        case RecoveredTest::Place:
            // It never arrived: it goes out now, under its id unless another
            // test holds that.
            r.phase = TestRecord::Prepared;
            r.idClash = c.recovered.clash;
            m_pending.append(r);
            break;
        case RecoveredTest::Lost: {
            const QString lost = tr("仪器已丢失此测试，没有结果，请重新测定此样本");
            AnalysisResult result(0.0);
            result.setErrorText(lost);
            assay->setMessage(lost);
            assay->setResult(result);
            journalRelease(r.testId, tr("仪器在主机停止期间丢失了此测试"));
            m_instrument.endAssay(assay.get(), false);
            break;
        }
        case RecoveredTest::Result:
            giveJournalResult(assay.get(), t);
            if (!m_journal->markGiven(t.testId, &error))
                qCWarning(lcLink).noquote() << "placement journal:" << error;
            if (c.recovered.onAnalyzer) {
                // Released by the next step, as any final test.
                r.phase = TestRecord::Final;
                m_instrument.beginAssay(assay.get());
                m_running.append(r);
            } else {
                journalRelease(r.testId, QString());
                m_instrument.endAssay(assay.get(), false);
            }
            break;
        }
    }
    // Placed anew under a fresh id where another test holds the old one.
    for (TestRecord& r : m_pending) {
        if (r.idClash)
            renumberTest(r);
    }
}

void RunScheduler::releaseOrphans()
{
    if (m_recovered.isEmpty() || m_reconcileDue || m_reconciledAt.elapsed() < orphanGrace())
        return;
    QStringList released;
    for (int i = 0; i < m_recovered.size();) {
        const PlacementJournal::Test t = m_recovered.at(i).test;
        if (m_recovered.at(i).onAnalyzer) {
            if (!cancelTest(t.testId)) { // measuring, or no link: the next pass
                ++i;
                continue;
            }
            released << tr("样本%1 位置%2 项目%3")
                            .arg(t.sample, t.place.isEmpty() ? positionName(t.position) : t.place,
                                 QString::fromLatin1(t.item));
        }
        qCWarning(lcLink).nospace() << "placement journal: test " << Qt::hex << t.testId << " (sample " << t.sample
                                    << ") claimed by no assay; released";
        journalRelease(t.testId, tr("没有待测项目认领此测试"));
        m_recovered.removeAt(i);
    }
    if (!released.isEmpty())
        raiseCritical(tr("主机重新启动前放到仪器上的测试没有对应的待测项目，已从仪器释放：%1")
                          .arg(released.join(QStringLiteral("; "))));
}
