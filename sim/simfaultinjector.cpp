#include "sim/simfaultinjector.h"

SimFaultInjector::SimFaultInjector(const QList<SimFault>& faults)
{
    for (const SimFault& f : faults)
        m_states.append(State{f, 0, 0});
}

const SimFault* SimFaultInjector::next(const QByteArray& command)
{
    const SimFault* strike = nullptr;
    for (State& s : m_states) {
        if (!s.fault.command.isEmpty() && s.fault.command != command)
            continue;
        ++s.seen;
        const bool due = s.seen > s.fault.after && (s.fault.count < 0 || s.fired < s.fault.count);
        if (due && !strike) {
            ++s.fired;
            strike = &s.fault;
        }
    }
    return strike;
}
