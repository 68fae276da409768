#pragma once

// A small line server for the driver's tests: listens on a free port of the
// IPv4 loopback, in a thread of its own (the test thread blocks in talk),
// records every request line and answers it as the handler says.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <atomic>
#include <functional>

class LineServer : public QThread
{
public:
    struct Reply
    {
        QByteArray bytes;       // written as they stand (give the line end)
        bool silent = false;    // answer nothing
        bool close = false;     // close the connection after writing
        bool dribble = false;   // one byte per write
        // When not empty, written instead of bytes: one write each, gapMs
        // apart (a stray line in a segment of its own).
        QList<QByteArray> segments = {};
        int gapMs = 0;
    };
    using Handler = std::function<Reply(const QByteArray& line)>;

    static Reply line(const QByteArray& text) { return Reply{ text + "\r\n", false, false, false }; }
    static Reply echo(const QByteArray& request) { return line(request); }
    static Reply silence() { return Reply{ QByteArray(), true, false, false }; }
    static Reply hangUp() { return Reply{ QByteArray(), true, true, false }; }

    explicit LineServer(Handler handler = &LineServer::echo)
        : m_handler(std::move(handler))
    {
        start();
        m_ready.acquire();
    }

    ~LineServer() override
    {
        quit();
        wait();
    }

    quint16 port() const { return m_port; }
    QByteArray portText() const { return QByteArray::number(m_port); }

    QList<QByteArray> lines() const
    {
        QMutexLocker lock(&m_mutex);
        return m_lines;
    }
    void clearLines()
    {
        QMutexLocker lock(&m_mutex);
        m_lines.clear();
    }
    int connections() const { return m_connections; }
    // Segments of Reply::segments written so far (on the loopback they are
    // with the client once counted).
    int segmentsWritten() const { return m_segmentsWritten; }

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        m_port = server.serverPort();
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                ++m_connections;
                socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                auto* buffer = new QByteArray;
                QObject::connect(socket, &QObject::destroyed, [buffer] { delete buffer; });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    qsizetype end;
                    while ((end = buffer->indexOf('\n')) >= 0) {
                        QByteArray request = buffer->left(end);
                        buffer->remove(0, end + 1);
                        if (request.endsWith('\r'))
                            request.chop(1);
                        {
                            QMutexLocker lock(&m_mutex);
                            m_lines.append(request);
                        }
                        const Reply reply = m_handler(request);
                        if (!reply.segments.isEmpty()) {
                            for (int i = 0; i < reply.segments.size(); ++i) {
                                if (i > 0 && reply.gapMs > 0)
                                    QThread::msleep(reply.gapMs);
                                socket->write(reply.segments.at(i));
                                socket->flush();
                                ++m_segmentsWritten;
                            }
                        } else if (!reply.silent || !reply.bytes.isEmpty()) {
                            if (reply.dribble) {
                                for (char c : reply.bytes) {
                                    socket->write(&c, 1);
                                    socket->flush();
                                    QThread::usleep(300);
                                }
                            } else {
                                socket->write(reply.bytes);
                                socket->flush();
                            }
                        }
                        if (reply.close) {
                            socket->disconnectFromHost();
                            return;
                        }
                    }
                });
            }
        });
        m_ready.release();
        exec();
    }

private:
    Handler m_handler;
    QSemaphore m_ready;
    std::atomic<quint16> m_port{0};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_segmentsWritten{0};
    mutable QMutex m_mutex;
    QList<QByteArray> m_lines;
};
