#include "sweep/sweepscheduler.h"

#include "core/units.h"
#include "sweep/schedule.h"

#include <QLocale>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace {

QString Megahertz(std::int32_t hz, int decimals) {
    return QLocale().toString(hz / units::kHertzPerMegahertz, 'f', decimals);
}

// "five minutes", "12 minutes", "450 s": a period as the clock-change notice names it.
QString PeriodText(double period) {
    if (period == 5 * units::kSecondsPerMinute) {
        return QStringLiteral("five minutes");
    }
    if (std::fmod(period, units::kSecondsPerMinute) == 0) {
        return QStringLiteral("%1 minutes").arg(period / units::kSecondsPerMinute);
    }
    return QStringLiteral("%1 s").arg(period);
}

std::chrono::microseconds Microseconds(double seconds) {
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::duration<double>(seconds));
}

double TimeOfDay(double t) {
    return std::fmod(t, units::kSecondsPerDay);
}

} // namespace

SweepScheduler::SweepScheduler(Hooks hooks, TickTimer& Timer1, Tuner& tuner, QObject* parent)
    : QObject(parent), hooks(std::move(hooks)), Timer1(Timer1), tuner(&tuner) {
    Timer1.onTick = [this] { Timer1Tick(); };
    Attach();
}

void SweepScheduler::Attach() {
    connect(tuner, &Tuner::TuneFinished, this, &SweepScheduler::TuneFinished);
    connect(tuner, &Tuner::StateChanged, this, &SweepScheduler::TunerStateChanged);
    tuner->SetReplyBudget(sweep::ReplyWaitBudget(profile));
    // Slots come as little as the command spacing apart: no read may stand between two.
    tuner->SetReadBack(!Following() || stopped);
    Timer1.AimFor(tuner->TunesOnTime());
}

void SweepScheduler::SetTuner(Tuner& next) {
    if (&next == tuner) {
        return;
    }
    disconnect(tuner, &Tuner::TuneFinished, this, &SweepScheduler::TuneFinished);
    disconnect(tuner, &Tuner::StateChanged, this, &SweepScheduler::TunerStateChanged);
    tuner->SetReadBack(true);
    const std::map<quint64, Request> unanswered = requests.TakeAll();
    tuner = &next;
    Attach();
    for (auto [id, request] : unanswered) {
        if (!request.park) {
            request.step.id = id;
            emit StepTuned(request.step);
        }
    }
}

void SweepScheduler::SetProfile(const sweep::Profile& next) {
    if (next == profile) {
        return;
    }
    profile = next;
    tuner->SetReplyBudget(sweep::ReplyWaitBudget(profile));
    if (phase == Phase::Idle || stopped) {
        return;
    }
    ++handling;
    Rearm();
    RestartTimer();
    --handling;
    EmitMessages();
}

std::int32_t SweepScheduler::TopFrequency() const {
    return sweep::StepFrequency(profile, sweep::StepCount(profile) - 1);
}

void SweepScheduler::StartButtonClick() {
    if (stopped) {
        return;
    }
    ++handling;
    const QString text = hooks.chirpText();
    if (ArmSweep(text)) {
        RestartTimer();
    } else {
        Tell(true, sweep::ChirpTimeRefusal(text, profile.period));
    }
    --handling;
    EmitMessages();
}

void SweepScheduler::Follow(std::vector<sweep::FollowedSounder> next,
                            const sweep::PlanSettings& nextSettings) {
    ++handling;
    if (!next.empty()) {
        LeaveSingle();
    }
    EndSweeps(0, true);
    followed = std::move(next);
    settings = nextSettings;
    sweepUnderWay.assign(followed.size(), std::nan(""));
    pending.clear();
    tuner->SetReadBack(!Following() || stopped);
    if (!stopped) {
        if (Following()) {
            const double reading = hooks.clock();
            ResetAxis(reading);
            plannedTo = reading;
            PlanUpTo(reading + kHorizon);
        }
        RestartTimer();
    }
    --handling;
    EmitMessages();
}

