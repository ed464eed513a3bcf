#pragma once

// A chirp sounder's sweep as the radio follows it: how fast it sweeps, how often it repeats and
// the band the radio steps through, with the step arithmetic and the checks that refuse a sweep
// the radio cannot follow. The default is the five-minute 2 to 30 MHz sweep at 100 kHz/s.

#include "core/status.h"
#include "core/units.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <vector>

namespace sweep {

struct Profile {
    double sweepRate = 100;       // kHz/s
    double period = 300;          // s between sweep starts, counted from UTC midnight
    double lowFrequency = 2000;   // kHz: the radio parks here; the first step is one step above
    double highFrequency = 30000; // kHz: the highest step lies at or below it
    double stepSize = 100;        // kHz

    bool operator==(const Profile&) const = default;
};

// Limits of what the radio is asked to follow.
constexpr double kLowestFrequency = 100;    // kHz
constexpr double kHighestFrequency = 60000; // kHz
constexpr double kShortestStep = 0.2;       // s: the radio must tune and answer within a step
constexpr double kLongestStep = 60;         // s
constexpr double kLongestPeriod = 3600;     // s

constexpr std::chrono::milliseconds kLongestReplyWait{500};

// How many steps the radio tunes in one sweep: L + Δ, L + 2Δ ... up to the last not above H.
int StepCount(const Profile& p);

// Frequency of step k (0 is the first, L + Δ), in Hz as the radio is told.
std::int32_t StepFrequency(const Profile& p, int k);

// Where the radio waits between sweeps, in Hz.
std::int32_t ParkFrequency(const Profile& p);

// Seconds from one step to the next: Δ/R.
double StepInterval(const Profile& p);

// Seconds after the start of the period at which the sweep passes the park frequency: L/R.
double LeadIn(const Profile& p);

// Each step is tuned this long before the sweep reaches it: half a step, Δ/(2R).
double HalfStep(const Profile& p);

// Seconds after the period's start at which the sweep passes frequencyKhz: c + F/R.
double CrossingInPeriod(const Profile& p, double chirpTime, double frequencyKhz);

// The instant of step k relative to the first step: k·Δ/R. Step StepCount(p), one past the last,
// is where the schedule re-arms for the next period.
double StepOffset(const Profile& p, int k);

// Whether the radio can follow the sweep; a refusal says what would work.
Status ValidateProfile(const Profile& p);

// The smallest period that divides a day and is not below `seconds`; 0 if none up to a day.
double SmallestDayDivisor(double seconds);

// How long a tuning may wait for the radio's answer: half a step, at most half a second.
std::chrono::milliseconds ReplyWaitBudget(const Profile& p);

// "7000" or "7000,10100.5": frequencies in kHz the radio can be tuned to; false if any is not.
bool ParseListenList(const QString& text, std::vector<double>* khz);

} // namespace sweep
