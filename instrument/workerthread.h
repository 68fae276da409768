#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>

class RunScheduler;

// Runs the run scheduler's passes, at most one second apart, and ends by
// itself once no test is pending or running.
class WorkerThread : public QThread
{
public:
    explicit WorkerThread(RunScheduler* scheduler);
    // Asks the thread to stop and waits for it. A pass gives way to the stop
    // between records, in a shadow test's delay and while it waits for a
    // message box; an exchange in progress ends within the reply time-out.
    ~WorkerThread() override;

    // Asks for a pass now: wakes the running thread, or starts it again and
    // returns once its run has begun.
    void wake();
    // True once the thread has been asked to stop (any thread).
    bool isStopping() const { return m_stop; }

protected:
    void run() override;

private:
    RunScheduler* m_scheduler;
    QMutex m_mutex;
    QWaitCondition m_condition;
    bool m_wake = false;             // a pass was asked for since the last one began
    std::atomic<bool> m_stop{false}; // the thread is to end; read by the pass without the lock
    bool m_ending = false;           // run() has decided to return
    bool m_begun = false;            // run() has begun since the last start()
};
