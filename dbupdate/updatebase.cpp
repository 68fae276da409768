#include "updatebase.h"

#include "dbchecks.h"

#include <QDebug>
#include <QFileInfo>
#include <QPair>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>

#include <cstdio>

namespace {

const char baseModule[] = "updatebase";

bool dryRun = false;

QSqlDatabase defaultDatabase()
{
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
}

QString siteTag(const char* module, int site)
{
    return QStringLiteral("%1 ( %2 )").arg(QLatin1String(module)).arg(site);
}

// One line of a dry run's listing on standard output.
void printLine(const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
}

} // namespace

void reportSqlError(const QSqlQuery& query, const char* module, int site)
{
    // Every item is followed by one blank, the last one included, so that
    // the report reads "updatedata ( 15 ):  <error> : [ <statement> ] ".
    const QStringList items = {QString::fromLatin1(module), QStringLiteral("("),      QString::number(site),
                               QStringLiteral("): "),       query.lastError().text(), QStringLiteral(": ["),
                               query.lastQuery(),           QStringLiteral("]")};
    QString report;
    for (const QString& item : items)
        report += item + QLatin1Char(' ');
    qWarning().nospace().noquote() << report;
}

bool isFatalSqlError(const QSqlError& error)
{
    bool isNumber = false;
    // The SQLite driver gives the result code; the low byte is the primary
    // code also when an extended one is given.
    const int code = error.nativeErrorCode().toInt(&isNumber) & 0xff;
    if (!isNumber)
        return false;
    switch (code) {
    case 5:  // SQLITE_BUSY
    case 6:  // SQLITE_LOCKED
    case 7:  // SQLITE_NOMEM
    case 8:  // SQLITE_READONLY
    case 10: // SQLITE_IOERR
    case 11: // SQLITE_CORRUPT
    case 13: // SQLITE_FULL
    case 14: // SQLITE_CANTOPEN
    case 26: // SQLITE_NOTADB
        return true;
    default: return false;
    }
}

void UpdateBase::setDryRun(bool on)
{
    dryRun = on;
}

bool UpdateBase::isDryRun()
{
    return dryRun;
}

