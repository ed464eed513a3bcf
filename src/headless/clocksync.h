#pragma once

// Whether the kernel counts the system clock as synchronised: the steps are only as right as
// the clock, so the windowless run checks it now and then and says when it changes.

namespace headless {

enum class ClockSync { Synchronised, Unsynchronised, Unknown };
// From ntp_adjtime's result and its status word.
ClockSync ClockSyncFrom(int result, int status);
ClockSync QueryClockSync();

} // namespace headless
