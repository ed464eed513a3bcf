#include "sweep/sweepscheduler.h"

#include "sweep/schedule.h"

#include <QLocale>
#include <utility>

namespace {

QString Megahertz(std::int32_t hz) {
    constexpr double kHertzPerMegahertz = 1e6;
    return QLocale().toString(hz / kHertzPerMegahertz, 'f', 1);
}

} // namespace

SweepScheduler::SweepScheduler(Hooks hooks, TickTimer& Timer1, Tuner& tuner, QObject* parent)
    : QObject(parent), hooks(std::move(hooks)), Timer1(Timer1), tuner(tuner) {
    Timer1.onTick = [this] { Timer1Tick(); };
    connect(&tuner, &Tuner::TuneFinished, this, &SweepScheduler::TuneFinished);
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
        Tell(true, sweep::ChirpTimeRefusal(text));
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
    const sweep::ClockJump jump = sweep::DetectClockJump(t, nextStepTime);
    if (jump != sweep::ClockJump::None) {
        Tell(false, jump == sweep::ClockJump::SetBack
                        ? QStringLiteral("The clock was set back; the sweep starts again from the "
                                         "current time.")
                        : QStringLiteral("The clock moved ahead, or the radio held the sweep up "
                                         "for five minutes; the sweep starts again from the "
                                         "current time."));
        Rearm();
    } else if (sweep::IsDue(t, nextStepTime)) {
        SetPhase(Phase::Stepping);
        Timer1.SetEnabled(false); // no tick may step while this one tunes
        const double mark = nextStepTime;
        nextStepTime += sweep::kStepInterval;
        if (nextStepTime >= sweep::kDay) {
            nextStepTime -= sweep::kDay;
        }
        stepFrequency += sweep::kFrequencyStep;
        emit progressChanged();
        if (stepFrequency <= sweep::kTopFrequency) {
            Tune(stepFrequency, mark);
        } else {
            Rearm(); // back to 2 MHz instead of 30.1 MHz
        }
    }
    RestartTimer();
    --handling;
    EmitMessages();
}

bool SweepScheduler::ArmSweep(const QString& chirpTime) {
    const std::optional<double> chirp = sweep::ParseChirpTime(chirpTime, QLocale());
    if (!chirp) {
        return false;
    }
    reportedRefusal.reset();
    Arm(*chirp);
    return true;
}

void SweepScheduler::Arm(double chirpTime) {
    SetPhase(Phase::Waiting);
    const double firstReading = hooks.clock();
    const double secondReading = hooks.clock();
    nextStepTime = sweep::StartTime(firstReading, secondReading, chirpTime);
    lastAcceptedChirpTime = chirpTime;
    RestartTimer(); // before the tuning: ticks run inside its wait
    stepFrequency = sweep::kParkFrequency;
    emit progressChanged();
    Tune(stepFrequency, std::nullopt);
}

void SweepScheduler::Rearm() {
    const QString text = hooks.chirpText();
    if (ArmSweep(text)) {
        return;
    }
    if (reportedRefusal != text) {
        reportedRefusal = text;
        Tell(true, QStringLiteral("The chirp time \"%1\" is not a number of seconds from 0 to 299. "
                                  "The sweep goes on with chirp time %2.")
                       .arg(text, QLocale().toString(lastAcceptedChirpTime)));
    }
    Arm(lastAcceptedChirpTime);
}

void SweepScheduler::SetPhase(Phase next) {
    phase = next;
    emit PhaseEntered(next);
}

void SweepScheduler::Tune(std::int32_t frequency, std::optional<double> mark) {
    const quint64 id = ++lastRequest;
    requests[id] = Request{frequency, mark};
    if (mark) {
        emit StepPlanned(frequency, *mark);
    }
    tuner.Tune(id, frequency); // a backend that waits for the radio answers before it returns
}

void SweepScheduler::TuneFinished(quint64 id, std::int32_t hz, TuneOutcome outcome,
                                  const Status& status) {
    const auto found = requests.find(id);
    if (found == requests.end()) {
        return;
    }
    const Request request = found->second;
    requests.erase(found);
    if (outcome == TuneOutcome::Reached) {
        tuningFailing = false;
    } else if (outcome == TuneOutcome::Failed && !tuningFailing) {
        tuningFailing = true;
        Tell(true, QStringLiteral("Could not tune the radio to %1 MHz (%2). The sweep goes on and "
                                  "keeps trying.")
                       .arg(Megahertz(hz), status.Message()));
    }
    if (request.mark) {
        emit StepTuned(hz, *request.mark, outcome == TuneOutcome::Reached);
    }
    if (handling == 0) {
        EmitMessages(); // a late answer: no click or tick will send its message
    }
}

void SweepScheduler::Stop() {
    stopped = true;
    Timer1.SetEnabled(false);
}

void SweepScheduler::RestartTimer() {
    if (stopped) {
        return;
    }
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
            emit problem(message.text);
        } else {
            emit notice(message.text);
        }
    }
}