void SweepScheduler::Timer1Tick() {
    if (stopped || (phase == Phase::Idle && !Following())) {
        return; // nothing is scheduled before the first arming or after the end
    }
    ++handling;
    const double t = hooks.clock();
    const double before = dayBase + lastReading;
    const bool known = lastReading >= 0;
    const double now = Now(t);
    // Ticks come at least every second while a sweep is armed or followed, and never wait for
    // the radio: a reading this far from the last means the clock was changed.
    double period = profile.period;
    if (Following()) {
        period = 0;
        for (const sweep::FollowedSounder& s : followed) {
            period = std::max(period, s.profile.period);
        }
    }
    if (known && (now - before < -kClockJump || now - before > period)) {
        Tell(false, now < before
                        ? QStringLiteral("The clock was set back; the sweep starts again from the "
                                         "current time.")
                        : QStringLiteral("The clock moved ahead, or the radio held the sweep up "
                                         "for %1; the sweep starts again from the current time.")
                              .arg(PeriodText(period)));
        emit ClockJumped();
        if (Following()) {
            EndSweeps(now, true);
            pending.clear();
            plannedTo = now;
        } else {
            EndSweep(false);
            Rearm();
        }
    } else if (!Following()) {
        TakeStep(t);
    }
    if (Following()) {
        TakeSlot(now);
    }
    RestartTimer();
    --handling;
    EmitMessages();
}

void SweepScheduler::TakeStep(double t) {
    if (!sweep::IsDue(TimeOfDay(t + EarlySeconds()), nextStepTime)) {
        return;
    }
    // A timer that leaves the wait to the backend ticks up to its lead before the instant:
    // the step, or the park after the last one, is handed over to be written at it.
    handOver = std::max(sweep::AroundTheDay(nextStepTime, t), 0.0);
    SetPhase(Phase::Stepping);
    Timer1.SetEnabled(false); // no tick may step while this one tunes
    const double mark = nextStepTime;
    ++stepIndex;
    if (stepIndex == 0) {
        emit SweepStarted(sounder, mark);
    }
    // Each instant from the sweep's start, so steps that are not whole milliseconds apart
    // (82 kHz/s) gather no rounding.
    nextStepTime = TimeOfDay(sweepStart + sweep::StepOffset(profile, stepIndex + 1));
    stepFrequency = sweep::StepFrequency(profile, stepIndex); // past the last: one above the top
    emit ProgressChanged();
    if (stepIndex < sweep::StepCount(profile)) {
        // The step is tuned at its mark, half a step before the sweep crosses its frequency.
        const double crossing = TimeOfDay(mark + sweep::HalfStep(profile));
        Tune(Request{false, false,
                     sweep::SlotTuning{0, sounder, stepFrequency, crossing, mark, false}},
             handOver);
    } else {
        EndSweep(true);
        Rearm(); // back to the low frequency, not one step above the top
    }
    handOver = 0;
}

void SweepScheduler::TakeSlot(double now) {
    if (plannedTo - now < kRefill) {
        PlanUpTo(now + kHorizon);
    }
    EndSweeps(now, false);
    // A timer that leaves the wait to the backend ticks up to its lead before the instant.
    const double early = EarlySeconds();
    while (!pending.empty() && pending.begin()->first <= now + early) {
        const sweep::Slot slot = pending.begin()->second;
        pending.erase(pending.begin());
        NoteSweep(slot);
        if (now >= slot.windowFrom) {
            ++late; // its audio has begun: tuning now would give a column of two frequencies
            continue;
        }
        Timer1.SetEnabled(false); // no tick may tune while this one does
        Tune(Request{false, true,
                     sweep::SlotTuning{0, followed.at(slot.sounder).name, slot.listenHz,
                                       TimeOfDay(slot.crossing), TimeOfDay(slot.tuneAt), false}},
             std::max(slot.tuneAt - now, 0.0));
        break;
    }
}

bool SweepScheduler::ArmSweep(const QString& chirpTime) {
    const std::optional<double> chirp = sweep::ParseChirpTime(chirpTime, QLocale(), profile.period);
    if (!chirp) {
        return false;
    }
    reportedRefusal.reset();
    Arm(*chirp);
    return true;
}

void SweepScheduler::Arm(double chirpTime) {
    LeavePlan();
    EndSweep(false); // a sweep under way that was not ended otherwise is cut short here
    SetPhase(Phase::Waiting);
    const double firstReading = hooks.clock();
    const double secondReading = hooks.clock();
    ResetAxis(secondReading);
    nextStepTime = sweep::StartTime(firstReading, secondReading, chirpTime, profile);
    sweepStart = nextStepTime;
    stepIndex = -1;
    lastAcceptedChirpTime = chirpTime;
    sounder = sweep::SounderLabel(savedSounders, profile, chirpTime);
    emit SweepArmed(sounder, nextStepTime, chirpTime);
    RestartTimer();
    stepFrequency = sweep::ParkFrequency(profile);
    emit ProgressChanged();
    Park(handOver);
}

