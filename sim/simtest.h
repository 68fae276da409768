#pragma once

#include "sim/simassay.h"

#include <QByteArray>

// One test the analyzer holds, from its placement (31) or set-up (5E) until
// it is released (34).
struct SimTest
{
    // Status byte of the 32 reply.
    enum Status : int {
        Intake = 0x01,    // waiting in the intake queue (manual: set up, not started)
        Pipetting = 0x02, // sample and reagent going into the cup
        Prewarm = 0x03,   // in the pre-warm block
        Waiting = 0x04,   // pre-warmed, waiting for a free measuring channel
        Measuring = 0x05, // on a measuring channel
        Final = 0x0F
    };

    quint32 id = 0;
    QByteArray position, item;
    int dilution = 1;
    char method = 'L';
    bool manual = false;
    int status = Intake;
    int channel = 0;
    qint64 placedAt = 0, pipetteEnd = 0, prewarmStart = -1, prewarmEnd = -1;
    qint64 measureStart = -1, measureEnd = -1;
    bool clotted = true;
    int errorCode = 0; // of the final 32 reply
    simassay::Curve curve;
    qint64 order = 0; // placing order, ties in time go by it
};

// One bottle of an item's reagent, as the 77 table gives it.
struct SimBottle
{
    QByteArray position;
    int volume = 0; // 0..255
};
