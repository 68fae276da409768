#include "runledger.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace runledger {

namespace {

const char* const fileName = "velahost-runs.json";

bool readRuns(const QString& path, QJsonObject* runs, QString* error)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    file.close();
    if (doc.isObject()) {
        *runs = doc.object();
        return true;
    }
    // Never read as empty: that would start every unfinished run anew.
    const QString aside = path + QStringLiteral(".damaged-")
                          + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    if (!QFile::rename(path, aside)) {
        *error = QStringLiteral("%1 is damaged (%2) and cannot be set aside").arg(path, parseError.errorString());
        return false;
    }
    qWarning().noquote()
        << QStringLiteral("velahost: %1 was damaged (%2); set aside as %3").arg(path, parseError.errorString(), aside);
    return true;
}

bool writeRuns(const QString& path, const QJsonObject& runs, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(runs).toJson()) < 0 || !file.commit()) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

QByteArray digest(const QList<WorklistEntry>& entries)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const WorklistEntry& e : entries) {
        for (const QString& field : {e.sample, e.position, e.assay, e.dilution, e.method}) {
            hash.addData(field.toUtf8());
            hash.addData(QByteArrayView("\x1f", 1));
        }
        hash.addData(QByteArrayView("\x1e", 1));
    }
    return hash.result().toHex();
}

QStringList resultKeys(const QList<WorklistEntry>& entries)
{
    QHash<QString, int> seen; // "sample\nassay" -> entries so far
    QStringList keys;
    for (const WorklistEntry& e : entries) {
        const int n = ++seen[e.sample + QLatin1Char('\n') + e.assay];
        keys << (n > 1 ? QStringLiteral("%1 %2").arg(e.assay).arg(n) : e.assay);
    }
    return keys;
}

bool begin(const QString& dir, const QByteArray& digest, const QDate& today, Run* run, QString* error)
{
    const QString path = QDir(dir).filePath(QLatin1String(fileName));
    QJsonObject runs;
    if (!readRuns(path, &runs, error))
        return false;
    const QString key = QString::fromLatin1(digest);
    const QDate date = QDate::fromString(runs.value(key).toObject().value(QStringLiteral("date")).toString(),
                                         Qt::ISODate);
    if (date.isValid()) {
        run->date = date;
        run->resumed = true;
        return true;
    }
    run->date = today;
    run->resumed = false;
    QJsonObject entry;
    entry.insert(QStringLiteral("date"), today.toString(Qt::ISODate));
    entry.insert(QStringLiteral("began"), QDateTime::currentDateTime().toString(Qt::ISODate));
    runs.insert(key, entry);
    return writeRuns(path, runs, error);
}

bool finish(const QString& dir, const QByteArray& digest, QString* error)
{
    const QString path = QDir(dir).filePath(QLatin1String(fileName));
    QJsonObject runs;
    if (!readRuns(path, &runs, error))
        return false;
    if (!runs.contains(QString::fromLatin1(digest)))
        return true;
    runs.remove(QString::fromLatin1(digest));
    return writeRuns(path, runs, error);
}

} // namespace runledger
