#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

class InstrVela;

// Runs the scheduler's passes of one instrument object, at most one second
// apart, and ends by itself once no test is pending or running.
class WorkerThread : public QThread
{
public:
    explicit WorkerThread(InstrVela* instrument);
    ~WorkerThread() override;

    // Asks for a pass now: wakes the running thread, or starts it again and
    // returns once its run has begun.
    void wake();

protected:
    void run() override;

private:
    InstrVela* m_instrument;
    QMutex m_mutex;
    QWaitCondition m_condition;
    bool m_wake = false;     // a pass was asked for since the last one began
    bool m_stop = false;     // the thread is to end
    bool m_ending = false;   // run() has decided to return
    bool m_begun = false;    // run() has begun since the last start()
};
