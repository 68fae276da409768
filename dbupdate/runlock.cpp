#include "runlock.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

RunLock::RunLock()
    : m_lock(QStringLiteral("dbupdate.lock"))
{
}

bool RunLock::acquire(QString* error)
{
    if (m_lock.tryLock(0))
        return true;
    if (m_lock.error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString application;
        m_lock.getLockInfo(&pid, &host, &application);
        *error = QStringLiteral("another dbupdate (process %1) is upgrading the databases in this "
                                "folder")
                     .arg(pid);
    } else {
        *error = QStringLiteral("can't create the lock file dbupdate.lock");
    }
    return false;
}

bool checkNoWriters(const QStringList& files, QString* error)
{
    const QString connection = QStringLiteral("dbupdate-writer-check");
    bool free = true;
    for (const QString& file : files) {
        if (!QFileInfo::exists(file))
            continue;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
            db.setDatabaseName(file);
            // A writer that is only finishing a short transaction gets a
            // moment; one that keeps its transaction open stops the run.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=1000"));
            if (db.open()) {
                QSqlQuery query(db);
                // Takes the write lock that a writer holds, and gives it back
                // at once without having written anything.
                if (query.exec(QStringLiteral("begin immediate"))) {
                    query.exec(QStringLiteral("rollback"));
                } else {
                    const int code = query.lastError().nativeErrorCode().toInt() & 0xff;
                    if (code == 5 || code == 6) { // SQLITE_BUSY, SQLITE_LOCKED
                        *error = QStringLiteral("%1 is in use by another program that is writing to "
                                                "it (%2)")
                                     .arg(file, query.lastError().databaseText());
                        free = false;
                    }
                }
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(connection);
        if (!free)
            break;
    }
    return free;
}
