#pragma once

// Hand-offs between threads through QSemaphore, QWaitCondition and
// QReadWriteLock, told to ThreadSanitizer. Qt does the waiting and locking
// inside its library, which a sanitizer build of this project does not
// instrument: without these notes the sanitizer sees neither the order a
// semaphore makes between release and acquire, nor that
// QWaitCondition::wait lets go of the mutex and takes it again, nor a
// reader-writer lock at all. In any other build each call is the plain Qt
// call.

#include <QDeadlineTimer>
#include <QMutex>
#include <QReadWriteLock>
#include <QSemaphore>
#include <QThread>
#include <QWaitCondition>

#if defined(__SANITIZE_THREAD__)
#define VELA_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VELA_TSAN 1
#endif
#endif

#ifdef VELA_TSAN
#include <sanitizer/tsan_interface.h>
#endif

namespace handoff {

#ifdef VELA_TSAN
inline void released(const void* channel) { __tsan_release(const_cast<void*>(channel)); }
inline void acquired(const void* channel) { __tsan_acquire(const_cast<void*>(channel)); }
inline void unlockedInside(QMutex* mutex)
{
    __tsan_mutex_pre_unlock(mutex, 0);
    __tsan_mutex_post_unlock(mutex, 0);
}
inline void lockedInside(QMutex* mutex)
{
    __tsan_mutex_pre_lock(mutex, 0);
    __tsan_mutex_post_lock(mutex, 0, 0);
}
inline void readLockedInside(QReadWriteLock* lock)
{
    __tsan_mutex_pre_lock(lock, __tsan_mutex_read_lock);
    __tsan_mutex_post_lock(lock, __tsan_mutex_read_lock, 0);
}
inline void readUnlockedInside(QReadWriteLock* lock)
{
    __tsan_mutex_pre_unlock(lock, __tsan_mutex_read_lock);
    __tsan_mutex_post_unlock(lock, __tsan_mutex_read_lock);
}
inline void writeLockedInside(QReadWriteLock* lock)
{
    __tsan_mutex_pre_lock(lock, 0);
    __tsan_mutex_post_lock(lock, 0, 0);
}
inline void writeUnlockedInside(QReadWriteLock* lock)
{
    __tsan_mutex_pre_unlock(lock, 0);
    __tsan_mutex_post_unlock(lock, 0);
}
#else
inline void released(const void*) {}
inline void acquired(const void*) {}
inline void unlockedInside(QMutex*) {}
inline void lockedInside(QMutex*) {}
inline void readLockedInside(QReadWriteLock*) {}
inline void readUnlockedInside(QReadWriteLock*) {}
inline void writeLockedInside(QReadWriteLock*) {}
inline void writeUnlockedInside(QReadWriteLock*) {}
#endif

// QReadLocker and QWriteLocker for a QReadWriteLock that several threads
// share. QReadWriteLock locks and unlocks inside Qt, so ThreadSanitizer
// would see neither; these tell it, as a reader-writer mutex.
template <bool ForWrite>
class RwLocker
{
public:
    explicit RwLocker(QReadWriteLock* lock) : m_lock(lock)
    {
        if constexpr (ForWrite) {
            m_lock->lockForWrite();
            writeLockedInside(m_lock);
        } else {
            m_lock->lockForRead();
            readLockedInside(m_lock);
        }
    }
    ~RwLocker()
    {
        if constexpr (ForWrite)
            writeUnlockedInside(m_lock);
        else
            readUnlockedInside(m_lock);
        m_lock->unlock();
    }
    RwLocker(const RwLocker&) = delete;
    RwLocker& operator=(const RwLocker&) = delete;

private:
    QReadWriteLock* m_lock;
};

using ReadLocker = RwLocker<false>;
using WriteLocker = RwLocker<true>;

inline void release(QSemaphore& semaphore, int n = 1)
{
    released(&semaphore);
    semaphore.release(n);
}

inline void acquire(QSemaphore& semaphore, int n = 1)
{
    semaphore.acquire(n);
    acquired(&semaphore);
}

// True when n were taken within `ms` (0: only what is there now).
inline bool tryAcquire(QSemaphore& semaphore, int n = 1, int ms = 0)
{
    const bool taken = ms == 0 ? semaphore.tryAcquire(n) : semaphore.tryAcquire(n, ms);
    if (taken)
        acquired(&semaphore);
    return taken;
}

// QWaitCondition::wait with `mutex` locked by the caller; it is locked
// again on return, as with Qt's call.
inline bool wait(QWaitCondition& condition, QMutex* mutex, QDeadlineTimer deadline = QDeadlineTimer::Forever)
{
    unlockedInside(mutex);
    const bool woken = condition.wait(mutex, deadline);
    lockedInside(mutex);
    return woken;
}

inline bool wait(QWaitCondition& condition, QMutex* mutex, unsigned long ms)
{
    return wait(condition, mutex, QDeadlineTimer(qint64(ms)));
}

// Qt's threads are detached and record their end under a mutex inside the
// library, so QThread::wait orders nothing the sanitizer can see. A thread
// whose last writes are read after the wait calls ending() last in run();
// the waiter calls join() instead of wait().
inline void ending(const QThread* thread) { released(thread); }

// ending() on every way out of a run(): declare one first in run().
class Ending
{
public:
    explicit Ending(const QThread* thread) : m_thread(thread) {}
    ~Ending() { ending(m_thread); }
    Ending(const Ending&) = delete;
    Ending& operator=(const Ending&) = delete;

private:
    const QThread* m_thread;
};

inline bool join(QThread* thread, QDeadlineTimer deadline = QDeadlineTimer::Forever)
{
    const bool ended = thread->wait(deadline);
    if (ended)
        acquired(thread);
    return ended;
}

} // namespace handoff
