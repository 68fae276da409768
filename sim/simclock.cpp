#include "sim/simclock.h"

#include <cmath>

SimClock::~SimClock() = default;

qint64 ManualClock::nowMs() const
{
    return m_now;
}

void ManualClock::advance(qint64 ms)
{
    if (ms > 0)
        m_now += ms;
}

void ManualClock::set(qint64 ms)
{
    m_now = ms;
}

ScaledClock::ScaledClock(double factor)
    : m_factor(factor > 0.0 && std::isfinite(factor) ? factor : 1.0)
{
    m_timer.start();
}

qint64 ScaledClock::nowMs() const
{
    return qint64(double(m_timer.elapsed()) * m_factor);
}
