// One request/reply exchange: through Linkhub on "SIM", through Linkhub to
// velasim over a pseudo-terminal (Serial, termios, frames), and a raw TCP
// ping-pong on the loopback as the floor. Prints the medians.

#include "tests/linkhub/hubtestutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace hubtest;

namespace {

struct Figures
{
    double median = 0;
    double p90 = 0;
};

Figures summarize(std::vector<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    Figures f;
    if (ns.empty())
        return f;
    f.median = ns[ns.size() / 2] / 1000.0;
    f.p90 = ns[ns.size() * 9 / 10] / 1000.0;
    return f;
}

bool timeExchanges(Client& client, const QByteArray& request, int count, std::vector<qint64>* ns)
{
    QElapsedTimer timer;
    for (int i = 0; i < count + 20; ++i) {
        timer.start();
        const QByteArray reply = client.exchange(request);
        const qint64 t = timer.nsecsElapsed();
        if (reply.isEmpty() || reply.startsWith("Err:")) {
            std::fprintf(stderr, "bad reply to %s: %s\n", request.constData(), reply.constData());
            return false;
        }
        if (i >= 20) // warm-up left out
            ns->push_back(t);
    }
    return true;
}

// Echoes each line it receives; one client, then it ends.
void echoServer(int listener)
{
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0)
        return;
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char buf[4096];
    QByteArray pending;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        pending.append(buf, int(n));
        qsizetype lf;
        while ((lf = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(lf + 1);
            pending.remove(0, lf + 1);
            if (::write(fd, line.constData(), size_t(line.size())) < 0)
                break;
        }
    }
    ::close(fd);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(10, atoi(argv[1])) : 500;
    const QByteArray request = argc > 2 ? QByteArray(argv[2]) : QByteArray("73");

    // Raw TCP ping-pong.
    std::vector<qint64> raw;
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0
            || ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            std::perror("echo server");
            return 1;
        }
        std::thread server(echoServer, listener);
        {
            Client client;
            if (!client.connectTo(ntohs(addr.sin_port)) || !timeExchanges(client, request, count, &raw))
                return 1;
        }
        server.join();
        ::close(listener);
    }

    // Linkhub on SIM.
    std::vector<qint64> sim;
    {
        Hub hub;
        if (!hub.start()) {
            std::fprintf(stderr, "Linkhub did not start\n");
            return 1;
        }
        Client client;
        if (!client.connectTo(hub.port) || client.exchange("/00SIM") != "/00OK"
            || client.exchange("/02VELA01") != "/02OK" || !timeExchanges(client, request, count, &sim))
            return 1;
    }

    // Linkhub over a pseudo-terminal to velasim.
    std::vector<qint64> serial;
    {
        Velasim velasim;
        if (!velasim.start({})) {
            std::fprintf(stderr, "velasim did not start\n");
            return 1;
        }
        Hub hub;
        if (!hub.start()) {
            std::fprintf(stderr, "Linkhub did not start\n");
            return 1;
        }
        Client client;
        if (!client.connectTo(hub.port) || client.exchange("/00" + velasim.device().toLocal8Bit()) != "/00OK"
            || client.exchange("/02VELA01") != "/02OK" || !timeExchanges(client, request, count, &serial))
            return 1;
    }

    const Figures r = summarize(raw), s = summarize(sim), p = summarize(serial);
    std::printf("one exchange of \"%s\", %d rounds, microseconds\n", request.constData(), count);
    std::printf("  %-34s median %9.1f   p90 %9.1f\n", "raw TCP ping-pong", r.median, r.p90);
    std::printf("  %-34s median %9.1f   p90 %9.1f\n", "Linkhub on SIM", s.median, s.p90);
    std::printf("  %-34s median %9.1f   p90 %9.1f\n", "Linkhub -> pty -> velasim", p.median, p.p90);
    std::printf("  SIM / raw %.1fx, pty / SIM %.1fx\n", s.median / r.median, p.median / s.median);
    return 0;
}
