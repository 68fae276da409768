// Notes to ThreadSanitizer on the hand-offs Qt makes inside its own library,
// for the ThreadSanitizer build only (CMake option VELA_TSAN, set by
// scripts/sanitize.sh tsan). That build instruments this project's code but
// not Qt's, so the sanitizer sees neither the order a semaphore makes
// between release and acquire, nor the unlock and relock of the mutex inside
// QWaitCondition::wait, nor a reader-writer lock, nor the end of a thread
// before its join.
//
// Every program and library of that build links this library ahead of
// QtCore, so the definitions below stand in for QtCore's exported functions
// of the same names wherever this project calls them (the dynamic loader
// takes the first definition it finds). Each calls QtCore's own function
// (dlsym with RTLD_NEXT) and tells the sanitizer what it ordered. Calls Qt
// makes inside its library are bound there and pass by these notes. The
// product code itself calls the plain Qt functions and knows nothing of this.

#if !defined(__SANITIZE_THREAD__)
#error "qtsyncnotes.cpp belongs to the ThreadSanitizer build (-fsanitize=thread) only"
#endif

#include <QDeadlineTimer>
#include <QMutex>
#include <QReadWriteLock>
#include <QSemaphore>
#include <QThread>
#include <QVariant>
#include <QWaitCondition>

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

namespace {

// QtCore's definition of a function that this library stands in for.
template <typename Function>
Function qtCore(const char* symbol)
{
    void* function = dlsym(RTLD_NEXT, symbol);
    if (!function) {
        std::fprintf(stderr, "qtsyncnotes: %s not found after this library\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Function>(function);
}

// What a thread did before released(x) happens before what another thread
// does after a later acquired(x).
void released(const void* object)
{
    __tsan_release(const_cast<void*>(object));
}
void acquired(const void* object)
{
    __tsan_acquire(const_cast<void*>(object));
}

// For the calls that may give up: acquired only when it was taken.
bool acquiredIf(bool taken, const void* object)
{
    if (taken)
        acquired(object);
    return taken;
}

} // namespace

// --- QSemaphore: release orders what came before it with the acquire that
// takes what it released.

void QSemaphore::acquire(int n)
{
    static const auto real = qtCore<void (*)(QSemaphore*, int)>("_ZN10QSemaphore7acquireEi");
    real(this, n);
    acquired(this);
}

bool QSemaphore::tryAcquire(int n)
{
    static const auto real = qtCore<bool (*)(QSemaphore*, int)>("_ZN10QSemaphore10tryAcquireEi");
    return acquiredIf(real(this, n), this);
}

bool QSemaphore::tryAcquire(int n, int timeout)
{
    static const auto real = qtCore<bool (*)(QSemaphore*, int, int)>("_ZN10QSemaphore10tryAcquireEii");
    return acquiredIf(real(this, n, timeout), this);
}

void QSemaphore::release(int n)
{
    static const auto real = qtCore<void (*)(QSemaphore*, int)>("_ZN10QSemaphore7releaseEi");
    released(this);
    real(this, n);
}

// --- QWaitCondition: the caller's mutex is unlocked and locked again inside
// the wait. QMutex tells the sanitizer of its locking itself (Qt's header
// does, in this build), but not of what happens to it inside Qt.

namespace {

void unlockedInside(QMutex* mutex)
{
    __tsan_mutex_pre_unlock(mutex, 0);
    __tsan_mutex_post_unlock(mutex, 0);
}

void lockedInside(QMutex* mutex)
{
    __tsan_mutex_pre_lock(mutex, 0);
    __tsan_mutex_post_lock(mutex, 0, 0);
}

} // namespace

bool QWaitCondition::wait(QMutex* lockedMutex, QDeadlineTimer deadline)
{
    static const auto real = qtCore<bool (*)(QWaitCondition*, QMutex*, QDeadlineTimer)>(
        "_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    unlockedInside(lockedMutex);
    const bool woken = real(this, lockedMutex, deadline);
    lockedInside(lockedMutex);
    return woken;
}

bool QWaitCondition::wait(QMutex* lockedMutex, unsigned long time)
{
    static const auto real = qtCore<bool (*)(QWaitCondition*, QMutex*, unsigned long)>(
        "_ZN14QWaitCondition4waitEP6QMutexm");
    unlockedInside(lockedMutex);
    const bool woken = real(this, lockedMutex, time);
    lockedInside(lockedMutex);
    return woken;
}

// --- QReadWriteLock: every unlock is a release, every lock an acquire. This
// orders readers among themselves too, which the lock does not: a race
// between two readers goes unseen, none is reported that is not there.

void QReadWriteLock::lockForRead()
{
    static const auto real = qtCore<void (*)(QReadWriteLock*)>("_ZN14QReadWriteLock11lockForReadEv");
    real(this);
    acquired(this);
}

bool QReadWriteLock::tryLockForRead()
{
    static const auto real = qtCore<bool (*)(QReadWriteLock*)>("_ZN14QReadWriteLock14tryLockForReadEv");
    return acquiredIf(real(this), this);
}

bool QReadWriteLock::tryLockForRead(int timeout)
{
    static const auto real = qtCore<bool (*)(QReadWriteLock*, int)>("_ZN14QReadWriteLock14tryLockForReadEi");
    return acquiredIf(real(this, timeout), this);
}

void QReadWriteLock::lockForWrite()
{
    static const auto real = qtCore<void (*)(QReadWriteLock*)>("_ZN14QReadWriteLock12lockForWriteEv");
    real(this);
    acquired(this);
}

bool QReadWriteLock::tryLockForWrite()
{
    static const auto real = qtCore<bool (*)(QReadWriteLock*)>("_ZN14QReadWriteLock15tryLockForWriteEv");
    return acquiredIf(real(this), this);
}

bool QReadWriteLock::tryLockForWrite(int timeout)
{
    static const auto real = qtCore<bool (*)(QReadWriteLock*, int)>("_ZN14QReadWriteLock15tryLockForWriteEi");
    return acquiredIf(real(this, timeout), this);
}

void QReadWriteLock::unlock()
{
    static const auto real = qtCore<void (*)(QReadWriteLock*)>("_ZN14QReadWriteLock6unlockEv");
    released(this);
    real(this);
}

// --- QThread: Qt's threads are detached and record their end under a lock
// inside Qt. The thread's finished signal, emitted in the ending thread
// after run() has returned, releases; a wait that saw the end acquires.

void QThread::start(Priority priority)
{
    static const auto real = qtCore<void (*)(QThread*, Priority)>("_ZN7QThread5startENS_8PriorityE");
    static const char noted[] = "velaTsanEndNoted";
    if (!property(noted).toBool()) {
        setProperty(noted, true);
        connect(
            this, &QThread::finished, this, [this] { released(this); }, Qt::DirectConnection);
    }
    real(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto real = qtCore<bool (*)(QThread*, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    return acquiredIf(real(this, deadline), this);
}
