#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// Time source of the simulated analyzer, in simulated milliseconds.
// Everything the analyzer does (intake, pre-warm, clotting, temperature
// settling, busy modules) is a function of this clock, so tests step a
// ManualClock and programs run a ScaledClock.
class SimClock
{
public:
    virtual ~SimClock();
    virtual qint64 nowMs() const = 0;
};

// Clock that moves only when told to.
class ManualClock : public SimClock
{
public:
    qint64 nowMs() const override;
    void advance(qint64 ms);
    void set(qint64 ms);

private:
    qint64 m_now = 0;
};

// Real elapsed time since construction multiplied by a factor, so a demo
// with factor 20 finishes a two-minute run in six seconds.
class ScaledClock : public SimClock
{
public:
    explicit ScaledClock(double factor = 1.0);
    qint64 nowMs() const override;
    double factor() const { return m_factor; }

private:
    QElapsedTimer m_timer;
    double m_factor;
};
