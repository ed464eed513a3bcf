#pragma once

// Finds chirp sounders crossing the dial frequency in the receiver's placed audio: the audio is
// decimated to about 8 kHz, whitened (what stays put in its spectrum, such as carriers, is
// notched by a running average of the spectrum) and run through one matched filter per
// candidate sweep rate, for rising tones (USB) and falling ones (LSB). Each filter's output is
// judged against its own median and against its mean near the peak, so the SNR is the matched
// filter's output over its noise floor, and keyed signals' runs of edges raise the floor where
// they are. A peak is a sweep only if its energy comes from all over the passband (the parts of
// the template, each a slice of the band, share it), not from the few slices a keyed carrier's
// edge, an RTTY shift or a PSK reversal fills. Slower rates' filters, which gain more, need more.
// The fastest filter's peaks are timed too: they are judged by how near the band's quarters
// peak to the times a sweep at the rate crosses them, as well as by their level.
// Audio lost on its way, unmarked, leaves a jump in the waveform (a click): no template that spans
// one is judged.
// Peaks a few dB under the threshold are passed on marked weak, for the grouping to complete a
// sounder with: at 500 kHz/s on a busy band a crossing at 6 dB stands only just over it. Weak
// peaks of the fastest filter that keep a sweep's time well are marked timed: few enough to
// begin a sounder where three of them (or with crossings) lie whole periods apart.
// FFTW plans are made once, at construction.

#include <memory>
#include <span>
#include <vector>

namespace ionogram {

struct ChirpDetectorSettings {
    double sampleRate = 48000; // of the audio fed; 8000 and up
    std::vector<double> ratesKhzPerS = {50, 82, 100, 125, 500};
    double thresholdDb = 12.6; // matched filter output over its floor; slower rates need more
    // Weaker peaks, down to this, are passed on marked weak: too many for crossings of their own
    // (noise alone makes thousands an hour), they can still complete a sounder whose other
    // crossings were heard (see SounderGrouper). Slower rates need as much more.
    double completingDb = 10;
};

// One sweep heard crossing the dial frequency.
struct ChirpDetection {
    double time = 0; // epoch seconds at which the sweep passed the dial frequency, path delay
                     // and audio delay included (t_pass + τ)
    double rateKhzPerS = 0;
    double snrDb = 0;     // matched filter output over its floor
    bool falling = false; // heard as a falling tone: the radio is in LSB
    bool weak = false;    // under the threshold, over completingDb: only completes a sounder
    bool timed = false;   // weak, yet timed across the band as a sweep: may begin a sounder

    bool operator==(const ChirpDetection&) const = default;
};

class ChirpDetector {
public:
    explicit ChirpDetector(ChirpDetectorSettings settings);
    ~ChirpDetector();
    ChirpDetector(const ChirpDetector&) = delete;
    ChirpDetector& operator=(const ChirpDetector&) = delete;

    // Audio continuing the stream: samples[k] was taken at firstSampleTime + k * sampleInterval.
    // A block that does not continue the previous one (a jump in time) starts a new stream, as
    // Gap() does. Returns the detections completed by this block, oldest first.
    std::vector<ChirpDetection> Feed(std::span<const float> samples, double firstSampleTime,
                                     double sampleInterval);
    // Samples were lost: the audio before and after is never joined. Returns the detections
    // still pending; the spectrum's average is kept (carriers stay where they were).
    std::vector<ChirpDetection> Gap();
    // Forgets everything, the spectrum's average included (a new frequency).
    void Reset();

    const ChirpDetectorSettings& Settings() const { return settings; }

private:
    struct State;
    ChirpDetectorSettings settings;
    std::unique_ptr<State> state;
};

} // namespace ionogram
