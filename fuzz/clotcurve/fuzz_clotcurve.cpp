// Feeds arbitrary bytes to ClotCurve::fromBuffer, as a corrupt or hostile
// blob from the curve table would reach it. Run with -malloc_limit_mb=64: a
// count that is believed without checking asks for gigabytes and is caught.
#include "core/analysisresult.h"

#include "fuzzcheck.h"

#include <cmath>

namespace {

bool hasNaN(const ClotCurve& curve)
{
    for (const ClotCurve::Segment& s : curve.segments()) {
        if (std::isnan(s.start) || std::isnan(s.interval))
            return true;
        for (double v : s.values) {
            if (std::isnan(v))
                return true;
        }
    }
    return false;
}

// What is stored comes back as it was: the same bytes, and an equal curve
// where equality can hold (NaN equals nothing, itself included).
void checkRoundTrip(const ClotCurve& curve)
{
    const QByteArray stored = curve.toBuffer();
    const ClotCurve back = ClotCurve::fromBuffer(stored);
    FUZZ_CHECK(back.toBuffer() == stored);
    FUZZ_CHECK(back.type() == curve.type());
    FUZZ_CHECK(back.size() == curve.size());
    if (!hasNaN(curve))
        FUZZ_CHECK(back == curve);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::silenceLogs();
    const QByteArray buffer = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    ClotCurve curve = ClotCurve::fromBuffer(buffer);

    // Whatever is accepted must be exactly what the buffer begins with.
    if (curve != ClotCurve())
        FUZZ_CHECK(buffer.startsWith(curve.toBuffer()));
    checkRoundTrip(curve);

    // The operations the host runs on a loaded curve must cope with any
    // decoded values (NaN, infinities, zero or negative intervals).
    const int n = curve.size();
    volatile double sink = 0.0;
    for (int i = -1; i <= n; i += 1 + n / 16)
        sink = sink + curve.x(i) + curve.y(i);
    const ClotCurve od = curve.toType(ClotCurve::OpticalDensity);
    FUZZ_CHECK(od.size() == n);
    checkRoundTrip(od);
    if (size >= 2)
        curve.remove(int(int8_t(data[0])), int(int8_t(data[1])));
    FUZZ_CHECK(curve.size() <= n);
    checkRoundTrip(curve);
    return 0;
}
