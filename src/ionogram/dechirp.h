#pragma once

// One ionogram column from the receiver's audio around the sounder's crossing of the dial
// frequency: the analytic signal with a taper over the passband edges, multiplied by the
// conjugate of the expected chirp, so that a mode of delay τ becomes a steady tone at -R·τ; its
// spectrum is the delay profile, resampled onto a fixed delay grid as SNR in dB over the
// column's median. FFTW plans are made once per sample rate and reused for every column.

#include "ionogram/sounder.h"

#include <complex>
#include <memory>
#include <span>
#include <vector>

namespace ionogram {

struct DechirpSettings {
    double sampleRate = 48000;
    double sweepRateKhzPerS = SounderProfile{}.sweepRate;
    double delayFromMs = kDefaultDelayFromMs;
    double delayToMs = kDefaultDelayToMs;
    double audioDelayMs = 0; // constant delay of the receiver and sound card, subtracted
};

class DechirpColumn {
public:
    explicit DechirpColumn(const DechirpSettings& settings);
    ~DechirpColumn();
    DechirpColumn(const DechirpColumn&) = delete;
    DechirpColumn& operator=(const DechirpColumn&) = delete;

    // The audio a column needs, in seconds relative to the crossing time t_F.
    double NeedFrom() const { return needFrom; }
    double NeedTo() const { return needTo; }

    // The same span for these settings without making a column (no FFT plans are made): what
    // the listening plan needs to know of each sounder's columns.
    struct Span {
        double from = 0;
        double to = 0;
    };
    static Span NeededSpan(const DechirpSettings& settings);

    int DelayCount() const { return delayCount; }
    double DelayMs(int cell) const;

    // Computes the column for a crossing at crossingTime. samples[k] was taken at
    // firstSampleTime + k * sampleInterval and they must cover [t_F + NeedFrom, t_F + NeedTo].
    // Fills snrDb with DelayCount() values; returns false (and leaves it alone) when the audio
    // does not cover that span or carries nothing (silence).
    bool Compute(std::span<const float> samples, double firstSampleTime, double sampleInterval,
                 double crossingTime, std::vector<float>* snrDb);

    const DechirpSettings& Settings() const { return settings; }

private:
    using Complex = std::complex<float>;
    struct Plans;

    DechirpSettings settings;
    double rateHz;         // R in Hz/s
    double windowFrom = 0; // flat window, seconds after t_F
    double needFrom = 0;
    double needTo = 0;
    int delayCount = 0;
    int segmentLength = 0; // samples transformed for the analytic signal
    int windowLength = 0;  // samples in the flat window
    int spectrumLength = 0;
    std::vector<float> passTaper; // weight of each analytic-signal bin
    std::unique_ptr<Plans> plans;
    std::vector<float> power;
};

} // namespace ionogram
