#pragma once

// Schedule arithmetic of the chirp sweep: when a sweep starts, whether a step is due, whether the
// clock jumped, how the chirp-time text is read. Pure functions of their arguments; times are
// seconds since local midnight (0 <= t < 86400) with their fraction.

#include <QLocale>
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>

namespace sweep {

constexpr double kPeriod = 300; // the sounder repeats its sweep every five minutes
constexpr double kLeadIn = 20;  // taken off the clock before the period base, added to the start
constexpr double kHalfSecond = 0.5; // steps fall on half seconds
constexpr double kDay = 86400;      // step times wrap here
constexpr double kHalfDay = kDay / 2;
constexpr double kStepInterval = 1; // one step per second

constexpr std::int32_t kParkFrequency = 2000000; // where the radio waits for the sweep
constexpr std::int32_t kFrequencyStep = 100000;
constexpr std::int32_t kTopFrequency = 30000000; // highest frequency tuned

constexpr std::chrono::milliseconds kTickPeriod{10};

// A pending step further ahead of the clock than any arming can put it: the clock was set back.
constexpr double kSetBackLimit = 330;
// A pending step this far behind the clock is stale: the clock jumped forward (resume from sleep,
// time zone change) or the radio held the sweep up for a whole period.
constexpr double kForwardLimit = 300;

// Accepted chirp times: kChirpTimeMin <= c < kChirpTimeEnd.
constexpr double kChirpTimeMin = 0;
constexpr double kChirpTimeEnd = kPeriod;

// Nearest whole number; an exact half goes to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double x);

// Signed distance from b to a around the day, in [-43200, 43200): positive when a lies after b.
double AroundTheDay(double a, double b);

// The multiple of 300 s below the clock that the sweep is counted from: t - 20 rounded half to
// even, divided by 300 with the quotient truncated toward zero, times 300.
double PeriodBase(double t);

// Start of the next sweep: period base of the first clock reading + 0.5 + chirp time + 20, one
// period later if that is before the second clock reading, wrapped into the day.
double StartTime(double firstReading, double secondReading, double chirpTime);

// A step is due when the clock lies at or after its time, by less than half a day.
bool IsDue(double t, double nextStepTime);

enum class ClockJump { None, SetBack, Forward };

// Whether the pending step lies so far from the clock that the clock must have been changed:
// more than kSetBackLimit ahead (SetBack) or more than kForwardLimit behind (Forward).
ClockJump DetectClockJump(double t, double nextStepTime);

// Reads a chirp time: a plain decimal number, with the locale's decimal separator or ".", blanks
// around it trimmed. Accepted only if finite and from 0 up to (not including) 300.
std::optional<double> ParseChirpTime(const QString& text, const QLocale& locale);

// What the user is told when a chirp-time text is refused.
QString ChirpTimeRefusal(const QString& text);

// Time from t to the next whole multiple of period on the clock, rounded up to whole
// milliseconds so that a timer started with it fires at or just after the boundary. A reading
// that lies on a boundary (within floating-point noise) aims at the following one.
std::chrono::milliseconds TimeToNextTick(double t, std::chrono::milliseconds period);

} // namespace sweep
