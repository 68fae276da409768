// The reply to "24": the error codes are the groups of four upper-case hex
// digits ahead of the sensor field, in order and without overlap; the
// sensor word is the hex number between "Sensor-" and the next dash and
// fits 16 bits.
#include "instrument/replyparser.h"

#include "fuzzcheck.h"

using fuzz::isUpperHex;

using namespace ReplyParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray reply = fuzz::bytes(data, size);
    const StatusReply r = parseStatusReply(reply);

    // The first "Sensor-" with hex digits and a dash after it.
    qsizetype codesEnd = reply.size();
    qint64 word = -1;
    for (qsizetype q = reply.indexOf("Sensor-"); q >= 0; q = reply.indexOf("Sensor-", q + 1)) {
        qsizetype i = q + 7;
        while (i < reply.size() && fuzz::isHexDigit(QLatin1Char(reply.at(i))))
            ++i;
        if (i > q + 7 && i < reply.size() && reply.at(i) == '-') {
            codesEnd = q;
            bool ok = false;
            const qulonglong w = reply.mid(q + 7, i - q - 7).toULongLong(&ok, 16);
            word = ok && w <= 0xFFFF ? qint64(w) : -1;
            break;
        }
    }
    FUZZ_CHECK(r.hasSensorWord == (word >= 0));
    if (r.hasSensorWord)
        FUZZ_CHECK(r.sensorWord == word);

    // Read in place: this loop runs over every byte of every input.
    QList<int> codes;
    for (qsizetype i = 0; i + 4 <= codesEnd;) {
        const char* group = reply.constData() + i;
        if (std::all_of(group, group + 4, isUpperHex)) {
            int v = 0;
            for (int k = 0; k < 4; ++k)
                v = v * 16 + (group[k] <= '9' ? group[k] - '0' : group[k] - 'A' + 10);
            codes.append(v);
            i += 4;
        } else {
            ++i;
        }
    }
    FUZZ_CHECK(r.errorCodes == codes);
    return 0;
}
