#pragma once

// Makes the radio follow a chirp sounder: parks it at the profile's low frequency, then tunes each
// step half a step before the sweep reaches it (2.1 MHz at chirp time + 20.5 s, then 100 kHz
// higher every second up to 30 MHz with the default profile), and re-arms for the next period. It
// drives its own step timer and reaches the radio through a Tuner, whose answers may come at
// once or later; it never waits for one itself.

#include "core/status.h"
#include "rig/tuner.h"
#include "sweep/profile.h"
#include "sweep/schedule.h"
#include "sweep/slottuning.h"
#include "sweep/ticktimer.h"
#include "sweep/tunerequests.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

class SweepScheduler : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<double()> clock;      // seconds since midnight, with fraction
        std::function<QString()> chirpText; // the chirp time as the user typed it
    };

    // Timer1 must start with interval 0 (no ticks) and outlive the scheduler, which takes over
    // its onTick.
    SweepScheduler(Hooks hooks, TickTimer& Timer1, Tuner& tuner, QObject* parent = nullptr);

    // Arms anew from the chirp text, from any state. A text that is not an accepted chirp time
    // changes nothing and is reported through problem().
    void StartButtonClick();
    // Takes at most one due step; at the end of a sweep, or after a clock change, re-arms.
    void Timer1Tick();
    // Ends the sweep for good, as the window closes: the timer stops and stays off, also when
    // a step that is still waiting for the radio returns afterwards.
    void Stop();
    // Gives the radio to something else (listening, the plan): a sweep under way ends, the timer
    // rests and nothing is tuned until the next StartButtonClick arms again.
    void Rest();
    // Follows another sounder. A sweep under way re-arms at once: the radio parks at the new
    // low frequency and waits for the new schedule. The profile must have been validated.
    void SetProfile(const sweep::Profile& next);
    const sweep::Profile& Profile() const { return profile; }
    // The highest step of the profile in force, in hertz.
    std::int32_t TopFrequency() const;
    // Reaches the radio another way from now on. Requests the old backend had not answered
    // count as not reached.
    void SetTuner(Tuner& next);

    enum class Phase { Idle, Waiting, Stepping };
    Phase CurrentPhase() const { return phase; }
    double NextStepTime() const { return nextStepTime; }
    // The chirp time the sweep in force was armed with.
    double ChirpTime() const { return lastAcceptedChirpTime; }
    // The sounders the user saved by name: a sweep whose profile and chirp time are a saved
    // one's carries its name in the sweep events from the next arming on.
    void SetSavedSounders(std::vector<sweep::NamedSounder> saved);
    // The sounder the sweep in force belongs to, as the sweep events name it.
    const QString& Sounder() const { return sounder; }
    std::int32_t StepFrequency() const { return stepFrequency; }

signals:
    // Emitted at the end of the click or tick that raised them, after the timer is running again,
    // so a slot that opens a modal box does not hold the sweep up.
    void Problem(const QString& message); // a refused chirp time, a failed tuning (once per run)
    void Notice(const QString& message);  // informational, e.g. re-armed after a clock change
    void ClockJumped();                   // the clock was set back or moved ahead
    void ProgressChanged();               // phase, next step time or frequency changed
    // The sweep events, each naming the sounder (sweep::SounderLabel); times are the clock's
    // seconds since midnight. Armed: the radio parks and the first step is due at firstStep.
    void SweepArmed(const QString& sounder, double firstStep, double chirpTime);
    // The first step is being taken; mark is its planned instant.
    void SweepStarted(const QString& sounder, double mark);
    // A sweep that started is over: complete after its last step, cut short when the clock
    // jumped or a new arming (Start, another sounder) ended it first.
    void SweepEnded(const QString& sounder, bool complete);
    // The phase was set: at every arming (Waiting) and every step (Stepping).
    void PhaseEntered(SweepScheduler::Phase phase);
    // A sweep step is about to be tuned at its mark (tuneAt), half a step before its crossing.
    void StepPlanned(const sweep::SlotTuning& step);
    // What became of that step: the same step, told whether the tuning reached the radio.
    void StepTuned(const sweep::SlotTuning& step);

private:
    struct Message {
        bool isProblem;
        QString text;
    };
    struct Request {
        bool park = false;      // the park tuning, not a sweep step
        sweep::SlotTuning step; // a sweep step's
    };

    // Arms from a chirp-time text; a refused text changes nothing and returns false.
    bool ArmSweep(const QString& chirpTime);
    void Arm(double chirpTime);
    // Re-arms from within a tick: from the chirp text if it is an accepted chirp time, else from
    // the last accepted one (the user is told once per refused text).
    void Rearm();
    // Tunes now, or, within a tick that came early, at the step's instant.
    void Tune(std::int32_t frequency, std::optional<double> mark);
    // Sets the timer's lead for the backend in use.
    void AimForTuner();
    double EarlySeconds() const;
    void TuneFinished(quint64 id, std::int32_t hz, TuneOutcome outcome, const Status& status);
    // Tunes the park again when the backend connects after refusing it.
    void TunerStateChanged();
    void SetPhase(Phase next);
    // Ends the sweep under way, if one started, with SweepEnded.
    void EndSweep(bool complete);
    void RestartTimer();
    void Tell(bool isProblem, QString text);
    void EmitMessages();

    Hooks hooks;
    TickTimer& Timer1;
    Tuner* tuner;

    sweep::Profile profile;
    Phase phase = Phase::Idle;
    double sweepStart = 0; // the first step's instant
    int stepIndex = -1;    // the step last taken; -1 while parked
    double nextStepTime = 0;
    std::int32_t stepFrequency = 0;
    double lastAcceptedChirpTime = 0;
    std::vector<sweep::NamedSounder> savedSounders;
    QString sounder; // the label of the sweep in force
    // The refused chirp text the user was last told about at a re-arm.
    std::optional<QString> reportedRefusal;
    bool parkUnreached = false; // the last park tuning did not reach the radio
    bool stopped = false;
    int handling = 0;    // clicks and ticks under way; their messages go out when they end
    double handOver = 0; // s: within a tick, how long until the instant it tunes for
    TuneRequests<Request> requests;
    std::vector<Message> messages;
};
