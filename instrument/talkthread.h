#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>

// The one TCP connection to Linkhub on the local host. The socket lives in
// this thread's run(); callers in any thread hand a request line over and
// block until its reply line comes back. Exchanges are strictly one at a
// time (the mutex) and the hand-over goes through two semaphores only.
//
// Link: port 32345 unless VELA_LINKHUB_PORT names another; a request is sent
// as one line ending in CR LF; the reply is the next line received, with
// leading and trailing white space removed.
//
// After the connection attempt (QTcpSocket) the thread exchanges straight
// on the socket's descriptor (LineChannel). A caller looks for its reply for
// up to 50 us, yielding, before it sleeps on the semaphore: local replies
// often come that fast, and the look spares a wake-up on both sides.
//
// One request, one reply: before each request everything already waiting on
// the socket is read and dropped (logged as unasked), and a line that comes
// while a request waits but cannot be its reply (ReplyMatch) is dropped too;
// the wait goes on for the real one within the same time-out.
//
// A reply is waited for at most replyTimeout() ms (30 000 by default,
// VELA_TALK_TIMEOUT_MS overrides it). When the wait runs out, talk() returns
// an error reply beginning "Err:" and the link is closed, so that a late
// reply can never be taken for the next request.
//
// When a link that was up breaks (peer closed, reply time-out, write
// failed) without close() being asked for, the link-lost handler runs in
// this thread before the caller gets its reply.
class TalkThread : public QThread
{
public:
    enum { DefaultPort = 32345, DefaultReplyTimeout = 30000, ConnectTimeout = 30000 };

    explicit TalkThread(QObject* parent = nullptr);
    ~TalkThread() override;

    // Starts the thread and waits for its connection attempt (at most
    // ConnectTimeout ms); returns isConnected(). Returns at once when the
    // thread already runs connected.
    bool open();
    // Ends the connection and the thread; false when it did not run.
    bool close();
    // One exchange as it ended: a line that came (possibly blank: Linkhub
    // answers an empty analyzer list so), or none at all.
    struct Reply
    {
        QByteArray line;
        bool answered = false; // a reply line arrived, or "Err:" was made for one
    };

    // Exchanges one line. Empty bytes when the thread does not run (nothing
    // is sent) or when the link broke while waiting; an "Err:" reply when no
    // reply came in time or the request cannot be sent as one line.
    QByteArray talk(const QByteArray& request) { return exchangeLine(request).line; }
    // The same, telling a blank line that came from no answer at all.
    Reply exchangeLine(const QByteArray& request);

    bool isConnected() const;
    // The socket's error text of the last connection attempt.
    QString errorString() const;
    QAbstractSocket::SocketError socketError() const;

    int replyTimeout() const;
    void setReplyTimeout(int msecs);

    // Called in the talk thread when the link breaks by itself; must not
    // block and must not talk. Set before open().
    void setLinkLostHandler(std::function<void()> handler) { m_linkLost = std::move(handler); }

    // Port named by VELA_LINKHUB_PORT, else DefaultPort.
    static quint16 linkhubPort();

protected:
    void run() override;

private:
    enum class Failure { NoReply, ReplyTooLong, LineBreakInRequest };
    QByteArray failureReply(Failure failure) const;
    Reply exchange(class LineChannel& channel, const QByteArray& request, bool* connected);

    QMutex m_mutex;          // one caller at a time in open() and talk()
    QSemaphore m_requestSem; // released once per request handed over
    QSemaphore m_replySem;   // once per reply, after the connection attempt, at the end
    // Written by one side before the matching release, read by the other
    // after the matching acquire. The sequence numbers tell a reply from the
    // thread's last release, which answers no request.
    QByteArray m_request;
    quint64 m_requestSeq = 0;
    Reply m_reply;
    quint64 m_replySeq = 0;
    std::atomic<bool> m_connected{false};
    mutable QMutex m_errorMutex;
    QString m_errorText;
    QAbstractSocket::SocketError m_socketError = QAbstractSocket::UnknownSocketError;
    std::atomic<int> m_replyTimeout;
    quint16 m_port = DefaultPort;
    std::function<void()> m_linkLost;
};
