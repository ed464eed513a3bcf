#pragma once

// Stalls of the whole machine, seen by a thread at a real-time priority that does nothing but
// sleep 2 ms at a time: a wake-up kStallMs or more late means nothing of this system ran
// meanwhile, which no program could have beaten. Lateness measured at the radio is read against
// these stalls, so the machine's share is told apart from the program's.

#include "testkit/realtime.h"

#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <thread>
#include <vector>

class StallMeter {
public:
    static constexpr double kStallMs = 8;     // a wake-up this late counts as a stall
    static constexpr long kSleepNs = 2000000; // the meter's sleep

    struct Stall {
        double from; // seconds of the day (UTC) when the sleep should have ended
        double to;   // when it did
    };

    // BENCH_SLOTS_NO_METER=1 leaves the thread out (its wake-ups every 2 ms keep a core from
    // resting, which may itself shorten the others' wake-ups).
    StallMeter() {
        if (!qEnvironmentVariableIsSet("BENCH_SLOTS_NO_METER")) {
            measured = true;
            thread = std::thread([this] { Run(); });
        }
    }
    ~StallMeter() { Stop(); }
    StallMeter(const StallMeter&) = delete;
    StallMeter& operator=(const StallMeter&) = delete;

    void Stop() {
        stop = true;
        if (thread.joinable()) {
            thread.join();
        }
    }
    // Valid once stopped.
    const std::vector<Stall>& Stalls() const { return stalls; }
    bool RealTime() const { return realTime; }
    bool Measured() const { return measured; }
    // Whether a stall overlaps [begin, end] (seconds of the day; `onAxis` maps a stall's times
    // onto the caller's axis, e.g. past midnight).
    template <typename OnAxis> bool Overlaps(double begin, double end, OnAxis onAxis) const {
        return std::any_of(stalls.begin(), stalls.end(), [&](const Stall& stall) {
            return onAxis(stall.from) < end && onAxis(stall.to) > begin;
        });
    }
    double LongestMs() const {
        double longest = 0;
        for (const Stall& stall : stalls) {
            longest = std::max(longest, (stall.to - stall.from) * 1000);
        }
        return longest;
    }

private:
    void Run() {
        realTime = testkit::RaiseToRealTime().empty();
        const auto seconds = [](clockid_t clock) {
            timespec t{};
            clock_gettime(clock, &t);
            return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
        };
        while (!stop) {
            const double asleep = seconds(CLOCK_MONOTONIC);
            const timespec pause{0, kSleepNs};
            clock_nanosleep(CLOCK_MONOTONIC, 0, &pause, nullptr);
            const double late = seconds(CLOCK_MONOTONIC) - asleep - kSleepNs / 1e9;
            if (late * 1000 >= kStallMs) {
                const double woke = std::fmod(seconds(CLOCK_REALTIME), 86400);
                stalls.push_back(Stall{woke - late, woke});
            }
        }
    }

    std::atomic<bool> stop{false};
    std::atomic<bool> realTime{false};
    bool measured = false;
    std::vector<Stall> stalls;
    std::thread thread;
};
