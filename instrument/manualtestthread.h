#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <array>

class ManualTest;

// Asks the analyzer every 2 s for the results of the tests started from the
// manual test dialog and hands each final result to the dialog's
// setResult(int, AnalysisResult) by a queued call, so the dialog's widgets
// are touched in its own thread only. The thread runs while a channel is
// pending and ends by itself when none is; addTest starts it again.
class ManualTestThread : public QThread
{
public:
    explicit ManualTestThread(ManualTest* dialog);
    // Stops polling and waits for the current pass to end; the pause between
    // passes is cut short.
    ~ManualTestThread() override;

    // Polls channel i for the dialog's current test id of that channel.
    void addTest(int i);
    // Stops polling channel i; a result of its test that is already being
    // fetched is dropped.
    void removeTest(int i);

    static constexpr int pollInterval = 2000; // ms between passes

protected:
    void run() override;

private:
    enum { ChannelCount = 10 };

    ManualTest* m_dialog;
    QMutex m_mutex;        // guards everything below
    QWaitCondition m_wake; // ends the pause when polling is to stop
    quint16 m_pending = 0; // bit i: channel i waits for its result
    std::array<quint32, ChannelCount> m_ids{};
    bool m_keepRunning = false;
    bool m_polling = false; // run() is in its loop or about to enter it
};
