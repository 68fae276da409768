#pragma once

// Small readers of the analyzer replies written the way the driver reads
// them, so the tests prove that what the simulator sends is readable.

#include "sim/simanalyzer.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTextCodec>
#include <QVector>

namespace wire {

inline bool isErrorReply(const QByteArray& reply)
{
    static const QRegularExpression re(QStringLiteral("^(Err:|([0-9A-F]{2})?XX)"));
    return re.match(QString::fromLatin1(reply)).hasMatch();
}

inline QString gbkLatin1(const char* utf8)
{
    QTextCodec* gbk = QTextCodec::codecForName("GBK");
    return QString::fromLatin1(gbk->fromUnicode(QString::fromUtf8(utf8)));
}

struct Result
{
    bool ok = false; // status parsed
    int status = -1;
    bool final = false;
    bool unknown = false; // 32XX
    QString testNumber, position, item, dilution, date;
    QChar method;
    QString channel, error;
    int testTime = -1, prewarmTime = -1, prewarmTimeout = -1;
};

// A label, optional white space, four hexadecimal digits.
inline int labelled(const QString& reply, const QString& label, int* position = nullptr)
{
    const QRegularExpression re(QRegularExpression::escape(label) + QStringLiteral("\\s*([0-9A-Fa-f]{4})"));
    const QRegularExpressionMatch m = re.match(reply);
    if (!m.hasMatch())
        return -1;
    if (position)
        *position = int(m.capturedStart());
    return m.captured(1).toInt(nullptr, 16);
}

inline Result parse32(const QByteArray& bytes)
{
    Result r;
    const QString reply = QString::fromLatin1(bytes); // 8-bit conversion, same for the labels
    if (reply.startsWith(QLatin1String("32XX"))) {
        r.unknown = true;
        return r;
    }
    bool ok = false;
    r.status = reply.mid(2, 2).toInt(&ok, 16);
    if (!ok || reply.size() < 4)
        return r;
    r.ok = true;
    r.final = r.status == 0x0F;
    r.testNumber = reply.mid(5, 8);
    r.position = reply.mid(13, 2);
    r.item = reply.mid(15, 2);
    r.dilution = reply.mid(17, 2);
    r.method = reply.size() > 19 ? reply.at(19) : QChar();
    r.date = reply.mid(20, 16);
    int p = -1;
    r.testTime = labelled(reply, gbkLatin1("测试时间:"), &p);
    r.prewarmTime = labelled(reply, gbkLatin1("预温时间:"));
    r.prewarmTimeout = labelled(reply, gbkLatin1("预温超时时间:"));
    if (p >= 8) {
        r.channel = reply.mid(p - 8, 2);
        r.error = reply.mid(p - 5, 2);
    }
    return r;
}

struct Curve
{
    bool ok = false;       // the driver would return true
    bool attached = false; // a curve would be attached ("6000" attaches none)
    QVector<int> points;
    QList<int> starts; // first point asked in each 60 command
    double intervalS = 0;
};

inline double intervalFor(double seconds)
{
    if (seconds < 10)
        return 0.05;
    if (seconds < 30)
        return 0.1;
    if (seconds < 60)
        return 0.2;
    return 0.4;
}

// Reads a curve with 60 commands of 55 points, as the driver does.
inline Curve readCurve(SimAnalyzer* a, quint32 id, double resultSeconds)
{
    Curve c;
    bool done = false;
    for (int guard = 0; !done && guard < 1000; ++guard) {
        const int start = c.points.size();
        c.starts << start;
        const QByteArray cmd = QByteArray("60") + QByteArray::number(id, 16).toUpper().rightJustified(8, '0')
                               + QByteArray::number(start, 16).toUpper().rightJustified(4, '0') + "37";
        const QByteArray reply = a->handle(cmd).line;
        if (isErrorReply(reply))
            break;
        if (reply.startsWith("6000")) {
            c.ok = true;
            return c;
        }
        const int first = reply.indexOf('-');
        const int s = first + 1;
        const int b = first < 0 ? -1 : reply.indexOf('-', s);
        if (first < 0 || b < s)
            return c;
        const int n = (b - s) / 4;
        if (n == 0)
            break;
        for (int k = 0; k < n; ++k) {
            const int v = reply.mid(s + 4 * k, 4).toInt(nullptr, 16);
            if (v == 0) {
                done = true;
                break;
            }
            c.points << v;
        }
    }
    c.ok = true;
    c.attached = true;
    c.intervalS = intervalFor(resultSeconds);
    return c;
}

// "73": three characters, then nine blank-separated numbers.
inline QVector<double> parse73(const QByteArray& reply)
{
    QVector<double> v;
    const QStringList texts = QString::fromLatin1(reply.mid(3)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& t : texts) {
        bool ok = false;
        const double d = t.toDouble(&ok);
        v << (ok ? d : qQNaN());
    }
    return v;
}

struct Status
{
    QList<int> codes;
    int sensor = -1; // -1: no sensor field
};

// "24": groups of four upper-case hexadecimal digits from the start, then
// "Sensor-" hex "-" after the last group, at a position above 0.
inline Status parse24(const QByteArray& bytes)
{
    Status st;
    const QString reply = QString::fromLatin1(bytes);
    static const QRegularExpression group(QStringLiteral("[0-9A-F]{4}"));
    int from = 0;
    auto it = group.globalMatch(reply);
    while (it.hasNext()) {
        const auto m = it.next();
        st.codes << m.captured(0).toInt(nullptr, 16);
        from = int(m.capturedEnd());
    }
    static const QRegularExpression sensor(QStringLiteral("Sensor-([0-9A-Fa-f]+)-"));
    const auto m = sensor.match(reply, from);
    if (m.hasMatch() && m.capturedStart() > 0)
        st.sensor = m.captured(1).toInt(nullptr, 16) & 0xFFFF;
    return st;
}

inline QByteArray hex(quint32 v, int width)
{
    return QByteArray::number(v, 16).toUpper().rightJustified(width, '0');
}

} // namespace wire
