#include "talkthread.h"

#include "linechannel.h"
#include "linktrace.h"
#include "replymatch.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpSocket>

#include <utility>

namespace {
// A reply line longer than this is no reply of the analyzer or of Linkhub.
const int MaxReplyLength = 1 << 20;
// How long a caller looks for its reply before it sleeps on the semaphore.
const qint64 SpinNanoseconds = 50000;

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
    case Failure::ReplyTooLong: return "Err: reply line too long, link closed";
    case Failure::LineBreakInRequest: return "Err: request contains a line break, not sent";
    }
    return "Err:";
}

bool TalkThread::open()
{
    QMutexLocker lock(&m_mutex);
    if (isRunning()) {
        if (m_connected)
            return true;
        wait(); // the thread is ending: its link has gone
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

// One request line out, its reply line in. *connected turns false when the
// link broke or is to be closed (no reply in time, a line too long).
TalkThread::Reply TalkThread::exchange(LineChannel& channel, const QByteArray& request, bool* connected)
{
    bool closed = false;
    const QByteArray unasked = channel.drainUnasked(&closed);
    if (!unasked.isEmpty())
        qCWarning(lcLink).noquote() << "unasked, dropped before" << escapeBytes(request) << ":" << escapeBytes(unasked);
    if (closed || !channel.write(request + "\r\n")) { // one write, one segment: Nagle is off
        *connected = false;
        return Reply();
    }
    const QDeadlineTimer deadline(m_replyTimeout);
    for (;;) {
        QByteArray line;
        switch (channel.readLine(&line, deadline)) {
        case LineChannel::Line:
            line = line.trimmed();
            if (ReplyMatch::answers(request, line))
                return Reply{line, true};
            qCWarning(lcLink).noquote() << "unasked, dropped while" << escapeBytes(request)
                                        << "waits:" << escapeBytes(line);
            continue;
        case LineChannel::Closed: *connected = false; return Reply();
        case LineChannel::TimedOut:
            qCWarning(lcLink) << "no reply within" << int(m_replyTimeout) << "ms; closing the link";
            *connected = false;
            return Reply{failureReply(Failure::NoReply), true};
        case LineChannel::TooLong:
            qCWarning(lcLink) << "reply line longer than" << MaxReplyLength << "bytes; closing the link";
            *connected = false;
            return Reply{failureReply(Failure::ReplyTooLong), true};
        }
    }
}

TalkThread::Reply TalkThread::exchangeLine(const QByteArray& request)
{
    QMutexLocker lock(&m_mutex);
    if (!isRunning()) {
        if (!request.isEmpty())
            qCDebug(lcLink).noquote().nospace() << "-> \"" << escapeBytes(request) << "\" not sent: link closed";
        return Reply();
    }
    if (request.contains('\n') || request.contains('\r'))
        return Reply{failureReply(Failure::LineBreakInRequest), true};

    // Releases left from the connection attempt or from the thread's end.
    if (const int stale = m_replySem.available())
        m_replySem.tryAcquire(stale);

    QElapsedTimer timer;
    timer.start();
    const quint64 seq = ++m_requestSeq;
    m_request = request;
    m_requestSem.release();
    bool released = false;
    // A reply on the local host often comes within microseconds: look for
    // it briefly before sleeping, which spares a wake-up on both sides.
    for (QElapsedTimer spin; !released;) {
        if (!spin.isValid())
            spin.start();
        released = m_replySem.tryAcquire(1);
        if (released || spin.nsecsElapsed() > SpinNanoseconds)
            break;
        QThread::yieldCurrentThread();
    }
    while (!released) {
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
    const Reply reply = released && m_replySeq == seq ? std::exchange(m_reply, Reply()) : Reply();
    if (!request.isEmpty()) {
        qCDebug(lcLink).noquote().nospace()
            << "-> \"" << escapeBytes(request) << "\" <- \"" << escapeBytes(reply.line) << "\""
            << (reply.answered ? "" : " (no answer)") << " (" << timer.elapsed() << " ms)";
    }
    return reply;
}

void TalkThread::run()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), m_port, QIODevice::ReadWrite);
    socket.waitForConnected(ConnectTimeout);
    bool connected = socket.state() == QAbstractSocket::ConnectedState;
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

    // From here on the exchanges go straight through the descriptor.
    LineChannel channel(socket.socketDescriptor(), MaxReplyLength);
    while (connected) {
        m_requestSem.acquire();
        // Request and reply change hands with the semaphores, and each side
        // moves out what it is handed: nothing is left in the members for the
        // other thread's next assignment to release. That release would be
        // made inside Qt, where ThreadSanitizer cannot see the reference
        // count that orders it.
        const QByteArray request = std::exchange(m_request, QByteArray());
        const quint64 seq = m_requestSeq;
        if (request.isEmpty())
            break;
        m_reply = exchange(channel, request, &connected);
        m_replySeq = seq;
        if (!connected) {
            m_connected = false; // before the caller goes on: it may ask
            if (m_linkLost)
                m_linkLost();
        }
        m_replySem.release();
    }
    m_connected = false;
    socket.abort();
    m_replySem.release();
}
