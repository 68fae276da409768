// The reply to "60": the points are the four-digit groups between the first
// and the second dash, up to the first group 0; a group that is not hex
// before that rejects the reply; no point comes from outside the field.
#include "instrument/replyparser.h"

#include "fuzzcheck.h"

using namespace ReplyParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray reply = fuzz::bytes(data, size);
    const CurveReply r = parseCurveReply(reply);

    if (reply.startsWith("6000")) {
        FUZZ_CHECK(r.noCurve && !r.parsed && r.points.isEmpty());
        return 0;
    }
    FUZZ_CHECK(!r.noCurve);
    const qsizetype a = reply.indexOf('-');
    const qsizetype b = a < 0 ? -1 : reply.indexOf('-', a + 1);
    if (b < 0) {
        FUZZ_CHECK(!r.parsed && r.points.isEmpty() && !r.ended);
        return 0;
    }
    const QByteArray field = reply.mid(a + 1, b - a - 1);
    FUZZ_CHECK(r.field == field);

    QVector<double> points;
    bool ended = false;
    bool bad = false;
    for (qsizetype k = 0; k + 4 <= field.size() && !ended && !bad; k += 4) {
        const int v = fuzz::hexValue(QString::fromLatin1(field.mid(k, 4)));
        if (v < 0)
            bad = true;
        else if (v == 0)
            ended = true;
        else
            points.append(v);
    }
    FUZZ_CHECK(r.parsed == !bad);
    if (bad) {
        FUZZ_CHECK(r.points.isEmpty());
        return 0;
    }
    FUZZ_CHECK(r.ended == ended);
    FUZZ_CHECK(r.points == points);
    for (double p : r.points)
        FUZZ_CHECK(p >= 1 && p <= 0xFFFF);
    return 0;
}
