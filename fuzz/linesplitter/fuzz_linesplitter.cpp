// Linkhub's request-line splitter on arbitrary client bytes, fed in
// arbitrary chunks. Input: a byte choosing the line limit, a byte seeding
// the chunk sizes, then the client's bytes. What must hold, however the
// bytes are cut: one line per LF, in order; a line is the bytes between two
// LFs less one CR at its end; a line longer than the limit comes out empty
// and marked overlong; what is left after the last LF waits as pending.
#include "platform/linewire/linesplitter.h"

#include "fuzzcheck.h"

namespace {

struct Expected
{
    QList<LineSplitter::Line> lines;
    qsizetype pending = 0;
};

Expected expectedLines(const QByteArray& bytes, int limit)
{
    Expected e;
    const QList<QByteArray> parts = bytes.split('\n');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        QByteArray text = parts.at(i);
        if (text.endsWith('\r'))
            text.chop(1);
        LineSplitter::Line line;
        line.overlong = text.size() > limit;
        if (!line.overlong)
            line.text = text;
        e.lines.append(line);
    }
    // An unfinished line is dropped as soon as it cannot end within the
    // limit (one byte over it may still be the CR of its line end).
    const QByteArray& last = parts.last();
    const bool over = last.size() > limit + 1 || (last.size() > limit && !last.endsWith('\r'));
    e.pending = over ? 0 : last.size();
    return e;
}

bool sameLines(const QList<LineSplitter::Line>& a, const QList<LineSplitter::Line>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].text != b[i].text || a[i].overlong != b[i].overlong)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    if (size < 2)
        return 0;
    const int limit = data[0] < 0xC0 ? data[0] % 40 : 1024;
    const QByteArray bytes = fuzz::bytes(data + 2, size - 2);
    const Expected expected = expectedLines(bytes, limit);

    LineSplitter whole(limit);
    FUZZ_CHECK(sameLines(whole.feed(bytes), expected.lines));
    FUZZ_CHECK(whole.pending() == expected.pending);

    LineSplitter pieces(limit);
    fuzz::Chunker chunker(data[1]);
    QList<LineSplitter::Line> lines;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype n = qMin<qsizetype>(chunker.next(), bytes.size() - at);
        lines += pieces.feed(QByteArrayView(bytes).sliced(at, n));
        at += n;
    }
    FUZZ_CHECK(sameLines(lines, expected.lines));
    FUZZ_CHECK(pieces.pending() == expected.pending);
    for (const LineSplitter::Line& line : lines)
        FUZZ_CHECK(!line.text.contains('\n') && line.text.size() <= limit);
    return 0;
}
