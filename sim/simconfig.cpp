#include "sim/simconfig.h"

#include <QRegularExpression>
#include <QStringList>
#include <QtDebug>

namespace {

struct KindName
{
    SimFault::Kind kind;
    const char* name;
};
const KindName kindNames[] = {
    {SimFault::ErrorReply, "error"},    {SimFault::Silence, "silence"},   {SimFault::DropLink, "drop"},
    {SimFault::Malformed, "malformed"}, {SimFault::Overlong, "overlong"}, {SimFault::Delay, "delay"},
    {SimFault::Stray, "stray"},
};

// A stray line follows its reply after this long unless ms= says otherwise.
const int DefaultStrayMs = 5;

bool parseInt(const QString& text, int min, int* out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < min)
        return false;
    *out = v;
    return true;
}

QString envText(const char* name)
{
    return qEnvironmentVariable(name).trimmed();
}

} // namespace

QString SimFault::kindName(Kind kind)
{
    for (const KindName& k : kindNames)
        if (k.kind == kind)
            return QString::fromLatin1(k.name);
    return QString();
}

QString SimFault::toString() const
{
    QString s = kindName(kind);
    if (!command.isEmpty())
        s += QLatin1Char(':') + QString::fromLatin1(command);
    if (after)
        s += QStringLiteral(",after=%1").arg(after);
    if (count != 1)
        s += count < 0 ? QStringLiteral(",count=all") : QStringLiteral(",count=%1").arg(count);
    if (kind == Delay || kind == Stray)
        s += QStringLiteral(",ms=%1").arg(delayMs);
    if (kind == Overlong)
        s += QStringLiteral(",len=%1").arg(length);
    return s;
}

bool SimFault::operator==(const SimFault& o) const
{
    return kind == o.kind && command == o.command && after == o.after && count == o.count && delayMs == o.delayMs
           && length == o.length;
}

bool SimConfig::parseFaults(const QString& text, QList<SimFault>* out, QString* error)
{
    QList<SimFault> faults;
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    static const QRegularExpression commandCode(QStringLiteral("^[0-9A-Z]{2}$"));

    const QStringList items = text.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& rawItem : items) {
        const QString item = rawItem.trimmed();
        if (item.isEmpty())
            continue;
        const QStringList parts = item.split(QLatin1Char(','));
        const QString head = parts.first().trimmed();
        const int colon = head.indexOf(QLatin1Char(':'));
        const QString kindText = (colon < 0 ? head : head.left(colon)).trimmed().toLower();
        SimFault fault;
        bool known = false;
        for (const KindName& k : kindNames) {
            if (kindText == QLatin1String(k.name)) {
                fault.kind = k.kind;
                known = true;
            }
        }
        if (!known)
            return fail(QStringLiteral("unknown fault kind \"%1\" in \"%2\"").arg(kindText, item));
        if (colon >= 0) {
            const QString code = head.mid(colon + 1).trimmed().toUpper();
            if (code != QLatin1String("*") && !code.isEmpty()) {
                if (!commandCode.match(code).hasMatch())
                    return fail(QStringLiteral("bad command code \"%1\" in \"%2\"").arg(code, item));
                fault.command = code.toLatin1();
            }
        }
        if (fault.kind == SimFault::Delay)
            fault.delayMs = 1000;
        else if (fault.kind == SimFault::Stray)
            fault.delayMs = DefaultStrayMs;
        for (int i = 1; i < parts.size(); ++i) {
            const QString option = parts.at(i).trimmed();
            const int eq = option.indexOf(QLatin1Char('='));
            const QString key = (eq < 0 ? option : option.left(eq)).trimmed().toLower();
            const QString value = eq < 0 ? QString() : option.mid(eq + 1).trimmed();
            bool ok = false;
            if (key == QLatin1String("after")) {
                ok = parseInt(value, 0, &fault.after);
            } else if (key == QLatin1String("count")) {
                if (value.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
                    fault.count = -1;
                    ok = true;
                } else {
                    ok = parseInt(value, 1, &fault.count);
                }
            } else if (key == QLatin1String("ms")) {
                ok = parseInt(value, 0, &fault.delayMs) && fault.delayMs <= 600000;
            } else if (key == QLatin1String("len")) {
                ok = parseInt(value, 1, &fault.length) && fault.length <= 16 * 1024 * 1024;
            } else {
                return fail(QStringLiteral("unknown fault option \"%1\" in \"%2\"").arg(key, item));
            }
            if (!ok)
                return fail(QStringLiteral("bad value \"%1\" for %2 in \"%3\"").arg(value, key, item));
        }
        faults << fault;
    }
    if (out)
        *out = faults;
    return true;
}

