#include "sweep/utcclock.h"

#include "core/units.h"

#include <chrono>

namespace sweep {

double SecondsSinceUtcMidnight() {
    // The system clock counts from 1970-01-01 00:00 UTC without leap seconds, so every day is
    // whole seconds long and the day's seconds are the remainder.
    using namespace std::chrono;
    const auto sinceEpoch = duration_cast<microseconds>(system_clock::now().time_since_epoch());
    const auto day = duration_cast<microseconds>(days{1});
    return double(sinceEpoch.count() % day.count()) / double(microseconds(seconds{1}).count());
}

} // namespace sweep
