#include "sim/simtruth.h"

#include <QFile>

namespace simtruth {

void record(const Entry& e)
{
    const QString path = qEnvironmentVariable("VELA_SIM_TRUTH");
    if (path.isEmpty())
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QByteArray line = QByteArray::number(e.id, 16).rightJustified(8, '0').toUpper() + ' '
        + QByteArray::number(e.clotHundredths) + ' ' + QByteArray::number(e.pointCount) + ' '
        + e.position + ' ' + e.item + ' ' + QByteArray::number(e.dilution) + ' ' + e.method + '\n';
    file.write(line); // one write: lines of several processes do not interleave
}

QHash<quint32, Entry> read(const QString& path)
{
    QHash<quint32, Entry> entries;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    while (!file.atEnd()) {
        const QList<QByteArray> f = file.readLine().trimmed().split(' ');
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

} // namespace simtruth
