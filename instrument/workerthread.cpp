#include "workerthread.h"

#include "runscheduler.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

WorkerThread::WorkerThread(RunScheduler* scheduler)
    : m_scheduler(scheduler)
{
}

WorkerThread::~WorkerThread()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_condition.wakeOne();
    }
    // Every wait of a pass gives way to the stop flag, and no pass waits for
    // this thread: the join is bounded by the exchange in progress.
    if (!wait(QDeadlineTimer(60000))) {
        qWarning("WorkerThread: the scheduler's pass has not ended within 60 s; still waiting");
        wait();
    }
}

void WorkerThread::wake()
{
    QMutexLocker lock(&m_mutex);
    if (isRunning() && !m_ending) {
        m_wake = true;
        m_condition.wakeOne();
        return;
    }
    // The thread has decided to end (or never ran): let it finish, so that
    // this call's work is not lost, then start it again.
    if (isRunning())
        wait();
    m_ending = false;
    m_begun = false;
    start(InheritPriority);
    while (!m_begun)
        m_condition.wait(&m_mutex);
}

void WorkerThread::run()
{
    {
        QMutexLocker lock(&m_mutex);
        m_wake = true;
        m_stop = false;
        m_begun = true;
        m_condition.wakeAll();
    }
    m_scheduler->beginRun();

    for (;;) {
        {
            QMutexLocker lock(&m_mutex);
            m_wake = false;
            if (m_stop) {
                m_ending = true;
                return;
            }
        }
        m_scheduler->schedulePass(&m_stop);

        QMutexLocker lock(&m_mutex);
        if (m_stop || (!m_wake && !m_scheduler->hasScheduledTests())) {
            m_ending = true;
            return;
        }
        if (!m_wake)
            m_condition.wait(&m_mutex, 1000);
    }
}
