#pragma once

#include "sim/simclock.h"
#include "sim/simconfig.h"

#include <QByteArray>
#include <QScopedPointer>

struct SimReply
{
    enum Action { Reply, Silent, DropLink };
    QByteArray line;       // reply line without CR LF
    Action action = Reply;
    int delayMs = 0;       // how long the transport waits before sending it
};

class SimAnalyzerPrivate;

// One simulated analyzer: answers one request line with one reply, with all
// behaviour driven by the clock given (not owned).
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

    // Inspection for tests and tools.
    struct TestInfo {
        bool exists = false;
        int status = 0;        // 00 intake .. 0F final
        int channel = -1;      // 0-based measuring channel, -1 before measuring
        int clotHundredths = 0;// clot time in 1/100 s (0 before final)
        int pointCount = 0;    // points of the curve
        bool clotted = true;
    };
    TestInfo testInfo(quint32 testId) const;
    bool channelEnabled(int channel) const;
    int freeIntakePlaces() const;
    void flushMemory();

private:
    QScopedPointer<SimAnalyzerPrivate> d;
};
