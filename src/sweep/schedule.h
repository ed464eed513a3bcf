#pragma once

// Schedule arithmetic of the chirp sweep: when a sweep starts, whether a step is due, whether the
// clock jumped, how the chirp-time text is read, when the step timer fires next. Pure functions of
// their arguments; times are seconds since midnight (0 <= t < 86400) with their fraction. The
// default sweep is Profile{}.

#include "core/decimal.h"
#include "core/units.h"
#include "sweep/profile.h"

#include <QLocale>
#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace sweep {

constexpr double kHalfSecond = 0.5;                    // steps fall on half seconds
constexpr double kHalfDay = units::kSecondsPerDay / 2; // step times wrap at units::kSecondsPerDay

constexpr std::chrono::milliseconds kTickPeriod{10};

// Between sweeps the step timer rests: it wakes on every whole second, and goes back to ticking
// once a step is less than kRestThreshold away.
constexpr std::chrono::milliseconds kRestPeriod{1000};
constexpr double kRestThreshold = 1;

// A sounder the user saved by name: its chirp time and profile.
struct NamedSounder {
    QString name;
    double chirpTime = 0;
    Profile profile;
};

// The sounder a sweep belongs to, as the sweep events and the archive name it: the name of the
// first saved sounder with this profile and chirp time, else "period:chirp time" ("300:78").
QString SounderLabel(const std::vector<NamedSounder>& saved, const Profile& profile,
                     double chirpTime);

// Accepted chirp times: kChirpTimeMin <= c < the period.
constexpr double kChirpTimeMin = 0;

// Nearest whole number; an exact half goes to the even neighbour (2.5 -> 2, 3.5 -> 4).
double RoundHalfEven(double x);

// Signed distance from b to a around the day, in [-43200, 43200): positive when a lies after b.
double AroundTheDay(double a, double b);

// The multiple of the period below the clock that the sweep is counted from: t - (L/R + Δ/(2R) -
// 0.5) rounded half to even, truncated toward zero to a multiple of the period (for the default:
// t - 20, to a multiple of 300 s).
double PeriodBase(double t, const Profile& profile);

// Start of the next sweep: the first step lies Δ/(2R) + c + L/R after the period base of the
// first clock reading (0.5 + c + 20 for the default), so that it is tuned half a step before the
// sweep passes L + Δ; one period later if that is before the second clock reading, wrapped into
// the day.
double StartTime(double firstReading, double secondReading, double chirpTime,
                 const Profile& profile);

// A step is due when the clock lies at or after its time, by less than half a day. The same for
// every sweep: no arming puts a step more than an hour and a minute ahead, far inside the
// half day, so the window needs no profile.
bool IsDue(double t, double nextStepTime);

// Reads a chirp time: a plain decimal number (ParseDecimal), accepted only from 0 up to (not
// including) the period.
std::optional<double> ParseChirpTime(const QString& text, const QLocale& locale, double period);

// What the user is told when a chirp-time text is refused.
// The same for a sweep of another period.
QString ChirpTimeRefusal(const QString& text, double period);
// Its first sentence alone: "The chirp time "X" is not a number of seconds from 0 to 299."
QString ChirpTimeOutOfRange(const QString& text, double period);

// Time from t to the next whole multiple of period on the clock, rounded up to whole
// milliseconds so that a timer started with it fires at or just after the boundary. A reading
// that lies on a boundary (within floating-point noise) aims at the following one.
std::chrono::milliseconds TimeToNextTick(double t, std::chrono::milliseconds period);

// Delay from `now` to the step timer's next shot: whichever comes first of the next tick
// boundary and the next step's instant (steps need not lie on the tick grid: at 82 kHz/s a step
// lasts 1.2195 s). With no step pending, or the next one more than kRestThreshold away, the next
// whole second instead. A step at or behind the clock is taken at the next tick boundary. Times
// are seconds of the day; a step past midnight counts as ahead.
std::chrono::milliseconds NextShotDelay(double now, std::optional<double> nextStep,
                                        std::chrono::milliseconds tick);

} // namespace sweep
