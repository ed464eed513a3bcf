#include "sweep/localclock.h"

#include <QTime>

namespace sweep {

double SecondsSinceLocalMidnight() {
    constexpr double kMillisecondsPerSecond = 1000.0;
    return QTime::currentTime().msecsSinceStartOfDay() / kMillisecondsPerSecond;
}

} // namespace sweep
