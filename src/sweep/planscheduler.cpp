#include "sweep/planscheduler.h"

#include "core/units.h"
#include "sweep/schedule.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <utility>

PlanScheduler::PlanScheduler(std::function<double()> clock, TickTimer& stepTimer, Tuner& tuner,
                             QObject* parent)
    : QObject(parent), clock(std::move(clock)), stepTimer(stepTimer), tuner(&tuner) {
    stepTimer.onTick = [this] { Tick(); };
    connect(&tuner, &Tuner::TuneFinished, this, &PlanScheduler::TuneFinished);
    AimForTuner();
}

void PlanScheduler::AimForTuner() {
    stepTimer.AimFor(tuner->TunesOnTime());
}

void PlanScheduler::Follow(std::vector<sweep::FollowedSounder> next,
                           const sweep::PlanSettings& nextSettings) {
    EndSweeps(0, true);
    sounders = std::move(next);
    settings = nextSettings;
    sweepUnderWay.assign(sounders.size(), std::nan(""));
    pending.clear();
    // Slots come as little as the command spacing apart: no read may stand between two.
    tuner->SetReadBack(sounders.empty() || stopped);
    if (stopped) {
        return;
    }
    const double now = Now();
    plannedTo = now;
    PlanUpTo(now + kHorizon);
    RestartTimer();
}

double PlanScheduler::Now() {
    const double reading = clock();
    if (lastReading >= 0) {
        // Midnight passed (or the clock went back over it): the axis goes on.
        const double step = reading - lastReading;
        if (step < -sweep::kHalfDay) {
            dayBase += units::kSecondsPerDay;
        } else if (step > sweep::kHalfDay) {
            dayBase -= units::kSecondsPerDay;
        }
    }
    lastReading = reading;
    return dayBase + reading;
}

void PlanScheduler::PlanUpTo(double until) {
    if (sounders.empty() || until <= plannedTo) {
        return;
    }
    const sweep::ListeningPlan plan = sweep::MakePlan(sounders, settings, plannedTo, until);
    for (const sweep::Slot& slot : plan.listening) {
        pending.emplace(slot.tuneAt, slot);
    }
    plannedTo = until;
}

const sweep::Slot* PlanScheduler::NextSlot() const {
    return pending.empty() ? nullptr : &pending.begin()->second;
}

void PlanScheduler::SetMof(const QString& sounder, double mofKhz) {
    auto it =
        std::find_if(sounders.begin(), sounders.end(),
                     [&sounder](const sweep::FollowedSounder& s) { return s.name == sounder; });
    if (it == sounders.end() || it->mofKhz == mofKhz) {
        return;
    }
    it->mofKhz = mofKhz;
    if (stopped || !settings.fineSteps) {
        return;
    }
    // The next sweep may be planned already (the plan runs minutes ahead): plan what is not yet
    // due again. The slots of the other sounders come out as they were; a slot already due stays.
    const double now = Now();
    pending.erase(pending.lower_bound(now), pending.end());
    if (plannedTo > now) {
        // A slot tunes before its sweep passes its frequency, so every slot still to tune lies
        // in this span; the ones whose tuning instant has passed are tuned or due already.
        for (const sweep::Slot& slot :
             sweep::MakePlan(sounders, settings, now, plannedTo).listening) {
            if (slot.tuneAt >= now) {
                pending.emplace(slot.tuneAt, slot);
            }
        }
    }
    RestartTimer();
}

void PlanScheduler::Tick() {
    if (stopped || sounders.empty()) {
        return;
    }
    const double before = dayBase + lastReading;
    double now = Now();
    if (std::fabs(now - before) > kClockJump && lastReading >= 0 && before > 0) {
        // The clock was changed: what was planned is on the wrong instants.
        pending.clear();
        plannedTo = now;
    }
    if (plannedTo - now < kRefill) {
        PlanUpTo(now + kHorizon);
    }
    EndSweeps(now, false);
    // A timer that leaves the wait to the backend ticks up to its lead before the instant.
    const double early = std::chrono::duration<double>(stepTimer.Early()).count();
    while (!pending.empty() && pending.begin()->first <= now + early) {
        const sweep::Slot slot = pending.begin()->second;
        pending.erase(pending.begin());
        NoteSweep(slot);
        if (now >= slot.windowFrom) {
            ++late; // its audio has begun: tuning now would give a column of two frequencies
            continue;
        }
        stepTimer.SetEnabled(false); // no tick may tune while this one does
        sweep::SlotTuning tuning{0,
                                 sounders.at(slot.sounder).name,
                                 slot.listenHz,
                                 std::fmod(slot.crossing, units::kSecondsPerDay),
                                 std::fmod(slot.tuneAt, units::kSecondsPerDay),
                                 false};
        tuning.id = requests.Add(tuning);
        emit SlotPlanned(tuning);
        const auto delay = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::duration<double>(std::max(slot.tuneAt - now, 0.0)));
        tuner->TuneIn(tuning.id, slot.listenHz, delay);
        break;
    }
    RestartTimer();
}

