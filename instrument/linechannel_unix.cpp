#include "linechannel.h"

#include <cerrno>

#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

LineChannel::LineChannel(qintptr descriptor, int maxLength)
    : m_fd(descriptor)
    , m_maxLength(maxLength)
{
}

bool LineChannel::write(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::send(int(m_fd), data, size_t(left), MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{int(m_fd), POLLOUT, 0};
            if (::poll(&p, 1, 1000) < 0 && errno != EINTR)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

LineChannel::Result LineChannel::readLine(QByteArray* line, const QDeadlineTimer& deadline)
{
    qsizetype scanned = 0;
    char buffer[4096];
    for (;;) {
        const qsizetype end = m_received.indexOf('\n', scanned);
        if (end >= 0) {
            *line = m_received.left(end);
            m_received.remove(0, end + 1);
            return Line;
        }
        scanned = m_received.size();
        if (m_received.size() > m_maxLength)
            return TooLong;

        // Wait first: a reply never follows its request at once.
        const qint64 left = deadline.remainingTime();
        pollfd p{int(m_fd), POLLIN, 0};
        const int r = ::poll(&p, 1, left < 0 ? 60000 : int(qMin<qint64>(left, 60000)));
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return Closed;
        }
        if (r == 0) {
            if (deadline.hasExpired())
                return TimedOut;
            continue;
        }
        const ssize_t n = ::recv(int(m_fd), buffer, sizeof buffer, 0);
        if (n > 0)
            m_received.append(buffer, qsizetype(n));
        else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            return Closed;
    }
}

QByteArray LineChannel::takePending()
{
    QByteArray pending;
    pending.swap(m_received);
    return pending;
}

QByteArray LineChannel::drainUnasked(bool* closed)
{
    *closed = false;
    QByteArray drained = takePending();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(int(m_fd), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            drained.append(buffer, qsizetype(n));
            if (drained.size() > m_maxLength)
                return drained; // a flood: the rest waits for the next drain
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            *closed = true;
        return drained;
    }
}
