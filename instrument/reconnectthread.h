#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <functional>

// Retries a lost connection off the GUI thread with a bounded back-off:
// the first attempt 1 s after the loss, then after 2 s, 5 s, and every
// 10 s from then on. One attempt is one call of the function given; it
// says whether the link is back, failed (try again) or cannot come back
// (stop). stop() ends the retries: it wakes a back-off wait at once and
// waits for an attempt under way to end.
class ReconnectThread : public QThread
{
public:
    enum class Outcome { Connected, Failed, GiveUp };
    using Attempt = std::function<Outcome(int attempt)>;

    explicit ReconnectThread(Attempt attempt, QObject* parent = nullptr);
    ~ReconnectThread() override;

    // Starts the retries; when they already run, one more round is asked
    // for after the current one ends with a connection.
    void begin();
    void stop();
    // True from stop() until the next begin(): an attempt checks it
    // between its steps.
    bool isStopping() const;

    // Wait before attempt n (0 = the first). VELA_RECONNECT_SCALE (a
    // factor, default 1) shortens the waits for tests.
    static int delayMs(int attempt);

protected:
    void run() override;

private:
    Attempt m_attempt;
    mutable QMutex m_mutex;
    QWaitCondition m_condition;
    bool m_stop = false;
    bool m_again = false;  // begin() came while an attempt was connecting
    bool m_ending = false; // run() has decided to return
};
