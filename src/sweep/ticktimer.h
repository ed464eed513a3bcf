#pragma once

// The step timer as the sweep sees it: an interval (0 gives no ticks at all) and an enabled flag,
// so the scheduler can be driven by a fake timer in tests. The scheduler sets onTick.

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>

class TickTimer {
public:
    virtual ~TickTimer() = default;
    virtual void SetInterval(std::chrono::milliseconds interval) = 0;
    virtual void SetEnabled(bool on) = 0;
    virtual std::chrono::milliseconds Interval() const = 0;
    virtual bool IsEnabled() const = 0;
    // The instant of the next step (seconds since midnight): a timer may rest until shortly
    // before it, since no tick in between can find a step due. A fake timer may ignore it.
    virtual void SetNextDue(std::optional<double> due) { (void)due; }
    // How long before the step's instant a shot is aimed, and whether the shot waits out the
    // rest before it ticks or ticks at once, leaving the wait to the one it ticks for. A fake
    // timer may ignore them.
    virtual void SetLead(std::chrono::milliseconds lead) { (void)lead; }
    virtual void SetWaitForStep(bool wait) { (void)wait; }
    // How long before the next step's instant a tick may come: 0 while shots wait for it.
    virtual std::chrono::milliseconds Early() const { return std::chrono::milliseconds{0}; }

    std::function<void()> onTick;

    // How long before a step's tuning instant the timer fires and then waits for the instant
    // (SetLead): longer than the event loop's longest piece of work (a whole paint of the live
    // ionogram takes some 5 ms), so no such piece can make a step late.
    static constexpr std::chrono::milliseconds kTimerLead{8};
    // With a backend that writes at the instant itself the tick needs to come only before the
    // instant, not on it: it comes this much early and hands the step over, so the loop may be
    // held up to that long without making a step late (a window being resized holds it 5 to 20
    // ms at a time, now and then 30 to 50).
    static constexpr std::chrono::milliseconds kHandOverLead{50};
    // Aims the timer for a backend that writes at the instant itself, or for one that does not.
    void AimFor(bool tunesOnTime) {
        SetWaitForStep(!tunesOnTime);
        SetLead(tunesOnTime ? kHandOverLead : kTimerLead);
    }
};

// Production step timer: a precise single-shot QTimer aimed, shot by shot, at the next interval
// boundary of the clock, so ticks stay on the half-second marks and never drift. Enabling an
// enabled timer or setting the interval it already has does not restart it.
class AlignedTickTimer : public QObject, public TickTimer {
    Q_OBJECT
public:
    // clock: seconds since UTC midnight, with fraction. Starts with interval 0, enabled.
    explicit AlignedTickTimer(std::function<double()> clock, QObject* parent = nullptr);

    void SetInterval(std::chrono::milliseconds interval) override;
    void SetEnabled(bool on) override;
    std::chrono::milliseconds Interval() const override { return interval; }
    bool IsEnabled() const override { return enabled; }
    // From a second before the step, and through a sweep, shots come on the interval's
    // boundaries and on the step's own instant; further ahead, once a second, on the second.
    void SetNextDue(std::optional<double> due) override;
    // Aims the shot for a step this much before its instant, and waits out the rest in the shot,
    // off the event loop: work that the loop would start in that time (a column, a paint) waits
    // for the step instead, and the tick comes within a fraction of a millisecond of the instant
    // rather than when the loop gets round to its timer. 0 (the default) waits for nothing.
    // While the loop holds shots up (a window being resized can hold it for 10 to 20 ms at a
    // time), the lead grows by the longest hold of the last kHoldMemory, up to kLongestLead
    // (kLongestHandOver while shots do not wait for the step).
    void SetLead(std::chrono::milliseconds lead) override;
    // The lead in force now: the one set, grown by the loop's recent holds.
    std::chrono::milliseconds Lead() const;
    // Off: a shot ticks as soon as it comes, up to Lead() before the step; the one it ticks
    // for hands the instant on (to a thread that writes at it) instead of holding the loop.
    void SetWaitForStep(bool wait) override { waitForStep = wait; }
    std::chrono::milliseconds Early() const override {
        return waitForStep ? std::chrono::milliseconds{0} : Lead();
    }

    static constexpr std::chrono::milliseconds kLongestLead{40};
    // The same for shots that do not wait for the step: the loop is not held by the lead.
    static constexpr std::chrono::milliseconds kLongestHandOver{100};
    static constexpr double kHoldMemory = 2; // s

    // Whether a tick is pending, and how long until it fires.
    bool IsRunning() const { return shot.isActive(); }
    std::chrono::milliseconds RemainingTime() const { return shot.remainingTimeAsDuration(); }

private:
    void AimNextShot();
    void OnShot();

    std::function<double()> clock;
    QTimer shot;
    std::chrono::milliseconds interval{0};
    std::optional<double> nextDue;
    std::chrono::milliseconds lead{0};
    double aimedAt = -1;  // the clock's reading the shot was aimed at (seconds of the day)
    double held = 0;      // ms: the longest a shot came late within the hold memory
    double heldSince = 0; // when that was
    bool enabled = true;
    bool waitForStep = true;
};
