#include "faultplan.h"

#include <QRandomGenerator>

namespace {

struct Kind
{
    const char* fault;     // kind and command in the simulator's grammar
    int perAssay100;       // matching requests per 100 assays, roughly
    bool breaksLink;
    const char* extra;     // further keys
};

// Requests per assay: one 31, a few 32 while it runs, about four 60 for
// its curve, one 34; every command for the link faults.
const Kind faultKinds[] = {
    { "error:32", 600, false, "" },
    { "error:32", 600, false, ",count=2" }, // asked again at once: the test counts as lost
    { "error:34", 100, false, "" },
    { "error:60", 400, false, "" },
    { "malformed:32", 600, false, "" },
    { "malformed:60", 400, false, "" },
    { "delay", 1200, false, ",ms=300" },
    { "drop", 1200, true, "" },
    { "silence:32", 600, true, "" },
};

} // namespace

QString FaultPlan::spec() const
{
    QRandomGenerator rng(seed);
    QStringList faults;
    const int strikes = qMax(2, assays / 40);
    for (const Kind& k : faultKinds) {
        if (k.breaksLink && !linkFaults)
            continue;
        const int span = qMax(10, k.perAssay100 * assays / 100);
        for (int i = 0; i < strikes; ++i) {
            QString f = QString::fromLatin1(k.fault) + QStringLiteral(",after=%1").arg(rng.bounded(span))
                + QString::fromLatin1(k.extra);
            faults << f;
        }
    }
    return faults.join(QLatin1Char(';'));
}

QStringList FaultPlan::kinds() const
{
    QStringList names;
    for (const Kind& k : faultKinds) {
        if (k.breaksLink && !linkFaults)
            continue;
        const QString name = QString::fromLatin1(k.fault);
        if (!names.contains(name))
            names << name;
    }
    return names;
}
