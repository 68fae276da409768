#include "sim/simtruth.h"

#include "sim/simhex.h"

#include <QDateTime>
#include <QFile>

namespace simtruth {

namespace {

const QByteArray strikeTag = "fault";
const QByteArray releaseTag = "released";

void append(const QByteArray& line)
{
    const QString path = qEnvironmentVariable("VELA_SIM_TRUTH");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    file.write(line); // one write: lines of several processes do not interleave
}

QByteArray orDash(const QByteArray& field)
{
    return field.isEmpty() ? QByteArray("-") : field;
}

QList<QList<QByteArray>> lines(const QString& path)
{
    QList<QList<QByteArray>> all;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return all;
    while (!file.atEnd())
        all.append(file.readLine().trimmed().split(' '));
    return all;
}

} // namespace

void record(const Entry& e)
{
    append(simhex::field(e.id, 8) + ' ' + QByteArray::number(e.clotHundredths) + ' ' + QByteArray::number(e.pointCount)
           + ' ' + e.position + ' ' + e.item + ' ' + QByteArray::number(e.dilution) + ' ' + e.method + '\n');
}

void recordStrike(const QByteArray& kind, const QByteArray& request, int delayMs)
{
    Strike s;
    s.atMs = QDateTime::currentMSecsSinceEpoch();
    s.kind = kind;
    s.command = request.startsWith('/') ? QByteArray() : request.left(2);
    s.testId = testIdOf(request);
    s.delayMs = delayMs;
    append(strikeTag + ' ' + QByteArray::number(s.atMs) + ' ' + orDash(s.kind) + ' ' + orDash(s.command) + ' '
           + (s.testId ? simhex::field(s.testId, 8) : QByteArray("-")) + ' ' + QByteArray::number(s.delayMs) + '\n');
}

void recordRelease(quint32 id)
{
    append(releaseTag + ' ' + simhex::field(id, 8) + '\n');
}

QSet<quint32> readReleases(const QString& path)
{
    QSet<quint32> ids;
    for (const QList<QByteArray>& f : lines(path)) {
        bool ok = false;
        const quint32 id = f.size() == 2 && f.at(0) == releaseTag ? f.at(1).toUInt(&ok, 16) : 0;
        if (ok)
            ids.insert(id);
    }
    return ids;
}

quint32 testIdOf(const QByteArray& request)
{
    static const QList<QByteArray> naming{"31", "32", "34", "60"};
    quint32 id = 0;
    if (!naming.contains(request.left(2)) || !simhex::read(request, 2, 8, &id))
        return 0;
    return id;
}

QHash<quint32, Entry> read(const QString& path)
{
    QHash<quint32, Entry> entries;
    for (const QList<QByteArray>& f : lines(path)) {
        if (f.size() != 7)
            continue;
        Entry e;
        bool ok = false;
        e.id = f.at(0).toUInt(&ok, 16);
        if (!ok)
            continue;
        e.clotHundredths = f.at(1).toInt();
        e.pointCount = f.at(2).toInt();
        e.position = f.at(3);
        e.item = f.at(4);
        e.dilution = f.at(5).toInt();
        e.method = f.at(6);
        entries.insert(e.id, e);
    }
    return entries;
}

QList<Strike> readStrikes(const QString& path)
{
    QList<Strike> strikes;
    for (const QList<QByteArray>& f : lines(path)) {
        if (f.size() != 6 || f.at(0) != strikeTag)
            continue;
        Strike s;
        bool ok = false;
        s.atMs = f.at(1).toLongLong(&ok);
        if (!ok)
            continue;
        s.kind = f.at(2);
        s.command = f.at(3) == "-" ? QByteArray() : f.at(3);
        s.testId = f.at(4) == "-" ? 0 : f.at(4).toUInt(nullptr, 16);
        s.delayMs = f.at(5).toInt();
        strikes.append(s);
    }
    return strikes;
}

} // namespace simtruth
