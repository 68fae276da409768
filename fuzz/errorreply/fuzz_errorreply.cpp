// The error-reply test: a reply is an error reply exactly when it begins
// with "Err:", with "XX", or with two upper-case hex digits and "XX",
// whatever bytes follow (NUL, GBK, line ends).
#include "instrument/commandcodec.h"

#include "fuzzcheck.h"

using fuzz::isUpperHex;

namespace {

bool expected(const QByteArray& r)
{
    if (r.startsWith("Err:") || r.startsWith("XX"))
        return true;
    return r.size() >= 4 && isUpperHex(r.at(0)) && isUpperHex(r.at(1)) && r.mid(2, 2) == "XX";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray reply = fuzz::bytes(data, size);
    FUZZ_CHECK(matchesErrorReply(reply) == expected(reply));
    return 0;
}
