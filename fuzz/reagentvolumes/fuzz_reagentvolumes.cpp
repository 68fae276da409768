// The reply to "78": after the two echo characters, every whole group of
// four is one bottle, its position code and a fill level of two upper-case
// hex digits; a group whose level is no number is reported and skipped; a
// level lies in 0 .. 1 and is what the host sends back unchanged.
#include "instrument/commandcodec.h"
#include "instrument/replyparser.h"

#include "fuzzcheck.h"

using fuzz::isUpperHex;

using namespace ReplyParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray reply = fuzz::bytes(data, size);
    QList<QByteArray> bad;
    const QList<ReagentVolume> volumes = parseReagentVolumes(reply, &bad);

    const qsizetype groups = reply.size() > 2 ? (reply.size() - 2) / 4 : 0;
    FUZZ_CHECK(volumes.size() + bad.size() == groups);
    qsizetype v = 0;
    qsizetype b = 0;
    for (qsizetype g = 0; g < groups; ++g) {
        const QByteArray group = reply.mid(2 + 4 * g, 4);
        if (isUpperHex(group.at(2)) && isUpperHex(group.at(3))) {
            FUZZ_CHECK(v < volumes.size());
            const ReagentVolume& bottle = volumes.at(v++);
            FUZZ_CHECK(bottle.positionCode == group.left(2));
            FUZZ_CHECK(bottle.volume >= 0.0 && bottle.volume <= 1.0);
            FUZZ_CHECK(bottle.volume * 255.0 == double(group.mid(2).toInt(nullptr, 16)));
            // The reagent table sends the level back as it was read.
            FUZZ_CHECK(volumeToHex(bottle.volume) == group.mid(2));
            FUZZ_CHECK(positionName(bottle.positionCode).startsWith(QLatin1Char(group.at(0))));
        } else {
            FUZZ_CHECK(b < bad.size() && bad.at(b++) == group);
        }
    }
    return 0;
}
