#pragma once

// The production clock of the sweep: local time of day read afresh at every call.

namespace sweep {

// Seconds since local midnight, with the fraction to the millisecond.
double SecondsSinceLocalMidnight();

} // namespace sweep
