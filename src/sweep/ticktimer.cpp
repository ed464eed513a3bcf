#include "sweep/ticktimer.h"

#include "core/units.h"
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

std::chrono::milliseconds AlignedTickTimer::Lead() const {
    if (lead.count() <= 0) {
        return lead;
    }
    constexpr double kNoise = 1e-6; // ms: a hold a hair past a whole millisecond is on it
    return std::min(lead + std::chrono::milliseconds{std::int64_t(std::ceil(held - kNoise))},
                    waitForStep ? kLongestLead : kLongestHandOver);
}

void AlignedTickTimer::AimNextShot() {
    const double now = clock();
    std::chrono::milliseconds delay = nextDue ? sweep::NextShotDelay(now, nextDue, interval)
                                              : sweep::TimeToNextTick(now, interval);
    const std::chrono::milliseconds early = Lead();
    if (nextDue && early.count() > 0) {
        const double ahead = sweep::AroundTheDay(*nextDue, now) * 1000; // ms
        if (ahead > 0) {
            delay = std::min(delay, std::chrono::milliseconds{std::max<std::int64_t>(
                                        std::int64_t(std::floor(ahead)) - early.count(), 0)});
        }
    }
    aimedAt = std::fmod(now + double(delay.count()) / 1000, units::kSecondsPerDay);
    shot.start(delay);
}

void AlignedTickTimer::OnShot() {
    if (!enabled || interval.count() <= 0) {
        return;
    }
    // The clock is read once: the wait is measured on the steady clock, so it ends even where
    // the clock given stands still.
    const double now = clock();
    if (lead.count() > 0 && aimedAt >= 0) {
        const double late = std::max(sweep::AroundTheDay(now, aimedAt) * 1000, 0.0); // ms
        if (late >= held || sweep::AroundTheDay(now, heldSince) > kHoldMemory) {
            held = late;
            heldSince = now;
        }
    }
    if (nextDue && lead.count() > 0 && waitForStep) {
        const double ahead = sweep::AroundTheDay(*nextDue, now); // s
        if (ahead > 0 && ahead * 1000 <= double(Lead().count() + 1)) {
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
