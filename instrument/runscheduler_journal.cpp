// The placement journal at work: every test is journalled before its 31
// goes out, its result before the assay gets it, its release after the 34
// was answered (see placementjournal.h).
#include "runscheduler.h"

#include "instrvela.h"

#include "linktrace.h"
#include "placementjournal.h"
#include "velaprotocol.h"

#include <tqcore/workbench.h>

#include <QDir>
#include <QMutexLocker>

namespace {
// The journal lies in the data folder, beside the databases the host opens
// by their plain names; VELA_JOURNAL names another file.
QString journalFile()
{
    const QString file = qEnvironmentVariable("VELA_JOURNAL");
    return file.isEmpty() ? QDir::current().filePath(QStringLiteral("placements.db")) : file;
}
} // namespace

void RunScheduler::openJournal()
{
    // At every connection: a journal that could not be written may be
    // writable again (space freed, folder mended).
    m_journalBroken = false;
    ensureJournal();
}

bool RunScheduler::ensureJournal()
{
    QMutexLocker lock(&m_journalMutex);
    if (m_journal->isOpen() && m_journal->session() != 0)
        return true;
    if (m_journalBroken)
        return false;
    QString error, notice;
    if (!m_journal->isOpen() && !m_journal->open(journalFile(), &error, &notice)) {
        journalBroken(error);
        return false;
    }
    if (!notice.isEmpty()) {
        qCWarning(lcLink).noquote() << notice;
        raiseCritical(tr("测试记录文件已损坏，已另存，新的记录文件开始使用：%1").arg(notice));
    }
    if (!m_journal->beginSession(&error)) {
        journalBroken(error);
        return false;
    }
    m_reconcileDue = true;
    // Ids go on above the newest journalled one when the clock is behind
    // it (a restart soon after a busy start).
    const quint32 newest = m_journal->newestId();
    quint32 id = m_testId.load();
    while (newest > id && !m_testId.compare_exchange_weak(id, newest)) { }
    return true;
}

void RunScheduler::endJournalSession()
{
    QString error;
    if (m_journal->isOpen() && m_journal->session() != 0 && !m_journal->endSession(&error))
        qCWarning(lcLink).noquote() << "placement journal:" << error;
}

void RunScheduler::journalBroken(const QString& error)
{
    if (m_journalBroken.exchange(true))
        return;
    qCWarning(lcLink).noquote() << "placement journal:" << error << "- no test is placed";
    raiseCritical(
        tr("无法写入测试记录文件（%1），不再向仪器放置测试。请检查磁盘空间和数据文件夹后重新连接仪器。").arg(error));
}

bool RunScheduler::journalPlacing(TestRecord& r)
{
    if (r.journalled)
        return true;
    if (!ensureJournal())
        return false;
    PlacementJournal::Test t;
    t.testId = r.testId;
    t.sample = r.sample;
    t.place = r.samplePosition;
    t.position = r.positionCode;
    t.item = r.itemCode;
    t.dilution = r.dilutionFactor;
    t.method = QByteArray(1, VelaProtocol::methodLetter(r.method.isEmpty() ? m_instrument.defaultMethod() : r.method));
    QString error;
    if (!m_journal->recordPlacing(t, &error)) {
        journalBroken(error);
        return false;
    }
    r.journalled = true;
    return true;
}

void RunScheduler::journalResult(const TestRecord& r, const AnalysisResult& result, const QString& report)
{
    if (!r.journalled)
        return;
    PlacementJournal::Test t;
    t.testId = r.testId;
    t.hasResult = true;
    t.value = result.value();
    t.error = int(result.error());
    t.errorText = result.errorText();
    t.channel = result.ch();
    t.flags = result.flags();
    t.report = report;
    t.curve = result.curve().toBuffer();
    QString error;
    // The result goes to its assay all the same: it is not lost, only not
    // kept for a host that might die before storing it.
    if (!m_journal->recordResult(t, &error))
        qCWarning(lcLink).noquote() << "placement journal: result of test" << Qt::hex << r.testId
                                    << "not kept:" << error;
}

void RunScheduler::journalRelease(quint32 testId, const QString& reason)
{
    QString error;
    if (m_journal->isOpen() && !m_journal->recordRelease(testId, reason, &error))
        qCWarning(lcLink).noquote() << "placement journal: release of test" << Qt::hex << testId
                                    << "not kept:" << error;
}
