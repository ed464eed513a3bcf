#include "sweep/listeningplan.h"

#include "core/units.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <map>

namespace sweep {

namespace {

// Two busy spans that meet within this much do not overlap: crossings are computed from
// frequencies rounded to whole hertz, which moves them by far more than the arithmetic's noise.
constexpr double kTimeNoise = 1e-9; // s
constexpr double kHertzNoise = 1e-6;
constexpr double kShareNoise = 1e-9; // the radio's whole time, to within the arithmetic
constexpr double kShiftTie = 1e-6;   // s
// A slot moves less than this fraction of its step: further, it would be nearer another step.
constexpr double kLongestShift = 0.5;

struct Column {
    double periodStart = 0;
    double gridKhz = 0;
    std::int32_t gridHz = 0;
    bool fine = false;
    int coarseIndex = -1; // the step's number, for the schedule as it is without a plan
};

// The busy spans of the radio placed so far, [start, end), none overlapping another.
class Occupancy {
public:
    bool Free(double start, double end) const {
        auto next = spans.lower_bound(end - kTimeNoise);
        if (next == spans.begin()) {
            return true;
        }
        --next; // the last span that starts before `end`; ends are in the same order as starts
        return next->second <= start + kTimeNoise;
    }
    void Take(double start, double end) { spans.emplace(start, end); }
    // Spans that start before `to` and end after `from`.
    std::vector<std::pair<double, double>> Near(double from, double to) const {
        std::vector<std::pair<double, double>> found;
        auto it = spans.lower_bound(from);
        if (it != spans.begin()) {
            --it;
        }
        for (; it != spans.end() && it->first < to; ++it) {
            if (it->second > from) {
                found.push_back(*it);
            }
        }
        return found;
    }

private:
    std::map<double, double> spans;
};

bool UsesFineSteps(const FollowedSounder& s, const PlanSettings& settings) {
    return settings.fineSteps && s.mofKhz && s.profile.stepSize > kFineStep;
}

// The span of grid crossings of one sweep, from its period's start.
std::pair<double, double> CrossingSpan(const FollowedSounder& s) {
    const Profile& p = s.profile;
    return {CrossingInPeriod(p, s.chirpTime, p.lowFrequency + p.stepSize),
            CrossingInPeriod(p, s.chirpTime,
                             StepFrequency(p, StepCount(p) - 1) / units::kHertzPerKilohertz)};
}

// One sweep's steps in frequency order, or its fine steps near the MOF.
std::vector<Column> SweepColumns(const FollowedSounder& s, const PlanSettings& settings,
                                 double periodStart, bool fine) {
    const Profile& p = s.profile;
    const int steps = StepCount(p);
    std::vector<Column> columns;
    if (!fine) {
        columns.reserve(steps);
        for (int k = 0; k < steps; ++k) {
            columns.push_back(Column{periodStart, p.lowFrequency + (k + 1) * p.stepSize,
                                     StepFrequency(p, k), false, k});
        }
        return columns;
    }
    if (!UsesFineSteps(s, settings)) {
        return columns;
    }
    const double first = p.lowFrequency + p.stepSize;
    const double top = StepFrequency(p, steps - 1) / units::kHertzPerKilohertz;
    const double low = std::max(first, *s.mofKhz - kFineSpan);
    const double high = std::min(top, *s.mofKhz + kFineSpan);
    for (auto m = static_cast<long long>(std::ceil((low - p.lowFrequency) / kFineStep));
         p.lowFrequency + m * kFineStep <= high; ++m) {
        const double khz = p.lowFrequency + m * kFineStep;
        const double fromStep = std::fmod(khz - p.lowFrequency, p.stepSize);
        if (fromStep * units::kHertzPerKilohertz < 1 ||
            (p.stepSize - fromStep) * units::kHertzPerKilohertz < 1) {
            continue; // a step already listens here
        }
        columns.push_back(Column{
            periodStart, khz,
            static_cast<std::int32_t>(std::llround(khz * units::kHertzPerKilohertz)), true, -1});
    }
    return columns;
}

// The slot of a column listened to at hz, tuned the tuning time before its window.
Slot SlotAt(int index, const FollowedSounder& s, const PlanSettings& settings, const Column& column,
            std::int32_t hz) {
    Slot slot;
    slot.sounder = index;
    slot.periodStart = column.periodStart;
    slot.gridKhz = column.gridKhz;
    slot.fine = column.fine;
    slot.listenHz = hz;
    slot.crossing = column.periodStart +
                    CrossingInPeriod(s.profile, s.chirpTime, hz / units::kHertzPerKilohertz);
    slot.windowFrom = slot.crossing + s.windowFrom;
    slot.windowTo = slot.crossing + s.windowTo;
    slot.tuneAt = slot.windowFrom - settings.tuningTime - settings.commandReach;
    return slot;
}

// The radio is busy with a slot from its tuning until its window closes, and the backend takes
// no other command for the command spacing.
double BusyUntil(const Slot& slot, const PlanSettings& settings) {
    return std::max(slot.windowTo, slot.tuneAt + settings.commandSpacing);
}

// The slot as placed: unmoved where the radio is free, else moved by the least shift that fits
// between the slots placed before it, within half its step and the sweep's band.
std::optional<Slot> Fit(const Occupancy& busy, int index, const FollowedSounder& s,
                        const PlanSettings& settings, const Column& column) {
    const Slot nominal = SlotAt(index, s, settings, column, column.gridHz);
    const double end = BusyUntil(nominal, settings);
    if (busy.Free(nominal.tuneAt, end)) {
        return nominal;
    }
    const Profile& p = s.profile;
    const double step = column.fine ? kFineStep : p.stepSize;
    const double reach = kLongestShift * step / p.sweepRate; // s
    std::vector<double> shifts;
    for (const auto& [from, to] : busy.Near(nominal.tuneAt - reach, end + reach)) {
        shifts.push_back(to - nominal.tuneAt); // just after that span
        shifts.push_back(from - end);          // just before it
    }
    // The least shift first; of two alike (to the microsecond), the later one.
    const auto rank = [](double shift) {
        return std::pair{std::llround(std::fabs(shift) / kShiftTie), shift < 0};
    };
    std::sort(shifts.begin(), shifts.end(),
              [&rank](double a, double b) { return rank(a) < rank(b); });
    for (const double shift : shifts) {
        if (std::fabs(shift) >= reach) {
            break;
        }
        // Whole hertz, rounded away from the span the slot has to clear.
        const double hz = column.gridHz + shift * p.sweepRate * units::kHertzPerKilohertz;
        const auto listen = static_cast<std::int32_t>(shift > 0 ? std::ceil(hz - kHertzNoise)
                                                                : std::floor(hz + kHertzNoise));
        const double khz = listen / units::kHertzPerKilohertz;
        if (khz < p.lowFrequency || khz > p.highFrequency ||
            std::fabs(khz - column.gridKhz) >= kLongestShift * step) {
            continue;
        }
        const Slot moved = SlotAt(index, s, settings, column, listen);
        if (busy.Free(moved.tuneAt, BusyUntil(moved, settings))) {
            return moved;
        }
    }
    return std::nullopt;
}

QString Milliseconds(double seconds) {
    return QString::number(std::llround(seconds * units::kMillisecondsPerSecond));
}

QString Names(const std::vector<FollowedSounder>& sounders, std::size_t count) {
    QStringList names;
    for (std::size_t i = 0; i < count && i < sounders.size(); ++i) {
        names << sounders[i].name;
    }
    return names.join(QStringLiteral(", "));
}

// How many of the first sounders the radio can serve together.
std::size_t FittingPrefix(const std::vector<FollowedSounder>& sounders,
                          const PlanSettings& settings) {
    double total = 0;
    std::size_t count = 0;
    for (const FollowedSounder& s : sounders) {
        total += RadioShare(s, settings);
        if (total > 1 + kShareNoise || count == static_cast<std::size_t>(kMostFollowed)) {
            break;
        }
        ++count;
    }
    return count;
}

QString WhatFits(const std::vector<FollowedSounder>& sounders, const PlanSettings& settings) {
    const std::size_t fit = FittingPrefix(sounders, settings);
    if (fit == 0) {
        return QStringLiteral("Shorten the tuning time or the delay range, or follow sounders "
                              "with longer steps.");
    }
    if (fit == 1) {
        return QStringLiteral("Only the first in the list fits (%1): follow fewer, or put the one "
                              "that matters most first.")
            .arg(sounders.front().name);
    }
    return QStringLiteral("The first %1 in the list fit (%2): follow fewer, or put the ones that "
                          "matter most first.")
        .arg(QString::number(fit), Names(sounders, fit));
}

// The longest tuning time at which all the sounders fit, in whole milliseconds; none below 1 ms.
std::optional<double> FittingTuningTime(const std::vector<FollowedSounder>& sounders,
                                        const PlanSettings& settings) {
    double listening = 0;
    double steps = 0;
    for (const FollowedSounder& s : sounders) {
        listening += (s.windowTo - s.windowFrom) / StepInterval(s.profile);
        steps += 1 / StepInterval(s.profile);
    }
    PlanSettings fitting = settings;
    fitting.tuningTime = std::floor(((1 - listening) / steps - settings.commandReach) *
                                        units::kMillisecondsPerSecond +
                                    kShareNoise) /
                         units::kMillisecondsPerSecond;
    double total = 0;
    for (const FollowedSounder& s : sounders) {
        total += RadioShare(s, fitting);
    }
    if (fitting.tuningTime * units::kMillisecondsPerSecond < 1 || total > 1 + kShareNoise) {
        return std::nullopt; // the backend's command spacing alone is too much
    }
    return fitting.tuningTime;
}

} // namespace

bool Slot::Shifted() const {
    return listenHz != static_cast<std::int32_t>(std::llround(gridKhz * units::kHertzPerKilohertz));
}

ListeningPlan MakePlan(const std::vector<FollowedSounder>& sounders, const PlanSettings& settings,
                       double from, double to) {
    ListeningPlan plan;
    const int n = static_cast<int>(sounders.size());
    plan.tally.resize(n);
    if (n == 0 || !(to > from)) {
        return plan;
    }
    const bool asAlways = n == 1 && !UsesFineSteps(sounders.front(), settings);

    // Slots are placed pass by pass: every sounder's steps in the list's order, then their fine
    // steps, so no sounder loses a step to another's fine steps. A slot can be moved by slots
    // of earlier passes that lie near its sweep, and those by earlier ones still: each pass plans
    // every sweep that reaches the span the passes after it need, so a sweep's slots do not
    // depend on the span asked for.
    struct Pass {
        int sounder;
        bool fine;
        std::vector<double> periodStarts;
    };
    std::vector<Pass> passes;
    for (const bool fine : {false, true}) {
        for (int i = 0; i < n; ++i) {
            // A sweep the radio cannot follow (CheckPlan says why) gets no slot.
            if (ValidateProfile(sounders[i].profile).IsOk() &&
                (!fine || UsesFineSteps(sounders[i], settings))) {
                passes.push_back(Pass{i, fine, {}});
            }
        }
    }
    double margin = 0;
    for (const FollowedSounder& s : sounders) {
        margin = std::max(margin, StepInterval(s.profile) + std::fabs(s.windowFrom) +
                                      std::fabs(s.windowTo) + settings.tuningTime +
                                      settings.commandReach + settings.commandSpacing);
    }
    margin *= 2;
    double low = from;
    double high = to;
    for (auto pass = passes.rbegin(); pass != passes.rend(); ++pass) {
        const FollowedSounder& s = sounders[pass->sounder];
        const auto [first, last] = CrossingSpan(s);
        const double period = s.profile.period;
        double reachedLow = low;
        double reachedHigh = high;
        for (auto k = static_cast<long long>(std::floor((low - last) / period));
             k * period + first < high; ++k) {
            const double start = k * period;
            if (start + last < low) {
                continue;
            }
            pass->periodStarts.push_back(start);
            reachedLow = std::min(reachedLow, start + first);
            reachedHigh = std::max(reachedHigh, start + last);
        }
        low = reachedLow - margin;
        high = reachedHigh + margin;
    }

    Occupancy busy;
    for (const Pass& pass : passes) {
        const int i = pass.sounder;
        const FollowedSounder& s = sounders[i];
        SounderTally& tally = plan.tally[i];
        for (const double start : pass.periodStarts) {
            for (const Column& column : SweepColumns(s, settings, start, pass.fine)) {
                const double gridCrossing =
                    start + CrossingInPeriod(s.profile, s.chirpTime, column.gridKhz);
                const bool asked = gridCrossing >= from && gridCrossing < to;
                std::optional<Slot> slot;
                if (asAlways) {
                    // Half a step before the sweep reaches the step, as the schedule tunes it.
                    slot = SlotAt(i, s, settings, column, column.gridHz);
                    slot->tuneAt = start + HalfStep(s.profile) + s.chirpTime + LeadIn(s.profile) +
                                   StepOffset(s.profile, column.coarseIndex);
                } else {
                    slot = Fit(busy, i, s, settings, column);
                    if (slot) {
                        busy.Take(slot->tuneAt, BusyUntil(*slot, settings));
                    }
                }
                if (!asked) {
                    continue;
                }
                ++tally.columns;
                if (slot) {
                    ++tally.listened;
                    tally.shifted += slot->Shifted() ? 1 : 0;
                    plan.listening.push_back(*slot);
                } else {
                    plan.leftOut.push_back(SlotAt(i, s, settings, column, column.gridHz));
                }
            }
        }
    }
    const auto byTuning = [](const Slot& a, const Slot& b) { return a.tuneAt < b.tuneAt; };
    std::sort(plan.listening.begin(), plan.listening.end(), byTuning);
    std::sort(plan.leftOut.begin(), plan.leftOut.end(), byTuning);
    return plan;
}

double RadioShare(const FollowedSounder& sounder, const PlanSettings& settings) {
    const double slot = std::max(settings.tuningTime + settings.commandReach + sounder.windowTo -
                                     sounder.windowFrom,
                                 settings.commandSpacing);
    return slot / StepInterval(sounder.profile);
}

Status CheckPlan(const std::vector<FollowedSounder>& sounders, const PlanSettings& settings) {
    const double longest = std::chrono::duration<double>(kLongestTuningTime).count();
    if (!(settings.tuningTime >= 0 && settings.tuningTime <= longest)) {
        return Status::Error(
            QStringLiteral("A tuning time of %1 ms is not from 0 to %2 ms. Type how long the radio "
                           "needs after a tuning command before its audio is on the new "
                           "frequency, such as %3 ms.")
                .arg(Milliseconds(settings.tuningTime), Milliseconds(longest),
                     QString::number(kDefaultTuningTime.count())),
            QStringLiteral("the tuning time is out of range"));
    }
    if (sounders.size() > static_cast<std::size_t>(kMostFollowed)) {
        return Status::Error(
            QStringLiteral("%1 sounders are followed; one radio follows at most %2 at once. %3")
                .arg(QString::number(sounders.size()), QString::number(kMostFollowed),
                     WhatFits(sounders, settings)),
            QStringLiteral("more than %1 sounders followed").arg(kMostFollowed));
    }
    for (const FollowedSounder& s : sounders) {
        const Status profile = ValidateProfile(s.profile);
        if (!profile.IsOk()) {
            return Status::Error(QStringLiteral("The sounder %1 cannot be followed. %2")
                                     .arg(s.name, profile.Message()),
                                 profile.Reason());
        }
    }
    if (sounders.size() <= 1 && !settings.fineSteps) {
        return Status::Ok(); // the radio steps as it always has
    }
    double total = 0;
    QStringList needs;
    for (const FollowedSounder& s : sounders) {
        const double share = RadioShare(s, settings);
        total += share;
        needs << QStringLiteral("%1 %2 ms of every %3 ms")
                     .arg(s.name, Milliseconds(share * StepInterval(s.profile)),
                          Milliseconds(StepInterval(s.profile)));
    }
    if (total <= 1 + kShareNoise) {
        return Status::Ok();
    }
    QString advice = WhatFits(sounders, settings);
    if (const std::optional<double> tuning = FittingTuningTime(sounders, settings)) {
        advice += QStringLiteral(" A tuning time of %1 ms or less fits them all.")
                      .arg(Milliseconds(*tuning));
    }
    const QString reach =
        settings.commandReach > 0
            ? QStringLiteral(", %1 ms for the command to reach the radio through Hamlib,")
                  .arg(Milliseconds(settings.commandReach))
            : QString();
    return Status::Error(
        QStringLiteral("The radio cannot listen to all of %1: their columns need %2 % of its "
                       "time, and it holds one frequency at a time (each column takes the tuning "
                       "time of %3 ms%4 and the audio it is made from: %5). %6")
            .arg(Names(sounders, sounders.size()), QString::number(std::llround(total * 100)),
                 Milliseconds(settings.tuningTime), reach, needs.join(QStringLiteral(", ")),
                 advice),
        QStringLiteral("the sounders need more than the radio's time"));
}

} // namespace sweep
