#include "replyparser.h"

#include "commandcodec.h"

#include <QRegularExpression>
#include <QTextCodec>

#include <cmath>

namespace ReplyParser {

namespace {

int hexDigit(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - '0';
    if (c >= u'A' && c <= u'F')
        return c.unicode() - 'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c.unicode() - 'a' + 10;
    return -1;
}

// Strict: every character a hex digit, nothing else (no sign, no blanks).
bool readHex(const QString& digits, int* value)
{
    if (digits.isEmpty() || digits.size() > 7)
        return false;
    int v = 0;
    for (QChar c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            return false;
        v = v * 16 + d;
    }
    *value = v;
    return true;
}

// Finds "<label><white space><four hex digits>"; returns the label's position
// or -1, and the value.
int findLabelledField(const QString& text, const QRegularExpression& field, int* value)
{
    const QRegularExpressionMatch m = field.match(text);
    if (!m.hasMatch())
        return -1;
    readHex(m.captured(1), value);
    return m.capturedStart(0);
}

QRegularExpression labelledField(const QString& label)
{
    return QRegularExpression(QRegularExpression::escape(label) + QStringLiteral("\\s*([0-9A-Fa-f]{4})"));
}

} // namespace

QString decodeReply(const QByteArray& reply)
{
    static QTextCodec* const gbk = QTextCodec::codecForName("GBK");
    return gbk ? gbk->toUnicode(reply) : QString::fromLocal8Bit(reply);
}

int TestReply::channelNumber() const
{
    int v = -1;
    return channel.size() == 2 && readHex(channel, &v) ? v : -1;
}

int TestReply::errorNumber() const
{
    int v = -1;
    return errorCode.size() == 2 && readHex(errorCode, &v) ? v : -1;
}

TestReply parseTestReply(const QByteArray& reply)
{
    TestReply r;
    r.text = decodeReply(reply);
    if (reply.startsWith("32XX")) {
        r.unknownTest = true;
        return r;
    }
    const QString status = r.text.mid(2, 2);
    r.parsed = status.size() == 2 && readHex(status, &r.status);
    if (!r.parsed) {
        r.status = -1;
        return r;
    }

    thread_local const QRegularExpression testTime = labelledField(QStringLiteral("测试时间:"));
    thread_local const QRegularExpression prewarmTime = labelledField(QStringLiteral("预温时间:"));
    thread_local const QRegularExpression prewarmTimeout = labelledField(QStringLiteral("预温超时时间:"));

    const int p = findLabelledField(r.text, testTime, &r.testTime);
    r.hasTestTime = p >= 0;
    if (r.hasTestTime && r.isFinal()) {
        if (p >= 8)
            r.channel = r.text.mid(p - 8, 2);
        if (p >= 5)
            r.errorCode = r.text.mid(p - 5, 2);
    }
    r.hasPrewarmTime = findLabelledField(r.text, prewarmTime, &r.prewarmTime) >= 0;
    r.hasPrewarmTimeout = findLabelledField(r.text, prewarmTimeout, &r.prewarmTimeout) >= 0;
    return r;
}

CurveReply parseCurveReply(const QByteArray& reply)
{
    CurveReply r;
    if (reply.startsWith("6000")) {
        r.noCurve = true;
        return r;
    }
    const int a = reply.indexOf('-');
    const int s = a + 1;
    const int b = reply.indexOf('-', s);
    if (b < s)
        return r;
    r.field = reply.mid(s, b - s);
    const int n = r.field.size() / 4;
    r.points.reserve(n);
    for (int k = 0; k < n; ++k) {
        int v = 0;
        if (!readHex(QString::fromLatin1(r.field.mid(4 * k, 4)), &v)) {
            r.points.clear();
            return r;
        }
        if (v == 0) {
            r.ended = true;
            break;
        }
        r.points.append(v);
    }
    r.parsed = true;
    return r;
}

StatusReply parseStatusReply(const QByteArray& reply)
{
    StatusReply r;
    const QString text = QString::fromLatin1(reply);

    // The sensor field is looked for first and the error codes only before
    // it, so that a four-digit sensor word is never taken for an error code.
    thread_local const QRegularExpression sensorRe(QStringLiteral("Sensor-([0-9A-Fa-f]+)-"));
    const QRegularExpressionMatch sensor = sensorRe.match(text);
    int codesEnd = text.size();
    if (sensor.hasMatch()) {
        codesEnd = sensor.capturedStart(0);
        bool ok = false;
        const uint w = sensor.captured(1).toUInt(&ok, 16);
        if (ok && w <= 0xFFFF) {
            r.hasSensorWord = true;
            r.sensorWord = quint16(w);
        }
    }

    thread_local const QRegularExpression codeRe(QStringLiteral("[0-9A-F]{4}"));
    QRegularExpressionMatchIterator it = codeRe.globalMatch(text.left(codesEnd));
    while (it.hasNext()) {
        int v = 0;
        readHex(it.next().captured(0), &v);
        r.errorCodes.append(v);
    }
    return r;
}

QStringList parseTemperatureTexts(const QByteArray& reply)
{
    return QString::fromLatin1(reply.mid(3)).split(u' ', Qt::SkipEmptyParts);
}

SetPointReply parseSetPointReply(const QByteArray& reply)
{
    SetPointReply r;
    r.valid = reply.startsWith("74-");
    if (!r.valid)
        return r;
    for (const QByteArray& part : reply.mid(3).split(' ')) {
        if (part.isEmpty())
            continue;
        // "nan" and "inf" read as numbers but are no set points.
        bool ok = false;
        const double v = part.toDouble(&ok);
        r.values.append(ok && std::isfinite(v) ? v : 0.0);
    }
    return r;
}

QList<ReagentVolume> parseReagentVolumes(const QByteArray& reply, QList<QByteArray>* badGroups)
{
    QList<ReagentVolume> volumes;
    for (int i = 2; i <= reply.size() - 4; i += 4) {
        if (hexField(reply, i + 2, 2) < 0) {
            if (badGroups)
                badGroups->append(reply.mid(i, 4));
            continue;
        }
        volumes.append({reply.mid(i, 2), hexToVolume(reply.mid(i + 2, 2))});
    }
    return volumes;
}

QByteArray parseMemoryReply(const QByteArray& reply)
{
    const int d = int((reply.size() - 2) / 2);
    if (d <= 0)
        return QByteArray();
    const QByteArray hex = reply.mid(2, 2 * d);
    for (char c : hex) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return QByteArray();
    }
    return QByteArray::fromHex(hex);
}

