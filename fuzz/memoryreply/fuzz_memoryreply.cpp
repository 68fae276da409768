// The reply to "4C": after the two echo characters, two hex digits per
// byte; an odd last digit is ignored, anything but hex digits gives no
// data. The bytes re-encode to the digits they came from.
#include "instrument/replyparser.h"

#include "fuzzcheck.h"

using namespace ReplyParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray reply = fuzz::bytes(data, size);
    const QByteArray bytes = parseMemoryReply(reply);

    const qsizetype whole = reply.size() > 2 ? (reply.size() - 2) / 2 : 0;
    const QByteArray digits = reply.mid(2, 2 * whole);
    const bool allHex = std::all_of(digits.begin(), digits.end(),
                                    [](char c) { return fuzz::isHexDigit(QLatin1Char(c)); });
    if (whole == 0 || !allHex) {
        FUZZ_CHECK(bytes.isEmpty());
        return 0;
    }
    FUZZ_CHECK(bytes.size() == whole);
    FUZZ_CHECK(bytes.toHex() == digits.toLower());
    return 0;
}
