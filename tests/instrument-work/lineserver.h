#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <functional>

// A line server on a free local port standing in for Linkhub: every request
// line is answered by the handler with one reply line. Runs in its own
// thread; the handler is called there. Requests are recorded.
class LineServer : public QThread
{
public:
    using Handler = std::function<QByteArray(const QByteArray& request)>;

    LineServer();
    ~LineServer() override;

    // Starts listening; returns the port (0 on failure).
    quint16 listen();
    void setHandler(Handler handler);

    QList<QByteArray> requests() const;
    // Requests beginning with prefix.
    QList<QByteArray> requests(const QByteArray& prefix) const;
    void clearRequests();

protected:
    void run() override;

private:
    QByteArray answer(const QByteArray& request);

    mutable QMutex m_mutex;
    QWaitCondition m_ready;
    quint16 m_port = 0;
    bool m_listening = false;
    Handler m_handler;
    QList<QByteArray> m_requests;
};
