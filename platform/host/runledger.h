#pragma once

#include "worklistfile.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

// What the host keeps of its runs in the data folder, so that a run of a
// worklist that was cut short (the host killed or crashed) can be resumed:
// the file "velahost-runs.json" names each unfinished run by the digest of
// its worklist and gives the date its results are stored under.
//
// A run's date is the date it began: a run resumed after midnight stores
// under the same date as its first part, so that one run is never split
// over two days. A run that ends with every entry holding a result is taken
// off the file; the same worklist run again after that is a new run.
//
// The stored results themselves are the truth about what is done: the file
// only says which date to look under, and each entry is found there by its
// sample number and its item key (resultKeys).
namespace runledger {

// The digest of a worklist: every field of every entry, in order. Two lists
// with the same digest have the same entries in the same places.
QByteArray digest(const QList<WorklistEntry>& entries);

// The item key each entry's result is stored under: the assay name, and for
// the n-th entry of the same sample and assay (n > 1) the name followed by
// " n". Stable for one worklist, so a resumed run finds each entry's row.
QStringList resultKeys(const QList<WorklistEntry>& entries);

struct Run
{
    QDate date;           // results of this run are stored under it
    bool resumed = false; // an unfinished run of this worklist was found
};

// Begins a run of the worklist with this digest in folder dir: the
// unfinished one when there is one, else a new one dated today, written to
// the file before the first result is stored. False with *error when the
// file cannot be read or written (a damaged file is set aside, not used).
bool begin(const QString& dir, const QByteArray& digest, const QDate& today, Run* run, QString* error);

// The run of this digest is complete: it is taken off the file.
bool finish(const QString& dir, const QByteArray& digest, QString* error);

} // namespace runledger
