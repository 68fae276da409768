// The reply to "32": whatever the analyzer sends, the status is characters
// 2-3, every labelled value is read from where its label stands, and the
// channel and error code are the characters 8 and 5 before the test-time
// label of a final reply; nothing is read from outside the reply.
#include "instrument/replyparser.h"

#include "fuzzcheck.h"

using namespace ReplyParser;

namespace {

struct Labelled
{
    int pos = -1; // where the label begins, -1 when no field is found
    int value = -1;
};

// The first label followed by ASCII white space and four hex digits.
Labelled findField(const QString& text, const QString& label)
{
    for (int q = text.indexOf(label); q >= 0; q = text.indexOf(label, q + 1)) {
        int i = q + int(label.size());
        while (i < text.size() && (text.at(i) == u' ' || (text.at(i) >= u'\t' && text.at(i) <= u'\r')))
            ++i;
        const int v = fuzz::hexValue(text.mid(i, 4));
        if (v >= 0 && i + 4 <= text.size())
            return {q, v};
    }
    return {};
}

void checkField(const Labelled& expected, bool has, int value)
{
    FUZZ_CHECK(has == (expected.pos >= 0));
    if (has) {
        FUZZ_CHECK(value == expected.value);
        FUZZ_CHECK(value >= 0 && value <= 0xFFFF);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray reply = fuzz::bytes(data, size);
    const TestReply r = parseTestReply(reply);
    FUZZ_CHECK(r.text == decodeReply(reply));

    if (reply.startsWith("32XX")) {
        FUZZ_CHECK(r.unknownTest && !r.parsed && !r.hasTestTime && !r.isFinal());
        return 0;
    }
    FUZZ_CHECK(!r.unknownTest);

    const int status = r.text.size() >= 4 ? fuzz::hexValue(r.text.mid(2, 2)) : -1;
    FUZZ_CHECK(r.parsed == (status >= 0));
    FUZZ_CHECK(r.status == status);
    if (!r.parsed) {
        FUZZ_CHECK(!r.hasTestTime && !r.hasPrewarmTime && !r.hasPrewarmTimeout);
        FUZZ_CHECK(r.channel.isEmpty() && r.errorCode.isEmpty());
        return 0;
    }

    const Labelled testTime = findField(r.text, QStringLiteral("测试时间:"));
    checkField(testTime, r.hasTestTime, r.testTime);
    checkField(findField(r.text, QStringLiteral("预温时间:")), r.hasPrewarmTime, r.prewarmTime);
    checkField(findField(r.text, QStringLiteral("预温超时时间:")), r.hasPrewarmTimeout, r.prewarmTimeout);

    // Channel and error code lie inside the reply, ahead of the label.
    const int p = testTime.pos;
    const bool fixedFields = r.isFinal() && p >= 0;
    FUZZ_CHECK(r.channel == (fixedFields && p >= 8 ? r.text.mid(p - 8, 2) : QString()));
    FUZZ_CHECK(r.errorCode == (fixedFields && p >= 5 ? r.text.mid(p - 5, 2) : QString()));
    FUZZ_CHECK(r.channelNumber() == (r.channel.size() == 2 ? fuzz::hexValue(r.channel) : -1));
    FUZZ_CHECK(r.errorNumber() == (r.errorCode.size() == 2 ? fuzz::hexValue(r.errorCode) : -1));

    // The report fields the driver shows are cut from the reply.
    for (int from : {5, 13, 15, 17, 19, 20})
        FUZZ_CHECK(r.text.contains(r.field(from, 16)) && r.field(from, 16).size() <= 16);
    return 0;
}
