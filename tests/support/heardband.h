#pragma once

// A simulated band as a Listener hears it on one frequency, without sound: 2 s of audio around
// each crossing, placed in 20 ms blocks as the audio stream hands them on, each window after a
// gap, over noise and a steady carrier. Each sounder is heard by one mode, ten times the noise.

#include <vector>

class Listener;

struct BandSounder {
    double rateKhzPerS;
    double periodS;
    double chirpTimeS;
    double delayMs;
};

// Every crossing of listenKhz from epoch second `from` up to `until`, in time order.
void FeedHeardBand(Listener& listener, const std::vector<BandSounder>& sounders, double listenKhz,
                   double from, double until);
