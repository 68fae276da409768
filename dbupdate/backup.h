#pragma once

#include <QString>

// The copy "<file>.bak" of a database as it was before the first attempt to
// upgrade it. While an upgrade of the file has not succeeded, the marker
// "<file>.upgrading" says so, and later runs keep the copy instead of
// replacing it with the half-upgraded file. A successful upgrade removes
// the marker; its copy then stays until the next run replaces it.
class Backup
{
public:
    explicit Backup(const QString& databaseFile);

    QString fileName() const { return m_backupFile; }
    QString markerName() const { return m_markerFile; }

    // Makes the copy, or keeps the one an unfinished earlier upgrade left,
    // and sets the marker. The copy carries the original's permissions and
    // appears whole or not at all. On failure `error` says why; the database
    // file is not touched either way.
    bool secure(QString* error);
    // True when secure() kept the copy of an earlier, unfinished upgrade.
    bool keptEarlierCopy() const { return m_keptEarlier; }
    // The upgrade has succeeded: the next run may replace the copy.
    void release();

private:
    bool copyFile(QString* error);

    QString m_databaseFile;
    QString m_backupFile;
    QString m_markerFile;
    bool m_keptEarlier = false;
};
