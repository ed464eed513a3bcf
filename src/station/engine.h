#pragma once

// The station on a thread of its own: made there from the settings, run by that thread's event
// loop, ended and destroyed there. Whatever times, tunes, captures, records, listens and scales
// runs on it, so nothing a face does on its own thread (logging, serving a page, a window
// painting) can hold a step up. Faces reach it through the feed alone.

#include "settings/stationstore.h"
#include "station/stationfeed.h"

#include <QObject>
#include <QThread>
#include <functional>
#include <optional>

class Station;

class Engine {
public:
    // The engine thread's SCHED_FIFO priority where the system grants one: below the timed
    // writer's, which must win at the step's instant.
    static constexpr int kRealTimePriority = 5;

    // Starts the thread and makes the station on it with these settings; returns once it is made.
    explicit Engine(const StationSettings& settings);
    // The same with the station's own defaults (the settings come later through the feed), on
    // this clock: seconds since midnight with fraction, read on the station's thread and
    // wherever else the caller reads it, so it must be safe to read from both; UTC when empty.
    explicit Engine(std::function<double()> clock);
    // Shuts the station down (the port released) and destroys it on its thread, then ends the
    // thread.
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    StationFeed& Feed() { return *feed; }

private:
    Engine(const std::optional<StationSettings>& settings, std::function<double()> clock);

    QThread thread;
    QObject context; // lives on the thread: what runs there is queued to it
    Station* station = nullptr;
    StationFeed* feed = nullptr;
};
