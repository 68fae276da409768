#include "temperaturestability.h"

#include <cmath>

namespace TemperatureStability {

bool isSettled(const QList<float>& readings)
{
    const int n = readings.size();
    if (n < 2)
        return false;
    double sum = 0.0;
    for (float t : readings)
        sum += t;
    const double mean = sum / n;
    double squares = 0.0;
    for (float t : readings)
        squares += (t - mean) * (t - mean);
    const double sd = std::sqrt(squares / (n - 1));
    const double cv = sd / std::fabs(mean);
    return cv < 0.05 && mean > 34.0 && mean < 40.0;
}

bool addReading(QList<float>* history, float reading)
{
    history->append(reading);
    if (history->size() <= readingCount)
        return false;
    while (history->size() > readingCount)
        history->removeFirst();
    if (!isSettled(*history))
        return false;
    history->clear();
    return true;
}

} // namespace TemperatureStability
