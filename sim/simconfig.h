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
        Delay,      // the normal reply after `delayMs`
        Stray       // the normal reply, then a copy of it `delayMs` later in a write of its own
    };

    Kind kind = ErrorReply;
    QByteArray command; // two-character command code, upper case; empty = all
    int after = 0;
    int count = 1;
    int delayMs = 0;   // Delay: how long the reply is held back; Stray: gap before the extra line
    int length = 8192; // Overlong: length of the padded reply

    static QString kindName(Kind kind);
    QString toString() const;
    bool operator==(const SimFault& other) const;
};

struct SimConfig
{
    QList<QByteArray> ids{"VELA01"}; // analyzer identifiers on the port
    double speed = 1.0;              // time scale for ScaledClock
    QString memoryFile;              // 4C/4D memory kept in this file (empty: in memory only)
    QList<SimFault> faults;
    quint32 seed = 1; // noise and random choices, reproducible

    int intakeSize = 4;                     // places in the intake queue (1..255)
    double notClottingRate = 0.0;           // share of tests (0..1) that do not clot
    QList<QByteArray> notClottingPositions; // sample position codes (as sent in 31) that never clot
    QList<quint16> statusCodes;             // error codes the 24 reply reports
    quint16 sensorWord = 0;                 // sensor bits 0..6 the 24 reply reports
    int cups = 1000;                        // test cups loaded; bit 6 of the sensor word when low
    double roomTemperature = 22.0;          // start of every temperature zone, deg C

    // Reads the VELA_SIM_* variables over the defaults; invalid values are
    // reported with qWarning and leave the default.
    static SimConfig fromEnvironment();
    // Fault list grammar, shared by the environment and command-line options:
    //   faults := fault (";" fault)*
    //   fault  := kind [":" command] ("," key "=" value)*
    //   kind   := error | silence | drop | malformed | overlong | delay | stray
    //   key    := after | count | ms | len
    static bool parseFaults(const QString& text, QList<SimFault>* out, QString* error);
};
