#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QVector>

// How the simulated analyzer measures one test: its clot time and the
// points of its curve. Pure functions of the inputs and a random source.
namespace simassay {

// Longest time a test is measured; a sample that has not clotted by then
// is reported with this time (above the driver's default maximum of 120 s).
constexpr int noClotLimitHundredths = 18000;

// Curve interval in milliseconds the driver assumes for a clot time given in
// hundredths of a second: below 10 s 0.05 s, below 30 s 0.1 s, below 60 s
// 0.2 s, else 0.4 s.
int intervalMsForClotTime(int hundredths);

// Minutes of pre-warm the analyzer gives an assay before measuring it, in ms.
int prewarmMs(const QByteArray& itemCode);

// Clot time in hundredths for an assay item (first two characters of the
// assay name, any case), dilution factor (1 = neat, 0 counts as the assay's
// usual dilution) and method letter ('L' optical, other: magnetic bead).
int clotTimeHundredths(const QByteArray& itemCode, int dilution, char method, QRandomGenerator* rng);

struct Curve
{
    int reportedHundredths = 0; // test time the 32 reply reports
    int intervalMs = 0;
    QVector<quint16> points; // all nonzero
};

// The measured curve of a test. `clotHundredths` is ignored when the sample
// does not clot; the curve then runs up to the measuring limit.
Curve makeCurve(int clotHundredths, bool clotted, bool optical, quint32 seed);

} // namespace simassay
