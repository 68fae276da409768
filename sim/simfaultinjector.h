#pragma once

#include "sim/simconfig.h"

#include <QVector>

// Counts the requests each configured fault applies to and tells which
// fault, if any, strikes the current request. Every matching fault counts
// the request; the first one in configuration order that is due strikes.
class SimFaultInjector
{
public:
    explicit SimFaultInjector(const QList<SimFault>& faults = {});

    const SimFault* next(const QByteArray& command);

private:
    struct State
    {
        SimFault fault;
        int seen = 0;
        int fired = 0;
    };
    QVector<State> m_states;
};
