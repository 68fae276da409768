#include "faultexplanation.h"

#include <QStringList>

namespace {

QString describe(const simtruth::Strike& s)
{
    QString text = QString::fromLatin1(s.kind);
    if (!s.command.isEmpty())
        text += QLatin1Char(':') + QString::fromLatin1(s.command);
    if (s.testId)
        text += QStringLiteral(" of test %1").arg(s.testId, 8, 16, QLatin1Char('0'));
    return text;
}

} // namespace

FaultExplanation::FaultExplanation(const QList<simtruth::Strike>& strikes, int talkTimeoutMs)
    : m_strikes(strikes)
    , m_talkTimeoutMs(talkTimeoutMs)
{
}

bool FaultExplanation::mayMatter(const simtruth::Strike& s) const
{
    return s.kind != "delay" || s.delayMs >= m_talkTimeoutMs;
}

bool FaultExplanation::breaksLink(const simtruth::Strike& s) const
{
    return s.kind == "drop" || s.kind == "stray" || s.kind == "exit"
           || (s.kind == "delay" && s.delayMs >= m_talkTimeoutMs);
}

QString FaultExplanation::cause(quint32 testId, qint64 fromMs, qint64 toMs) const
{
    QStringList own;
    for (const simtruth::Strike& s : m_strikes) {
        if (testId != 0 && s.testId == testId && mayMatter(s))
            own << describe(s);
    }
    if (!own.isEmpty())
        return own.join(QStringLiteral(", "));
    const qint64 from = fromMs - m_talkTimeoutMs;
    const qint64 to = toMs + m_talkTimeoutMs;
    for (const simtruth::Strike& s : m_strikes) {
        if (breaksLink(s) && s.atMs >= from && s.atMs <= to)
            return describe(s) + QStringLiteral(" while the test ran");
    }
    return QString();
}
