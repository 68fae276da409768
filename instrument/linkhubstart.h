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

// How the wait for the start signal ended.
enum class Outcome {
    Signalled,  // the program released the semaphore
    Ended,      // it ended first: a second instance that found one serving
                // the port, or a program that failed at start
    NoSignal,   // the deadline passed while it ran
    NotStarted, // it could not be started
};

struct Started
{
    qint64 pid = 0; // 0 when it could not be started
    Outcome outcome = Outcome::NotStarted;
};

// Starts the program detached, with no arguments, and waits until it has
// released the semaphore; the count is left as it was found. The wait ends
// early when the program cannot be started or has already ended, and at the
// deadline at the latest. Only a program that could not be started is
// warned of here: whether an ended one was a fault shows when the caller
// connects.
Started startAndWait(const QDeadlineTimer& deadline);

// Whether the process started by startAndWait still runs.
bool isRunning(qint64 pid);

} // namespace LinkhubStart
