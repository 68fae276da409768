#include "platform/linewire/linkframe.h"

#include "core/tqglobal.h"

namespace linkframe {

namespace {

bool isEscaped(char c)
{
    return c == STX || c == ETX || c == CR || c == DLE;
}

QByteArray crcText(QByteArrayView body)
{
    const quint16 crc = crc16(body.data(), int(body.size()));
    return QByteArray::number(crc, 16).toUpper().rightJustified(4, '0');
}

bool unescape(QByteArrayView bytes, QByteArray* out)
{
    out->clear();
    out->reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != DLE) {
            // STX and ETX cannot reach here; a bare CR is a broken frame.
            if (c == CR)
                return false;
            out->append(c);
            continue;
        }
        if (i + 1 >= bytes.size())
            return false;
        const char original = char(bytes[++i] - 0x40);
        if (!isEscaped(original))
            return false;
        out->append(original);
    }
    return true;
}

bool parseBody(QByteArrayView body, Frame* frame)
{
    if (body.size() < 3 || !isValidSeq(body[0]))
        return false;
    const qsizetype colon = body.indexOf(':');
    if (colon < 0)
        return false;
    const QByteArrayView address = body.sliced(1, colon - 1);
    if (address != BroadcastAddress && !isValidAddress(address))
        return false;
    frame->seq = body[0];
    frame->address = address.toByteArray();
    return unescape(body.sliced(colon + 1), &frame->payload);
}

} // namespace

bool isValidAddress(QByteArrayView address)
{
    if (address.isEmpty() || address.size() > MaxAddressSize)
        return false;
    for (char c : address) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'
                        || c == '-' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

bool isValidSeq(char seq)
{
    return (seq >= '0' && seq <= '9') || (seq >= 'A' && seq <= 'F');
}

char nextSeq(char seq)
{
    if (seq == '9')
        return 'A';
    if (seq >= 'F' || !isValidSeq(seq))
        return '0';
    return char(seq + 1);
}

QByteArray encode(const Frame& frame)
{
    if (!isValidSeq(frame.seq) || (frame.address != BroadcastAddress && !isValidAddress(frame.address)))
        return QByteArray();

    QByteArray body;
    body.reserve(frame.address.size() + frame.payload.size() + 8);
    body.append(frame.seq);
    body.append(frame.address);
    body.append(':');
    for (char c : frame.payload) {
        if (isEscaped(c)) {
            body.append(DLE);
            body.append(char(c + 0x40));
        } else {
            body.append(c);
        }
    }

    QByteArray out;
    out.reserve(body.size() + 7);
    out.append(STX);
    out.append(body);
    out.append(ETX);
    out.append(crcText(body));
    out.append(CR);
    if (out.size() > MaxFrameSize)
        return QByteArray();
    return out;
}

QList<Event> Decoder::feed(QByteArrayView bytes)
{
    QList<Event> events;
    for (char c : bytes) {
        if (c == STX) {
            if (m_inFrame)
                abort(&events);
            m_inFrame = true;
            m_raw.append(c);
            continue;
        }
        if (!m_inFrame)
            continue; // noise between frames
        m_raw.append(c);
        if (c == ETX && m_etx < 0)
            m_etx = m_raw.size() - 1;
        if (m_etx >= 0 && m_raw.size() == m_etx + 6)
            finish(&events);
        else if (m_raw.size() >= MaxFrameSize)
            abort(&events);
    }
    return events;
}

void Decoder::reset()
{
    m_raw.clear();
    m_inFrame = false;
    m_etx = -1;
}

void Decoder::finish(QList<Event>* events)
{
    Event event;
    event.raw = m_raw;
    const qsizetype etx = m_etx;
    const QByteArrayView body = QByteArrayView(m_raw).sliced(1, etx - 1);
    const QByteArrayView check = QByteArrayView(m_raw).sliced(etx + 1, 4);
    const char terminator = m_raw.at(etx + 5);

    bool hex = true;
    for (char c : check)
        hex = hex && ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));

    if (!hex || terminator != CR) {
        event.kind = Event::Malformed;
    } else if (check != crcText(body)) {
        event.kind = Event::BadCheck;
        parseBody(body, &event.frame);
    } else {
        event.kind = parseBody(body, &event.frame) ? Event::Good : Event::Malformed;
    }
    events->append(std::move(event));
    reset();
}

void Decoder::abort(QList<Event>* events)
{
    Event event;
    event.kind = Event::Malformed;
    event.raw = m_raw;
    events->append(std::move(event));
    reset();
}

} // namespace linkframe
