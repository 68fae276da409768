#include "sim/velasim/frameresponder.h"

#include "platform/linewire/wiretrace.h"
#include "sim/simbus.h"

namespace {

// The simulated analyzers of one bus.
class BusBackend : public AnalyzerBackend
{
public:
    explicit BusBackend(SimBus* bus)
        : m_bus(bus)
    {
    }
    QList<QByteArray> identifiers() const override { return m_bus->identifiers(); }
    bool serves(const QByteArray& address) const override { return m_bus->analyzer(address) != nullptr; }
    SimReply handle(const QByteArray& address, const QByteArray& payload) override
    {
        return m_bus->analyzer(address)->handle(payload);
    }

private:
    SimBus* m_bus;
};

} // namespace

FrameResponder::FrameResponder(SimBus* bus, WireTrace* trace)
    : m_ownBackend(std::make_unique<BusBackend>(bus))
    , m_backend(m_ownBackend.get())
    , m_trace(trace)
{
}

FrameResponder::FrameResponder(AnalyzerBackend* backend, WireTrace* trace)
    : m_backend(backend)
    , m_trace(trace)
{
}

FrameResponder::~FrameResponder() = default;

QList<FrameResponder::Output> FrameResponder::feed(QByteArrayView bytes)
{
    QList<Output> outputs;
    for (const linkframe::Event& event : m_decoder.feed(bytes)) {
        if (m_trace)
            m_trace->write("S<", event.raw);
        if (event.kind != linkframe::Event::Good) {
            ++m_badReceived;
            if (m_trace)
                m_trace->note(QStringLiteral("bad request frame ignored"));
            continue;
        }
        Output out;
        if (answer(event.frame, &out))
            outputs.append(out);
    }
    return outputs;
}

bool FrameResponder::answer(const linkframe::Frame& request, Output* out)
{
    if (request.address == linkframe::BroadcastAddress) {
        if (!request.payload.isEmpty())
            return false;
        QList<QByteArray> ids = m_backend->identifiers();
        out->bytes = finish(linkframe::encode({request.seq, request.address, ids.join(',')}));
        return true;
    }

    if (!m_backend->serves(request.address))
        return false;

    Last& last = m_last[request.address];
    const bool repeat = last.seq == request.seq && last.request == request.payload;
    if (!repeat) {
        const SimReply reply = m_backend->handle(request.address, request.payload);
        last.seq = request.seq;
        last.request = request.payload;
        last.reply = reply.line;
        last.silent = reply.action == SimReply::Silent;
        last.drop = reply.action == SimReply::DropLink;
        last.delayMs = reply.delayMs;
    } else if (m_trace) {
        m_trace->note(QStringLiteral("repeat of frame %1 answered from the last reply").arg(QChar(request.seq)));
    }

    if (last.silent)
        return false;
    out->delayMs = last.delayMs;
    if (last.drop) {
        out->drop = true;
        return true;
    }
    out->bytes = finish(linkframe::encode({request.seq, request.address, last.reply}));
    return !out->bytes.isEmpty();
}

QByteArray FrameResponder::finish(const QByteArray& frame)
{
    if (frame.isEmpty())
        return frame;
    ++m_sent;
    if (m_corruptEvery > 0 && m_sent % m_corruptEvery == 0) {
        if (m_trace)
            m_trace->note(QStringLiteral("frame corrupted on purpose"));
        return corrupted(frame);
    }
    return frame;
}

QByteArray FrameResponder::corrupted(const QByteArray& frame)
{
    // Flip the lowest bit of the first text byte (or of the sequence
    // character when there is no text). No byte of a frame body turns into
    // STX, ETX or CR that way, so the frame still ends where it did and
    // fails only its check.
    QByteArray out = frame;
    const qsizetype colon = out.indexOf(':');
    qsizetype at = colon + 1;
    if (colon < 0 || out.at(at) == linkframe::ETX)
        at = 1;
    out[at] = char(out.at(at) ^ 0x01);
    return out;
}
