#pragma once

#include "sim/simanalyzer.h"

#include <QList>
#include <memory>
#include <vector>

// The analyzers found on one port, in the order of the configuration.
class SimBus
{
public:
    SimBus(const SimConfig& config, SimClock* clock);
    ~SimBus();

    QList<QByteArray> identifiers() const;
    SimAnalyzer* analyzer(const QByteArray& id); // null for an unknown id

private:
    std::vector<std::unique_ptr<SimAnalyzer>> m_analyzers;
};
