#pragma once

#include "platform/linewire/linesplitter.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QTcpServer>
#include <QTimer>

class HubSession;
class QTcpSocket;
class WireTrace;

// Serves one client at a time on the loopback interface: request lines in,
// exactly one reply line out for each, in order. A second client gets the
// line "Err:busy" and is closed. After the last client has gone (or when
// none comes), the server reports idle once `idleMs` have passed.
class HubServer : public QObject
{
    Q_OBJECT

public:
    HubServer(HubSession* session, WireTrace* trace, int idleMs, QObject* parent = nullptr);

    // Listens on 127.0.0.1 only.
    bool listen(quint16 port);
    QAbstractSocket::SocketError serverError() const { return m_server.serverError(); }
    QString errorString() const { return m_server.errorString(); }
    quint16 port() const { return m_server.serverPort(); }

    // Line text of a reply: CR and LF inside would end the line early.
    static QByteArray replyLine(const QByteArray& line);

    // A fault for tests of the driver: after this many request lines (0:
    // never) the hub passes the last one on, sends no reply and asks to exit
    // as if it had crashed.
    void setExitAfterLines(int lines) { m_exitAfterLines = qMax(0, lines); }

signals:
    void idle();
    void exitRequested();

private slots:
    void onNewConnection();
    void onReadyRead();
    void onDisconnected();
    void onReplyDue();
    void onIdleTimer();

private:
    void processNext();
    void sendReply(const QByteArray& line);
    void sendStray(const QByteArray& line, int delayMs);
    void dropClient();
    void forgetClient(QTcpSocket* socket);
    void acceptClient(QTcpSocket* socket);
    void refuseClient(QTcpSocket* socket);
    void startIdleWait();

    HubSession* m_session;
    WireTrace* m_trace;
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    // A client that came while another was still served: it waits a moment
    // for that one to leave (a host that died and was started again comes
    // before the hub has read its predecessor's end).
    QList<QPointer<QTcpSocket>> m_waiting;
    LineSplitter m_splitter;
    QQueue<LineSplitter::Line> m_queue;
    QTimer m_idleTimer;
    QDeadlineTimer m_idleDeadline; // the hub leaves no earlier than this
    int m_idleMs;
    QTimer m_replyTimer; // a delayed reply in flight
    bool m_replyPending = false;
    bool m_dropPending = false;
    QByteArray m_pendingLine;
    QByteArray m_pendingStray;
    int m_pendingStrayMs = 0;
    int m_exitAfterLines = 0;
    int m_lines = 0; // request lines handled since the start
};
