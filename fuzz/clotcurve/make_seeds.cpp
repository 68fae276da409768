// Writes the seed corpus of fuzz_clotcurve into the folder given as the
// only argument: valid buffers of the shapes the system stores.
#include "core/analysisresult.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>

namespace {

bool write(const QDir& dir, const char* name, const ClotCurve& curve)
{
    QFile f(dir.filePath(QLatin1String(name)));
    if (!f.open(QIODevice::WriteOnly) || f.write(curve.toBuffer()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(f.fileName()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;

    bool ok = write(dir, "empty", ClotCurve());

    ClotCurve example; // the two-point example of the format
    example.append(0.0, 0.5, {1.0, 2.0});
    ok = write(dir, "example", example) && ok;

    // One segment as the driver reads it: 0.1 s steps, a clot at 4 s.
    QVector<double> raw;
    for (int k = 0; k < 120; ++k)
        raw << (k < 40 ? 1000.0 : 1000.0 - 6.0 * (k - 40));
    ClotCurve measured;
    measured.append(0.0, 0.1, raw);
    ok = write(dir, "measured", measured) && ok;
    ok = write(dir, "density", measured.toType(ClotCurve::OpticalDensity)) && ok;

    ClotCurve several;
    several.setType(ClotCurve::OpticalDensity);
    several.append(0.0, 0.5, {0.0, 0.1, 0.2});
    several.append(10.0, 0.25, {});
    several.append(20.0, 1.0, {0.5});
    ok = write(dir, "segments", several) && ok;
    return ok ? 0 : 1;
}
