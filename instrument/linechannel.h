#pragma once

#include <QByteArray>
#include <QDeadlineTimer>

// Line I/O on a connected stream socket, straight on its descriptor: one
// send per request line, poll and recv for the reply, bytes gathered until
// a line feed however the stream is cut. The talk thread connects with
// QTcpSocket and then exchanges through this, which spares the socket
// notifier churn of QTcpSocket's blocking calls (two event-dispatcher
// wake-ups per exchange) on the hot path. Platform layer: linechannel_unix.cpp.
class LineChannel
{
public:
    enum Result {
        Line,     // a line was read
        Closed,   // the peer closed the link or it broke
        TimedOut, // no line end before the deadline
        TooLong   // more than maxLength bytes without a line end
    };

    explicit LineChannel(qintptr descriptor, int maxLength);

    // Writes all of bytes; false when the link broke.
    bool write(const QByteArray& bytes);
    // The next line without its line feed; CR and other surrounding white
    // space are left to the caller.
    Result readLine(QByteArray* line, const QDeadlineTimer& deadline);

    // Bytes received after the last line read (an unasked reply); taken out.
    QByteArray takePending();
    // takePending() and whatever else has arrived and can be read without
    // waiting: nothing of it answers a request still to be sent. *closed is
    // set when the peer has closed the link or it broke.
    QByteArray drainUnasked(bool* closed);

private:
    qintptr m_fd;
    int m_maxLength;
    QByteArray m_received;
};
