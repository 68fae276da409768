#include "lineserver.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

LineServer::LineServer() = default;

LineServer::~LineServer()
{
    quit();
    wait();
}

quint16 LineServer::listen()
{
    QMutexLocker lock(&m_mutex);
    start();
    while (!m_listening)
        m_ready.wait(&m_mutex);
    return m_port;
}

void LineServer::setHandler(Handler handler)
{
    QMutexLocker lock(&m_mutex);
    m_handler = std::move(handler);
}

QList<QByteArray> LineServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

QList<QByteArray> LineServer::requests(const QByteArray& prefix) const
{
    QMutexLocker lock(&m_mutex);
    QList<QByteArray> out;
    for (const QByteArray& r : m_requests) {
        if (r.startsWith(prefix))
            out.append(r);
    }
    return out;
}

void LineServer::clearRequests()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

QByteArray LineServer::answer(const QByteArray& request)
{
    Handler handler;
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(request);
        handler = m_handler;
    }
    return handler ? handler(request) : QByteArray("Err:no handler");
}

void LineServer::run()
{
    QTcpServer server;
    const bool ok = server.listen(QHostAddress::LocalHost, 0);
    {
        QMutexLocker lock(&m_mutex);
        m_port = ok ? server.serverPort() : 0;
        m_listening = true;
        m_ready.wakeAll();
    }
    if (!ok)
        return;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine().trimmed();
                    socket->write(answer(line) + "\r\n");
                }
                socket->flush();
            });
        }
    });
    exec();
}
