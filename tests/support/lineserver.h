#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <functional>

// A line server on a free port of the IPv4 loopback, standing in for
// Linkhub: it runs in a thread of its own (the test thread blocks in the
// driver's talk), records every request line (without its CR LF) and answers
// it as the handler says, in that thread. It listens from construction on.
class LineServer : public QThread
{
public:
    struct Reply
    {
        QByteArray bytes;     // written as they stand (give the line end)
        bool silent = false;  // answer nothing
        bool close = false;   // close the connection after writing
        bool dribble = false; // one byte per write
        // When not empty, written instead of bytes: one write each, gapMs
        // apart (a stray line in a segment of its own).
        QList<QByteArray> segments = {};
        int gapMs = 0;
    };
    // Full control of the answer ...
    using Handler = std::function<Reply(const QByteArray& line)>;
    // ... or one reply line, to which CR LF is added.
    using LineHandler = std::function<QByteArray(const QByteArray& line)>;

    static Reply line(const QByteArray& text) { return Reply{text + "\r\n", false, false, false}; }
    static Reply echo(const QByteArray& request) { return line(request); }
    static Reply silence() { return Reply{QByteArray(), true, false, false}; }
    static Reply hangUp() { return Reply{QByteArray(), true, true, false}; }

    explicit LineServer(Handler handler = &LineServer::echo);
    ~LineServer() override;

    void setHandler(Handler handler);
    void setHandler(LineHandler handler);

    // The port listened on (0 when listening failed).
    quint16 listen() const { return m_port; }
    quint16 port() const { return m_port; }
    QByteArray portText() const { return QByteArray::number(m_port); }
    int connections() const { return m_connections; }
    // Segments of Reply::segments written so far (on the loopback they are
    // with the client once counted).
    int segmentsWritten() const { return m_segmentsWritten; }

    QList<QByteArray> lines() const;
    // Request lines beginning with prefix.
    QList<QByteArray> requests(const QByteArray& prefix = QByteArray()) const;
    void clearLines();
    void clearRequests() { clearLines(); }

protected:
    void run() override;

private:
    Reply answer(const QByteArray& request);

    Handler m_handler;
    QSemaphore m_ready;
    std::atomic<quint16> m_port{0};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_segmentsWritten{0};
    mutable QMutex m_mutex;
    QList<QByteArray> m_lines;
};
