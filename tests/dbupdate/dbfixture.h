#pragma once

#include <QByteArray>
#include <QMap>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>

// Databases as the host application leaves them at each schema version,
// and a way to run the built dbupdate on a folder of them.
namespace fixture {

// An own connection to one database file, closed and removed on scope exit.
class Db
{
public:
    explicit Db(const QString& path);
    ~Db();
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    bool isOpen() const { return m_db.isOpen(); }
    // Runs each statement; stops at the first failure, whose text goes to
    // lastError().
    bool exec(const QStringList& statements);
    bool exec(const QString& statement) { return exec(QStringList{statement}); }
    // First column of the first row, or an invalid value.
    QVariant value(const QString& sql);
    QList<QVariantList> rows(const QString& sql);
    bool hasTable(const QString& name);
    // The definition SQLite keeps for a table, index or trigger.
    QString storedSql(const QString& name);
    QString lastError() const { return m_error; }

private:
    QString m_name;
    QSqlDatabase m_db;
    QString m_error;
};

// Builders return an empty string on success, else the failing statement
// and error.
QString createDataDb(const QString& path, int version);
QString createProfileDb(const QString& path, int version);
QString createQcDb(const QString& path);
// All three databases in `dir`: profile.db and data.db at the given
// versions, qc.db as the host creates it.
QString createInstallation(const QString& dir, int profileVersion, int dataVersion);

// Adds `count` rows to each lookup table of data.db, ids from 1000 on.
QString addLookupRows(const QString& path, int count);

// Lookup tables of data.db with the rows every fixture gives them.
QStringList lookupTables();

// Objects of other tables that name the tables an upgrade rebuilds: a
// table with foreign keys, a trigger and a view in data.db for the six
// lookup tables, the same in profile.db for `user`. Every fixture has them.
QStringList dataForeignObjects();
QStringList profileForeignObjects();
// Their stored SQL, one per line, as the database at `path` holds it.
QString foreignObjectsSql(const QString& path);
QList<QVariantList> lookupRows();

struct Run
{
    int exitCode = -1;
    bool finished = false;
    QByteArray standardOutput;
    QByteArray standardError;
    QByteArray log; // contents of the log file when one was named
};
// Runs dbupdate in `dir` with `arguments`; when `logName` is not empty it
// is the first argument and the log file's contents come back in `log`.
// A `wrapper` (a program and its arguments) runs dbupdate under it.
Run runDbUpdate(const QString& dir, const QStringList& arguments = {}, const QString& logName = QString(),
                const QStringList& wrapper = {});
QString dbUpdateProgram();

// Rows as "a | b | NULL" lines, so that values compare by content.
QStringList asText(const QList<QVariantList>& rows);

QByteArray fileContents(const QString& path);
// Every file in `dir` with its contents.
QMap<QString, QByteArray> folderContents(const QString& dir);
// Every table's rows in order, plus the stored schema, as text; the rows of
// the tables in `skipTables` are left out.
QString dump(const QString& path, const QStringList& skipTables = {});

} // namespace fixture
