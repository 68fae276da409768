// The reply to "73": the texts after the first three characters, split at
// blanks, hold every other character of the reply in order; readings of
// any value (NaN and infinities included) keep the settling history within
// its forty readings.
#include "instrument/replyparser.h"
#include "instrument/temperaturestability.h"

#include "fuzzcheck.h"

#include <cmath>

using namespace ReplyParser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray reply = fuzz::bytes(data, size);
    const QStringList texts = parseTemperatureTexts(reply);

    QString rest = QString::fromLatin1(reply.mid(3));
    rest.remove(u' ');
    FUZZ_CHECK(texts.join(QString()) == rest);
    for (const QString& t : texts)
        FUZZ_CHECK(!t.isEmpty() && !t.contains(u' '));

    // Every poll adds zone 1 as it read; feed the zones in turn, as many
    // polls would, raw (as a reply may carry them) and as the driver keeps them.
    QList<float> raw;
    QList<float> kept;
    for (const QString& t : texts) {
        bool ok = false;
        const float v = t.toFloat(&ok);
        if (!ok)
            continue;
        if (TemperatureStability::addReading(&raw, v))
            FUZZ_CHECK(raw.isEmpty());
        FUZZ_CHECK(raw.size() <= TemperatureStability::readingCount);
        if (std::isfinite(v) && TemperatureStability::addReading(&kept, v))
            FUZZ_CHECK(kept.isEmpty());
        FUZZ_CHECK(kept.size() <= TemperatureStability::readingCount);
    }
    return 0;
}
