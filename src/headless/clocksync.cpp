#include "headless/clocksync.h"

#include <sys/timex.h>

namespace headless {

ClockSync ClockSyncFrom(int result, int status) {
    if (result < 0) {
        return ClockSync::Unknown;
    }
    return result == TIME_ERROR || (status & STA_UNSYNC) != 0 ? ClockSync::Unsynchronised
                                                              : ClockSync::Synchronised;
}

ClockSync QueryClockSync() {
    timex reading{};
    reading.modes = 0; // read only
    const int result = ntp_adjtime(&reading);
    return ClockSyncFrom(result, reading.status);
}

} // namespace headless
