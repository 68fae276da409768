#include "linkhubstart.h"

#include "linktrace.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSemaphore>
#include <QSystemSemaphore>
#include <QThread>

#include <atomic>
#include <memory>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <signal.h>
#endif

namespace {

bool processAlive(qint64 pid)
{
#ifdef Q_OS_UNIX
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
#else
    Q_UNUSED(pid);
    return true;
#endif
}

// Waits on the semaphore in a helper thread: QSystemSemaphore::acquire
// cannot time out.
class SemaphoreWaiter : public QThread
{
public:
    explicit SemaphoreWaiter(const QString& key) : m_key(key) {}
    QSemaphore done;
    std::atomic<bool> acquired{false};

protected:
    void run() override
    {
        QSystemSemaphore semaphore(m_key, 0, QSystemSemaphore::Open);
        acquired = semaphore.acquire();
        done.release();
    }

private:
    QString m_key;
};

} // namespace

namespace LinkhubStart {

QString program()
{
    const QString named = qEnvironmentVariable("VELA_LINKHUB");
    if (!named.isEmpty())
        return named;
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Linkhub.exe");
#else
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Linkhub");
#endif
}

QString semaphoreKey()
{
    const QString key = qEnvironmentVariable("VELA_LINKHUB_KEY");
    return key.isEmpty() ? QStringLiteral("LinkhubStart") : key;
}

bool startAndWait(const QDeadlineTimer& deadline)
{
    const QString key = semaphoreKey();
    // Opened before the start, so that a release made at once is not lost.
    QSystemSemaphore semaphore(key, 0, QSystemSemaphore::Open);

    qint64 pid = 0;
    const QString path = program();
    if (!QProcess::startDetached(path, QStringList(), QString(), &pid)) {
        qCWarning(lcLink).noquote() << "cannot start" << path;
        return false;
    }

    SemaphoreWaiter waiter(key);
    waiter.start();
    bool waited = false;
    while (!(waited = waiter.done.tryAcquire(1, 50))) {
        if (deadline.hasExpired() || !processAlive(pid))
            break;
    }
    if (waited && waiter.acquired) {
        // Leave the count as found for the next connection.
        semaphore.release();
    } else {
        qCWarning(lcLink).noquote() << path << "gave no start signal on" << key;
        // Wake the waiter with a release of our own, which it takes back.
        if (!waited)
            semaphore.release();
    }
    waiter.wait();
    return true;
}

} // namespace LinkhubStart