SimConfig SimConfig::fromEnvironment()
{
    SimConfig c;
    QString text = envText("VELA_SIM_IDS");
    if (!text.isEmpty()) {
        QList<QByteArray> ids;
        for (const QString& id : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QByteArray bytes = id.trimmed().toLatin1();
            if (!bytes.isEmpty() && !ids.contains(bytes))
                ids << bytes;
        }
        if (!ids.isEmpty())
            c.ids = ids;
    }
    text = envText("VELA_SIM_SPEED");
    if (!text.isEmpty()) {
        bool ok = false;
        const double v = text.toDouble(&ok);
        if (ok && v > 0.0 && v <= 10000.0)
            c.speed = v;
        else
            qWarning("velasim: ignoring VELA_SIM_SPEED=%s (want a factor > 0)", qPrintable(text));
    }
    c.memoryFile = envText("VELA_SIM_MEMORY");
    text = envText("VELA_SIM_FAULTS");
    if (!text.isEmpty()) {
        QString error;
        if (!parseFaults(text, &c.faults, &error))
            qWarning("velasim: ignoring VELA_SIM_FAULTS: %s", qPrintable(error));
    }
    text = envText("VELA_SIM_SEED");
    if (!text.isEmpty()) {
        bool ok = false;
        const uint v = text.toUInt(&ok, 0);
        if (ok)
            c.seed = v;
        else
            qWarning("velasim: ignoring VELA_SIM_SEED=%s", qPrintable(text));
    }
    text = envText("VELA_SIM_INTAKE");
    if (!text.isEmpty()) {
        int v = 0;
        if (parseInt(text, 1, &v) && v <= 255)
            c.intakeSize = v;
        else
            qWarning("velasim: ignoring VELA_SIM_INTAKE=%s (want 1..255)", qPrintable(text));
    }
    text = envText("VELA_SIM_NOCLOT");
    if (!text.isEmpty()) {
        bool ok = false;
        const double v = text.toDouble(&ok);
        if (ok && v >= 0.0 && v <= 1.0)
            c.notClottingRate = v;
        else
            qWarning("velasim: ignoring VELA_SIM_NOCLOT=%s (want 0..1)", qPrintable(text));
    }
    text = envText("VELA_SIM_NOCLOT_POSITIONS");
    if (!text.isEmpty()) {
        for (const QString& s : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QByteArray code = s.trimmed().toLatin1();
            if (code.size() == 2)
                c.notClottingPositions << code;
            else
                qWarning("velasim: ignoring position \"%s\" in VELA_SIM_NOCLOT_POSITIONS", qPrintable(s));
        }
    }
    text = envText("VELA_SIM_STATUS");
    if (!text.isEmpty()) {
        for (const QString& s : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            bool ok = false;
            const uint v = s.trimmed().toUInt(&ok, 16);
            if (ok && v > 0 && v <= 0xFFFF)
                c.statusCodes << quint16(v);
            else
                qWarning("velasim: ignoring code \"%s\" in VELA_SIM_STATUS", qPrintable(s));
        }
    }
    text = envText("VELA_SIM_SENSOR");
    if (!text.isEmpty()) {
        bool ok = false;
        const uint v = text.toUInt(&ok, 16);
        if (ok && v <= 0x7F)
            c.sensorWord = quint16(v);
        else
            qWarning("velasim: ignoring VELA_SIM_SENSOR=%s (want hex 0..7F)", qPrintable(text));
    }
    text = envText("VELA_SIM_CUPS");
    if (!text.isEmpty()) {
        int v = 0;
        if (parseInt(text, 0, &v))
            c.cups = v;
        else
            qWarning("velasim: ignoring VELA_SIM_CUPS=%s", qPrintable(text));
    }
    return c;
}
