#include "lineserver.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

LineServer::LineServer(Handler handler)
    : m_handler(std::move(handler))
{
    start();
    m_ready.acquire();
}

LineServer::~LineServer()
{
    quit();
    wait();
}

void LineServer::setHandler(Handler handler)
{
    QMutexLocker lock(&m_mutex);
    m_handler = std::move(handler);
}

void LineServer::setHandler(LineHandler handler)
{
    setHandler(Handler([handler = std::move(handler)](const QByteArray& request) { return line(handler(request)); }));
}

QList<QByteArray> LineServer::lines() const
{
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

QList<QByteArray> LineServer::requests(const QByteArray& prefix) const
{
    QMutexLocker lock(&m_mutex);
    QList<QByteArray> out;
    for (const QByteArray& r : m_lines) {
        if (r.startsWith(prefix))
            out.append(r);
    }
    return out;
}

void LineServer::clearLines()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}

LineServer::Reply LineServer::answer(const QByteArray& request)
{
    Handler handler;
    {
        QMutexLocker lock(&m_mutex);
        m_lines.append(request);
        handler = m_handler;
    }
    return handler ? handler(request) : line("Err:no handler");
}

void LineServer::run()
{
    QTcpServer server;
    m_port = server.listen(QHostAddress::LocalHost, 0) ? server.serverPort() : 0;
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
                    const Reply reply = answer(request);
                    if (!reply.segments.isEmpty()) {
                        for (int i = 0; i < reply.segments.size(); ++i) {
                            if (i > 0 && reply.gapMs > 0)
                                QThread::msleep(reply.gapMs);
                            socket->write(reply.segments.at(i));
                            socket->flush();
                            ++m_segmentsWritten;
                        }
                    } else if (reply.dribble) {
                        for (char c : reply.bytes) {
                            socket->write(&c, 1);
                            socket->flush();
                            QThread::usleep(300);
                        }
                    } else if (!reply.bytes.isEmpty()) {
                        socket->write(reply.bytes);
                        socket->flush();
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
    if (m_port)
        exec();
}
