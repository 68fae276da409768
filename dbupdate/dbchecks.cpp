#include "dbchecks.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

QStringList findProblems(QSqlDatabase db)
{
    QStringList problems;
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("PRAGMA integrity_check"))) {
            problems << QLatin1String("integrity check failed: ") + query.lastError().text();
        } else {
            while (query.next()) {
                const QString line = query.value(0).toString();
                if (line != QLatin1String("ok"))
                    problems << QLatin1String("integrity check: ") + line;
            }
        }
    }
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA foreign_key_check"))) {
        problems << QLatin1String("foreign key check failed: ") + query.lastError().text();
        return problems;
    }
    // Columns: child table, rowid of the child row (null for a table
    // without rowid), parent table, index of the foreign key in the child.
    while (query.next()) {
        problems << QStringLiteral("foreign key check: %1 row %2 refers to a missing row of %3 "
                                   "(foreign key %4)")
                        .arg(query.value(0).toString(),
                             query.value(1).isNull() ? QStringLiteral("?") : query.value(1).toString(),
                             query.value(2).toString(), query.value(3).toString());
    }
    if (query.lastError().isValid())
        problems << QLatin1String("foreign key check failed: ") + query.lastError().text();
    return problems;
}

QStringList newProblems(const QStringList& before, const QStringList& after)
{
    const QSet<QString> known(before.cbegin(), before.cend());
    QStringList added;
    for (const QString& problem : after) {
        if (!known.contains(problem))
            added << problem;
    }
    return added;
}