UpdateBase::UpdateBase(const QString& fileName, QObject* parent)
    : QObject(parent)
    , m_fileName(fileName)
    , m_backup(fileName)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(fileName);
    if (dryRun) {
        // A dry run neither creates a missing file nor writes to one.
        m_missing = !QFileInfo::exists(fileName);
        if (m_missing)
            return;
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    }
    if (!db.open()) {
        qWarning("Can't open %s: %s", qPrintable(fileName), db.lastError().text().toUtf8().constData());
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

bool UpdateBase::run()
{
    if (dryRun) {
        printPlanHeader();
        upgrade();
        return true;
    }
    QSqlDatabase db = defaultDatabase();
    // An upgrader that changes nothing needs no lock, copy or check; a file
    // that did not open fails at its first step that must succeed.
    if (targetVersion() < 0 || !db.isOpen())
        return upgrade() && !m_stopped;

    m_wasEmpty = QFileInfo(m_fileName).size() == 0;
    // Foreign keys are not enforced while tables are rebuilt; the pragma
    // has no effect inside a transaction, so it comes first.
    execControl(QStringLiteral("PRAGMA foreign_keys=OFF"));
    // The write lock comes before anything is read or copied: from here on
    // no other program can change the file under the upgrade, and a program
    // that is writing to it now makes the upgrade stop before it begins.
    {
        QSqlQuery begin(db);
        if (!begin.exec(QStringLiteral("begin immediate"))) {
            const QSqlError error = begin.lastError();
            const int code = error.nativeErrorCode().toInt() & 0xff;
            qWarning("Can't upgrade %s: %s%s; nothing was changed", qPrintable(m_fileName),
                     qPrintable(error.databaseText()),
                     code == 5 || code == 6 ? " (another program is writing to it)" : "");
            return false;
        }
    }
    const QStringList problemsBefore = findProblems(db);
    reportProblems(problemsBefore, "found before the upgrade");

    QString error;
    if (!m_backup.secure(&error)) {
        qWarning("Can't back up %s to %s: %s; %s is left unchanged", qPrintable(m_fileName),
                 qPrintable(m_backup.fileName()), qPrintable(error), qPrintable(m_fileName));
        QSqlQuery(db).exec(QStringLiteral("rollback"));
        return false;
    }
    if (m_backup.keptEarlierCopy()) {
        qDebug("%s is kept: it holds %s as it was before an earlier upgrade that did not succeed",
               qPrintable(m_backup.fileName()), qPrintable(m_fileName));
    } else {
        qDebug("%s copied to %s before upgrading", qPrintable(m_fileName), qPrintable(m_backup.fileName()));
    }
    return finish(upgrade(), problemsBefore);
}

bool UpdateBase::finish(bool upgraded, const QStringList& problemsBefore)
{
    QSqlDatabase db = defaultDatabase();
    // A step that had to succeed and failed keeps what the steps before it
    // did, as every run always has; only a fatal failure undoes the run.
    // A file that was empty stays empty: its first step failed, and the
    // write transaction alone would give it a database header.
    if (!m_stopped) {
        QSqlQuery commit(db);
        if (!commit.exec(QLatin1String(!upgraded && m_wasEmpty ? "rollback" : "commit"))) {
            qWarning("Can't commit the upgrade of %s: %s", qPrintable(m_fileName),
                     qPrintable(commit.lastError().text()));
            m_stopped = true;
        }
    }
    if (m_stopped) {
        // SQLite may have rolled back by itself; a rollback it could not
        // finish is finished when the file is next opened.
        QSqlQuery(db).exec(QStringLiteral("rollback"));
        qWarning("%s is left as it was before this run; %s holds it as it was before the first "
                 "attempt",
                 qPrintable(m_fileName), qPrintable(m_backup.fileName()));
        return false;
    }
    if (!upgraded) {
        qWarning("%s is left part-way upgraded; %s holds it as it was before the first attempt", qPrintable(m_fileName),
                 qPrintable(m_backup.fileName()));
        return false;
    }
    const QStringList added = newProblems(problemsBefore, findProblems(db));
    if (!added.isEmpty()) {
        reportProblems(added, "brought in by the upgrade");
        qWarning("%s is upgraded but has %lld new problem(s); %s holds it as it was before the "
                 "first attempt",
                 qPrintable(m_fileName), static_cast<long long>(added.size()), qPrintable(m_backup.fileName()));
        return false;
    }
    m_backup.release();
    return true;
}

void UpdateBase::reportProblems(const QStringList& problems, const char* when) const
{
    // A table full of broken references would drown the log; the first
    // lines show what is wrong, the count how much.
    const int shown = 100;
    for (int i = 0; i < problems.size() && i < shown; ++i)
        qWarning("%s: %s: %s", qPrintable(m_fileName), when, qPrintable(problems[i]));
    if (problems.size() > shown) {
        qWarning("%s: %s: %lld more", qPrintable(m_fileName), when, static_cast<long long>(problems.size() - shown));
    }
}

void UpdateBase::printPlanHeader() const
{
    QString line = m_fileName + QLatin1String(": ");
    if (m_missing)
        line += QLatin1String("not found, a run creates it empty; ");
    line += QStringLiteral("version %1").arg(m_version);
    if (targetVersion() < 0)
        line += QLatin1String(", nothing to do");
    else
        line += QStringLiteral(", target %1; the steps a run takes:").arg(targetVersion());
    printLine(line);
}

void UpdateBase::noteFailure(const QSqlError& error, const QString& where)
{
    if (m_stopped || !isFatalSqlError(error))
        return;
    m_stopped = true;
    qWarning("%s: %s: the upgrade of %s stops here, and nothing of this run is kept", qPrintable(where),
             qPrintable(error.databaseText()), qPrintable(m_fileName));
}

bool UpdateBase::execControl(const QString& statement)
{
    if (m_stopped)
        return false;
    QSqlQuery query(defaultDatabase());
    if (query.exec(statement))
        return true;
    qWarning().noquote() << "updatebase: " << statement << ": " << query.lastError().text();
    noteFailure(query.lastError(), QLatin1String(baseModule));
    return false;
}

bool UpdateBase::execSql(const QString& statement, const char* module, int site)
{
    if (m_stopped)
        return false;
    if (dryRun) {
        printLine(QStringLiteral("  %1 %2: %3").arg(QLatin1String(module)).arg(site).arg(statement.simplified()));
        return true;
    }
    QSqlQuery query(defaultDatabase());
    if (query.exec(statement))
        return true;
    reportSqlError(query, module, site);
    noteFailure(query.lastError(), siteTag(module, site));
    return false;
}

bool UpdateBase::renameTable(const QString& from, const QString& to)
{
    // Since SQLite 3.26 a rename also rewrites the foreign keys, triggers
    // and views of other tables that name the table, so that they would name
    // the backup table and break when it is dropped. The legacy rename
    // changes only the table itself (and moves its own indexes and triggers).
    if (!dryRun && !execControl(QStringLiteral("PRAGMA legacy_alter_table=ON")))
        return false;
    const bool renamed = execSql(QStringLiteral("alter table %1 rename to %2").arg(from, to), baseModule, 40);
    if (!dryRun && !execControl(QStringLiteral("PRAGMA legacy_alter_table=OFF")))
        return false;
    return renamed;
}

bool UpdateBase::copyTable(const QString& target, const QString& source, const QSqlRecord& fields,
                           const QStringList& dropColumns)
{
    if (m_stopped)
        return false;
    if (dryRun) {
        printLine(
            QStringLiteral("  %1 48, 70: copy every row of %2 into %3").arg(QLatin1String(baseModule), source, target));
        return true;
    }
    QStringList columns;
    {
        QSqlQuery query(defaultDatabase());
        if (!query.exec(QLatin1String("select * from ") + source)) {
            // A source that can't be read is not an empty one: the copy
            // fails, and the rows stay where they are.
            reportSqlError(query, baseModule, 48);
            noteFailure(query.lastError(), siteTag(baseModule, 48));
            return false;
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
    if (m_stopped)
        return false;
    return copyRowByRow(target, source, fields, dropColumns);
}

bool UpdateBase::copyAllRowsAtOnce(const QString& target, const QString& source, const QStringList& columns)
{
    if (columns.isEmpty())
        return false;
    const QSqlDriver* driver = defaultDatabase().driver();
    QStringList quoted;
    for (const QString& column : columns)
        quoted << driver->escapeIdentifier(column, QSqlDriver::FieldName);
    const QString list = quoted.join(QLatin1String(", "));
    const QString statement = QStringLiteral("insert into %1 (%2) select %2 from %3").arg(target, list, source);

    if (!execControl(QStringLiteral("savepoint copy_table")))
        return false;
    QSqlQuery query(defaultDatabase());
    if (query.exec(statement)) {
        query.finish();
        if (execControl(QStringLiteral("release copy_table")))
            return true;
    } else if (isFatalSqlError(query.lastError())) {
        reportSqlError(query, baseModule, 70);
        noteFailure(query.lastError(), siteTag(baseModule, 70));
        return false;
    }
    query.finish();
    execControl(QStringLiteral("rollback to copy_table"));
    execControl(QStringLiteral("release copy_table"));
    return false;
}

bool UpdateBase::copyRowByRow(const QString& target, const QString& source, const QSqlRecord& fields,
                              const QStringList& dropColumns)
{
    QSqlDatabase db = defaultDatabase();
    // A savepoint outside a transaction is one transaction, so that the rows
    // cost one disk sync in all; inside the run's transaction it nests. It
    // is released on every way out, so the rows before a failing row stay.
    const bool inTransaction = execControl(QStringLiteral("savepoint copy_rows"));
    bool ok = true;
    {
        QSqlQuery rows(db);
        rows.setForwardOnly(true);
        if (!rows.exec(QLatin1String("select * from ") + source)) {
            reportSqlError(rows, baseModule, 48);
            noteFailure(rows.lastError(), siteTag(baseModule, 48));
            ok = false;
        } else {
            QSqlQuery insert(db);
            while (ok && rows.next()) {
                QSqlRecord row = rows.record();
                for (const QString& column : dropColumns) {
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
                const QString statement = db.driver()->sqlStatement(QSqlDriver::InsertStatement, target, row, false);
                if (!insert.exec(statement)) {
                    reportSqlError(insert, baseModule, 70);
                    noteFailure(insert.lastError(), siteTag(baseModule, 70));
                    ok = false;
                }
            }
            // A row that can't be read ends the rows as the last one does;
            // only the error tells the two apart.
            if (ok && rows.lastError().isValid()) {
                reportSqlError(rows, baseModule, 48);
                noteFailure(rows.lastError(), siteTag(baseModule, 48));
                ok = false;
            }
        }
    }
    if (inTransaction && !execControl(QStringLiteral("release copy_rows")))
        return false;
    return ok && !m_stopped;
}

QList<UpdateBase::AttachedObject> UpdateBase::attachedObjects(const QString& table)
{
    QList<AttachedObject> objects;
    QSqlQuery query(defaultDatabase());
    query.prepare(QStringLiteral("select type, name, sql from sqlite_master where type in ('index', "
                                 "'trigger') and sql is not null and lower(tbl_name) = lower(?) "
                                 "order by rowid"));
    query.addBindValue(table);
    if (!query.exec()) {
        noteFailure(query.lastError(), QLatin1String(baseModule));
        return objects;
    }
    while (query.next())
        objects.append({query.value(0).toString(), query.value(1).toString(), query.value(2).toString()});
    return objects;
}

bool UpdateBase::rebuildTable(const QString& table, const QString& createSql, const QString& indexSql,
                              const char* module, RebuildSites sites)
{
    const QString backup = table + QLatin1String("_bak");
    // The table's own indexes and triggers move with it to the backup table
    // and go when that is dropped; their definitions make them again on the
    // new table. A dry run drops nothing.
    const QList<AttachedObject> attached = dryRun ? QList<AttachedObject>() : attachedObjects(table);
    if (m_stopped || !renameTable(table, backup))
        return false;
    if (!execSql(createSql, module, sites.create))
        return false;
    if (!indexSql.isEmpty() && !execSql(indexSql, module, sites.index))
        return false;
    if (!copyTable(table, backup))
        return false;
    execSql(QLatin1String("drop table ") + backup, module, sites.drop);
    for (const AttachedObject& object : attached) {
        QSqlQuery exists(defaultDatabase());
        exists.prepare(QStringLiteral("select count(*) from sqlite_master where type = ? and name = ?"));
        exists.addBindValue(object.type);
        exists.addBindValue(object.name);
        // Still there when the drop failed, or when the new table's own
        // index has its name: then it stays as it is.
        if (!exists.exec() || !exists.first() || exists.value(0).toInt() > 0) {
            noteFailure(exists.lastError(), QLatin1String(baseModule));
            continue;
        }
        execSql(object.sql, module, sites.create);
    }
    return !m_stopped;
}