void SweepScheduler::Rearm() {
    const QString text = hooks.chirpText();
    if (ArmSweep(text)) {
        return;
    }
    if (reportedRefusal != text) {
        reportedRefusal = text;
        Tell(true, QStringLiteral("%1 The sweep goes on with chirp time %2.")
                       .arg(sweep::ChirpTimeOutOfRange(text, profile.period),
                            QLocale().toString(lastAcceptedChirpTime)));
    }
    // A chirp time from a longer period may not fit a shorter one: it goes round the period.
    Arm(std::fmod(lastAcceptedChirpTime, profile.period));
}

void SweepScheduler::EndSweep(bool complete) {
    if (stepIndex < 0) {
        return; // parked: no sweep started since the last arming
    }
    stepIndex = -1;
    emit SweepEnded(sounder, complete);
}

void SweepScheduler::LeaveSingle() {
    if (phase == Phase::Idle) {
        return;
    }
    EndSweep(false);
    SetPhase(Phase::Idle);
    emit ProgressChanged();
}

void SweepScheduler::LeavePlan() {
    if (!Following()) {
        return;
    }
    EndSweeps(0, true);
    followed.clear();
    sweepUnderWay.clear();
    pending.clear();
    tuner->SetReadBack(true);
}

void SweepScheduler::SetPhase(Phase next) {
    phase = next;
    emit PhaseEntered(next);
}

double SweepScheduler::EarlySeconds() const {
    return std::chrono::duration<double>(Timer1.Early()).count();
}

void SweepScheduler::Park(double delay) {
    Tune(Request{true, false, {}}, delay);
}

void SweepScheduler::Tune(Request request, double delay) {
    const quint64 id = requests.Add(request);
    if (!request.park) {
        request.step.id = id;
        emit StepPlanned(request.step);
    }
    tuner->TuneIn(id, request.park ? stepFrequency : request.step.hz, Microseconds(delay));
}

void SweepScheduler::TuneFinished(quint64 id, std::int32_t hz, TuneOutcome outcome,
                                  const Status& status) {
    std::optional<Request> request = requests.Take(id);
    if (!request) {
        return;
    }
    if (request->park) {
        parkUnreached = outcome != TuneOutcome::Reached;
    }
    // Once stopped (the window closing), the backend's refusals of what was still in hand are
    // not the user's concern.
    if (requests.FailureToTell(outcome) && !stopped) {
        Tell(true, request->followed
                       ? QStringLiteral("Could not tune the radio to %1 MHz for %2 (%3). The plan "
                                        "goes on and keeps trying.")
                             .arg(Megahertz(hz, 3), request->step.sounder, status.Message())
                       : QStringLiteral("Could not tune the radio to %1 MHz (%2). The sweep goes "
                                        "on and keeps trying.")
                             .arg(Megahertz(hz, 1), status.Message()));
    }
    if (!request->park) {
        request->step.id = id;
        request->step.reached = outcome == TuneOutcome::Reached;
        emit StepTuned(request->step);
    }
    if (handling == 0) {
        EmitMessages(); // a late answer: no click or tick will send its message
    }
}

void SweepScheduler::TunerStateChanged() {
    // A backend that connects after the park was asked for (rigctld, Hamlib opening the rig)
    // refused it; the radio is parked once it can be reached.
    if (parkUnreached && phase == Phase::Waiting && !stopped && tuner->State().connected) {
        parkUnreached = false;
        Park(0);
    }
}

void SweepScheduler::Stop() {
    if (!stopped) {
        EndSweep(false);
    }
    stopped = true;
    pending.clear();
    Timer1.SetEnabled(false);
    tuner->SetReadBack(true);
}

void SweepScheduler::Rest() {
    if (stopped || (phase == Phase::Idle && !Following())) {
        return;
    }
    LeaveSingle();
    LeavePlan();
    Timer1.SetEnabled(false);
}

