#pragma once

// Threads the tests start beside the code under test. QThread::wait orders
// nothing that ThreadSanitizer can see (Qt records a thread's end inside its
// library), so a test that reads what its thread wrote after the wait would
// be reported as racing: these threads tell the sanitizer of their end, and
// the test joins them with join() (core/threadhandoff.h) instead of wait().

#include "core/threadhandoff.h"

#include <QThread>

#include <memory>
#include <utility>

namespace testsupport {

template <typename Function>
QThread* createThread(Function&& function)
{
    return QThread::create([function = std::forward<Function>(function)]() mutable {
        const handoff::Ending ending(QThread::currentThread());
        function();
    });
}

// QThread::wait(ms) for a thread of createThread(), told to the sanitizer.
inline bool join(QThread* thread, int ms)
{
    return handoff::join(thread, QDeadlineTimer(ms));
}

inline bool join(const std::unique_ptr<QThread>& thread, int ms)
{
    return join(thread.get(), ms);
}

} // namespace testsupport
