#pragma once

#include "backup.h"

#include <QList>
#include <QObject>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

class QSqlError;
class QSqlQuery;

// Writes the one-line failure report of a failed statement:
// "<module> ( <site> ):  <error> : [ <statement> ] ".
void reportSqlError(const QSqlQuery& query, const char* module, int site);

// True for the failures that say nothing about the step itself but about
// the disk, the file or the machine: full, I/O error, busy or locked,
// out of memory, damaged, can't open, read-only, not a database. Such a
// failure stops the whole upgrade of the database, whatever the step.
bool isFatalSqlError(const QSqlError& error);

// Common base of the database upgraders. The constructor opens the database
// file on the default connection and reads its schema version once; the
// upgraders decide every step on that number, even after they rewrite it.
class UpdateBase : public QObject
{
    Q_OBJECT
public:
    UpdateBase(const QString& fileName, QObject* parent);
    ~UpdateBase() override;

    // In a dry run the databases are opened read-only (a missing one is not
    // created) and every statement is listed on standard output instead of
    // being run. Set before the first upgrader is made.
    static void setDryRun(bool dryRun);
    static bool isDryRun();

    int schemaVersion() const { return m_version; }
    QString fileName() const { return m_fileName; }
    // The version the upgrade writes, or -1 when it keeps the version.
    virtual int targetVersion() const = 0;
    virtual bool upgrade() = 0;

    // The whole upgrade of the database: one write transaction that keeps
    // other writers out, the checks before and after, the backup, and
    // upgrade(). A step that had to succeed and failed keeps what the steps
    // before it did; a fatal failure (isFatalSqlError) keeps nothing.
    // Returns true when the database is upgraded and sound.
    bool run();

    bool execSql(const QString& statement, const char* module, int site);
    bool renameTable(const QString& from, const QString& to);
    bool copyTable(const QString& target, const QString& source, const QSqlRecord& fields = QSqlRecord(),
                   const QStringList& dropColumns = QStringList());

protected:
    // Site numbers of the create, index and drop steps of one rebuild.
    struct RebuildSites
    {
        int create;
        int index;
        int drop;
    };
    // Renames `table` to "<table>_bak", creates it anew with `createSql`
    // (and `indexSql` unless empty), copies the rows back and drops the
    // backup table. Only the drop may fail. Triggers and indexes of the
    // old table that the new one lacks are made again on it.
    bool rebuildTable(const QString& table, const QString& createSql, const QString& indexSql, const char* module,
                      RebuildSites sites);

private:
    // A statement of the upgrade's own bookkeeping (transaction, savepoint,
    // pragma); these have no site of their own.
    bool execControl(const QString& statement);
    // Remembers a fatal failure; from then on no statement runs. `where`
    // names the step in the message.
    void noteFailure(const QSqlError& error, const QString& where);
    struct AttachedObject
    {
        QString type;
        QString name;
        QString sql;
    };
    QList<AttachedObject> attachedObjects(const QString& table);
    bool copyAllRowsAtOnce(const QString& target, const QString& source, const QStringList& columns);
    bool copyRowByRow(const QString& target, const QString& source, const QSqlRecord& fields,
                      const QStringList& dropColumns);
    void reportProblems(const QStringList& problems, const char* when) const;
    void printPlanHeader() const;
    bool finish(bool upgraded, const QStringList& problemsBefore);

    qint32 m_version = 0;
    QString m_fileName;
    Backup m_backup;
    bool m_missing = false;
    bool m_wasEmpty = false;
    bool m_stopped = false;
};
