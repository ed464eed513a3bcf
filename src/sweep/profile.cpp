#include "sweep/profile.h"

#include "core/units.h"

#include <QLocale>
#include <QString>
#include <algorithm>
#include <cmath>

namespace sweep {

namespace {

// Frequencies typed in MHz are not exact in binary: a band that holds a whole number of steps
// up to this fraction of a step holds them.
constexpr double kStepNoise = 1e-9;
constexpr int kShownDigits = 6;

QString Number(double x) {
    return QString::number(x, 'g', kShownDigits);
}

QString Megahertz(double kilohertz) {
    return Number(kilohertz / units::kKilohertzPerMegahertz);
}

bool DividesDay(double period) {
    return period == std::floor(period) &&
           static_cast<std::int64_t>(units::kSecondsPerDay) % static_cast<std::int64_t>(period) ==
               0;
}

} // namespace

int StepCount(const Profile& p) {
    return static_cast<int>(
        std::floor((p.highFrequency - p.lowFrequency) / p.stepSize + kStepNoise));
}

std::int32_t StepFrequency(const Profile& p, int k) {
    return static_cast<std::int32_t>(
        std::llround((p.lowFrequency + (k + 1) * p.stepSize) * units::kHertzPerKilohertz));
}

std::int32_t ParkFrequency(const Profile& p) {
    return static_cast<std::int32_t>(std::llround(p.lowFrequency * units::kHertzPerKilohertz));
}

double StepInterval(const Profile& p) {
    return p.stepSize / p.sweepRate;
}

double LeadIn(const Profile& p) {
    return p.lowFrequency / p.sweepRate;
}

double HalfStep(const Profile& p) {
    return p.stepSize / (2 * p.sweepRate);
}

double StepOffset(const Profile& p, int k) {
    return k * StepInterval(p);
}

double SmallestDayDivisor(double seconds) {
    const auto day = static_cast<std::int64_t>(units::kSecondsPerDay);
    for (auto d = std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(seconds)));
         d <= day; ++d) {
        if (day % d == 0) {
            return static_cast<double>(d);
        }
    }
    return 0;
}

Status ValidateProfile(const Profile& p) {
    for (const double value :
         {p.sweepRate, p.period, p.lowFrequency, p.highFrequency, p.stepSize}) {
        if (!std::isfinite(value) || value <= 0) {
            return Status::Error(
                QStringLiteral("The sweep rate, period, frequencies and step size must all be "
                               "numbers above 0. Type the values the sounder's schedule gives."),
                QStringLiteral("a value is not above 0"));
        }
    }
    if (p.lowFrequency < kLowestFrequency || p.highFrequency > kHighestFrequency) {
        return Status::Error(
            QStringLiteral("The band from %1 to %2 MHz is not within 0.1 to 60 MHz. Type low and "
                           "high frequencies in that range.")
                .arg(Megahertz(p.lowFrequency), Megahertz(p.highFrequency)),
            QStringLiteral("the band is outside 0.1 to 60 MHz"));
    }
    if (p.lowFrequency >= p.highFrequency) {
        return Status::Error(
            QStringLiteral("The low frequency (%1 MHz) is not below the high frequency (%2 MHz). "
                           "Type the frequency the sweep starts from as the low one.")
                .arg(Megahertz(p.lowFrequency), Megahertz(p.highFrequency)),
            QStringLiteral("low is not below high"));
    }
    if (StepCount(p) < 1) {
        return Status::Error(
            QStringLiteral("A step of %1 kHz from %2 MHz lands above the high frequency of %3 "
                           "MHz, so there is no step to tune. Make the step smaller or the band "
                           "wider.")
                .arg(Number(p.stepSize), Megahertz(p.lowFrequency), Megahertz(p.highFrequency)),
            QStringLiteral("no step fits in the band"));
    }
    const double interval = StepInterval(p);
    if (interval < kShortestStep || interval > kLongestStep) {
        return Status::Error(
            QStringLiteral("A step of %1 kHz at %2 kHz/s lasts %3 s; the radio follows steps of "
                           "0.2 to 60 s. Change the step size or the sweep rate.")
                .arg(Number(p.stepSize), Number(p.sweepRate), Number(interval)),
            QStringLiteral("steps of %1 s").arg(Number(interval)));
    }
    if (!DividesDay(p.period)) {
        return Status::Error(
            QStringLiteral("A period of %1 s does not divide a day (86400 s) evenly, so the sweeps "
                           "would not fall at the same seconds every day. Choose a whole number "
                           "of seconds that does, such as 300, 450, 720, 900 or 3600.")
                .arg(Number(p.period)),
            QStringLiteral("the period does not divide a day"));
    }
    if (p.period > kLongestPeriod) {
        return Status::Error(
            QStringLiteral("A period of %1 s is longer than an hour. Choose a period of 3600 s or "
                           "less that divides a day, such as 300, 450, 720, 900 or 3600.")
                .arg(Number(p.period)),
            QStringLiteral("the period is longer than an hour"));
    }
    const double needed = (p.highFrequency - p.lowFrequency + p.stepSize) / p.sweepRate;
    if (p.period < needed) {
        const double fits = SmallestDayDivisor(needed);
        const QString sweep = QStringLiteral("The sweep from %1 to %2 MHz at %3 kHz/s takes %4 s "
                                             "with one step to spare, longer than the period of "
                                             "%5 s. ")
                                  .arg(Megahertz(p.lowFrequency), Megahertz(p.highFrequency),
                                       Number(p.sweepRate), Number(needed), Number(p.period));
        const QString advice =
            fits > 0 && fits <= kLongestPeriod
                ? QStringLiteral("Choose a period of %1 s (the shortest that fits and divides a "
                                 "day) or more, a faster sweep rate or a narrower band.")
                      .arg(Number(fits))
                : QStringLiteral("No period up to an hour fits: choose a faster sweep rate or a "
                                 "narrower band.");
        return Status::Error(sweep + advice, QStringLiteral("the sweep is longer than the period"));
    }
    return Status::Ok();
}

std::chrono::milliseconds ReplyWaitBudget(const Profile& p) {
    const auto half = std::chrono::milliseconds{
        static_cast<std::int64_t>(std::floor(HalfStep(p) * units::kMillisecondsPerSecond))};
    return std::min(half, kLongestReplyWait);
}

double CrossingInPeriod(const Profile& p, double chirpTime, double frequencyKhz) {
    return chirpTime + frequencyKhz / p.sweepRate;
}

bool ParseListenList(const QString& text, std::vector<double>* khz) {
    std::vector<double> parsed;
    for (const QString& item : text.split(QLatin1Char(','))) {
        bool ok = false;
        const double value = QLocale::c().toDouble(item.trimmed(), &ok);
        if (!ok || value < kLowestFrequency || value > kHighestFrequency) {
            return false;
        }
        parsed.push_back(value);
    }
    *khz = parsed;
    return !parsed.empty();
}

} // namespace sweep
