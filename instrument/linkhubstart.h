#pragma once

#include <QDeadlineTimer>
#include <QString>

// Starting Linkhub, the program that owns the analyzer's serial port.
//
// Program: "Linkhub" in the host program's folder ("Linkhub.exe" on
// Windows), or the program named by VELA_LINKHUB. Readiness: Linkhub
// releases the system semaphore "LinkhubStart" (VELA_LINKHUB_KEY names
// another key) once it listens.
namespace LinkhubStart {

QString program();
QString semaphoreKey();

// Starts the program detached, with no arguments, and waits until it has
// released the semaphore; the count is left as it was found. The wait ends
// early when the program cannot be started or has already ended (a second
// instance that found one running), and at the deadline at the latest.
// Returns the program's process id, 0 when it could not be started.
qint64 startAndWait(const QDeadlineTimer& deadline);

// Whether the process started by startAndWait still runs.
bool isRunning(qint64 pid);

} // namespace LinkhubStart
