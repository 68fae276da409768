#pragma once

// Starting the built Linkhub and velasim, and a blocking line client.

#include "testtime.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QSystemSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

#include <sys/syscall.h>
#include <unistd.h>

namespace hubtest {

inline QString uniqueKey(const char* tag)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("tst_linkhub_%1_%2_%3")
        .arg(QCoreApplication::applicationPid())
        .arg(QLatin1String(tag))
        .arg(++counter);
}

// Acquires the system semaphore `key` within `ms`; on time-out releases it
// once so that the waiting thread can end, and reports false.
inline bool acquireWithin(const QString& key, int ms)
{
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        QSystemSemaphore semaphore(key, 0, QSystemSemaphore::Open);
        semaphore.acquire();
        done = true;
    });
    QDeadlineTimer deadline(ms);
    while (!done && !deadline.hasExpired())
        QThread::msleep(5);
    const bool acquired = done;
    if (!acquired) {
        QSystemSemaphore semaphore(key, 0, QSystemSemaphore::Open);
        semaphore.release();
    }
    waiter.join();
    return acquired;
}

// A thread that waits on the system semaphore `key` until it is released or
// the object goes (which releases it once itself to end the wait).
class SemaphoreWaiter
{
public:
    explicit SemaphoreWaiter(const QString& key)
        : m_key(key)
        , m_thread([this] {
            m_tid = pid_t(::syscall(SYS_gettid));
            QSystemSemaphore semaphore(m_key, 0, QSystemSemaphore::Open);
            semaphore.acquire();
            m_done = true;
        })
    {
    }
    ~SemaphoreWaiter()
    {
        if (!m_done) {
            QSystemSemaphore semaphore(m_key, 0, QSystemSemaphore::Open);
            semaphore.release();
        }
        m_thread.join();
    }

    // True once the thread sits in the semaphore operation, within `ms`:
    // from then on a release, however short-lived, reaches it.
    bool waitUntilBlocked(int ms) const
    {
        QDeadlineTimer deadline(ms);
        do {
            const pid_t tid = m_tid;
            if (tid != 0 && inSemaphoreCall(tid))
                return true;
            QThread::msleep(2);
        } while (!deadline.hasExpired());
        return false;
    }
    // True once the semaphore was taken, within `ms`.
    bool waitUntilAcquired(int ms) const
    {
        QDeadlineTimer deadline(ms);
        while (!m_done && !deadline.hasExpired())
            QThread::msleep(5);
        return m_done;
    }

private:
    // The system call the thread is blocked in, from /proc.
    static bool inSemaphoreCall(pid_t tid)
    {
        QFile file(QStringLiteral("/proc/self/task/%1/syscall").arg(tid));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        bool ok = false;
        const long call = file.readAll().split(' ').value(0).toLong(&ok);
        if (!ok)
            return false;
#ifdef SYS_semop
        if (call == SYS_semop)
            return true;
#endif
#ifdef SYS_semtimedop
        if (call == SYS_semtimedop)
            return true;
#endif
        return false;
    }

    QString m_key;
    std::atomic<pid_t> m_tid{0};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

inline bool writeProfile(const QString& file, const QList<QPair<QString, QVariant>>& rows)
{
    const QString connection = QStringLiteral("tst_linkhub_profile_") + file;
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery query(db);
            ok = query.exec(QStringLiteral("create table profile (name text unique, value)"));
            for (const auto& row : rows) {
                query.prepare(QStringLiteral("insert into profile (name, value) values (?, ?)"));
                query.addBindValue(row.first);
                query.addBindValue(row.second);
                ok = ok && query.exec();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

// One Linkhub on its own semaphore key, in its own working folder. It binds
// a free port itself and writes it into a file, which start() reads into
// `port`, so no other program can take the port between choice and use.
// The fixture holds the semaphore from before the start, so that it exists
// for the whole test whoever opens it first.
class Hub
{
public:
    Hub()
        : key(uniqueKey("hub"))
        , semaphore(key, 0, QSystemSemaphore::Create)
    {
        env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELA_LINKHUB_PORT"), QStringLiteral("0"));
        env.insert(QStringLiteral("VELA_LINKHUB_PORT_FILE"), portFile());
        env.insert(QStringLiteral("VELA_LINKHUB_KEY"), key);
        env.insert(QStringLiteral("VELA_LINKHUB_IDLE"), QStringLiteral("30000"));
        env.remove(QStringLiteral("VELA_LINKHUB_TRACE"));
        env.remove(QStringLiteral("VELA_LINKHUB_TRACE_DIR"));
        env.remove(QStringLiteral("VELA_LINKHUB_TRACE_FILES"));
        env.remove(QStringLiteral("VELA_LINKHUB_TRACE_SIZE"));
        env.remove(QStringLiteral("VELA_SIM_FAULTS"));
    }
    ~Hub() { stop(); }

    QString workDir() const { return dir.path(); }
    QString portFile() const { return dir.filePath(QStringLiteral("linkhub.port")); }

    // Starts the program and waits until it says it is ready; `port` is
    // then the one it listens on.
    bool start(const QStringList& arguments = {}, int readyWithinMs = 20000)
    {
        startDetachedFromReadiness(arguments);
        if (!process.waitForStarted(testsupport::scaled(10000)))
            return false;
        if (!acquireWithin(key, testsupport::scaled(readyWithinMs)))
            return false;
        QFile file(portFile());
        if (!file.open(QIODevice::ReadOnly))
            return false;
        port = quint16(file.readAll().trimmed().toUInt());
        return port != 0;
    }
    void startDetachedFromReadiness(const QStringList& arguments = {})
    {
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(LINKHUB_PATH), arguments);
    }
    void stop()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }

    quint16 port = 0;
    QString key;
    QSystemSemaphore semaphore;
    QTemporaryDir dir;
    QProcessEnvironment env;
    QProcess process;
};

// velasim on a pseudo-terminal; device() is the slave path it printed.
class Velasim
{
public:
    ~Velasim()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000)) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
    }
    bool start(const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VELA_SIM_FAULTS"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(VELASIM_PATH), arguments);
        if (!process.waitForStarted(testsupport::scaled(10000)))
            return false;
        QDeadlineTimer deadline(testsupport::scaled(15000));
        while (!process.canReadLine() && !deadline.hasExpired()) {
            if (!process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                break;
        }
        m_device = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !m_device.isEmpty();
    }
    QString device() const { return m_device; }

    QProcess process;

private:
    QString m_device;
};

// Blocking line client.
class Client
{
public:
    bool connectTo(quint16 port, const QHostAddress& address = QHostAddress::LocalHost)
    {
        socket.connectToHost(address, port);
        return socket.waitForConnected(testsupport::scaled(5000));
    }
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.waitForBytesWritten(testsupport::scaled(5000));
    }
    // One reply line without CR LF; a null array when none came in time or
    // the connection closed.
    QByteArray readLine(int ms = 10000)
    {
        QDeadlineTimer deadline(testsupport::scaled(ms));
        while (!socket.canReadLine()) {
            if (deadline.hasExpired() || socket.state() != QAbstractSocket::ConnectedState)
                return QByteArray();
            socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        QByteArray line = socket.readLine();
        if (line.endsWith("\r\n"))
            line.chop(2);
        return line;
    }
    QByteArray exchange(const QByteArray& line, int ms = 10000)
    {
        send(line + "\r\n");
        return readLine(ms);
    }
    // True when the peer has closed the connection within `ms`.
    bool waitForClose(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
            socket.waitForReadyRead(50);
        return socket.state() != QAbstractSocket::ConnectedState;
    }

    QTcpSocket socket;
};

} // namespace hubtest
