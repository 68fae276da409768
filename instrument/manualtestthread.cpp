#include "manualtestthread.h"

#include "instrvela.h"
#include "manualtest.h"

#include "core/analysisresult.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

ManualTestThread::ManualTestThread(ManualTest* dialog)
    : QThread(dialog)
    , m_dialog(dialog)
{
    // Results cross to the dialog as queued arguments by this name.
    registerAnalysisResultMetaType();
}

ManualTestThread::~ManualTestThread()
{
    {
        QMutexLocker lock(&m_mutex);
        m_keepRunning = false;
        m_wake.wakeAll();
    }
    wait();
}

void ManualTestThread::addTest(int i)
{
    bool startNeeded = false;
    {
        QMutexLocker lock(&m_mutex);
        m_keepRunning = true;
        m_pending |= quint16(1u << i);
        m_ids[i] = m_dialog->testId(i);
        startNeeded = !m_polling;
        m_polling = true;
    }
    if (startNeeded) {
        // A run() that has just seen nothing pending may still be returning.
        wait();
        start(QThread::InheritPriority);
    }
}

void ManualTestThread::removeTest(int i)
{
    QMutexLocker lock(&m_mutex);
    m_pending &= quint16(~(1u << i));
    m_ids[i] = 0;
}

void ManualTestThread::run()
{
    InstrVela* instrument = m_dialog->instrument();
    for (;;) {
        quint16 pending;
        std::array<quint32, ChannelCount> ids;
        {
            QMutexLocker lock(&m_mutex);
            // Deciding to end under the lock lets addTest see that it must
            // start the thread again.
            if (!m_keepRunning || !m_pending || !instrument) {
                m_polling = false;
                return;
            }
            pending = m_pending;
            ids = m_ids;
        }

        for (int i = 0; i < ChannelCount; ++i) {
            if (!(pending & (1u << i)) || ids[i] == 0)
                continue;
            AnalysisResult r;
            if (!instrument->fetchResult(ids[i], &r, nullptr))
                continue; // still running, or the query failed: asked again next pass
            r.setManualTest(true);
            QMutexLocker lock(&m_mutex);
            if (!(m_pending & (1u << i)) || m_ids[i] != ids[i])
                continue; // the channel was cancelled meanwhile
            m_pending &= quint16(~(1u << i));
            QMetaObject::invokeMethod(m_dialog, "setResult", Qt::QueuedConnection, Q_ARG(int, i),
                                      Q_ARG(AnalysisResult, r));
        }

        QMutexLocker lock(&m_mutex);
        const QDeadlineTimer pause(pollInterval);
        while (m_keepRunning && !pause.hasExpired())
            m_wake.wait(&m_mutex, pause);
    }
}
