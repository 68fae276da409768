#include "backup.h"

#include <QFile>
#include <QSaveFile>

Backup::Backup(const QString& databaseFile)
    : m_databaseFile(databaseFile)
    , m_backupFile(databaseFile + QLatin1String(".bak"))
    , m_markerFile(databaseFile + QLatin1String(".upgrading"))
{
}

bool Backup::secure(QString* error)
{
    m_keptEarlier = QFile::exists(m_markerFile) && QFile::exists(m_backupFile);
    if (!m_keptEarlier && !copyFile(error))
        return false;
    QFile marker(m_markerFile);
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || marker.write(QByteArray(qPrintable(m_backupFile))
                        + " holds the database as it was before the first attempt of an "
                          "upgrade that has not succeeded yet\n")
               < 0
        || !marker.flush()) {
        *error = QStringLiteral("can't write %1: %2").arg(m_markerFile, marker.errorString());
        marker.close();
        // Without the marker a later run would replace the copy; the upgrade
        // does not start, so the copy it would protect is not needed yet.
        if (!m_keptEarlier)
            QFile::remove(m_markerFile);
        return false;
    }
    return true;
}

void Backup::release()
{
    QFile::remove(m_markerFile);
}

bool Backup::copyFile(QString* error)
{
    QFile original(m_databaseFile);
    QSaveFile copy(m_backupFile);
    bool ok = original.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly);
    // Patient records stay as private as the original: the permissions are
    // set before the first byte is written.
    if (ok)
        ok = copy.setPermissions(original.permissions());
    while (ok && !original.atEnd()) {
        const QByteArray chunk = original.read(1 << 20);
        ok = !chunk.isEmpty() || original.atEnd();
        if (ok && !chunk.isEmpty())
            ok = copy.write(chunk) == chunk.size();
    }
    if (ok)
        ok = copy.commit();
    else
        copy.cancelWriting();
    if (!ok) {
        *error = original.error() != QFileDevice::NoError ? original.errorString() : copy.errorString();
    }
    return ok;
}
