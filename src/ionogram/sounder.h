#pragma once

// The chirp sounder as the ionogram sees it: its sweep, the receiver's passband and the delay
// range shown.

#include "core/units.h"
#include "sweep/profile.h"

namespace ionogram {

constexpr double kPassLowHz = 300; // the receiver's USB passband
constexpr double kPassHighHz = 2700;

constexpr double kDelayGridMs = 0.05; // spacing of the delay axis of every column
constexpr double kDefaultDelayFromMs = 0;
constexpr double kDefaultDelayToMs = 20;

constexpr double kKmPerMs = 299.792458; // one-way path c·τ for a delay of one millisecond

// The sweep itself (rate, step, band, period) is the sounder profile of the schedule.
using SounderProfile = sweep::Profile;

} // namespace ionogram
