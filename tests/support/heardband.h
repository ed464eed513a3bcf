#pragma once

// A simulated band as the station hears it on one frequency, without sound: 2 s of audio around
// each crossing, placed in 20 ms blocks as the audio stream hands them on, each window after a
// gap, over noise and a steady carrier. Each sounder is heard by one mode, ten times the noise.

#include "ionogram/audiostream.h"

#include <vector>

struct BandSounder {
    double rateKhzPerS;
    double periodS;
    double chirpTimeS;
    double delayMs;
};

// The audio of every crossing of listenKhz from epoch second `from` up to `until`, in time
// order.
std::vector<ionogram::PlacedBlock> HeardBand(const std::vector<BandSounder>& sounders,
                                             double listenKhz, double from, double until);
