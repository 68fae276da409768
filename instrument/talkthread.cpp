#include "talkthread.h"

#include "linktrace.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpSocket>

namespace {
// A reply line longer than this is no reply of the analyzer or of Linkhub.
const int MaxReplyLength = 1 << 20;

int envReplyTimeout()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("VELA_TALK_TIMEOUT_MS", &ok);
    return ok && ms > 0 ? ms : int(TalkThread::DefaultReplyTimeout);
}
} // namespace

TalkThread::TalkThread(QObject* parent)
    : QThread(parent)
    , m_replyTimeout(envReplyTimeout())
{
}

TalkThread::~TalkThread()
{
    close();
    wait();
}

quint16 TalkThread::linkhubPort()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("VELA_LINKHUB_PORT", &ok);
    return ok && port > 0 && port < 65536 ? quint16(port) : quint16(DefaultPort);
}

int TalkThread::replyTimeout() const
{
    return m_replyTimeout;
}

void TalkThread::setReplyTimeout(int msecs)
{
    m_replyTimeout = msecs > 0 ? msecs : int(DefaultReplyTimeout);
}

bool TalkThread::isConnected() const
{
    return m_connected;
}

QString TalkThread::errorString() const
{
    QMutexLocker lock(&m_errorMutex);
    return m_errorText;
}

QAbstractSocket::SocketError TalkThread::socketError() const
{
    QMutexLocker lock(&m_errorMutex);
    return m_socketError;
}

QByteArray TalkThread::failureReply(Failure failure) const
{
    switch (failure) {
    case Failure::NoReply:
        return "Err: no reply within " + QByteArray::number(int(m_replyTimeout)) + " ms, link closed";
    case Failure::ReplyTooLong:
        return "Err: reply line too long, link closed";
    case Failure::LineBreakInRequest:
        return "Err: request contains a line break, not sent";
    }
    return "Err:";
}

bool TalkThread::open()
{
    QMutexLocker lock(&m_mutex);
    if (isRunning()) {
        if (m_connected)
            return true;
        wait();     // the thread is ending: its link has gone
    }
    // Nothing of an earlier connection may reach the new one: a request
    // handed over after the old thread had ended, or its last release.
    m_requestSem.tryAcquire(m_requestSem.available());
    m_replySem.tryAcquire(m_replySem.available());
    m_request.clear();
    m_connected = false;
    m_port = linkhubPort();
    start(InheritPriority);
    m_replySem.acquire();
    return m_connected;
}

bool TalkThread::close()
{
    if (!isRunning())
        return false;
    talk(QByteArray());
    const bool ended = wait();
    m_connected = false;
    return ended;
}

QByteArray TalkThread::talk(const QByteArray& request)
{
    QMutexLocker lock(&m_mutex);
    if (!isRunning()) {
        if (!request.isEmpty())
            qCDebug(lcLink).noquote().nospace() << "-> \"" << escapeBytes(request) << "\" not sent: link closed";
        return QByteArray();
    }
    if (request.contains('\n') || request.contains('\r'))
        return failureReply(Failure::LineBreakInRequest);

    // Releases left from the connection attempt or from the thread's end.
    if (const int stale = m_replySem.available())
        m_replySem.tryAcquire(stale);

    QElapsedTimer timer;
    timer.start();
    const quint64 seq = ++m_requestSeq;
    m_request = request;
    m_requestSem.release();
    bool released = false;
    for (;;) {
        if (m_replySem.tryAcquire(1, 200)) {
            released = true;
            break;
        }
        // The thread ended after its last release was drained above.
        if (isFinished()) {
            released = m_replySem.tryAcquire(1);
            break;
        }
    }
    const QByteArray reply = released && m_replySeq == seq ? m_reply : QByteArray();
    if (!request.isEmpty()) {
        qCDebug(lcLink).noquote().nospace() << "-> \"" << escapeBytes(request) << "\" <- \""
                                            << escapeBytes(reply) << "\" (" << timer.elapsed() << " ms)";
    }
    return reply;
}

// Frames the reply: bytes are gathered until a line feed, however the
// stream is cut into reads. Empty bytes when the link broke.
QByteArray TalkThread::readReply(QTcpSocket& socket, QByteArray& received, bool* failed)
{
    const QDeadlineTimer deadline(m_replyTimeout);
    qsizetype scanned = 0;
    for (;;) {
        const qsizetype end = received.indexOf('\n', scanned);
        if (end >= 0) {
            const QByteArray line = received.left(end).trimmed();
            received.remove(0, end + 1);
            return line;
        }
        scanned = received.size();
        if (received.size() > MaxReplyLength) {
            qCWarning(lcLink) << "reply line longer than" << MaxReplyLength << "bytes";
            *failed = true;
            return failureReply(Failure::ReplyTooLong);
        }
        if (socket.bytesAvailable() > 0) {
            received += socket.readAll();
            continue;
        }
        if (socket.state() != QAbstractSocket::ConnectedState)
            return QByteArray();
        const qint64 left = deadline.remainingTime();
        if (left == 0) {
            qCWarning(lcLink) << "no reply within" << int(m_replyTimeout) << "ms; closing the link";
            *failed = true;
            return failureReply(Failure::NoReply);
        }
        socket.waitForReadyRead(int(qMin<qint64>(left, DefaultReplyTimeout)));
    }
}

void TalkThread::run()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), m_port, QIODevice::ReadWrite);
    socket.waitForConnected(ConnectTimeout);
    const bool connected = socket.state() == QAbstractSocket::ConnectedState;
    {
        QMutexLocker lock(&m_errorMutex);
        m_errorText = socket.errorString();
        m_socketError = connected ? QAbstractSocket::UnknownSocketError : socket.error();
    }
    if (connected)
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    else
        qCWarning(lcLink).noquote() << "cannot connect to port" << m_port << ":" << socket.errorString();
    m_connected = connected;
    m_replySem.release();

    QByteArray received;    // bytes read but not yet framed into a line
    while (socket.state() == QAbstractSocket::ConnectedState) {
        m_requestSem.acquire();
        QByteArray line = m_request;
        const quint64 seq = m_requestSeq;
        if (line.isEmpty())
            break;
        if (!received.isEmpty()) {
            // One request, one reply: more lines than that answer nothing.
            qCWarning(lcLink).noquote() << "dropping unasked bytes" << escapeBytes(received);
            received.clear();
        }
        line += "\r\n";     // one write, one segment: Nagle is off
        socket.write(line);
        socket.flush();

        bool failed = false;
        m_reply = readReply(socket, received, &failed);
        m_replySeq = seq;
        if (failed || socket.state() != QAbstractSocket::ConnectedState)
            m_connected = false;    // before the caller goes on: it may ask
        m_replySem.release();
        if (failed)
            break;
    }
    m_connected = false;
    socket.abort();
    m_replySem.release();
}
