#include "sim/simbus.h"

// With several analyzers on the port each keeps its memory in a file of its
// own: the configured name with "." and the identifier appended.
SimBus::SimBus(const SimConfig& config, SimClock* clock)
{
    QList<QByteArray> ids;
    for (const QByteArray& id : config.ids)
        if (!id.isEmpty() && !ids.contains(id))
            ids << id;
    for (const QByteArray& id : ids) {
        SimConfig own = config;
        if (ids.size() > 1 && !config.memoryFile.isEmpty())
            own.memoryFile = config.memoryFile + QLatin1Char('.') + QString::fromLatin1(id);
        m_analyzers.push_back(std::make_unique<SimAnalyzer>(id, own, clock));
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
