#include "updatebase.h"

#include <QFile>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QDebug>

namespace {

const char baseModule[] = "updatebase";

QSqlDatabase defaultDatabase()
{
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
}

// Runs a statement of the copy's own bookkeeping (savepoints, transaction);
// these are not upgrade steps and have no site of their own.
bool execControl(const QString &statement)
{
    QSqlQuery query(defaultDatabase());
    if (query.exec(statement))
        return true;
    qWarning().noquote() << "updatebase: " << statement << ": " << query.lastError().text();
    return false;
}

} // namespace

void reportSqlError(const QSqlQuery &query, const char *module, int site)
{
    // Every item is followed by one blank, the last one included, so that
    // the report reads "updatedata ( 15 ):  <error> : [ <statement> ] ".
    const QStringList items = {
        QString::fromLatin1(module), QStringLiteral("("), QString::number(site),
        QStringLiteral("): "), query.lastError().text(), QStringLiteral(": ["),
        query.lastQuery(), QStringLiteral("]")
    };
    QString report;
    for (const QString &item : items)
        report += item + QLatin1Char(' ');
    qWarning().nospace().noquote() << report;
}

UpdateBase::UpdateBase(const QString &fileName, QObject *parent)
    : QObject(parent), m_fileName(fileName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(fileName);
    if (!db.open()) {
        qWarning("Can't open %s: %s", qPrintable(fileName),
                 db.lastError().text().toUtf8().constData());
    }
    // A missing table, a failed query or an empty table all read as 0.
    QSqlQuery query(db);
    if (query.exec(QStringLiteral("select version from version")) && query.first())
        m_version = query.value(0).toInt();
}

