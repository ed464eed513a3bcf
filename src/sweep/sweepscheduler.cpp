#include "sweep/sweepscheduler.h"

#include "sweep/schedule.h"

#include <QLocale>
#include <utility>

namespace {

const QString kWaitingText = QStringLiteral("waiting...");
const QString kSteppingText = QStringLiteral("Stepping");

QString Megahertz(std::int32_t hz) {
    constexpr double kHertzPerMegahertz = 1e6;
    return QLocale().toString(hz / kHertzPerMegahertz, 'f', 1);
}

} // namespace

SweepScheduler::SweepScheduler(Hooks hooks, TickTimer& Timer1, QObject* parent)
    : QObject(parent), hooks(std::move(hooks)), Timer1(Timer1) {}

void SweepScheduler::StartButtonClick() {
    if (stopped) {
        return;
    }
    const QString text = hooks.chirpText();
    if (ArmSweep(text)) {
        RestartTimer();
    } else {
        Tell(true, sweep::ChirpTimeRefusal(text));
    }
    EmitMessages();
}

void SweepScheduler::Timer1Tick() {
    if (phase == Phase::Idle || stopped) {
        return; // nothing is scheduled before the first arming or after the end
    }
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
        hooks.setLabel3(kSteppingText);
        phase = Phase::Stepping;
        Timer1.SetEnabled(false); // no tick may step while this one tunes
        nextStepTime += sweep::kStepInterval;
        if (nextStepTime >= sweep::kDay) {
            nextStepTime -= sweep::kDay;
        }
        stepFrequency += sweep::kFrequencyStep;
        emit progressChanged();
        if (stepFrequency <= sweep::kTopFrequency) {
            Tune(stepFrequency);
        } else {
            Rearm(); // back to 2 MHz instead of 30.1 MHz
        }
    }
    RestartTimer();
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
    hooks.setLabel3(kWaitingText);
    phase = Phase::Waiting;
    const double firstReading = hooks.clock();
    const double secondReading = hooks.clock();
    nextStepTime = sweep::StartTime(firstReading, secondReading, chirpTime);
    lastAcceptedChirpTime = chirpTime;
    RestartTimer(); // before the tuning: ticks run inside its wait
    stepFrequency = sweep::kParkFrequency;
    emit progressChanged();
    Tune(stepFrequency);
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

void SweepScheduler::Tune(std::int32_t frequency) {
    const Status status = hooks.setfreq(frequency);
    if (status.IsOk()) {
        tuningFailing = false;
        return;
    }
    if (!tuningFailing) {
        tuningFailing = true;
        Tell(true, QStringLiteral("Could not tune the radio to %1 MHz (%2). The sweep goes on and "
                                  "keeps trying.")
                       .arg(Megahertz(frequency), status.Message()));
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
    Timer1.SetInterval(static_cast<int>(sweep::kTickPeriod.count()));
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
