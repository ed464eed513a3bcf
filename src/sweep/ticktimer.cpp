#include "sweep/ticktimer.h"

#include "sweep/schedule.h"

#include <utility>

AlignedTickTimer::AlignedTickTimer(std::function<double()> clock, QObject* parent)
    : QObject(parent), clock(std::move(clock)) {
    shot.setSingleShot(true);
    shot.setTimerType(Qt::PreciseTimer);
    connect(&shot, &QTimer::timeout, this, &AlignedTickTimer::OnShot);
}

void AlignedTickTimer::SetInterval(std::chrono::milliseconds next) {
    next = std::max(next, std::chrono::milliseconds{0});
    if (next == interval) {
        return;
    }
    interval = next;
    shot.stop();
    if (enabled && interval.count() > 0) {
        AimNextShot();
    }
}

void AlignedTickTimer::SetEnabled(bool on) {
    if (on == enabled) {
        return;
    }
    enabled = on;
    shot.stop();
    if (enabled && interval.count() > 0) {
        AimNextShot();
    }
}

void AlignedTickTimer::SetNextDue(std::optional<double> due) {
    if (due == nextDue) {
        return;
    }
    nextDue = due;
    if (shot.isActive()) {
        shot.stop();
        AimNextShot();
    }
}

void AlignedTickTimer::AimNextShot() {
    const double now = clock();
    shot.start(nextDue ? sweep::NextShotDelay(now, nextDue, interval)
                       : sweep::TimeToNextTick(now, interval));
}

void AlignedTickTimer::OnShot() {
    if (!enabled || interval.count() <= 0) {
        return;
    }
    if (onTick) {
        onTick();
    }
    // The tick may have stopped and restarted the timer itself (or run a nested tick that did);
    // a shot already aimed stands.
    if (enabled && interval.count() > 0 && !shot.isActive()) {
        AimNextShot();
    }
}
