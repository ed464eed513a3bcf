#include "sweep/sweepscheduler.h"

#include "core/units.h"
#include "sweep/schedule.h"

#include <QLocale>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

namespace {

QString Megahertz(std::int32_t hz) {
    return QLocale().toString(hz / units::kHertzPerMegahertz, 'f', 1);
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

} // namespace

SweepScheduler::SweepScheduler(Hooks hooks, TickTimer& Timer1, Tuner& tuner, QObject* parent)
    : QObject(parent), hooks(std::move(hooks)), Timer1(Timer1), tuner(&tuner) {
    Timer1.onTick = [this] { Timer1Tick(); };
    connect(&tuner, &Tuner::TuneFinished, this, &SweepScheduler::TuneFinished);
    connect(&tuner, &Tuner::StateChanged, this, &SweepScheduler::TunerStateChanged);
    tuner.SetReplyBudget(sweep::ReplyWaitBudget(profile));
    AimForTuner();
}

void SweepScheduler::AimForTuner() {
    Timer1.AimFor(tuner->TunesOnTime());
}

void SweepScheduler::SetTuner(Tuner& next) {
    if (&next == tuner) {
        return;
    }
    disconnect(tuner, &Tuner::TuneFinished, this, &SweepScheduler::TuneFinished);
    disconnect(tuner, &Tuner::StateChanged, this, &SweepScheduler::TunerStateChanged);
    const std::map<quint64, Request> unanswered = requests.TakeAll();
    tuner = &next;
    connect(tuner, &Tuner::TuneFinished, this, &SweepScheduler::TuneFinished);
    connect(tuner, &Tuner::StateChanged, this, &SweepScheduler::TunerStateChanged);
    tuner->SetReplyBudget(sweep::ReplyWaitBudget(profile));
    AimForTuner();
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

void SweepScheduler::Timer1Tick() {
    if (phase == Phase::Idle || stopped) {
        return; // nothing is scheduled before the first arming or after the end
    }
    ++handling;
    const double t = hooks.clock();
    const sweep::ClockJump jump = sweep::DetectClockJump(t, nextStepTime, profile);
    if (jump != sweep::ClockJump::None) {
        Tell(false, jump == sweep::ClockJump::SetBack
                        ? QStringLiteral("The clock was set back; the sweep starts again from the "
                                         "current time.")
                        : QStringLiteral("The clock moved ahead, or the radio held the sweep up "
                                         "for %1; the sweep starts again from the current time.")
                              .arg(PeriodText(profile.period)));
        emit ClockJumped();
        EndSweep(false);
        Rearm();
    } else if (sweep::IsDue(std::fmod(t + EarlySeconds(), units::kSecondsPerDay), nextStepTime)) {
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
        nextStepTime = std::fmod(sweepStart + sweep::StepOffset(profile, stepIndex + 1),
                                 units::kSecondsPerDay);
        if (stepIndex < sweep::StepCount(profile)) {
            stepFrequency = sweep::StepFrequency(profile, stepIndex);
            emit ProgressChanged();
            Tune(stepFrequency, mark);
        } else {
            stepFrequency = sweep::StepFrequency(profile, stepIndex); // one step past the top
            emit ProgressChanged();
            EndSweep(true);
            Rearm(); // back to the low frequency, not one step above the top
        }
        handOver = 0;
    }
    RestartTimer();
    --handling;
    EmitMessages();
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
    EndSweep(false); // a sweep under way that was not ended otherwise is cut short here
    SetPhase(Phase::Waiting);
    const double firstReading = hooks.clock();
    const double secondReading = hooks.clock();
    nextStepTime = sweep::StartTime(firstReading, secondReading, chirpTime, profile);
    sweepStart = nextStepTime;
    stepIndex = -1;
    lastAcceptedChirpTime = chirpTime;
    sounder = sweep::SounderLabel(savedSounders, profile, chirpTime);
    emit SweepArmed(sounder, nextStepTime, chirpTime);
    RestartTimer();
    stepFrequency = sweep::ParkFrequency(profile);
    emit ProgressChanged();
    Tune(stepFrequency, std::nullopt);
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

void SweepScheduler::SetSavedSounders(std::vector<sweep::NamedSounder> saved) {
    savedSounders = std::move(saved);
}

void SweepScheduler::EndSweep(bool complete) {
    if (stepIndex < 0) {
        return; // parked: no sweep started since the last arming
    }
    stepIndex = -1;
    emit SweepEnded(sounder, complete);
}

void SweepScheduler::SetPhase(Phase next) {
    phase = next;
    emit PhaseEntered(next);
}

double SweepScheduler::EarlySeconds() const {
    return std::chrono::duration<double>(Timer1.Early()).count();
}

void SweepScheduler::Tune(std::int32_t frequency, std::optional<double> mark) {
    Request request{!mark, {}};
    if (mark) {
        // The step is tuned at its mark, half a step before the sweep crosses its frequency.
        const double crossing = std::fmod(*mark + sweep::HalfStep(profile), units::kSecondsPerDay);
        request.step = sweep::SlotTuning{0, sounder, frequency, crossing, *mark, false};
    }
    const quint64 id = requests.Add(request);
    if (mark) {
        request.step.id = id;
        emit StepPlanned(request.step);
    }
    if (handOver > 0) {
        tuner->TuneIn(id, frequency,
                      std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::duration<double>(handOver)));
    } else {
        tuner->Tune(id, frequency);
    }
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
        Tell(true, QStringLiteral("Could not tune the radio to %1 MHz (%2). The sweep goes on and "
                                  "keeps trying.")
                       .arg(Megahertz(hz), status.Message()));
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
        Tune(stepFrequency, std::nullopt);
    }
}

void SweepScheduler::Stop() {
    if (!stopped) {
        EndSweep(false);
    }
    stopped = true;
    Timer1.SetEnabled(false);
}

void SweepScheduler::Rest() {
    if (stopped || phase == Phase::Idle) {
        return;
    }
    EndSweep(false);
    SetPhase(Phase::Idle);
    Timer1.SetEnabled(false);
    emit ProgressChanged();
}

void SweepScheduler::RestartTimer() {
    if (stopped) {
        return;
    }
    Timer1.SetNextDue(nextStepTime);
    Timer1.SetInterval(sweep::kTickPeriod);
    Timer1.SetEnabled(true);
}

void SweepScheduler::Tell(bool isProblem, QString text) {
    messages.push_back(Message{isProblem, std::move(text)});
}

void SweepScheduler::EmitMessages() {
    std::vector<Message> pending;
    pending.swap(messages);
    for (const Message& message : pending) {
        if (message.isProblem) {
            emit Problem(message.text);
        } else {
            emit Notice(message.text);
        }
    }
}
