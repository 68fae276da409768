#pragma once

#include <QString>
#include <QStringList>

// The faults a campaign strikes the simulated analyzer with, spread over
// the whole run: each strike lets a random number of matching requests pass
// first, scaled to what a worklist of the given size sends.
struct FaultPlan
{
    int assays = 200;
    quint32 seed = 1;
    bool linkFaults = true;   // faults that break the link (need the driver's reconnect)
    int talkTimeoutMs = 1500; // the driver's reply time-out; silence lasts past it

    // The fault list in the simulator's grammar (VELA_SIM_FAULTS).
    QString spec() const;
    // Kinds struck, for the report.
    QStringList kinds() const;
};
