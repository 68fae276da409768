#pragma once

#include <QLockFile>
#include <QString>
#include <QStringList>

// Keeps one upgrade at a time in an installation folder: the lock file
// "dbupdate.lock" there, held while the run lasts. A lock left by a process
// that no longer runs is taken over.
class RunLock
{
public:
    RunLock();
    // False, with the reason in `error`, when another dbupdate holds the
    // lock or the lock file can't be made.
    bool acquire(QString* error);

private:
    QLockFile m_lock;
};

// False, with the reason in `error`, when another program is writing to one
// of the existing database `files` now. Files that do not exist are left
// alone (and not created).
bool checkNoWriters(const QStringList& files, QString* error);