void PlanScheduler::TuneFinished(quint64 id, std::int32_t hz, TuneOutcome outcome,
                                 const Status& status) {
    std::optional<sweep::SlotTuning> slot = requests.Take(id);
    if (!slot) {
        return;
    }
    if (requests.FailureToTell(outcome) && !stopped) {
        emit Problem(
            QStringLiteral("Could not tune the radio to %1 MHz for %2 (%3). The plan goes "
                           "on and keeps trying.")
                .arg(QLocale().toString(hz / 1e6, 'f', 3), slot->sounder, status.Message()));
    }
    slot->id = id;
    slot->reached = outcome == TuneOutcome::Reached;
    emit SlotTuned(*slot);
}

void PlanScheduler::Stop() {
    stopped = true;
    pending.clear();
    stepTimer.SetEnabled(false);
    tuner->SetReadBack(true);
}

void PlanScheduler::SetTuner(Tuner& next) {
    if (&next == tuner) {
        return;
    }
    disconnect(tuner, &Tuner::TuneFinished, this, &PlanScheduler::TuneFinished);
    tuner->SetReadBack(true);
    const std::map<quint64, sweep::SlotTuning> unanswered = requests.TakeAll();
    tuner = &next;
    tuner->SetReadBack(sounders.empty() || stopped);
    connect(tuner, &Tuner::TuneFinished, this, &PlanScheduler::TuneFinished);
    AimForTuner();
    for (auto [id, slot] : unanswered) {
        slot.id = id;
        emit SlotTuned(slot);
    }
}

void PlanScheduler::RestartTimer() {
    if (stopped) {
        return;
    }
    if (sounders.empty()) {
        // Nothing followed: no tick could find a slot, so none comes (the program rests).
        stepTimer.SetEnabled(false);
        return;
    }
    const sweep::Slot* next = NextSlot();
    stepTimer.SetNextDue(next
                             ? std::optional<double>(std::fmod(next->tuneAt, units::kSecondsPerDay))
                             : std::nullopt);
    stepTimer.SetInterval(sweep::kTickPeriod);
    stepTimer.SetEnabled(true);
}

void PlanScheduler::NoteSweep(const sweep::Slot& slot) {
    double& underWay = sweepUnderWay.at(slot.sounder);
    if (underWay == slot.periodStart) {
        return;
    }
    const sweep::FollowedSounder& s = sounders.at(slot.sounder);
    if (!std::isnan(underWay)) {
        emit SweepEnded(s.name, false); // the next began before this one's end was seen
    }
    underWay = slot.periodStart;
    emit SweepBegins(s.name, s.chirpTime, std::fmod(slot.tuneAt, units::kSecondsPerDay));
}

void PlanScheduler::EndSweeps(double now, bool all) {
    for (std::size_t i = 0; i < sweepUnderWay.size(); ++i) {
        const sweep::FollowedSounder& s = sounders.at(i);
        const sweep::Profile& p = s.profile;
        // Past the last step's crossing, a moved slot's half step, and its window.
        const double end =
            sweepUnderWay[i] +
            sweep::CrossingInPeriod(p, s.chirpTime,
                                    sweep::StepFrequency(p, sweep::StepCount(p) - 1) /
                                        units::kHertzPerKilohertz) +
            sweep::HalfStep(p) + s.windowTo;
        if (!std::isnan(sweepUnderWay[i]) && (all || now > end)) {
            sweepUnderWay[i] = std::nan("");
            emit SweepEnded(s.name, !all);
        }
    }
}
