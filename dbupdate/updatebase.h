#ifndef UPDATEBASE_H
#define UPDATEBASE_H

#include <QObject>
#include <QSqlRecord>
#include <QString>
#include <QStringList>

class QSqlQuery;

// Writes the one-line failure report of a failed statement:
// "<module> ( <site> ):  <error> : [ <statement> ] ".
void reportSqlError(const QSqlQuery &query, const char *module, int site);

// Common base of the database upgraders. The constructor opens the database
// file on the default connection and reads its schema version once; the
// upgraders decide every step on that number, even after they rewrite it.
class UpdateBase : public QObject
{
    Q_OBJECT
public:
    UpdateBase(const QString &fileName, QObject *parent);
    ~UpdateBase() override;

    int schemaVersion() const { return m_version; }
    QString fileName() const { return m_fileName; }
    // The copy of the file made before its first change, or empty when
    // nothing has been changed in this run.
    QString backupFileName() const;
    virtual bool upgrade() = 0;

    bool execSql(const QString &statement, const char *module, int site);
    bool renameTable(const QString &from, const QString &to);
    bool copyTable(const QString &target, const QString &source,
                   const QSqlRecord &fields = QSqlRecord(),
                   const QStringList &dropColumns = QStringList());

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
    // backup table. Only the drop may fail.
    bool rebuildTable(const QString &table, const QString &createSql,
                      const QString &indexSql, const char *module,
                      RebuildSites sites);

private:
    bool ensureBackup();
    bool copyAllRowsAtOnce(const QString &target, const QString &source,
                           const QStringList &columns);
    bool copyRowByRow(const QString &target, const QString &source,
                      const QSqlRecord &fields, const QStringList &dropColumns);

    qint32 m_version = 0;
    QString m_fileName;
    bool m_backedUp = false;
};

#endif // UPDATEBASE_H
