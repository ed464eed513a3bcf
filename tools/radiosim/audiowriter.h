#pragma once

// Writes the simulated receiver's audio in real time, as a sound card would deliver it: blocks
// of 20 ms, each written when its last sample is due on the card's clock (the computer's clock
// scaled by the card's error), never earlier. The content follows the radio's dial frequency.

#include "ionosphere.h"

#include <cstdint>
#include <string>
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
    // Writes every block due by now, with the radio tuned to dialKhz.
    void WriteDue(double now, double dialKhz);

    long long BlocksDropped() const { return dropped; }

private:
    void Deliver(const std::vector<std::uint8_t>& bytes);

    AudioOptions options;
    ionogram::SimulatedIonosphere ionosphere;
    std::string path;
    bool fifo = false;
    int fd = -1;
    double start = 0;         // the card's first sample is due then
    double interval = 0;      // seconds per sample on the computer's clock
    std::int64_t written = 0; // samples made so far
    long long dropped = 0;
};

// The computer's clock in seconds since the epoch.
double EpochNow();
