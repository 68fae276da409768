#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

class ClotCurve;

// The host's own databases in the data folder (the current directory):
// "profile.db", "data.db", "qc.db" and "syslog.db", in the schema of a fresh
// installation that the upgrade tool dbupdate then brings up to date.
namespace hostdatabase {

// Creates the tables of every database file that is missing or holds no
// table, through a private connection (before Profile opens them). Names the
// files it set up in *created. False with *error when a file cannot be
// written.
bool prepare(QStringList* created, QString* error);

// Runs programDir/dbupdate in the current directory with the log file
// "dbupdate.log". Returns its exit code; -1 when the program is not there,
// -2 when it could not be run or did not end within a minute.
int runUpgrade(const QString& programDir, QString* detail);

// The id of the patient row of sample number sampleNo on date, through
// Profile's results connection; the row is made when missing. -1 on a
// database error (*error tells).
int patientId(const QString& sampleNo, const QDate& date, QString* error);

// Stores a result value for the patient and item, replacing an earlier one.
bool saveResult(int patientId, const QString& item, double value, QString* error);

// Stores one finished assay in "data.db" in one committed transaction: the
// patient row of sampleNo on date, the curve blob (an earlier one for the
// item goes first) and, when hasValue, the result row. Either all of it is
// there afterwards or none of it. *patient is the patient row's id.
bool storeFinished(const QString& sampleNo, const QDate& date, const QString& item, bool hasValue, double value,
                   const ClotCurve& curve, int* patient, QString* error);

// A result stored earlier for sampleNo on date under item: true with its
// value and the number of points of its curve; false when there is none.
bool storedResult(const QString& sampleNo, const QDate& date, const QString& item, double* value, int* points);

} // namespace hostdatabase
