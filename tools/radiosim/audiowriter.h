#pragma once

// Writes the simulated receiver's audio in real time, as a sound card would deliver it: blocks
// of 20 ms, each written when its last sample is due on the card's clock (the computer's clock
// scaled by the card's error), never earlier. The content follows the radio's dial frequency
// sample by sample: a block made after the dial moved still has the old frequency up to the
// instant it moved, as a receiver's audio would.

#include "ionosphere.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class AudioWriter {
public:
    static constexpr double kSampleRate = 48000;
    static constexpr int kBlockSamples = 960; // 20 ms

    explicit AudioWriter(const AudioOptions& options);
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Starts the card's clock now. Returns an empty string, or why the path cannot be used.
    std::string Open();
    // When the next block is due (seconds since the epoch, UTC).
    double NextDue() const;
    // The radio's dial is on dialKhz from `at` (seconds since the epoch) on. Safe from another
    // thread; the instants come in order.
    void Tune(double at, double dialKhz);
    // Writes every block due by now, each sample with the dial as it was at the sample's instant.
    void WriteDue(double now);

    // From the next block on, the audio is what the sky gives advanceMs later: every delay
    // comes out that much shorter (negative: longer). A test sets it to take a capture path's
    // measured delay off the audio. Safe from another thread.
    void SetAdvanceMs(double advanceMs) { advanceSeconds.store(advanceMs / 1000); }
    // Whether the fixed modes (--mode) are heard, from the next block on. Safe from another
    // thread.
    void SetModesHeard(bool heard) { modesWanted.store(heard); }

private:
    void Deliver(const std::vector<std::uint8_t>& bytes);
    // The block of samples from `first` on, made piece by piece between the dial's moves.
    void Generate(std::int64_t first, std::vector<float>& block);

    // Audio a reader that fell behind has not taken yet is kept for it up to this long, as the
    // card's and the sound server's buffers would, and dropped beyond (an overrun). A machine
    // busy for a moment, or this program written late and catching up at once, loses nothing.
    static constexpr double kMostBacklogSeconds = 10;

    AudioOptions options;
    ionogram::SimulatedIonosphere ionosphere;
    std::string path;
    bool fifo = false;
    int fd = -1;
    double start = 0;                  // the card's first sample is due then
    double interval = 0;               // seconds per sample on the computer's clock
    std::int64_t written = 0;          // samples made so far
    bool overrunning = false;          // the backlog is full and blocks are being dropped
    std::vector<std::uint8_t> backlog; // written to the FIFO as it takes it
    std::atomic<double> advanceSeconds{0};
    std::atomic<bool> modesWanted{true};
    std::mutex dialMutex;
    std::deque<std::pair<double, double>> dial; // (from when, kHz); the first holds before it
    bool modesHeard = true;
};

// The computer's clock in seconds since the epoch.
double EpochNow();