PlacementReply parsePlacementReply(const QByteArray& reply)
{
    PlacementReply r;
    if (!reply.startsWith("3111"))
        return r;
    r.accepted = true;
    const int free = hexField(reply, 4, 2);
    r.freeCount = free < 0 ? 0 : free;
    return r;
}

bool isLinkFault(const QByteArray& reply)
{
    return reply.isEmpty() || reply.startsWith("Err:");
}

bool isKnownTest(const QByteArray& reply)
{
    return reply.startsWith("32") && !matchesErrorReply(reply);
}

bool echoesOrder(const QByteArray& reply, const QByteArray& positionCode, const QByteArray& itemCode,
                 int dilutionFactor, char method)
{
    if (!isKnownTest(reply) || reply.size() < 20)
        return false;
    return reply.mid(13, 2) == zeroPadded(positionCode, 2) && reply.mid(15, 2) == zeroPadded(itemCode, 2)
           && reply.mid(17, 2) == QByteArray::number(dilutionFactor).rightJustified(2, '0') && reply.at(19) == method;
}

bool isReleaseRefused(const QByteArray& reply)
{
    return reply.startsWith("3400C0");
}

ModuleStateReply parseModuleStateReply(const QByteArray& reply)
{
    ModuleStateReply r;
    r.idle = reply.startsWith("5500");
    if (r.idle)
        return r;
    for (int i = 4; i + 4 <= reply.size(); i += 4) {
        const int code = hexField(reply, i, 4);
        if (code < 0)
            break;
        r.codes.append(code);
    }
    return r;
}

QStringList parseAnalyzerList(const QByteArray& reply)
{
    return QString::fromLatin1(reply).split(QLatin1Char(','), Qt::SkipEmptyParts);
}

} // namespace ReplyParser
