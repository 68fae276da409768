// The main thread and a thread started as the driver starts its own
// (QThread), one counter written by both with no lock: a data race
// ThreadSanitizer must report. A program detached before it, as the driver
// starts Linkhub, must not blind the sanitizer.
// Beside it, hand-offs made correctly through a semaphore, a wait condition,
// a reader-writer lock and the end of a thread (core/threadhandoff.h), which
// it must not report. The sanitizer script runs this program and looks for
// the report naming plantedRace.

#include "core/threadhandoff.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>

#include <cstdio>

namespace {

int counter = 0;

__attribute__((noinline)) void plantedRace()
{
    for (int i = 0; i < 1000; ++i)
        ++counter;
}

// A value written before a release and read after the acquire: ordered.
int handedOver = 0;
QSemaphore ready;
QMutex mutex;
QWaitCondition changed;
bool flag = false;
QReadWriteLock table;
int entries = 0;

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);

    if (!QProcess::startDetached(QStringLiteral("true"), QStringList()))
        std::fprintf(stderr, "could not start a detached program\n");

    QThread* a = QThread::create(plantedRace);
    a->start();
    plantedRace();
    a->wait();
    delete a;

    QThread* producer = QThread::create([] {
        handedOver = 42;
        handoff::release(ready);
        {
            QMutexLocker lock(&mutex);
            flag = true;
            changed.wakeAll();
        }
        {
            const handoff::WriteLocker lock(&table);
            ++entries;
        }
        handoff::ending(QThread::currentThread());
    });
    producer->start();
    handoff::acquire(ready);
    const int got = handedOver;
    {
        QMutexLocker lock(&mutex);
        while (!flag)
            handoff::wait(changed, &mutex);
    }
    int seen = 0;
    {
        const handoff::ReadLocker lock(&table);
        seen = entries;
    }
    handoff::join(producer);
    delete producer;
    std::printf("%d %d %d %d\n", counter, got, seen, entries);
    return 0;
}
