// The main thread and a thread started as the driver starts its own
// (QThread), one counter written by both with no lock: a data race
// ThreadSanitizer must report. A program detached before it, as the driver
// starts Linkhub, must not blind the sanitizer.
// Beside it, hand-offs made correctly with the plain Qt calls, as the
// product code makes them: a semaphore, a wait condition, a reader-writer
// lock and the end of a thread that has ended before the join, which the
// sanitizer must not report (it sees them through qtsyncnotes.cpp). The
// sanitizer script runs this program and looks for the report naming
// plantedRace, and for no other.

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QReadWriteLock>
#include <QSemaphore>
#include <QThread>
#include <QWaitCondition>

#include <cstdio>

namespace {

int counter = 0;

__attribute__((noinline)) void plantedRace()
{
    for (int i = 0; i < 1000; ++i)
        ++counter;
}

// Each value is written by the producer and read by the main thread after
// the hand-off named beside it.
int handedOver = 0; // semaphore
QSemaphore ready;
bool flag = false; // wait condition
QMutex mutex;
QWaitCondition changed;
QSemaphore waiting; // the main thread holds the mutex and is about to wait
int entries = 0;    // reader-writer lock
QReadWriteLock table;
int lastWord = 0; // the thread's end

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
        ready.release();
        waiting.acquire();
        {
            // Locked only once the wait has let go of it inside Qt.
            QMutexLocker lock(&mutex);
            flag = true;
            changed.wakeAll();
        }
        {
            QWriteLocker lock(&table);
            ++entries;
        }
        lastWord = 7;
    });
    producer->start();
    ready.acquire();
    const int got = handedOver;
    {
        QMutexLocker lock(&mutex);
        waiting.release();
        while (!flag)
            changed.wait(&mutex);
    }
    int seen = 0;
    {
        QReadLocker lock(&table);
        seen = entries;
    }
    // Ended before the join: the join itself orders nothing inside Qt.
    while (!producer->isFinished())
        QThread::yieldCurrentThread();
    producer->wait();
    const int last = lastWord;
    delete producer;
    std::printf("%d %d %d %d\n", counter, got, seen, last);
    return 0;
}
