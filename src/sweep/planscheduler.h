#pragma once

// Makes the radio follow several sounders through the listening plan: each slot's frequency is
// tuned at the slot's instant, the plan made a couple of minutes ahead, span after span. It drives
// its own step timer, aimed at the next slot, and reaches the radio through a Tuner, whose
// answers may come at once or later; it never waits for one itself. A backend that writes at an
// instant itself gets each slot a little ahead, with the time left until its instant.

#include "rig/tuner.h"
#include "sweep/listeningplan.h"
#include "sweep/slottuning.h"
#include "sweep/ticktimer.h"
#include "sweep/tunerequests.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>
#include <vector>

class PlanScheduler : public QObject {
    Q_OBJECT
public:
    // How far ahead the plan is made, and how much of it is left when the next span is added.
    static constexpr double kHorizon = 120; // s
    static constexpr double kRefill = 60;   // s
    // A reading further than this from the last means the clock was changed: plan anew.
    static constexpr double kClockJump = 30; // s

    // clock: seconds since UTC midnight with fraction. stepTimer must outlive the scheduler, which
    // takes over its onTick.
    PlanScheduler(std::function<double()> clock, TickTimer& stepTimer, Tuner& tuner,
                  QObject* parent = nullptr);

    // Follows these sounders (the list's order is the priority) from now on; the set must have
    // passed sweep::CheckPlan. An empty list stops following and rests the timer.
    void Follow(std::vector<sweep::FollowedSounder> sounders, const sweep::PlanSettings& settings);
    const std::vector<sweep::FollowedSounder>& Followed() const { return sounders; }
    // The MOF of the sounder's last scaled sweep, where its fine steps centre from now on: with
    // fine steps on, the slots not yet due are planned anew around it.
    void SetMof(const QString& sounder, double mofKhz);
    // Takes at most one due slot. A slot whose audio has already begun is skipped as late.
    void Tick();
    // Ends following for good; answers that come afterwards are still reported.
    void Stop();
    // Reaches the radio another way from now on; requests the old backend had not answered
    // count as not reached.
    void SetTuner(Tuner& next);

    // The next slot to tune, if any is planned.
    const sweep::Slot* NextSlot() const;
    int LateSlots() const { return late; }

signals:
    // A slot is about to be tuned: its sounder, the frequency listened to, the slot's tuning
    // instant and the instant the sweep passes that frequency.
    void SlotPlanned(const sweep::SlotTuning& slot);
    // What became of it: the same slot, told whether the tuning reached the radio.
    void SlotTuned(const sweep::SlotTuning& slot);
    // A sounder's sweep begins with its first slot (at mark, its tuning instant), and ends once
    // the sweep has passed its last step: complete, or cut short when the plan changed before.
    void SweepBegins(const QString& sounder, double chirpTime, double mark);
    void SweepEnded(const QString& sounder, bool complete);
    void Problem(const QString& message); // a failed tuning (once until one succeeds)

private:
    double Now(); // on the plan's continuous axis
    void PlanUpTo(double until);
    void TuneFinished(quint64 id, std::int32_t hz, TuneOutcome outcome, const Status& status);
    void RestartTimer();
    // Sets the timer's lead for the backend in use.
    void AimForTuner();
    // The sweep a slot belongs to begins, if it is not under way.
    void NoteSweep(const sweep::Slot& slot);
    // Sweeps whose last step has passed end; all of them when `all` (cut short).
    void EndSweeps(double now, bool all);

    std::function<double()> clock;
    TickTimer& stepTimer;
    Tuner* tuner;
    std::vector<sweep::FollowedSounder> sounders;
    sweep::PlanSettings settings;
    std::multimap<double, sweep::Slot> pending; // by tuning instant
    double plannedTo = 0;
    double dayBase = 0; // the continuous axis is dayBase + the clock's seconds of the day
    double lastReading = -1;
    bool stopped = false;
    int late = 0;
    TuneRequests<sweep::SlotTuning> requests;
    std::vector<double> sweepUnderWay; // per sounder: its period's start, NaN between sweeps
};
