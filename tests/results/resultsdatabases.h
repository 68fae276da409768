#pragma once

#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

// Gives dir the four database files the settings store opens, each with the
// tables the result and curve code use, and makes dir the current directory
// (the store opens its files relative to it). Call before the first
// Profile::instance(). Returns an error text, empty on success.
inline QString prepareResultsDatabases(const QString& dir)
{
    const struct
    {
        const char* file;
        const char* schema;
    } files[] = {
        {"profile.db", "create table profile (name text primary key, value)"},
        {"data.db", "create table curve (patientId integer, item text, curve blob)"},
        {"qc.db", "create table qc (id integer primary key)"},
        {"syslog.db", "create table syslog (id integer primary key)"},
    };
    QString error;
    for (const auto& f : files) {
        const QString name = QStringLiteral("prepare-%1").arg(QLatin1String(f.file));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(QDir(dir).filePath(QLatin1String(f.file)));
            if (!db.open()) {
                error = db.lastError().text();
            } else {
                QSqlQuery q(db);
                if (!q.exec(QLatin1String(f.schema)))
                    error = q.lastError().text();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
        if (!error.isEmpty())
            return QStringLiteral("%1: %2").arg(QLatin1String(f.file), error);
    }
    if (!QDir::setCurrent(dir))
        return QStringLiteral("cannot change into %1").arg(dir);
    return QString();
}