UpdateBase::~UpdateBase()
{
    // Release the file before the next upgrader opens its own database
    // under the same connection name.
    {
        QSqlDatabase db = defaultDatabase();
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}

QString UpdateBase::backupFileName() const
{
    return m_backedUp ? m_fileName + QLatin1String(".bak") : QString();
}

bool UpdateBase::ensureBackup()
{
    if (m_backedUp || !defaultDatabase().isOpen())
        return true;
    // The connection has read the file (and rolled back any journal left by
    // an interrupted run), and nothing has been written yet: the file on
    // disk is the database as it was before this run. QSaveFile makes the
    // copy appear whole or not at all.
    const QString backupName = m_fileName + QLatin1String(".bak");
    QFile original(m_fileName);
    QSaveFile backup(backupName);
    bool ok = original.open(QIODevice::ReadOnly) && backup.open(QIODevice::WriteOnly);
    while (ok && !original.atEnd()) {
        const QByteArray chunk = original.read(1 << 20);
        ok = !chunk.isEmpty() || original.atEnd();
        if (ok && !chunk.isEmpty())
            ok = backup.write(chunk) == chunk.size();
    }
    if (ok)
        ok = backup.commit();
    else
        backup.cancelWriting();
    if (!ok) {
        const QString error = original.error() != QFileDevice::NoError
                ? original.errorString() : backup.errorString();
        qWarning("Can't back up %s to %s: %s; %s is left unchanged", qPrintable(m_fileName),
                 qPrintable(backupName), qPrintable(error), qPrintable(m_fileName));
        return false;
    }
    m_backedUp = true;
    qDebug("%s copied to %s before upgrading", qPrintable(m_fileName), qPrintable(backupName));
    return true;
}

bool UpdateBase::execSql(const QString &statement, const char *module, int site)
{
    // Every statement run here may change the database, so none runs
    // before the file has been backed up.
    if (!ensureBackup())
        return false;
    QSqlQuery query(defaultDatabase());
    if (query.exec(statement))
        return true;
    reportSqlError(query, module, site);
    return false;
}

bool UpdateBase::renameTable(const QString &from, const QString &to)
{
    return execSql(QStringLiteral("alter table %1 rename to %2").arg(from, to), baseModule, 40);
}

bool UpdateBase::copyTable(const QString &target, const QString &source,
                           const QSqlRecord &fields, const QStringList &dropColumns)
{
    if (!ensureBackup())
        return false;
    QStringList columns;
    {
        QSqlQuery query(defaultDatabase());
        if (!query.exec(QLatin1String("select * from ") + source)) {
            // Reported, then treated as a source without rows.
            reportSqlError(query, baseModule, 48);
            return true;
        }
        const QSqlRecord record = query.record();
        for (int i = 0; i < record.count(); ++i) {
            if (!dropColumns.contains(record.fieldName(i)))
                columns << record.fieldName(i);
        }
    }
    // One statement copies the rows in a fraction of the time that single
    // inserts take. When it fails (a row the target rejects), nothing of it
    // stays, and the rows are inserted one by one to find and report the
    // failing row while keeping the rows before it.
    if (fields.isEmpty() && copyAllRowsAtOnce(target, source, columns))
        return true;
    return copyRowByRow(target, source, fields, dropColumns);
}

bool UpdateBase::copyAllRowsAtOnce(const QString &target, const QString &source,
                                   const QStringList &columns)
{
    if (columns.isEmpty())
        return false;
    const QSqlDriver *driver = defaultDatabase().driver();
    QStringList quoted;
    for (const QString &column : columns)
        quoted << driver->escapeIdentifier(column, QSqlDriver::FieldName);
    const QString list = quoted.join(QLatin1String(", "));
    const QString statement = QStringLiteral("insert into %1 (%2) select %2 from %3")
            .arg(target, list, source);

    if (!execControl(QStringLiteral("savepoint copy_table")))
        return false;
    QSqlQuery query(defaultDatabase());
    if (query.exec(statement)) {
        query.finish();
        if (execControl(QStringLiteral("release copy_table")))
            return true;
    }
    query.finish();
    execControl(QStringLiteral("rollback to copy_table"));
    execControl(QStringLiteral("release copy_table"));
    return false;
}

bool UpdateBase::copyRowByRow(const QString &target, const QString &source,
                              const QSqlRecord &fields, const QStringList &dropColumns)
{
    QSqlDatabase db = defaultDatabase();
    // One transaction, so that the rows cost one disk sync in all; it is
    // committed on every way out, so the rows before a failing row stay.
    const bool inTransaction = execControl(QStringLiteral("begin"));
    bool ok = true;
    {
        QSqlQuery rows(db);
        rows.setForwardOnly(true);
        if (!rows.exec(QLatin1String("select * from ") + source)) {
            reportSqlError(rows, baseModule, 48);
        } else {
            QSqlQuery insert(db);
            while (ok && rows.next()) {
                QSqlRecord row = rows.record();
                for (const QString &column : dropColumns) {
                    const int index = row.indexOf(column);
                    if (index >= 0)
                        row.remove(index);
                }
                for (int i = 0; i < fields.count(); ++i) {
                    const QSqlField field = fields.field(i);
                    const int index = row.indexOf(field.name());
                    if (index >= 0)
                        row.setValue(index, field.value());
                    else
                        row.append(field);
                }
                const QString statement =
                        db.driver()->sqlStatement(QSqlDriver::InsertStatement, target, row, false);
                if (!insert.exec(statement)) {
                    reportSqlError(insert, baseModule, 70);
                    ok = false;
                }
            }
        }
    }
    if (inTransaction && !execControl(QStringLiteral("commit")))
        return false;
    return ok;
}

bool UpdateBase::rebuildTable(const QString &table, const QString &createSql,
                              const QString &indexSql, const char *module, RebuildSites sites)
{
    const QString backup = table + QLatin1String("_bak");
    if (!renameTable(table, backup))
        return false;
    if (!execSql(createSql, module, sites.create))
        return false;
    if (!indexSql.isEmpty() && !execSql(indexSql, module, sites.index))
        return false;
    if (!copyTable(table, backup))
        return false;
    execSql(QLatin1String("drop table ") + backup, module, sites.drop);
    return true;
}
