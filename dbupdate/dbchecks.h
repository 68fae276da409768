#pragma once

#include <QSqlDatabase>
#include <QStringList>

// What SQLite's own checks find wrong in a database: the lines of
// "PRAGMA integrity_check" other than "ok", and one line per row of
// "PRAGMA foreign_key_check". A check that cannot run is a problem too.
QStringList findProblems(QSqlDatabase db);

// The problems of `after` that `before` did not have.
QStringList newProblems(const QStringList& before, const QStringList& after);
