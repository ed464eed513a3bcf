#pragma once

// The production clock of the sweep: UTC time of day read afresh at every call. Sounder periods
// are counted from UTC midnight; in zones such as UTC+5:30 local counting would put hourly or
// 12-minute periods at the wrong instants.

namespace sweep {

// Seconds since UTC midnight, with the fraction to the microsecond (a slot is timed to less than
// a millisecond).
double SecondsSinceUtcMidnight();

} // namespace sweep
