// Rebuild of one lookup table of 100 000 rows: dbupdate's five steps
// (rename, create, index, copy, drop) as a run takes them, with its write
// transaction, the checks before and after and the backup of the file,
// against a single transaction that creates the new table and
// fills it with one INSERT ... SELECT. Both run on the same disk in the same
// run; the ratio is dbupdate / reference.
//
// Usage: bench_dbupdate [rows [rounds [folder]]]

#include "updatebase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char createSql[] =
    "create table department(\n\tid integer primary key,\n\tabbr text COLLATE NOCASE,\n\tname text)";
const char indexSql[] = "create index if not exists department_index on department (abbr)";

class LookupRebuild : public UpdateBase
{
public:
    LookupRebuild(const QString& fileName, const QString& create)
        : UpdateBase(fileName, nullptr)
        , m_create(create)
    {
    }
    int targetVersion() const override { return 1; }
    bool upgrade() override
    {
        return rebuildTable(QStringLiteral("department"), m_create, QString::fromLatin1(indexSql), "bench", {1, 2, 3});
    }

private:
    QString m_create;
};

bool exec(QSqlDatabase& db, const QString& statement)
{
    QSqlQuery query(db);
    if (query.exec(statement))
        return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(statement), qPrintable(query.lastError().text()));
    return false;
}

// An old-style lookup table of `rows` rows; `duplicateLast` makes the last
// abbreviation repeat the first one in another case.
bool makeDatabase(const QString& path, int rows, bool duplicateLast)
{
    QFile::remove(path);
    bool ok;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("make"));
        db.setDatabaseName(path);
        ok = db.open() && exec(db, QStringLiteral("begin"))
             && exec(db, QStringLiteral("create table department(id integer primary key, abbr text, name text)"))
             && exec(db, QStringLiteral("with recursive n(i) as (select 1 union all select i + 1 from n where i < %1) "
                                        "insert into department select i, 'd' || i, 'department number ' || i from n")
                             .arg(rows))
             && (!duplicateLast
                 || exec(db, QStringLiteral("update department set abbr = 'D1' where id = %1").arg(rows)))
             && exec(db, QStringLiteral("commit"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("make"));
    return ok;
}

double rebuildByDbUpdate(const QString& path, const QString& create, bool* ok)
{
    LookupRebuild rebuild(path, create);
    QElapsedTimer timer;
    timer.start();
    *ok = rebuild.run();
    return timer.nsecsElapsed() / 1e6;
}

double rebuildByReference(const QString& path, bool* ok)
{
    double ms = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reference"));
        db.setDatabaseName(path);
        db.open();
        QElapsedTimer timer;
        timer.start();
        *ok = exec(db, QStringLiteral("begin"))
              && exec(db, QString::fromLatin1(createSql).replace(QLatin1String("department("),
                                                                 QLatin1String("department_new(")))
              && exec(db, QStringLiteral("create index department_new_index on department_new (abbr)"))
              && exec(db, QStringLiteral("insert into department_new select * from department"))
              && exec(db, QStringLiteral("commit"));
        ms = timer.nsecsElapsed() / 1e6;
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reference"));
    return ms;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

// The backup notes of every round would drown the figures; warnings stay.
void quietHandler(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

int main(int argc, char* argv[])
{
    qInstallMessageHandler(quietHandler);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rows = args.size() > 1 ? args[1].toInt() : 100000;
    const int rounds = args.size() > 2 ? args[2].toInt() : 5;
    QTemporaryDir dir(args.size() > 3 ? args[3] + QLatin1String("/bench-dbupdate-XXXXXX") : QString());
    if (!dir.isValid() || rows < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_dbupdate [rows [rounds [folder]]]\n");
        return 2;
    }
    const QString path = dir.filePath(QStringLiteral("data.db"));
    std::printf("lookup table of %d rows, %d rounds, in %s\n", rows, rounds, qPrintable(dir.path()));

    std::vector<double> tool, reference;
    for (int round = 0; round < rounds; ++round) {
        bool ok = makeDatabase(path, rows, false);
        const double t = ok ? rebuildByDbUpdate(path, QString::fromLatin1(createSql), &ok) : 0;
        if (!ok)
            return 1;
        ok = makeDatabase(path, rows, false);
        const double r = ok ? rebuildByReference(path, &ok) : 0;
        if (!ok)
            return 1;
        tool.push_back(t);
        reference.push_back(r);
        std::printf("round %d: dbupdate rebuild %8.1f ms, insert ... select %8.1f ms\n", round + 1, t, r);
    }
    const double t = median(tool), r = median(reference);
    std::printf("median: dbupdate rebuild %.1f ms (%.2f us/row), insert ... select %.1f ms (%.2f us/row)\n", t,
                1000 * t / rows, r, 1000 * r / rows);
    std::printf("ratio dbupdate / insert ... select: %.2f (target <= 3)\n", t / r);

    // The fallback: a new table with unique abbreviations rejects the last
    // row, so the rows are copied one by one to find it, in one transaction.
    bool ok = makeDatabase(path, rows, true);
    if (ok) {
        std::printf("failing copy (its report follows):\n");
        std::fflush(stdout);
        const QString uniqueCreate = QString::fromLatin1(createSql).replace(QLatin1String("abbr text"),
                                                                            QLatin1String("abbr text unique"));
        const double f = rebuildByDbUpdate(path, uniqueCreate, &ok);
        std::printf("failing copy, row by row up to the last row: %.1f ms (%.2f us/row), copy %s\n", f, 1000 * f / rows,
                    ok ? "succeeded (unexpected)" : "failed as it must");
    }
    return 0;
}
