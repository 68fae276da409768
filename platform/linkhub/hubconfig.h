#pragma once

#include "platform/linewire/tracering.h"
#include "platform/linkhub/hubsession.h"

#include <QString>
#include <QStringList>

// Everything Linkhub is told at start: command line over environment over
// defaults, and the link time-outs from "profile.db" in the working folder.
struct HubConfig
{
    // Exit codes besides 0 (normal end, or usage shown).
    enum ExitCode { ExitListenFailed = 1, ExitBadOption = 2, ExitPortServed = 3 };

    quint16 port = 32345; // 0: any free port, which --port-file reports
    QString portFile;     // written with the port once listening
    QString semaphoreKey = QStringLiteral("LinkhubStart");
    QString traceFile;
    // The ring kept always: "trace" in the working folder, 8 x 32 MiB.
    TraceRing::Settings traceRing;
    int idleMs = 10000;
    int exitAfterLines = 0; // fault for driver tests: exit after this many lines (0: never)
    HubOptions options;

    // False with `error` set for an invalid option or value.
    static bool parse(const QStringList& arguments, HubConfig* config, QString* error);
};

// Reads the three "instrument/timeout/..." values of the settings table in
// `databaseFile`; keys that are absent or not numbers keep their defaults.
// A missing or unreadable file leaves all three as they are.
bool readProfileTimeouts(const QString& databaseFile, LinkTimeouts* timeouts, QString* error = nullptr);
