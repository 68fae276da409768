#include "reconnectthread.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

namespace {
const int BackOffMs[] = {1000, 2000, 5000, 10000};

double scale()
{
    bool ok = false;
    const double f = qEnvironmentVariable("VELA_RECONNECT_SCALE").toDouble(&ok);
    return ok && f > 0.0 && f <= 1.0 ? f : 1.0;
}
} // namespace

ReconnectThread::ReconnectThread(Attempt attempt, QObject* parent)
    : QThread(parent)
    , m_attempt(std::move(attempt))
{
}

ReconnectThread::~ReconnectThread()
{
    stop();
}

int ReconnectThread::delayMs(int attempt)
{
    const int n = int(sizeof BackOffMs / sizeof BackOffMs[0]);
    const int ms = BackOffMs[qBound(0, attempt, n - 1)];
    return qMax(1, int(ms * scale()));
}

void ReconnectThread::begin()
{
    QMutexLocker lock(&m_mutex);
    m_stop = false;
    if (isRunning() && !m_ending) {
        m_again = true;
        return;
    }
    if (isRunning())
        wait();
    m_ending = false;
    m_again = false;
    start();
}

void ReconnectThread::stop()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stop = true;
        m_again = false;
        m_condition.wakeAll();
    }
    wait();
}

bool ReconnectThread::isStopping() const
{
    QMutexLocker lock(&m_mutex);
    return m_stop;
}

void ReconnectThread::run()
{
    for (int attempt = 0;; ++attempt) {
        {
            QMutexLocker lock(&m_mutex);
            const QDeadlineTimer deadline(delayMs(attempt));
            while (!m_stop && !deadline.hasExpired())
                m_condition.wait(&m_mutex, deadline);
            if (m_stop) {
                m_ending = true;
                return;
            }
        }
        const Outcome outcome = m_attempt(attempt);
        QMutexLocker lock(&m_mutex);
        if (m_stop || outcome == Outcome::GiveUp || (outcome == Outcome::Connected && !m_again)) {
            m_ending = true;
            return;
        }
        if (outcome == Outcome::Connected)
            attempt = -1; // lost again meanwhile: a new round
        m_again = false;  // a failed attempt is tried again anyway
    }
}
