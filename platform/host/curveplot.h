#pragma once

#include <QString>

class ClotCurve;

// Draws a measured curve as a PNG: time in seconds across, signal up, the
// clot time marked by a red line (none when clotTime is not a time within
// the curve, e.g. the not-clotted 999.9). False with *error when the curve
// has no points or the file cannot be written.
bool writeCurvePng(const ClotCurve& curve, double clotTime, const QString& title, const QString& fileName,
                   QString* error);
