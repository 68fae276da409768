#include "linkhubstart.h"

#include "linktrace.h"

#include <QCoreApplication>
#include <QFile>
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

namespace LinkhubStart {

bool isRunning(qint64 pid)
{
    if (pid <= 0)
        return false;
#ifdef Q_OS_UNIX
    if ((::kill(pid_t(pid), 0) != 0 && errno != EPERM))
        return false;
#ifdef Q_OS_LINUX
    // A detached program that ended may stay a zombie where nobody reaps
    // orphans (a container without an init): it has ended all the same.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const int close = text.lastIndexOf(')');
        if (close > 0 && close + 2 < text.size()) {
            const char state = text.at(close + 2);
            return state != 'Z' && state != 'X';
        }
    }
#endif
    return true;
#else
    return true;
#endif
}

} // namespace LinkhubStart

namespace {

// Waits on the semaphore in a helper thread: QSystemSemaphore::acquire
// cannot time out.
class SemaphoreWaiter : public QThread
{
public:
    explicit SemaphoreWaiter(const QString& key)
        : m_key(key)
    {
    }
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

Started startAndWait(const QDeadlineTimer& deadline)
{
    const QString key = semaphoreKey();
    // Opened before the start, so that a release made at once is not lost.
    QSystemSemaphore semaphore(key, 0, QSystemSemaphore::Open);

    Started started;
    const QString path = program();
    if (!QProcess::startDetached(path, QStringList(), QString(), &started.pid)) {
        qCWarning(lcLink).noquote() << "cannot start" << path;
        return Started();
    }
    const qint64 pid = started.pid;

    SemaphoreWaiter waiter(key);
    waiter.start();
    bool waited = false;
    bool ended = false;
    while (!(waited = waiter.done.tryAcquire(1, 50))) {
        if (deadline.hasExpired())
            break;
        if (!isRunning(pid)) {
            ended = true;
            break;
        }
    }
    if (waited && waiter.acquired) {
        // Leave the count as found for the next connection.
        semaphore.release();
        started.outcome = Outcome::Signalled;
        qCDebug(lcLink).noquote() << path << "pid" << pid << "gave its start signal on" << key;
    } else {
        qCDebug(lcLink).noquote() << path << "pid" << pid << (ended ? "ended without" : "gave no") << "start signal on"
                                  << key;
        // Wake the waiter with a release of our own, which it takes back.
        if (!waited)
            semaphore.release();
        started.outcome = ended ? Outcome::Ended : Outcome::NoSignal;
    }
    waiter.wait();
    return started;
}

} // namespace LinkhubStart
