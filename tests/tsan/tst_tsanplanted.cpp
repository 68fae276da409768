// Two threads started as the driver starts its own (QThread), one counter
// written by both with no lock: a data race ThreadSanitizer must report.
// Beside it, hand-offs made correctly through a semaphore, a wait condition
// and the end of a thread (core/threadhandoff.h), which it must not report. The sanitizer
// script runs this program and looks for the report naming plantedRace.

#include "core/threadhandoff.h"

#include <QCoreApplication>
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

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);

    QThread* a = QThread::create(plantedRace);
    QThread* b = QThread::create(plantedRace);
    a->start();
    b->start();
    a->wait();
    b->wait();
    delete a;
    delete b;

    QThread* producer = QThread::create([] {
        handedOver = 42;
        handoff::release(ready);
        {
            QMutexLocker lock(&mutex);
            flag = true;
            changed.wakeAll();
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
    handoff::join(producer);
    delete producer;
    std::printf("%d %d\n", counter, got);
    return 0;
}
