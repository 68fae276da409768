// Prints the median time of one request/reply exchange (a) through the
// talk thread and (b) over a raw blocking TCP socket, against the same echo
// server in this process, and their ratio. Rounds alternate between the two
// so that machine load falls on both alike.
//
//   bench_talk [exchanges per round] [rounds]

#include "talkthread.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray Request = "3200001234";

void setNoDelay(int fd)
{
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Blocking line echo server, one thread per connection.
class EchoServer
{
public:
    EchoServer()
    {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(m_listen, 8) != 0) {
            std::perror("echo server");
            std::exit(1);
        }
        socklen_t len = sizeof addr;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~EchoServer()
    {
        shutdown(m_listen, SHUT_RDWR);
        close(m_listen);
        m_acceptor.join();
        for (std::thread& t : m_workers)
            t.join();
    }
    quint16 port() const { return m_port; }

private:
    void acceptLoop()
    {
        for (;;) {
            const int fd = accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                return;
            setNoDelay(fd);
            m_workers.emplace_back([fd] {
                char buffer[4096];
                std::string pending;
                for (;;) {
                    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
                    if (n <= 0)
                        break;
                    pending.append(buffer, size_t(n));
                    size_t end;
                    while ((end = pending.find('\n')) != std::string::npos) {
                        const std::string line = pending.substr(0, end + 1);
                        pending.erase(0, end + 1);
                        if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) < 0)
                            break;
                    }
                }
                close(fd);
            });
        }
    }

    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_acceptor;
    std::vector<std::thread> m_workers;
};

// The same exchange without a thread hand-over: write the line, block in
// recv until the line end has come.
class RawClient
{
public:
    explicit RawClient(quint16 port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            std::perror("raw client");
            std::exit(1);
        }
        setNoDelay(m_fd);
    }
    ~RawClient() { close(m_fd); }

    QByteArray exchange(const QByteArray& request)
    {
        const QByteArray line = request + "\r\n";
        if (send(m_fd, line.constData(), size_t(line.size()), MSG_NOSIGNAL) < 0)
            return QByteArray();
        QByteArray reply;
        char buffer[256];
        while (!reply.contains('\n')) {
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return QByteArray();
            reply.append(buffer, int(n));
        }
        return reply.trimmed();
    }

private:
    int m_fd = -1;
};

// The talk thread's socket calls without the thread hand-over: tells the
// cost of the hand-over from that of QTcpSocket.
class QtClient
{
public:
    explicit QtClient(quint16 port)
    {
        m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        m_socket.waitForConnected(5000);
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    }
    QByteArray exchange(const QByteArray& request)
    {
        m_socket.write(request + "\r\n");
        m_socket.flush();
        while (!m_socket.canReadLine()) {
            if (!m_socket.waitForReadyRead(5000))
                return QByteArray();
        }
        return m_socket.readLine().trimmed();
    }

private:
    QTcpSocket m_socket;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int perRound = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    EchoServer server;
    qputenv("VELA_LINKHUB_PORT", QByteArray::number(server.port()));
    TalkThread talk;
    if (!talk.open()) {
        std::fprintf(stderr, "talk thread: %s\n", qPrintable(talk.errorString()));
        return 1;
    }
    RawClient raw(server.port());
    QtClient qt(server.port());

    std::vector<double> talkTimes, rawTimes, qtTimes;
    talkTimes.reserve(size_t(perRound * rounds));
    rawTimes.reserve(size_t(perRound * rounds));
    QElapsedTimer timer;
    // Warm-up of both paths.
    for (int i = 0; i < 200; ++i) {
        talk.talk(Request);
        raw.exchange(Request);
        qt.exchange(Request);
    }
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < perRound; ++i) {
            timer.start();
            if (talk.talk(Request) != Request)
                return std::fprintf(stderr, "talk thread: wrong reply\n"), 1;
            talkTimes.push_back(double(timer.nsecsElapsed()) / 1000.0);
        }
        for (int i = 0; i < perRound; ++i) {
            timer.start();
            if (raw.exchange(Request) != Request)
                return std::fprintf(stderr, "raw socket: wrong reply\n"), 1;
            rawTimes.push_back(double(timer.nsecsElapsed()) / 1000.0);
        }
        for (int i = 0; i < perRound; ++i) {
            timer.start();
            if (qt.exchange(Request) != Request)
                return std::fprintf(stderr, "QTcpSocket: wrong reply\n"), 1;
            qtTimes.push_back(double(timer.nsecsElapsed()) / 1000.0);
        }
    }
    talk.close();

    const double t = median(talkTimes);
    const double w = median(rawTimes);
    std::printf("exchanges: %d x %d per path, line \"%s\"\n", rounds, perRound, Request.constData());
    std::printf("talk thread median: %8.1f us\n", t);
    std::printf("raw TCP median:     %8.1f us\n", w);
    std::printf("QTcpSocket median:  %8.1f us (same calls, no thread hand-over)\n", median(qtTimes));
    std::printf("ratio talk/raw:     %8.2f (target <= 1.5)\n", w > 0 ? t / w : 0.0);
    return 0;
}
