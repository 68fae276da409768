#pragma once

#include <QList>

// Settling test of the pre-warm zone: the zone counts as settled when the
// last 40 readings vary by less than 5 % (sample standard deviation over the
// absolute mean) around a mean between 34 and 40 deg C.
namespace TemperatureStability {

constexpr int readingCount = 40;

// The test itself, over all of the readings given (at least two).
bool isSettled(const QList<float>& readings);

// Adds one reading to the history. Once the history has gone beyond
// readingCount readings the oldest is dropped and the test is made over the
// remaining ones; when it passes, the history is cleared and true returned.
bool addReading(QList<float>* history, float reading);

} // namespace TemperatureStability
