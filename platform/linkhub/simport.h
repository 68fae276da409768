#pragma once

#include "platform/linkhub/analyzerport.h"

#include "sim/simbus.h"
#include "sim/simclock.h"
#include "sim/simconfig.h"

#include <memory>

// The port "SIM": simulated analyzers served in-process, no serial line.
// Silence from an analyzer becomes a time-out error reply after the read
// time-out, as it would on a line; a requested delay is kept as it is.
class SimPort : public AnalyzerPort
{
public:
    SimPort(const SimConfig& config, const LinkTimeouts& timeouts);

    QString name() const override;
    bool listAnalyzers(QList<QByteArray>* ids, QByteArray* error) override;
    HubReply exchange(const QByteArray& id, const QByteArray& line) override;

private:
    ScaledClock m_clock;
    SimBus m_bus;
    LinkTimeouts m_timeouts;
};
