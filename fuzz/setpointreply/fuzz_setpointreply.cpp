// The reply to "74": valid only when it begins with "74-"; one value per
// non-empty blank-separated part, every one a finite number (a part that
// does not read counts 0), so a set point box never gets NaN or infinity.
#include "instrument/replyparser.h"

#include "fuzzcheck.h"

#include <cmath>

using namespace ReplyParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray reply = fuzz::bytes(data, size);
    const SetPointReply r = parseSetPointReply(reply);
    FUZZ_CHECK(r.valid == reply.startsWith("74-"));
    if (!r.valid) {
        FUZZ_CHECK(r.values.isEmpty());
        return 0;
    }
    const QList<QByteArray> parts = reply.mid(3).split(' ');
    const qsizetype nonEmpty = std::count_if(parts.begin(), parts.end(),
                                             [](const QByteArray& p) { return !p.isEmpty(); });
    FUZZ_CHECK(r.values.size() == nonEmpty);
    qsizetype k = 0;
    for (const QByteArray& part : parts) {
        if (part.isEmpty())
            continue;
        const double v = r.values.at(k++);
        FUZZ_CHECK(std::isfinite(v));
        bool ok = false;
        const double read = part.toDouble(&ok);
        if (ok && std::isfinite(read))
            FUZZ_CHECK(v == read);
        else
            FUZZ_CHECK(v == 0.0);
    }
    return 0;
}
