#include "sweep/utcclock.h"

#include "core/units.h"

#include <QDateTime>

namespace sweep {

double SecondsSinceUtcMidnight() {
    return QDateTime::currentDateTimeUtc().time().msecsSinceStartOfDay() /
           units::kMillisecondsPerSecond;
}

} // namespace sweep
