#include "sim/simbus.h"

SimBus::SimBus(const SimConfig& config, SimClock* clock)
{
    for (const QByteArray& id : config.ids) {
        if (id.isEmpty() || analyzer(id))
            continue;
        m_analyzers.push_back(std::make_unique<SimAnalyzer>(id, config, clock));
    }
}

SimBus::~SimBus() = default;

QList<QByteArray> SimBus::identifiers() const
{
    QList<QByteArray> ids;
    for (const auto& a : m_analyzers)
        ids << a->id();
    return ids;
}

SimAnalyzer* SimBus::analyzer(const QByteArray& id)
{
    for (const auto& a : m_analyzers)
        if (a->id() == id)
            return a.get();
    return nullptr;
}
