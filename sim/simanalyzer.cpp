#include "sim/simanalyzer.h"

#include "sim/simcommands.h"
#include "sim/simdevice.h"
#include "sim/simfaultinjector.h"
#include "sim/simtruth.h"

// The analyzer as its link sees it: the device model, the command table that
// answers for it, and the faults injected between them.
class SimAnalyzerPrivate
{
public:
    SimAnalyzerPrivate(const QByteArray& id_, const SimConfig& config, SimClock* clock)
        : id(id_)
        , device(id_, config, clock)
        , faults(config.faults)
    {
    }

    QByteArray id;
    SimDevice device;
    SimFaultInjector faults;
};

SimAnalyzer::SimAnalyzer(const QByteArray& id, const SimConfig& config, SimClock* clock)
    : d(new SimAnalyzerPrivate(id, config, clock))
{
}

SimAnalyzer::~SimAnalyzer() = default;

QByteArray SimAnalyzer::id() const
{
    return d->id;
}

SimReply SimAnalyzer::handle(const QByteArray& request)
{
    d->device.catchUp();
    SimReply reply;
    const QByteArray code = request.left(2);
    const SimFault* fault = d->faults.next(code);
    if (fault) {
        simtruth::recordStrike(SimFault::kindName(fault->kind).toLatin1(), request, fault->delayMs);
        switch (fault->kind) {
        case SimFault::ErrorReply: reply.line = simcommands::errorReply(code); return reply;
        case SimFault::Silence: reply.action = SimReply::Silent; return reply;
        case SimFault::DropLink: reply.action = SimReply::DropLink; return reply;
        default: break;
        }
    }
    reply.line = simcommands::reply(d->device, request);
    if (fault) {
        switch (fault->kind) {
        case SimFault::Malformed:
            // the echo survives; the rest is cut short and garbled so that
            // no field reads
            reply.line = reply.line.left(2) + "?#" + reply.line.mid(2, (reply.line.size() - 2) / 2);
            break;
        case SimFault::Overlong:
            if (reply.line.size() < fault->length)
                reply.line += ' ' + QByteArray(fault->length - reply.line.size() - 1, 'Z');
            break;
        case SimFault::Delay: reply.delayMs = fault->delayMs; break;
        case SimFault::Stray:
            reply.stray = reply.line;
            reply.strayDelayMs = fault->delayMs;
            break;
        default: break;
        }
    }
    return reply;
}

SimAnalyzer::TestInfo SimAnalyzer::testInfo(quint32 testId) const
{
    d->device.catchUp();
    TestInfo info;
    const SimTest* t = d->device.test(testId);
    if (!t)
        return info;
    info.exists = true;
    info.status = t->status;
    info.channel = t->status >= SimTest::Measuring || t->manual ? t->channel : 0;
    info.manual = t->manual;
    info.clotted = t->clotted;
    info.clotHundredths = t->curve.reportedHundredths;
    info.intervalMs = t->curve.intervalMs;
    info.pointCount = t->curve.points.size();
    info.points = t->curve.points;
    return info;
}

bool SimAnalyzer::channelEnabled(int channel) const
{
    return d->device.channelEnabled(channel);
}

int SimAnalyzer::freeIntakePlaces() const
{
    d->device.catchUp();
    return d->device.freeIntakePlaces();
}

int SimAnalyzer::reagentVolume(const QByteArray& itemCode, const QByteArray& position) const
{
    d->device.catchUp();
    if (const QList<SimBottle>* bottles = d->device.bottles(itemCode))
        for (const SimBottle& b : *bottles)
            if (b.position == position)
                return b.volume;
    return -1;
}

int SimAnalyzer::cupsLeft() const
{
    d->device.catchUp();
    return d->device.cupsLeft();
}

void SimAnalyzer::flushMemory()
{
    d->device.memory().flush();
}
