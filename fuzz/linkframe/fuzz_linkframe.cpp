// Linkhub's frame decoder on arbitrary line bytes. Input: one flag byte,
// then the bytes on the line.
//   flag bit 0: before decoding, every STX ... ETX gets the check its body
//     asks for, so that the fuzzer reaches what lies behind the check.
//   other bits: seed of the chunk sizes.
// What must hold:
//   - the frames and events do not depend on how the bytes are cut;
//   - every event's bytes are the next frame's bytes on the line, at most
//     MaxFrameSize long;
//   - a good frame re-encodes to exactly the bytes it came from;
//   - the input taken as a payload encodes to a frame that decodes back to it.
#include "platform/linkhub/linkframe.h"

#include "core/tqglobal.h"

#include "fuzzcheck.h"

using namespace linkframe;

namespace {

QByteArray checkText(QByteArrayView body)
{
    return QByteArray::number(crc16(body.data(), int(body.size())), 16).toUpper().rightJustified(4, '0');
}

void fixChecks(QByteArray* line)
{
    for (qsizetype stx = line->indexOf(STX); stx >= 0; stx = line->indexOf(STX, stx + 1)) {
        const qsizetype etx = line->indexOf(ETX, stx + 1);
        if (etx < 0)
            break;
        if (line->indexOf(STX, stx + 1) >= 0 && line->indexOf(STX, stx + 1) < etx)
            continue;
        if (etx + 5 <= line->size())
            line->replace(etx + 1, 4, checkText(QByteArrayView(*line).sliced(stx + 1, etx - stx - 1)));
    }
}

QList<Event> decodeInChunks(const QByteArray& line, quint32 seed, bool* inFrame)
{
    Decoder decoder;
    fuzz::Chunker chunker(seed);
    QList<Event> events;
    for (qsizetype at = 0; at < line.size();) {
        const qsizetype n = qMin<qsizetype>(chunker.next(), line.size() - at);
        events += decoder.feed(QByteArrayView(line).sliced(at, n));
        at += n;
    }
    *inFrame = decoder.inFrame();
    return events;
}

bool sameEvents(const QList<Event>& a, const QList<Event>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].kind != b[i].kind || a[i].raw != b[i].raw || !(a[i].frame == b[i].frame))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    if (size < 1)
        return 0;
    QByteArray line = fuzz::bytes(data + 1, size - 1);
    if (data[0] & 1)
        fixChecks(&line);

    Decoder whole;
    const QList<Event> events = whole.feed(line);
    bool inFrame = false;
    FUZZ_CHECK(sameEvents(events, decodeInChunks(line, data[0] >> 1, &inFrame)));
    FUZZ_CHECK(inFrame == whole.inFrame());

    qsizetype at = 0;
    for (const Event& e : events) {
        FUZZ_CHECK(!e.raw.isEmpty() && e.raw.at(0) == STX && e.raw.size() <= MaxFrameSize);
        const qsizetype found = line.indexOf(e.raw, at);
        FUZZ_CHECK(found >= at && line.mid(at, found - at).indexOf(STX) < 0);
        at = found + e.raw.size();
        if (e.kind == Event::Good) {
            FUZZ_CHECK(isValidSeq(e.frame.seq));
            FUZZ_CHECK(encode(e.frame) == e.raw);
        }
        if (e.kind != Event::Malformed)
            FUZZ_CHECK(e.raw.endsWith(CR));
    }

    // The other way: the input as the payload of a frame.
    Frame frame;
    frame.seq = "0123456789ABCDEF"[data[0] & 15];
    frame.address = data[0] & 16 ? BroadcastAddress : QByteArrayLiteral("VELA01");
    frame.payload = line;
    const QByteArray encoded = encode(frame);
    if (!encoded.isEmpty()) {
        FUZZ_CHECK(encoded.size() <= MaxFrameSize);
        const QList<Event> back = decodeInChunks(encoded, data[0], &inFrame);
        FUZZ_CHECK(back.size() == 1 && back[0].kind == Event::Good && back[0].frame == frame && !inFrame);
    } else {
        // Only a frame too long for the line is refused.
        const qsizetype escaped = std::count_if(line.begin(), line.end(), [](char c) {
            return c == STX || c == ETX || c == CR || c == DLE;
        });
        FUZZ_CHECK(1 + 1 + frame.address.size() + 1 + line.size() + escaped + 1 + 4 + 1 > MaxFrameSize);
    }
    return 0;
}
