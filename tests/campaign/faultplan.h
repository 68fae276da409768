#pragma once

#include <QString>
#include <QStringList>

// The faults a campaign strikes the simulated analyzer with, spread over
// the whole run: each strike lets a random number of matching requests pass
// first, scaled to what a worklist of the given size sends.
struct FaultPlan
{
    // Where the analyzer lives: inside Linkhub (its port "SIM"), where the
    // link to the driver can be dropped, or in velasim on a pseudo-terminal,
    // where it outlives a Linkhub that exits.
    enum Stage { InLinkhub, OnTerminal };

    Stage stage = InLinkhub;
    int assays = 200;
    quint32 seed = 1;
    bool linkFaults = true;   // faults that break the link (need the driver's reconnect)
    int talkTimeoutMs = 1500; // the driver's reply time-out

    // The fault list in the simulator's grammar (VELA_SIM_FAULTS).
    QString grammar() const;
    // Linkhub exits after this many lines (0: never), and again after its restart.
    int linkhubExitAfter() const;
};
