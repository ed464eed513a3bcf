#include "sweep/schedule.h"

#include <QRegularExpression>
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
    double d = std::fmod(a - b, kDay);
    if (d >= kHalfDay) {
        d -= kDay;
    } else if (d < -kHalfDay) {
        d += kDay;
    }
    return d;
}

double PeriodBase(double t) {
    const auto rounded = static_cast<std::int64_t>(RoundHalfEven(t - kLeadIn));
    const auto period = static_cast<std::int64_t>(kPeriod);
    return static_cast<double>(rounded / period * period); // integer division truncates toward 0
}

double StartTime(double firstReading, double secondReading, double chirpTime) {
    double start = PeriodBase(firstReading) + kHalfSecond + chirpTime + kLeadIn;
    if (start < secondReading) {
        start += kPeriod;
    }
    if (start >= kDay) {
        start -= kDay;
    }
    return start;
}

bool IsDue(double t, double nextStepTime) {
    return AroundTheDay(t, nextStepTime) >= 0;
}

ClockJump DetectClockJump(double t, double nextStepTime) {
    const double ahead = AroundTheDay(nextStepTime, t);
    if (ahead > kSetBackLimit) {
        return ClockJump::SetBack;
    }
    if (-ahead > kForwardLimit) {
        return ClockJump::Forward;
    }
    return ClockJump::None;
}

std::optional<double> ParseChirpTime(const QString& text, const QLocale& locale) {
    // Only plain decimals: no exponent, no group separators, no "inf" or "nan".
    const QString separator = QRegularExpression::escape(locale.decimalPoint());
    const QRegularExpression plainDecimal(
        QStringLiteral("^[+-]?([0-9]+((\\.|%1)[0-9]*)?|(\\.|%1)[0-9]+)$").arg(separator));
    const QString trimmed = text.trimmed();
    if (!plainDecimal.match(trimmed).hasMatch()) {
        return std::nullopt;
    }
    QString normalized = trimmed;
    normalized.replace(locale.decimalPoint(), QStringLiteral("."));
    if (normalized.endsWith(u'.')) {
        normalized.append(u'0');
    }
    bool ok = false;
    const double value = QLocale::c().toDouble(normalized, &ok);
    if (!ok || !std::isfinite(value) || value < kChirpTimeMin || value >= kChirpTimeEnd) {
        return std::nullopt;
    }
    return value + 0.0; // "-0" reads as 0
}

QString ChirpTimeRefusal(const QString& text) {
    return QStringLiteral("The chirp time \"%1\" is not a number of seconds from 0 to 299. Type "
                          "the second of the five-minute period at which the sounder starts, for "
                          "example 78.")
        .arg(text);
}

std::chrono::milliseconds TimeToNextTick(double t, std::chrono::milliseconds period) {
    // Readings a hair below a boundary (0.01 is not exact in binary) count as on it.
    constexpr double kNoise = 1e-6;
    const double now = t * 1000.0;
    const double length = static_cast<double>(period.count());
    const double next = (std::floor(now / length + kNoise) + 1) * length;
    const auto wait = static_cast<std::int64_t>(std::ceil(next - now - kNoise * length));
    return std::chrono::milliseconds{std::max<std::int64_t>(wait, 1)};
}

} // namespace sweep
