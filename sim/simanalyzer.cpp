#include "sim/simanalyzer.h"

class SimAnalyzerPrivate
{
public:
    QByteArray id;
    SimConfig config;
    SimClock* clock = nullptr;
};

SimAnalyzer::SimAnalyzer(const QByteArray& id, const SimConfig& config, SimClock* clock)
    : d(new SimAnalyzerPrivate)
{
    d->id = id;
    d->config = config;
    d->clock = clock;
}

SimAnalyzer::~SimAnalyzer() = default;

QByteArray SimAnalyzer::id() const
{
    return d->id;
}

SimReply SimAnalyzer::handle(const QByteArray& request)
{
    SimReply r;
    r.line = request.left(2) + "XX";
    return r;
}

SimAnalyzer::TestInfo SimAnalyzer::testInfo(quint32) const
{
    return {};
}

bool SimAnalyzer::channelEnabled(int) const
{
    return true;
}

int SimAnalyzer::freeIntakePlaces() const
{
    return d->config.intakeSize;
}

void SimAnalyzer::flushMemory()
{
}
