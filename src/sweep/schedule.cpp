#include "sweep/schedule.h"

#include "core/units.h"

#include <algorithm>
#include <cmath>

namespace sweep {

double RoundHalfEven(double x) {
    const double whole = std::trunc(x);
    if (std::fabs(x - whole) == 0.5) {
        return 2 * std::round(x / 2);
    }
    return std::round(x);
}

double AroundTheDay(double a, double b) {
    double d = std::fmod(a - b, units::kSecondsPerDay);
    if (d >= kHalfDay) {
        d -= units::kSecondsPerDay;
    } else if (d < -kHalfDay) {
        d += units::kSecondsPerDay;
    }
    return d;
}

double PeriodBase(double t, const Profile& profile) {
    // The first step lies LeadIn + HalfStep after the chirp time; the clock is taken back by that
    // less the half second the rounding may add, so the sweep chosen is the first at or after the
    // clock (20 s for the default).
    const double back = LeadIn(profile) + HalfStep(profile) - kHalfSecond;
    const auto rounded = static_cast<std::int64_t>(RoundHalfEven(t - back));
    const auto period = static_cast<std::int64_t>(profile.period);
    return static_cast<double>(rounded / period * period); // integer division truncates toward 0
}

double StartTime(double firstReading, double secondReading, double chirpTime,
                 const Profile& profile) {
    double start =
        PeriodBase(firstReading, profile) + HalfStep(profile) + chirpTime + LeadIn(profile);
    if (start < secondReading) {
        start += profile.period;
    }
    if (start >= units::kSecondsPerDay) {
        start -= units::kSecondsPerDay;
    }
    return start;
}

bool IsDue(double t, double nextStepTime) {
    return AroundTheDay(t, nextStepTime) >= 0;
}

QString SounderLabel(const std::vector<NamedSounder>& saved, const Profile& profile,
                     double chirpTime) {
    for (const NamedSounder& sounder : saved) {
        if (sounder.profile == profile && sounder.chirpTime == chirpTime) {
            return sounder.name;
        }
    }
    return FormatDecimal(profile.period) + u':' + FormatDecimal(chirpTime);
}

std::optional<double> ParseChirpTime(const QString& text, const QLocale& locale, double period) {
    const std::optional<double> value = ParseDecimal(text, locale);
    if (!value || *value < kChirpTimeMin || *value >= period) {
        return std::nullopt;
    }
    return value;
}

QString ChirpTimeRefusal(const QString& text, double period) {
    constexpr double kExample = 78;
    const auto whole = static_cast<long long>(std::ceil(period));
    QString length;
    if (period == 5 * units::kSecondsPerMinute) {
        length = QStringLiteral("five-minute");
    } else if (std::fmod(period, units::kSecondsPerMinute) == 0) {
        length = QStringLiteral("%1-minute")
                     .arg(whole / static_cast<long long>(units::kSecondsPerMinute));
    } else {
        length = QStringLiteral("%1-second").arg(whole);
    }
    const long long example = period > kExample ? static_cast<long long>(kExample) : whole / 4;
    return QStringLiteral("%1 Type the second of the %2 period at which the sounder starts, for "
                          "example %3.")
        .arg(ChirpTimeOutOfRange(text, period), length, QString::number(example));
}

QString ChirpTimeOutOfRange(const QString& text, double period) {
    const auto whole = static_cast<long long>(std::ceil(period));
    return QStringLiteral("The chirp time \"%1\" is not a number of seconds from 0 to %2.")
        .arg(text, QString::number(whole - 1));
}

std::chrono::milliseconds TimeToNextTick(double t, std::chrono::milliseconds period) {
    // Readings a hair below a boundary (0.01 is not exact in binary) count as on it.
    constexpr double kNoise = 1e-6;
    const double now = t * units::kMillisecondsPerSecond;
    const double length = static_cast<double>(period.count());
    const double next = (std::floor(now / length + kNoise) + 1) * length;
    const auto wait = static_cast<std::int64_t>(std::ceil(next - now - kNoise * length));
    return std::chrono::milliseconds{std::max<std::int64_t>(wait, 1)};
}

std::chrono::milliseconds NextShotDelay(double now, std::optional<double> nextStep,
                                        std::chrono::milliseconds tick) {
    constexpr double kNoise = 1e-6; // ms: a step a hair past a whole millisecond is on it
    if (!nextStep) {
        return TimeToNextTick(now, kRestPeriod);
    }
    const double ahead = AroundTheDay(*nextStep, now);
    if (ahead > kRestThreshold) {
        return TimeToNextTick(now, kRestPeriod);
    }
    const std::chrono::milliseconds toTick = TimeToNextTick(now, tick);
    if (ahead <= 0) {
        return toTick;
    }
    const auto toStep = std::chrono::milliseconds{std::max<std::int64_t>(
        static_cast<std::int64_t>(std::ceil(ahead * units::kMillisecondsPerSecond - kNoise)), 1)};
    return std::min(toTick, toStep);
}

} // namespace sweep
