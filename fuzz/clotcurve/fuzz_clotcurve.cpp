// Feeds arbitrary bytes to ClotCurve::fromBuffer, as a corrupt or hostile
// blob from the curve table would reach it. Run with -malloc_limit_mb=64: a
// count that is believed without checking asks for gigabytes and is caught.
#include "core/analysisresult.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool silenced = (qInstallMessageHandler(quiet), true);
    Q_UNUSED(silenced);

    const QByteArray buffer = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    ClotCurve curve = ClotCurve::fromBuffer(buffer);

    // Whatever is accepted must be exactly what the buffer begins with.
    if (curve != ClotCurve() && !buffer.startsWith(curve.toBuffer()))
        std::abort();

    // The operations the host runs on a loaded curve must cope with any
    // decoded values (NaN, infinities, zero or negative intervals).
    const int n = curve.size();
    volatile double sink = 0.0;
    for (int i = -1; i <= n; i += 1 + n / 16)
        sink = sink + curve.x(i) + curve.y(i);
    const ClotCurve od = curve.toType(ClotCurve::OpticalDensity);
    if (od.size() != n)
        std::abort();
    if (size >= 2)
        curve.remove(int(int8_t(data[0])), int(int8_t(data[1])));
    if (curve.size() > n)
        std::abort();
    return 0;
}
