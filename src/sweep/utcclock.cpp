#include "sweep/utcclock.h"

#include <QDateTime>

namespace sweep {

double SecondsSinceUtcMidnight() {
    constexpr double kMillisecondsPerSecond = 1000.0;
    return QDateTime::currentDateTimeUtc().time().msecsSinceStartOfDay() / kMillisecondsPerSecond;
}

} // namespace sweep
