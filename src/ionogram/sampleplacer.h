#pragma once

// Places the sound card's samples on the computer's clock. The card's clock runs off the
// computer's by up to ~100 ppm and blocks arrive late by a varying latency (poll intervals), so
// the time of a sample is taken from the lower envelope of "arrival time - samples received /
// rate", fitted as a line over a sliding history and refitted at every block. Arrivals that
// show samples missing (an overrun) or samples arriving before they could exist (a clock step)
// end the stretch in use: the samples around the break are not placed at all, never shifted.

#include <cstdint>
#include <deque>
#include <optional>

namespace ionogram {

class SamplePlacer {
public:
    struct Settings {
        double historySeconds = 60; // arrivals the envelope is fitted over
        double settleSeconds = 5;   // a stretch places samples once it is this long
        double maxSkewPpm = 300;    // a card's clock is never further off than this
        // Arrivals later than the envelope by this much for gapPersistSeconds mean samples were
        // lost; above any poll or block granularity of the audio path (20 ms blocks, 50 ms polls).
        double gapSeconds = 0.012;
        double gapPersistSeconds = 1;
        // An arrival this much earlier than the envelope allows: the clock stepped.
        double earlySeconds = 0.012;
    };

    explicit SamplePlacer(double sampleRate);
    SamplePlacer(double sampleRate, const Settings& settings);

    // count samples became available at arrival (seconds on the computer's clock). They get the
    // indices Received() .. Received() + count - 1.
    void AddBlock(double arrival, std::int64_t count);

    std::int64_t Received() const { return received; }

    // The clock time of sample index, or nothing when it cannot be placed: not received yet,
    // lost in a break, not yet confirmed by a later arrival on the envelope, or in a stretch
    // too young to trust.
    std::optional<double> TimeOf(std::int64_t index) const;
    // Whether every sample from first to last can be placed, all on one line.
    bool Placeable(std::int64_t first, std::int64_t last) const;
    // The seconds between samples on the computer's clock in the stretch holding index.
    double IntervalAt(std::int64_t index) const;
    // The first sample at or after time t on the current stretch's line (may be beyond
    // Received()); nothing before the first block.
    std::optional<std::int64_t> IndexAt(double t) const;

    // From sample index on: the run first .. last that can be placed now, all on one stretch
    // (last < first: none yet, wait for later arrivals). Samples index .. first - 1 are lost
    // in a break and will never be placed. stretch numbers the stretch, counting breaks.
    struct Run {
        std::int64_t first;
        std::int64_t last;
        int stretch;
    };
    Run PlaceableRun(std::int64_t index) const;

    // Breaks found so far (samples lost or the clock stepped).
    int Breaks() const { return breaks; }

private:
    struct Point {
        std::int64_t last; // index of the block's last sample
        double arrival;
    };
    struct Line {
        std::int64_t first = 0;      // first index on this line
        std::int64_t placedFrom = 0; // samples before this (a break) are not placed
        double refTime = 0;          // time of sample `first`
        double interval = 0;         // seconds per sample
        double startArrival = 0;     // the stretch's first arrival
        double lastArrival = 0;
        std::int64_t confirmed = -1; // last index confirmed by an arrival on the envelope
    };

    double Excess(const Point& point) const;
    void Fit();
    void Break(std::int64_t lostFrom, std::size_t keepFrom);
    const Line* LineFor(std::int64_t index) const;

    double rate;
    Settings settings;
    std::int64_t received = 0;
    std::deque<Point> history; // of the current stretch
    std::deque<Line> lines;    // current stretch last; older ones for samples still wanted
    std::optional<std::size_t> elevatedFrom; // first history point of a run above the envelope
    int breaks = 0;
};

} // namespace ionogram
