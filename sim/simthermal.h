#pragma once

#include <QRandomGenerator>
#include <QVector>

// The nine temperature zones, each settling exponentially from where it
// stood towards its target. Zone 1 (index 0) tape pre-warm, 2-5 the probes
// (arm 1 probe 3, arm 1 probe 4, arm 2 probe 3, arm 2 probe 4), 6 test area,
// 7 cooling area, 8 air inlet, 9 heat sink. Set points 1, 2, 3 drive zones
// 1, 6 and 7.
class SimThermal
{
public:
    static constexpr int zoneCount = 9;

    explicit SimThermal(double room);

    double setPoint(int i) const { return m_setPoints[i]; }
    void setSetPoints(double prewarm, double test, double cooling, qint64 nowMs);
    double value(int zone, qint64 nowMs) const; // without noise
    QVector<double> read(qint64 nowMs, QRandomGenerator* rng) const;

private:
    struct Zone
    {
        double from;
        double target;
        qint64 since;
        double tauMs;
    };
    void retarget(int zone, double target, qint64 nowMs);

    double m_room;
    double m_setPoints[3];
    Zone m_zones[zoneCount];
};
