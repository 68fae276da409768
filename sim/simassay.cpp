#include "sim/simassay.h"

#include <QtMath>
#include <algorithm>
#include <cmath>

namespace simassay {

namespace {

struct AssayModel
{
    const char* codes;    // item codes, comma separated, upper case
    double low, high;     // clot time range in seconds at the nominal dilution
    int nominalDilution;  // dilution the range belongs to
    double dilutionPower; // clot time grows with (dilution / nominal) ^ power
    int prewarmSeconds;
};

// Ranges of normal plasma. Fibrinogen and the factor assays are run on
// diluted plasma (1/10), so their times are given for that dilution.
const AssayModel models[] = {
    {"PT", 11.0, 14.0, 1, 0.25, 60},
    {"AP", 28.0, 40.0, 1, 0.25, 90},
    {"TT", 14.0, 21.0, 1, 0.25, 30},
    {"FI,FB,FG", 8.0, 18.0, 10, 0.5, 30},
    // extrinsic factors (PT based): II, V, VII, X
    {"II,0V,F2,F5,F7,0X,FX", 30.0, 55.0, 10, 0.35, 60},
    // intrinsic factors (APTT based): VIII, IX, XI, XII
    {"VI,IX,XI,F8,F9,F1", 50.0, 85.0, 10, 0.35, 90},
    // immunoturbidimetric assays: the reported time is the reading time
    {"DD,FD", 30.0, 60.0, 1, 0.0, 30},
};
const AssayModel otherModel = {"", 20.0, 60.0, 1, 0.25, 60};

const AssayModel& modelFor(const QByteArray& itemCode)
{
    const QByteArray code = itemCode.toUpper();
    for (const AssayModel& m : models) {
        const QList<QByteArray> codes = QByteArray(m.codes).split(',');
        if (codes.contains(code))
            return m;
    }
    return otherModel;
}

quint16 clampPoint(double v)
{
    return quint16(std::clamp(qRound(v), 1, 0xFFFF));
}

} // namespace

int intervalMsForClotTime(int hundredths)
{
    if (hundredths < 1000)
        return 50;
    if (hundredths < 3000)
        return 100;
    if (hundredths < 6000)
        return 200;
    return 400;
}

int prewarmMs(const QByteArray& itemCode)
{
    return modelFor(itemCode).prewarmSeconds * 1000;
}

int clotTimeHundredths(const QByteArray& itemCode, int dilution, char method, QRandomGenerator* rng)
{
    const AssayModel& m = modelFor(itemCode);
    double seconds = m.low + (m.high - m.low) * rng->generateDouble();
    const int d = dilution > 0 ? dilution : m.nominalDilution;
    seconds *= std::pow(double(d) / m.nominalDilution, m.dilutionPower);
    if (method != 'L')
        seconds *= 1.03; // the bead needs a firmer clot to slow down
    const int h = qRound(seconds * 100.0);
    return std::clamp(h, 200, noClotLimitHundredths - 1);
}

Curve makeCurve(int clotHundredths, bool clotted, bool optical, quint32 seed)
{
    QRandomGenerator rng(seed);
    Curve c;
    c.reportedHundredths = clotted ? clotHundredths : noClotLimitHundredths;
    c.intervalMs = intervalMsForClotTime(c.reportedHundredths);
    const double clot = clotHundredths / 100.0;
    // width of the clotting transition; the clot is detected at 10 % of the
    // optical rise and at half of the bead's swing
    const double w = 0.04 * clot + 0.25;
    double duration;
    if (clotted)
        duration = clot + std::max(3.0, w * (std::log(9.0) + 5.0));
    else
        duration = noClotLimitHundredths / 100.0;
    const int count = int(std::ceil(duration * 1000.0 / c.intervalMs));
    c.points.reserve(count);
    auto noise = [&rng](double amplitude) { return (rng.generateDouble() * 2.0 - 1.0) * amplitude; };

    if (optical) {
        const double base = 12000.0 + 2000.0 * rng.generateDouble();
        const double rise = 18000.0 + 8000.0 * rng.generateDouble();
        const double centre = clot + w * std::log(9.0);
        for (int i = 0; i < count; ++i) {
            const double t = i * c.intervalMs / 1000.0;
            double v = base + 0.02 * base * std::exp(-t / 0.8); // mixing settles
            if (clotted)
                v += rise / (1.0 + std::exp(-(t - centre) / w));
            else
                v += 300.0 * t / duration; // slow drift, no clot
            c.points << clampPoint(v + noise(120.0));
        }
    } else {
        const double high = 38000.0 + 4000.0 * rng.generateDouble();
        const double low = 3000.0 + 1500.0 * rng.generateDouble();
        const double wb = 0.6 * w;
        for (int i = 0; i < count; ++i) {
            const double t = i * c.intervalMs / 1000.0;
            double swing = high;
            if (clotted)
                swing = low + (high - low) / (1.0 + std::exp((t - clot) / wb));
            const double wobble = 0.015 * swing * std::sin(2.0 * M_PI * t / 1.3);
            c.points << clampPoint(swing + wobble + noise(0.005 * swing + 50.0));
        }
    }
    return c;
}

} // namespace simassay
