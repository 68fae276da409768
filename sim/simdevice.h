#pragma once

#include "sim/simclock.h"
#include "sim/simconfig.h"
#include "sim/simmemory.h"
#include "sim/simtest.h"
#include "sim/simthermal.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QRandomGenerator>
#include <QVector>

#include <map>

// The timed model of one analyzer: the tests it holds and their way from
// the intake through the pipettor and the pre-warm block onto a measuring
// channel, the two arms, the temperature zones, the memory, the reagents and
// the cups. It knows no command line; the handlers of simcommands.* read
// and change it through the operations below.
//
// Every operation acts at the time the model has run up to; catchUp() runs
// it to the clock's time first, event by event, so the outcome does not
// depend on how often it is asked.
class SimDevice
{
public:
    static constexpr int channelCount = 10;

    SimDevice(const QByteArray& id, const SimConfig& config, SimClock* clock);

    void catchUp();
    qint64 time() const { return m_time; }          // simulated ms run so far
    QDateTime powerOn() const { return m_powerOn; } // wall-clock time of time 0
    const SimConfig& config() const { return m_config; }

    // Tests. place() queues a test in the intake; setUpManual() holds an
    // enabled free channel for a manual test (false: it cannot), which
    // startManual() starts measuring (false: nothing set up there).
    // release() takes a test off the analyzer, false while it is measuring
    // (it stays); an id the analyzer does not hold counts as released.
    const SimTest* test(quint32 id) const;
    int freeIntakePlaces() const;
    void place(quint32 id, const QByteArray& position, const QByteArray& item, int dilution, char method);
    bool setUpManual(int channel, quint32 id, const QByteArray& position, const QByteArray& item, int dilution,
                     char method);
    bool startManual(int channel);
    bool release(quint32 id);

    // Channels 1..10; a test measuring on a channel being disabled still
    // finishes there.
    bool channelEnabled(int channel) const;
    void setChannelEnabled(int channel, bool enabled);

    // Arms 0 and 1, busy with an action for a time.
    bool armBusy(int arm) const { return m_armBusyUntil[arm] > m_time; }
    void occupyArm(int arm, int ms) { m_armBusyUntil[arm] = m_time + ms; }

    // Temperatures of the nine zones, with noise; set points 0..2 (pre-warm,
    // test area, cooling).
    QVector<double> temperatures();
    double setPoint(int i) const { return m_thermal.setPoint(i); }
    void setSetPoints(double prewarm, double test, double cooling);

    SimMemory& memory() { return m_memory; }
    const SimMemory& memory() const { return m_memory; }

    // Reagent bottles by item code (any case); null for an item never given.
    const QList<SimBottle>* bottles(const QByteArray& item) const;
    void setBottles(const QByteArray& item, const QList<SimBottle>& bottles);

    int cupsLeft() const { return m_cups; }
    // The configured sensor bits, with bit 6 set while cups run low.
    quint32 sensorWord() const;
    // Simulation mode: no reagent or cup is used up.
    void setSimulationMode(bool on) { m_simulationMode = on; }
    // No cup goes onto a channel while the light is calibrated.
    void calibrateLight() { m_ledCalibratedAt = m_time; }

private:
    qint64 clockNow() const { return m_clock ? m_clock->nowMs() : 0; }
    void advanceTo(qint64 t);
    void startWorkAt(qint64 t);
    SimTest* find(quint32 id);
    bool channelFree(int channel) const;
    void beginMeasuring(SimTest& t, int channel, qint64 at);
    void consumeFor(const SimTest& t);
    SimTest newTest(quint32 id, const QByteArray& position, const QByteArray& item, int dilution, char method);
    void dropOldFinals();

    SimConfig m_config;
    SimClock* m_clock;
    QRandomGenerator m_rng;
    QRandomGenerator m_noise;
    SimMemory m_memory;
    SimThermal m_thermal;
    QDateTime m_powerOn;

    qint64 m_time = 0; // the model has run up to here
    qint64 m_nextOrder = 0;
    std::map<quint32, SimTest> m_tests;
    bool m_enabled[channelCount];
    qint64 m_pipettorFreeAt = 0;
    quint32 m_pipetting = 0; // test in the pipettor, 0 none
    qint64 m_ledCalibratedAt = -1;
    qint64 m_armBusyUntil[2] = {0, 0};
    bool m_simulationMode = false;
    int m_cups;
    QMap<QByteArray, QList<SimBottle>> m_reagents; // by upper-case item code
};
