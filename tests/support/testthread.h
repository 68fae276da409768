#pragma once

// Threads the tests start beside the code under test, and their bounded
// join. Plain QThread: in the ThreadSanitizer build the hand-offs Qt makes
// inside its library, a thread's end before its join among them, are told
// to the sanitizer for every program (tests/tsan/qtsyncnotes.cpp).

#include <QDeadlineTimer>
#include <QThread>

#include <memory>
#include <utility>

namespace testsupport {

template <typename Function>
QThread* createThread(Function&& function)
{
    return QThread::create(std::forward<Function>(function));
}

// QThread::wait(ms): true when the thread has ended within ms.
inline bool join(QThread* thread, int ms)
{
    return thread->wait(QDeadlineTimer(ms));
}

inline bool join(const std::unique_ptr<QThread>& thread, int ms)
{
    return join(thread.get(), ms);
}

} // namespace testsupport
