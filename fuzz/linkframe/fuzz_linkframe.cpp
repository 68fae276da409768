// Linkhub's frame decoder on arbitrary line bytes. Input: one flag byte,
// then the bytes on the line.
//   flag bit 0: before decoding, every STX ... ETX gets the check its body
//     asks for, so that the fuzzer reaches what lies behind the check.
//   flag bits 5 to 7 all set: the bytes after the last STX (all of them if
//     there is none) are repeated until the line is longer than the longest
//     frame, so that short inputs reach what is too long for the line; the
//     other inputs stay short and many.
//   other bits: seed of the chunk sizes.
// What must hold:
//   - the frames and events do not depend on how the bytes are cut: the line
//     fed in pieces of 256 bytes and in pieces of 0 .. 16 bytes gives the same
//     events, compared as they come;
//   - every event's bytes are the next frame's bytes on the line, at most
//     MaxFrameSize long;
//   - a good frame re-encodes to exactly the bytes it came from;
//   - the input taken as a payload encodes to a frame that decodes back to it.
// A line of many STX gives one event per STX; comparing them as they come
// keeps the lists short, so such lines cost no more than others.
#include "platform/linewire/linkframe.h"

#include "core/tqglobal.h"

#include "fuzzcheck.h"

using namespace linkframe;

namespace {

QByteArray checkText(QByteArrayView body)
{
    return QByteArray::number(crc16(body.data(), int(body.size())), 16).toUpper().rightJustified(4, '0');
}

// Gives every ETX the check of the body since the last STX before it, when
// no other ETX lies between them and the four check bytes fit on the line.
void fixChecks(QByteArray* line)
{
    qsizetype stx = -1;
    for (qsizetype i = 0; i < line->size(); ++i) {
        const char c = line->at(i);
        if (c == STX) {
            stx = i;
        } else if (c == ETX && stx >= 0) {
            if (i + 5 <= line->size())
                line->replace(i + 1, 4, checkText(QByteArrayView(*line).sliced(stx + 1, i - stx - 1)));
            stx = -1;
        }
    }
}

bool sameEvent(const Event& a, const Event& b)
{
    return a.kind == b.kind && a.raw == b.raw && a.frame == b.frame;
}

// One way of cutting the line: a decoder, how far it has read, and the
// events it gave that the other cut has not matched yet.
struct Cut
{
    Decoder decoder;
    qsizetype at = 0;
    QList<Event> pending;

    void feed(const QByteArray& line, qsizetype n)
    {
        n = qMin(n, line.size() - at);
        pending += decoder.feed(QByteArrayView(line).sliced(at, n));
        at += n;
    }
};

// Feeds the line in the two cuts and hands every event both agree on to
// check, in order. False when they disagree.
template <typename Check>
bool cutsAgree(const QByteArray& line, quint32 seed, bool* inFrame, Check check)
{
    constexpr qsizetype Piece = 256;
    Cut big;
    Cut small;
    fuzz::Chunker chunker(seed);
    // The small cut catches up with the big one after each piece.
    while (big.at < line.size()) {
        big.feed(line, Piece);
        while (small.at < big.at)
            small.feed(line, chunker.next());
        const qsizetype both = qMin(big.pending.size(), small.pending.size());
        for (qsizetype i = 0; i < both; ++i) {
            if (!sameEvent(big.pending[i], small.pending[i]))
                return false;
            check(big.pending[i]);
        }
        big.pending.remove(0, both);
        small.pending.remove(0, both);
    }
    *inFrame = big.decoder.inFrame();
    return big.pending.isEmpty() && small.pending.isEmpty() && small.decoder.inFrame() == *inFrame;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    if (size < 1)
        return 0;
    QByteArray line = fuzz::bytes(data + 1, size - 1);
    if ((data[0] & 0xE0) == 0xE0) {
        const QByteArray tail = line.mid(line.lastIndexOf(STX) + 1);
        if (!tail.isEmpty())
            line += tail.repeated(MaxFrameSize / tail.size() + 1);
    }
    if (data[0] & 1)
        fixChecks(&line);

    qsizetype at = 0;
    bool inFrame = false;
    FUZZ_CHECK(cutsAgree(line, data[0] >> 1, &inFrame, [&](const Event& e) {
        FUZZ_CHECK(!e.raw.isEmpty() && e.raw.at(0) == STX && e.raw.size() <= MaxFrameSize);
        const qsizetype found = line.indexOf(e.raw, at);
        FUZZ_CHECK(found >= at && QByteArrayView(line).sliced(at, found - at).indexOf(STX) < 0);
        at = found + e.raw.size();
        if (e.kind == Event::Good) {
            FUZZ_CHECK(isValidSeq(e.frame.seq));
            FUZZ_CHECK(encode(e.frame) == e.raw);
        }
        if (e.kind != Event::Malformed)
            FUZZ_CHECK(e.raw.endsWith(CR));
    }));

    // The other way: the input as the payload of a frame.
    Frame frame;
    frame.seq = "0123456789ABCDEF"[data[0] & 15];
    frame.address = data[0] & 16 ? BroadcastAddress : QByteArrayLiteral("VELA01");
    frame.payload = line;
    const QByteArray encoded = encode(frame);
    if (!encoded.isEmpty()) {
        FUZZ_CHECK(encoded.size() <= MaxFrameSize);
        int good = 0;
        FUZZ_CHECK(cutsAgree(encoded, data[0], &inFrame, [&](const Event& e) {
            FUZZ_CHECK(e.kind == Event::Good && e.frame == frame && e.raw == encoded);
            ++good;
        }));
        FUZZ_CHECK(good == 1 && !inFrame);
    } else {
        // Only a frame too long for the line is refused.
        const qsizetype escaped = std::count_if(line.begin(), line.end(),
                                                [](char c) { return c == STX || c == ETX || c == CR || c == DLE; });
        FUZZ_CHECK(1 + 1 + frame.address.size() + 1 + line.size() + escaped + 1 + 4 + 1 > MaxFrameSize);
    }
    return 0;
}
