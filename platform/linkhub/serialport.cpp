#include "platform/linkhub/serialport.h"

#include "platform/linewire/wiretrace.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <poll.h>

SerialPort::SerialPort(const SerialLineSettings& settings, const LinkTimeouts& timeouts, WireTrace* trace)
    : m_settings(settings)
    , m_timeouts(timeouts)
    , m_trace(trace)
{
    // A random start makes it unlikely that a new hub repeats the sequence
    // character and text of the last request an analyzer saw, which the
    // analyzer would take for a repeat.
    static const char digits[] = "0123456789ABCDEF";
    m_seq = digits[QRandomGenerator::global()->bounded(16)];
}

SerialPort::~SerialPort()
{
    m_serial.close();
}

bool SerialPort::open(const QString& device, QByteArray* error)
{
    m_serial.setFileName(device);
    if (!m_serial.open()) {
        *error = "cannot open " + device.toUtf8() + ": " + m_serial.errorString().toUtf8();
        return false;
    }
    if (!m_serial.setSettings(m_settings.baudRate, m_settings.dataBits, m_settings.parity, m_settings.stopBits)
        || !m_serial.setTimeouts(m_timeouts.interval, m_timeouts.read, m_timeouts.write)) {
        *error = "cannot set up " + device.toUtf8() + ": " + m_serial.errorString().toUtf8();
        m_serial.close();
        return false;
    }
    m_serial.clearInputBuffer();
    return true;
}

QString SerialPort::name() const
{
    return m_serial.fileName();
}

bool SerialPort::listAnalyzers(QList<QByteArray>* ids, QByteArray* error)
{
    QByteArray reply;
    const Outcome outcome = transact(linkframe::BroadcastAddress, QByteArray(), &reply);
    if (outcome != Outcome::Answered) {
        *error = m_lastError;
        return false;
    }
    ids->clear();
    for (const QByteArray& id : reply.split(',')) {
        const QByteArray trimmed = id.trimmed();
        if (linkframe::isValidAddress(trimmed) && !ids->contains(trimmed))
            ids->append(trimmed);
    }
    if (ids->isEmpty()) {
        *error = "no analyzer answers on " + name().toUtf8();
        return false;
    }
    return true;
}

HubReply SerialPort::exchange(const QByteArray& id, const QByteArray& line)
{
    QByteArray reply;
    switch (transact(id, line, &reply)) {
    case Outcome::Answered: return HubReply::send(reply);
    case Outcome::HungUp: return HubReply::drop();
    default: return HubReply::error(m_lastError);
    }
}

SerialPort::Outcome SerialPort::transact(const QByteArray& address, const QByteArray& payload, QByteArray* reply)
{
    if (m_hungUp) {
        m_lastError = "serial line " + name().toUtf8() + " hung up";
        return Outcome::HungUp;
    }
    m_seq = linkframe::nextSeq(m_seq);
    const QByteArray frame = linkframe::encode({m_seq, address, payload});
    if (frame.isEmpty()) {
        m_lastError = "request too long for a frame";
        return Outcome::BadFrame;
    }

    Outcome outcome = Outcome::TimedOut;
    for (int round = 0; round <= m_settings.retries; ++round) {
        if (round > 0 && m_trace)
            m_trace->note(QStringLiteral("repeat %1 of frame %2").arg(round).arg(QChar(m_seq)));
        outcome = attempt(frame, m_seq, address, reply);
        if (outcome == Outcome::Answered || outcome == Outcome::HungUp || outcome == Outcome::WriteFailed)
            break;
    }

    switch (outcome) {
    case Outcome::Answered: break;
    case Outcome::TimedOut:
        m_lastError = address == linkframe::BroadcastAddress
                          ? "serial time-out, no analyzer answers on " + name().toUtf8()
                          : "serial time-out, analyzer " + address + " did not answer";
        break;
    case Outcome::BadFrame:
        m_lastError = "bad frame from analyzer " + address + " (check failed after "
                      + QByteArray::number(m_settings.retries + 1) + " tries)";
        break;
    case Outcome::WriteFailed: m_lastError = "serial write failed: " + m_serial.errorString().toUtf8(); break;
    case Outcome::HungUp:
        m_hungUp = true;
        m_lastError = "serial line " + name().toUtf8() + " hung up";
        break;
    }
    return outcome;
}

SerialPort::Outcome SerialPort::attempt(const QByteArray& frame, char seq, const QByteArray& address, QByteArray* reply)
{
    // Whatever is left from an earlier, abandoned exchange is stale.
    m_serial.clearInputBuffer();
    if (m_trace)
        m_trace->write("S>", frame);
    if (m_serial.write(frame) != frame.size())
        return lineHungUp() ? Outcome::HungUp : Outcome::WriteFailed;

    linkframe::Decoder decoder;
    QElapsedTimer elapsed;
    elapsed.start();
    // A line that keeps sending noise or stale frames still ends the wait.
    const qint64 limit = qint64(m_timeouts.read) * 4 + 2000;
    char buf[512];

    while (elapsed.elapsed() < limit) {
        // Waiting for the reply to begin: the read time-out. Inside a frame:
        // the largest gap between two bytes.
        const bool inFrame = decoder.inFrame() && m_timeouts.interval > 0;
        m_serial.setTimeouts(m_timeouts.interval, inFrame ? m_timeouts.interval : m_timeouts.read, m_timeouts.write);
        const qint64 waiting = m_serial.bytesAvailable();
        const qint64 want = qBound<qint64>(1, waiting, qint64(sizeof buf));
        const qint64 n = m_serial.readData(buf, want);
        if (n <= 0) {
            if (lineHungUp())
                return Outcome::HungUp;
            if (m_trace && decoder.inFrame())
                m_trace->note(QStringLiteral("frame broken off"));
            return decoder.inFrame() ? Outcome::BadFrame : Outcome::TimedOut;
        }

        for (const linkframe::Event& event : decoder.feed(QByteArrayView(buf, n))) {
            if (m_trace)
                m_trace->write("S<", event.raw);
            if (event.kind != linkframe::Event::Good) {
                if (m_trace)
                    m_trace->note(event.kind == linkframe::Event::BadCheck ? QStringLiteral("bad check")
                                                                           : QStringLiteral("malformed frame"));
                return Outcome::BadFrame;
            }
            if (event.frame.seq != seq || event.frame.address != address) {
                if (m_trace)
                    m_trace->note(QStringLiteral("stale frame ignored"));
                continue;
            }
            *reply = event.frame.payload;
            return Outcome::Answered;
        }
    }
    return Outcome::TimedOut;
}

bool SerialPort::lineHungUp() const
{
    pollfd p{m_serial.handle(), POLLIN, 0};
    if (::poll(&p, 1, 0) < 0)
        return true;
    return p.revents & (POLLHUP | POLLERR | POLLNVAL);
}
