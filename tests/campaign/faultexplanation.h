#pragma once

#include "sim/simtruth.h"

#include <QList>
#include <QString>

// Which of the faults the simulator struck with can explain an error that
// an assay ended with. A fault explains it when it struck a request of the
// assay's own test (31, 32, 34, 60), or when it broke the link while the
// test ran: a dropped link, a stray line, a reply held past the driver's
// time-out, Linkhub exiting. A reply held back for less than the time-out
// explains nothing.
class FaultExplanation
{
public:
    FaultExplanation(const QList<simtruth::Strike>& strikes, int talkTimeoutMs);

    // A description of the strike that explains an error of test `testId`,
    // whose assay ran from `fromMs` to `toMs` (ms since the epoch, as the
    // campaign saw it: the edges are widened by the driver's time-out), or
    // an empty string when none does.
    QString cause(quint32 testId, qint64 fromMs, qint64 toMs) const;

private:
    bool breaksLink(const simtruth::Strike& strike) const;
    bool mayMatter(const simtruth::Strike& strike) const;

    QList<simtruth::Strike> m_strikes;
    int m_talkTimeoutMs;
};
