#pragma once

#include "sim/simclock.h"
#include "sim/simconfig.h"

#include <QByteArray>
#include <QScopedPointer>
#include <QVector>

struct SimReply
{
    enum Action { Reply, Silent, DropLink };
    QByteArray line; // reply line without CR LF
    Action action = Reply;
    int delayMs = 0; // how long the transport waits before sending it
    // An unasked extra line the transport sends strayDelayMs after the
    // reply, in a write of its own (empty: none).
    QByteArray stray;
    int strayDelayMs = 0;
};

class SimAnalyzerPrivate;

// One simulated analyzer: answers one request line with one reply, with all
// behaviour driven by the clock given (not owned). Before each request the
// simulation is brought up to the clock's time, event by event, so the
// result does not depend on how often the host polls. Not thread-safe: one
// caller at a time.
class SimAnalyzer
{
public:
    SimAnalyzer(const QByteArray& id, const SimConfig& config, SimClock* clock);
    ~SimAnalyzer();
    SimAnalyzer(const SimAnalyzer&) = delete;
    SimAnalyzer& operator=(const SimAnalyzer&) = delete;

    QByteArray id() const;
    // request: one line without CR LF; the reply line is without CR LF
    SimReply handle(const QByteArray& request);

    // Inspection for tests and tools; each first brings the simulation up to
    // the clock's time, like a request would.
    struct TestInfo
    {
        bool exists = false;
        int status = 0;         // status byte of the 32 reply (0x0F final)
        int channel = 0;        // measuring channel 1..10, 0 before measuring
        bool manual = false;    // set up by 5E
        bool clotted = true;    // false: runs to the measuring limit
        int clotHundredths = 0; // clot time the final 32 reply reports, 1/100 s
        int intervalMs = 0;     // spacing of the curve points
        int pointCount = 0;     // points the 60 replies carry
        QVector<quint16> points;
    };
    TestInfo testInfo(quint32 testId) const;
    bool channelEnabled(int channel) const; // channel 1..10
    int freeIntakePlaces() const;
    int reagentVolume(const QByteArray& itemCode, const QByteArray& position) const; // 0..255, -1 unknown
    int cupsLeft() const;
    void flushMemory();

private:
    QScopedPointer<SimAnalyzerPrivate> d;
};
