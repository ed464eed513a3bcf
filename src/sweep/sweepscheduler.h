#pragma once

// Makes the radio follow chirp sounders: the single sounder of the profile and the chirp text, or
// several through the listening plan. Either is a plan the scheduler works through on one timer:
// the single sounder's entry is its own step list (the radio parked at the profile's low
// frequency, each step tuned half a step before the sweep reaches it: 2.1 MHz at chirp time +
// 20.5 s, then 100 kHz higher every second up to 30 MHz with the default profile, re-armed for the
// next period); followed sounders get the listening plan's slots, planned a couple of minutes
// ahead. One clock-jump rule, one way of telling a failed tuning, and every tuning handed to the
// backend for its instant. It reaches the radio through a Tuner, whose answers may come at once
// or later; it never waits for one itself.

#include "core/status.h"
#include "rig/tuner.h"
#include "sweep/listeningplan.h"
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
#include <utility>
#include <vector>

class SweepScheduler : public QObject {
    Q_OBJECT
public:
    // How far ahead the listening plan is made, and how much of it is left when the next span is
    // added.
    static constexpr double kHorizon = 120; // s
    static constexpr double kRefill = 60;   // s
    // A reading further back than this from the last, or further ahead than a period of the
    // sweeps in force (sweep::ForwardLimit), means the clock was changed: the sweep in force
    // starts again from the current time. Ahead by less, the steps due meanwhile are caught up
    // (the single sounder's one per tick) or passed over as late (a followed sounder's).
    static constexpr double kClockJump = 30; // s

    struct Hooks {
        std::function<double()> clock;      // seconds since midnight, with fraction
        std::function<QString()> chirpText; // the chirp time as the user typed it
    };

    // Timer1 must start with interval 0 (no ticks) and outlive the scheduler, which takes over
    // its onTick.
    SweepScheduler(Hooks hooks, TickTimer& Timer1, Tuner& tuner, QObject* parent = nullptr);

    // Arms the single sounder anew from the chirp text, from any state; followed sounders are
    // followed no longer. A text that is not an accepted chirp time changes nothing and is
    // reported through problem().
    void StartButtonClick();
    // Follows these sounders (the list's order is the priority) from now on instead of the single
    // sounder; the set must have passed sweep::CheckPlan. An empty list stops following.
    void Follow(std::vector<sweep::FollowedSounder> sounders, const sweep::PlanSettings& settings);
    const std::vector<sweep::FollowedSounder>& Followed() const { return followed; }
    // The MOF of the sounder's last scaled sweep, where its fine steps centre from now on: with
    // fine steps on, the slots not yet due are planned anew around it.
    void SetMof(const QString& sounder, double mofKhz);
    // Takes at most one due step; at the end of a single sweep, or after a clock change, re-arms.
    // A followed sounder's slot whose audio has already begun is skipped as late.
    void Timer1Tick();
    // Ends the sweep for good, as the window closes: the timer stops and stays off, also when
    // a step that is still waiting for the radio returns afterwards.
    void Stop();
    // Gives the radio to something else (listening): a sweep under way ends, followed sounders
    // are followed no longer, the timer rests and nothing is tuned until the next arming.
    void Rest();
    // The single sounder follows another profile. A sweep under way re-arms at once: the radio
    // parks at the new low frequency and waits for the new schedule. The profile must have been
    // validated.
    void SetProfile(const sweep::Profile& next);
    const sweep::Profile& Profile() const { return profile; }
    // The highest step of the profile in force, in hertz.
    std::int32_t TopFrequency() const;
    // Reaches the radio another way from now on. Requests the old backend had not answered
    // count as not reached.
    void SetTuner(Tuner& next);

