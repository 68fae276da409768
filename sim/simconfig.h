#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One injected fault. It applies to requests whose command code matches
// `command` (empty: every command); the first `after` matching requests are
// answered normally, then the next `count` matching requests get the fault
// (count -1: every one from then on).
struct SimFault
{
    enum Kind {
        ErrorReply, // reply "<code>XX" instead of the normal reply
        Silence,    // no reply at all
        DropLink,   // the link is dropped instead of replying
        Malformed,  // a reply that does not parse (garbled, truncated)
        Overlong,   // the normal reply padded far beyond any line limit
        Delay       // the normal reply after `delayMs`
    };

    Kind kind = ErrorReply;
    QByteArray command; // two-character command code, upper case; empty = all
    int after = 0;
    int count = 1;
    int delayMs = 0;

    static QString kindName(Kind kind);
    QString toString() const;
    bool operator==(const SimFault& other) const;
};

struct SimConfig
{
    QList<QByteArray> ids { "VELA01" }; // analyzer identifiers on the port
    double speed = 1.0;                 // time scale for ScaledClock
    QString memoryFile;                 // 4C/4D memory kept in this file (empty: in memory only)
    QList<SimFault> faults;
    quint32 seed = 1;                   // noise and random choices, reproducible

    int intakeSize = 4;                 // places in the intake queue
    double notClottingRate = 0.0;       // share of tests (0..1) that do not clot within 120 s
    QList<int> notClottingSamples;      // sample position codes (31) whose tests never clot
    double roomTemperature = 22.0;      // start of every temperature zone, deg C
    int memorySize = 65536;             // bytes of 4C/4D memory

    // Reads the VELA_SIM_* variables over the defaults; invalid values are
    // reported with qWarning and leave the default.
    static SimConfig fromEnvironment();
    // Fault list grammar, shared by the environment and command-line options:
    //   faults := fault (";" fault)*
    //   fault  := kind [":" command] ("," key "=" value)*
    //   kind   := error | silence | drop | malformed | overlong | delay
    //   key    := after | count | ms
    static bool parseFaults(const QString& text, QList<SimFault>* out, QString* error);
};
