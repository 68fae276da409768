#include "platform/linkhub/hubserver.h"

#include "platform/linewire/wiretrace.h"
#include "platform/linkhub/hubsession.h"
#include "sim/simtruth.h"

#include <QTcpSocket>

namespace {
// How long a second client waits for the first to leave before it is refused.
const int WaitForLeaverMs = 1000;
} // namespace

HubServer::HubServer(HubSession* session, WireTrace* trace, int idleMs, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_trace(trace)
    , m_idleMs(qMax(0, idleMs))
{
    // A coarse timer may fire up to 5 % early; the idle time is a promise
    // to a driver about to connect again, so it is kept to the millisecond.
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_idleTimer, &QTimer::timeout, this, &HubServer::onIdleTimer);
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_replyTimer, &QTimer::timeout, this, &HubServer::onReplyDue);
    connect(&m_server, &QTcpServer::newConnection, this, &HubServer::onNewConnection);
}

bool HubServer::listen(quint16 port)
{
    if (!m_server.listen(QHostAddress::LocalHost, port))
        return false;
    startIdleWait();
    return true;
}

void HubServer::startIdleWait()
{
    m_idleDeadline = QDeadlineTimer(m_idleMs, Qt::PreciseTimer);
    m_idleTimer.start(m_idleMs);
}

void HubServer::onIdleTimer()
{
    if (m_client)
        return;
    // Whatever the timer's accuracy, the hub never leaves before its time.
    const qint64 left = m_idleDeadline.remainingTime();
    if (left > 0) {
        m_idleTimer.start(int(left));
        return;
    }
    emit idle();
}

QByteArray HubServer::replyLine(const QByteArray& line)
{
    QByteArray out = line;
    out.replace('\r', ' ').replace('\n', ' ');
    return out;
}

void HubServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_client) {
            QPointer<QTcpSocket> waiting(socket);
            m_waiting.append(waiting);
            QTimer::singleShot(WaitForLeaverMs, this, [this, waiting] {
                if (waiting && m_waiting.removeAll(waiting) > 0)
                    refuseClient(waiting);
            });
            continue;
        }
        acceptClient(socket);
    }
}

void HubServer::refuseClient(QTcpSocket* socket)
{
    if (m_trace)
        m_trace->note(QStringLiteral("second client refused"));
    socket->write("Err:busy\r\n");
    socket->disconnectFromHost();
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void HubServer::acceptClient(QTcpSocket* socket)
{
    m_client = socket;
    m_idleTimer.stop();
    m_splitter = LineSplitter(m_splitter.maxLength());
    m_queue.clear();
    if (m_trace)
        m_trace->note(QStringLiteral("client connected from port %1").arg(socket->peerPort()));
    connect(socket, &QTcpSocket::readyRead, this, &HubServer::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &HubServer::onDisconnected);
    if (socket->bytesAvailable() > 0)
        onReadyRead();
}

void HubServer::onReadyRead()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        socket = m_client;
    if (!socket || socket != m_client)
        return;
    const QByteArray bytes = socket->readAll();
    for (const LineSplitter::Line& line : m_splitter.feed(bytes))
        m_queue.enqueue(line);
    processNext();
}

void HubServer::processNext()
{
    // One request at a time: the next line waits until the reply to the
    // previous one has been sent.
    while (m_client && !m_replyPending && !m_queue.isEmpty()) {
        const LineSplitter::Line line = m_queue.dequeue();
        HubReply reply;
        if (line.overlong) {
            if (m_trace)
                m_trace->write("C>",
                               QByteArray("[line over ") + QByteArray::number(m_splitter.maxLength()) + " bytes]");
            reply = HubReply::error("line too long (over " + QByteArray::number(m_splitter.maxLength()) + " bytes)");
        } else {
            if (m_trace)
                m_trace->write("C>", line.text);
            reply = m_session->handleLine(line.text);
        }
        if (m_exitAfterLines > 0 && ++m_lines >= m_exitAfterLines) {
            if (m_trace)
                m_trace->note(QStringLiteral("exiting after %1 lines, no reply").arg(m_lines));
            // The exit breaks the link as a fault would, and the line goes
            // unanswered: tools that check a run against the simulator's
            // record find it there.
            simtruth::recordStrike("exit", line.text);
            m_queue.clear();
            if (m_client)
                m_client->abort();
            emit exitRequested();
            return;
        }

        if (reply.delayMs > 0) {
            m_replyPending = true;
            m_dropPending = reply.action == HubReply::Drop;
            m_pendingLine = reply.line;
            m_pendingStray = reply.stray;
            m_pendingStrayMs = reply.strayDelayMs;
            m_replyTimer.start(reply.delayMs);
            return;
        }
        if (reply.action == HubReply::Drop) {
            dropClient();
            return;
        }
        sendReply(reply.line);
        sendStray(reply.stray, reply.strayDelayMs);
    }
}

void HubServer::onReplyDue()
{
    m_replyPending = false;
    if (!m_client)
        return;
    if (m_dropPending) {
        m_dropPending = false;
        dropClient();
        return;
    }
    sendReply(m_pendingLine);
    sendStray(m_pendingStray, m_pendingStrayMs);
    m_pendingStray.clear();
    processNext();
}

void HubServer::sendReply(const QByteArray& line)
{
    const QByteArray text = replyLine(line);
    if (m_trace)
        m_trace->write("C<", text);
    m_client->write(text + "\r\n");
}

void HubServer::sendStray(const QByteArray& line, int delayMs)
{
    if (line.isEmpty() || !m_client)
        return;
    // Its own write, after the reply has left: the client reads it as a
    // separate segment, whatever it asks in the meantime.
    QPointer<QTcpSocket> client = m_client;
    QTimer::singleShot(qMax(0, delayMs), Qt::PreciseTimer, this, [this, client, line] {
        if (!client || client != m_client)
            return;
        const QByteArray text = replyLine(line);
        if (m_trace)
            m_trace->write("C<", text + " [stray]");
        client->write(text + "\r\n");
        client->flush();
    });
}

void HubServer::dropClient()
{
    if (m_trace)
        m_trace->note(QStringLiteral("link dropped"));
    m_queue.clear();
    QTcpSocket* socket = m_client;
    if (!socket)
        return;
    socket->abort();
    if (m_client == socket) // abort() left it without a disconnected signal
        forgetClient(socket);
}

void HubServer::onDisconnected()
{
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (socket && socket == m_client)
        forgetClient(socket);
}

void HubServer::forgetClient(QTcpSocket* socket)
{
    if (m_trace)
        m_trace->note(QStringLiteral("client left"));
    m_client = nullptr;
    socket->deleteLater();
    m_replyTimer.stop();
    m_replyPending = false;
    m_dropPending = false;
    m_queue.clear();
    m_session->clientLeft();
    startIdleWait();
    while (!m_waiting.isEmpty()) {
        const QPointer<QTcpSocket> next = m_waiting.takeFirst();
        if (next && next->state() == QAbstractSocket::ConnectedState) {
            acceptClient(next);
            break;
        }
    }
}
