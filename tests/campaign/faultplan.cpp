#include "faultplan.h"

#include <QRandomGenerator>

namespace {

struct Kind
{
    const char* fault; // kind and command in the simulator's grammar
    int perAssay100;   // matching requests per 100 assays, roughly
    bool breaksLink;
    bool inLinkhubOnly; // over a serial line the simulator cannot drop the link
    const char* extra;  // further keys; %1: the driver's reply time-out
};

// Requests per assay: one 31, a few 32 while it runs, about four 60 for
// its curve, one 34; every command for the faults without a command.
const Kind faultKinds[] = {
    {"error:32", 600, false, false, ""},
    {"error:32", 600, false, false, ",count=2"}, // asked again at once: the test counts as lost
    {"error:34", 100, false, false, ""},
    {"error:60", 400, false, false, ""},
    {"malformed:32", 600, false, false, ""},
    {"malformed:60", 400, false, false, ""},
    {"delay", 1200, false, false, ",ms=100"},
    {"silence:32", 600, false, false, ""}, // Linkhub answers "Err:" for the analyzer
    {"drop", 1200, true, true, ""},
    {"delay:32", 600, true, true, ",ms=%1"}, // silent past the driver's time-out
    {"stray", 1200, true, true, ""},
};

} // namespace

QString FaultPlan::grammar() const
{
    QRandomGenerator rng(seed * 2 + quint32(stage));
    QStringList faults;
    const int strikes = qMax(2, assays / 40);
    for (const Kind& k : faultKinds) {
        if ((k.breaksLink && !linkFaults) || (k.inLinkhubOnly && stage != InLinkhub))
            continue;
        const int span = qMax(10, k.perAssay100 * assays / 100);
        QString extra = QString::fromLatin1(k.extra);
        if (extra.contains(QLatin1String("%1")))
            extra = extra.arg(talkTimeoutMs * 2);
        for (int i = 0; i < strikes; ++i)
            faults << QString::fromLatin1(k.fault) + QStringLiteral(",after=%1").arg(rng.bounded(span)) + extra;
    }
    return faults.join(QLatin1Char(';'));
}

int FaultPlan::linkhubExitAfter() const
{
    return stage == OnTerminal && linkFaults ? 150 : 0;
}
