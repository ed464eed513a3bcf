#include "sweep/ticktimer.h"

#include "sweep/schedule.h"

#include <algorithm>
#include <cmath>
#include <thread>
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

void AlignedTickTimer::SetLead(std::chrono::milliseconds next) {
    lead = std::max(next, std::chrono::milliseconds{0});
    if (shot.isActive()) {
        shot.stop();
        AimNextShot();
    }
}

void AlignedTickTimer::AimNextShot() {
    const double now = clock();
    std::chrono::milliseconds delay = nextDue ? sweep::NextShotDelay(now, nextDue, interval)
                                              : sweep::TimeToNextTick(now, interval);
    if (nextDue && lead.count() > 0) {
        const double ahead = sweep::AroundTheDay(*nextDue, now) * 1000; // ms
        if (ahead > 0) {
            delay = std::min(delay, std::chrono::milliseconds{std::max<std::int64_t>(
                                        std::int64_t(std::floor(ahead)) - lead.count(), 0)});
        }
    }
    shot.start(delay);
}

void AlignedTickTimer::OnShot() {
    if (!enabled || interval.count() <= 0) {
        return;
    }
    if (nextDue && lead.count() > 0) {
        // The clock is read once: the wait is measured on the steady clock, so it ends even where
        // the clock given stands still.
        const double ahead = sweep::AroundTheDay(*nextDue, clock()); // s
        if (ahead > 0 && ahead * 1000 <= double(lead.count() + 1)) {
            std::this_thread::sleep_for(std::chrono::duration<double>(ahead));
        }
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