    // The single sounder's phase; Idle while followed sounders have the radio.
    enum class Phase { Idle, Waiting, Stepping };
    Phase CurrentPhase() const { return phase; }
    double NextStepTime() const { return nextStepTime; }
    // The chirp time the sweep in force was armed with.
    double ChirpTime() const { return lastAcceptedChirpTime; }
    // The sounders the user saved by name: a sweep whose profile and chirp time are a saved
    // one's carries its name in the sweep events from the next arming on.
    void SetSavedSounders(std::vector<sweep::NamedSounder> saved) {
        savedSounders = std::move(saved);
    }
    // The sounder the single sweep in force belongs to, as the sweep events name it.
    const QString& Sounder() const { return sounder; }
    std::int32_t StepFrequency() const { return stepFrequency; }
    // The next followed sounder's slot to tune, if any is planned.
    const sweep::Slot* NextSlot() const;
    // Seconds from the clock's reading now until the radio is next tuned for a sweep: the single
    // sounder's next step (0 while stepping), or the next followed sounder's slot; none while
    // nothing is armed or followed.
    std::optional<double> SecondsToNextTuning() const;
    // Followed sounders' slots skipped because their audio had begun.
    int LateSlots() const { return late; }

signals:
    // Emitted at the end of the click or tick that raised them, after the timer is running again,
    // so a slot that opens a modal box does not hold the sweep up.
    void Problem(const QString& message); // a refused chirp time, a failed tuning (once per run)
    void Notice(const QString& message);  // informational, e.g. re-armed after a clock change
    void ClockJumped();                   // the clock was set back or moved ahead
    void ProgressChanged(); // the single sounder's phase, next step time or frequency changed
    // The sweep events, each naming the sounder (sweep::SounderLabel, or the followed one's
    // name); times are the clock's seconds since midnight. Armed: the radio parks and the first
    // step is due at firstStep (a followed sounder's sweep is armed as it starts).
    void SweepArmed(const QString& sounder, double firstStep, double chirpTime);
    // The first step is being taken; mark is its planned instant.
    void SweepStarted(const QString& sounder, double mark);
    // A sweep that started is over: complete after its last step, cut short when the clock
    // jumped or a new arming (Start, another sounder, another plan) ended it first.
    void SweepEnded(const QString& sounder, bool complete);
    // The single sounder's phase was set: at every arming (Waiting) and every step (Stepping).
    void PhaseEntered(SweepScheduler::Phase phase);
    // A sweep step, or a followed sounder's slot, is about to be tuned at its tuning instant.
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
        bool followed = false;  // a followed sounder's slot
        sweep::SlotTuning step; // a sweep step's
    };

    bool Following() const { return !followed.empty(); }
    // Arms from a chirp-time text; a refused text changes nothing and returns false.
    bool ArmSweep(const QString& chirpTime);
    void Arm(double chirpTime);
    // Re-arms from within a tick: from the chirp text if it is an accepted chirp time, else from
    // the last accepted one (the user is told once per refused text).
    void Rearm();
    // Takes the single sounder's step, or its park after the last one, when it is due.
    void TakeStep(double t);
    // Takes the followed sounders' first due slot; now on the plan's continuous axis.
    void TakeSlot(double now);
    // Hands a tuning to the backend to be written `delay` seconds from now.
    void Tune(Request request, double delay);
    // The single sounder parks at its low frequency, `delay` seconds from now.
    void Park(double delay);
    // Listens to the backend in use and sets its reply budget, its read-back and the timer's
    // lead for it.
    void Attach();
    double EarlySeconds() const;
    void TuneFinished(quint64 id, std::int32_t hz, TuneOutcome outcome, const Status& status);
    // Tunes the park again when the backend connects after refusing it.
    void TunerStateChanged();
    void SetPhase(Phase next);
    // Ends the single sweep under way, if one started, with SweepEnded.
    void EndSweep(bool complete);
    // The single sounder gives way: its sweep ends cut short and its phase goes Idle.
    void LeaveSingle();
    // Followed sounders give way: their sweeps end cut short and nothing of them is planned.
    void LeavePlan();
    // The clock's reading on the plan's continuous axis (which goes on past midnight).
    double Now(double reading);
    // Starts the continuous axis anew at the clock's reading.
    void ResetAxis(double reading);
    void PlanUpTo(double until);
    // The sweep a slot belongs to begins, if it is not under way.
    void NoteSweep(const sweep::Slot& slot);
    // Followed sweeps whose last step has passed end; all of them when `all` (cut short).
    void EndSweeps(double now, bool all);
    void RestartTimer();
    void Tell(bool isProblem, QString text);
    void EmitMessages();

    Hooks hooks;
    TickTimer& Timer1;
    Tuner* tuner;

    // The single sounder.
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
    double handOver = 0;        // s: within a tick, how long until the instant it tunes for

    // The followed sounders.
    std::vector<sweep::FollowedSounder> followed;
    sweep::PlanSettings settings;
    std::multimap<double, sweep::Slot> pending; // by tuning instant
    double plannedTo = 0;
    int late = 0;
    std::vector<double> sweepUnderWay; // per sounder: its period's start, NaN between sweeps

    // The continuous axis: dayBase + the clock's seconds of the day.
    double dayBase = 0;
    double lastReading = -1;
    bool stopped = false;
    int handling = 0; // clicks and ticks under way; their messages go out when they end
    TuneRequests<Request> requests;
    std::vector<Message> messages;
};