double SweepScheduler::Now(double reading) {
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

void SweepScheduler::ResetAxis(double reading) {
    dayBase = 0;
    lastReading = reading;
}

void SweepScheduler::PlanUpTo(double until) {
    if (!Following() || until <= plannedTo) {
        return;
    }
    for (const sweep::Slot& slot :
         sweep::MakePlan(followed, settings, plannedTo, until).listening) {
        pending.emplace(slot.tuneAt, slot);
    }
    plannedTo = until;
}

const sweep::Slot* SweepScheduler::NextSlot() const {
    return pending.empty() ? nullptr : &pending.begin()->second;
}

std::optional<double> SweepScheduler::SecondsToNextTuning() const {
    if (stopped) {
        return std::nullopt;
    }
    const double reading = hooks.clock();
    if (Following()) {
        const sweep::Slot* next = NextSlot();
        if (next == nullptr) {
            return std::nullopt;
        }
        // The slot lies on the plan's continuous axis; the reading's day is the one nearest the
        // last reading's, as Now() would take it.
        const double base =
            lastReading < 0
                ? dayBase
                : dayBase + (lastReading + sweep::AroundTheDay(reading, lastReading) - reading);
        return next->tuneAt - (base + reading);
    }
    switch (phase) {
    case Phase::Waiting:
        return sweep::AroundTheDay(nextStepTime, reading);
    case Phase::Stepping:
        return 0.0;
    case Phase::Idle:
        break;
    }
    return std::nullopt;
}

void SweepScheduler::SetMof(const QString& name, double mofKhz) {
    auto it = std::find_if(followed.begin(), followed.end(),
                           [&name](const sweep::FollowedSounder& s) { return s.name == name; });
    if (it == followed.end() || it->mofKhz == mofKhz) {
        return;
    }
    it->mofKhz = mofKhz;
    if (stopped || !settings.fineSteps) {
        return;
    }
    // The next sweep may be planned already (the plan runs minutes ahead): plan what is not yet
    // due again. The slots of the other sounders come out as they were; a slot already due stays.
    const double now = Now(hooks.clock());
    pending.erase(pending.lower_bound(now), pending.end());
    if (plannedTo > now) {
        // A slot tunes before its sweep passes its frequency, so every slot still to tune lies
        // in this span; the ones whose tuning instant has passed are tuned or due already.
        for (const sweep::Slot& slot :
             sweep::MakePlan(followed, settings, now, plannedTo).listening) {
            if (slot.tuneAt >= now) {
                pending.emplace(slot.tuneAt, slot);
            }
        }
    }
    RestartTimer();
}

void SweepScheduler::NoteSweep(const sweep::Slot& slot) {
    double& underWay = sweepUnderWay.at(slot.sounder);
    if (underWay == slot.periodStart) {
        return;
    }
    const sweep::FollowedSounder& s = followed.at(slot.sounder);
    if (!std::isnan(underWay)) {
        emit SweepEnded(s.name, false); // the next began before this one's end was seen
    }
    underWay = slot.periodStart;
    const double mark = TimeOfDay(slot.tuneAt);
    emit SweepArmed(s.name, mark, s.chirpTime);
    emit SweepStarted(s.name, mark);
}

void SweepScheduler::EndSweeps(double now, bool all) {
    for (std::size_t i = 0; i < sweepUnderWay.size(); ++i) {
        const sweep::FollowedSounder& s = followed.at(i);
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

void SweepScheduler::RestartTimer() {
    if (stopped) {
        return;
    }
    if (Following()) {
        const sweep::Slot* next = NextSlot();
        Timer1.SetNextDue(next ? std::optional<double>(TimeOfDay(next->tuneAt)) : std::nullopt);
    } else if (phase == Phase::Idle) {
        // Nothing armed or followed: no tick could find a step, so none comes (the program rests).
        Timer1.SetEnabled(false);
        return;
    } else {
        Timer1.SetNextDue(nextStepTime);
    }
    Timer1.SetInterval(sweep::kTickPeriod);
    Timer1.SetEnabled(true);
}

void SweepScheduler::Tell(bool isProblem, QString text) {
    messages.push_back(Message{isProblem, std::move(text)});
}

void SweepScheduler::EmitMessages() {
    std::vector<Message> out;
    out.swap(messages);
    for (const Message& message : out) {
        if (message.isProblem) {
            emit Problem(message.text);
        } else {
            emit Notice(message.text);
        }
    }
}
