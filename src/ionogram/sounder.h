#pragma once

// The chirp sounder as the ionogram sees it: sweep rate, step, band, the receiver's passband and
// the delay range shown. Pure values and the arithmetic of when the sweep crosses a frequency.

namespace ionogram {

constexpr double kDefaultSweepRateKhzPerS = 100; // R
constexpr double kDefaultStepKhz = 100;          // Δ, one step per Δ / R seconds
constexpr double kDefaultLowKhz = 2000;
constexpr double kDefaultHighKhz = 30000;
constexpr double kPeriodSeconds = 300; // counted from midnight UTC

constexpr double kPassLowHz = 300; // the receiver's USB passband
constexpr double kPassHighHz = 2700;

constexpr double kDelayGridMs = 0.05; // spacing of the delay axis of every column
constexpr double kDefaultDelayFromMs = 0;
constexpr double kDefaultDelayToMs = 30;

constexpr double kHzPerKhz = 1000;
constexpr double kSecondsPerMs = 1e-3;
constexpr double kKmPerMs = 299.792458; // one-way path c·τ for a delay of one millisecond

struct SounderProfile {
    double sweepRateKhzPerS = kDefaultSweepRateKhzPerS;
    double stepKhz = kDefaultStepKhz;
    double lowKhz = kDefaultLowKhz;
    double highKhz = kDefaultHighKhz;
    double periodSeconds = kPeriodSeconds;

    double SweepRateHzPerS() const { return sweepRateKhzPerS * kHzPerKhz; }
    // The program tunes a step's frequency half a step before the sweep reaches it, so the
    // sounder crosses the dial frequency this long after the step's mark.
    double CrossingAfterMark() const { return stepKhz / (2 * sweepRateKhzPerS); }
    // Seconds after the period's start at which the sweep passes frequencyKhz.
    double CrossingInPeriod(double chirpTime, double frequencyKhz) const {
        return chirpTime + frequencyKhz / sweepRateKhzPerS;
    }
};

} // namespace ionogram
