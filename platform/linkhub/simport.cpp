#include "platform/linkhub/simport.h"

SimPort::SimPort(const SimConfig& config, const LinkTimeouts& timeouts)
    : m_clock(config.speed)
    , m_bus(config, &m_clock)
    , m_timeouts(timeouts)
{
}

QString SimPort::name() const
{
    return QStringLiteral("SIM");
}

bool SimPort::listAnalyzers(QList<QByteArray>* ids, QByteArray* error)
{
    *ids = m_bus.identifiers();
    if (ids->isEmpty()) {
        *error = "no analyzer answers on SIM";
        return false;
    }
    return true;
}

HubReply SimPort::exchange(const QByteArray& id, const QByteArray& line)
{
    SimAnalyzer* analyzer = m_bus.analyzer(id);
    if (!analyzer)
        return HubReply::error("unknown analyzer " + id);

    const SimReply reply = analyzer->handle(line);
    switch (reply.action) {
    case SimReply::Reply: {
        HubReply sent = HubReply::send(reply.line, reply.delayMs);
        sent.stray = reply.stray;
        sent.strayDelayMs = reply.strayDelayMs;
        return sent;
    }
    case SimReply::Silent: return HubReply::error("time-out, analyzer " + id + " did not answer", m_timeouts.read);
    case SimReply::DropLink: return HubReply::drop(reply.delayMs);
    }
    return HubReply::error("internal error");
}
