#include "sim/simthermal.h"

#include <cmath>

namespace {
constexpr double probeTarget = 37.0;
}

SimThermal::SimThermal(double room)
    : m_room(room)
    , m_setPoints{37.0, 37.0, 15.0}
{
    const double tauSeconds[zoneCount] = {60, 40, 40, 40, 40, 90, 180, 300, 240};
    for (int i = 0; i < zoneCount; ++i)
        m_zones[i] = {room, room, 0, tauSeconds[i] * 1000.0};
    setSetPoints(m_setPoints[0], m_setPoints[1], m_setPoints[2], 0);
    for (int i = 1; i <= 4; ++i)
        m_zones[i].target = probeTarget;
}

void SimThermal::retarget(int zone, double target, qint64 nowMs)
{
    Zone& z = m_zones[zone];
    z.from = value(zone, nowMs);
    z.target = target;
    z.since = nowMs;
}

void SimThermal::setSetPoints(double prewarm, double test, double cooling, qint64 nowMs)
{
    m_setPoints[0] = prewarm;
    m_setPoints[1] = test;
    m_setPoints[2] = cooling;
    retarget(0, prewarm, nowMs);
    retarget(5, test, nowMs);
    retarget(6, cooling, nowMs);
    retarget(7, m_room + 1.5, nowMs);
    // the heat sink carries away what the cooler pumps out
    retarget(8, m_room + 0.8 * std::max(0.0, m_room - cooling) + 2.0, nowMs);
}

double SimThermal::value(int zone, qint64 nowMs) const
{
    const Zone& z = m_zones[zone];
    const double dt = double(std::max<qint64>(0, nowMs - z.since));
    return z.target + (z.from - z.target) * std::exp(-dt / z.tauMs);
}

QVector<double> SimThermal::read(qint64 nowMs, QRandomGenerator* rng) const
{
    QVector<double> v(zoneCount);
    for (int i = 0; i < zoneCount; ++i)
        v[i] = value(i, nowMs) + (rng->generateDouble() * 2.0 - 1.0) * 0.08;
    return v;
}
