#include "ionogram/dechirp.h"

#include "core/units.h"

#include <algorithm>
#include <cmath>
#include <fftw3.h>
#include <limits>
#include <numbers>

namespace ionogram {

namespace {

constexpr double kLeadSeconds = 1e-3;    // the window opens a little before t_F + DelayFrom
constexpr double kMarginSeconds = 10e-3; // audio either side of the window, for the analytic filter
// A Taylor taper (n̄ = 4, sidelobes 25 dB down) across the passband: a mode's dechirped tone
// lasts as long as the sweep takes to cross the passband, so the taper over audio frequency is a
// window over that time, the same for every delay. A Tukey taper with 400 Hz ramps left
// sidelobes 14 dB under a mode, ±0.7 ms from it, beside every strong trace; this one keeps them
// 25 dB under with the same main lobe (equal modes 1 ms apart parted) and the same noise
// bandwidth. Lower sidelobes would cost a weak mode more of its SNR.
constexpr double kTaylorCoefficients[] = {0.22855, -0.00873, -0.00227};
constexpr int kCellsPerBin = 2; // spectrum bins at least twice as dense as the grid
constexpr double kDecibels = 10;
constexpr float kTinyPower = std::numeric_limits<float>::min();

// The smallest size at or above n whose prime factors are 2, 3, 5 and 7 only: fast for FFTW.
int FastSize(int n) {
    for (int m = std::max(n, 1);; ++m) {
        int rest = m;
        for (int factor : {2, 3, 5, 7}) {
            while (rest % factor == 0) {
                rest /= factor;
            }
        }
        if (rest == 1) {
            return m;
        }
    }
}

float PassbandWeight(double hz) {
    if (hz <= kPassLowHz || hz >= kPassHighHz) {
        return 0;
    }
    const double fromCentre = (hz - kPassLowHz) / (kPassHighHz - kPassLowHz) - 0.5;
    double weight = 1;
    int m = 1;
    for (double coefficient : kTaylorCoefficients) {
        weight += 2 * coefficient * std::cos(2 * std::numbers::pi * m * fromCentre);
        ++m;
    }
    return static_cast<float>(weight);
}

} // namespace

struct DechirpColumn::Plans {
    float* segment = nullptr;      // real audio
    fftwf_complex* half = nullptr; // its spectrum, then the analytic signal's
    fftwf_complex* analytic = nullptr;
    fftwf_complex* dechirped = nullptr;
    fftwf_complex* spectrum = nullptr;
    fftwf_plan forwardReal = nullptr;
    fftwf_plan backwardAnalytic = nullptr;
    fftwf_plan forwardDechirped = nullptr;

    ~Plans() {
        for (fftwf_plan plan : {forwardReal, backwardAnalytic, forwardDechirped}) {
            if (plan != nullptr) {
                fftwf_destroy_plan(plan);
            }
        }
        fftwf_free(segment);
        for (fftwf_complex* buffer : {half, analytic, dechirped, spectrum}) {
            fftwf_free(buffer);
        }
    }
};

namespace {

// Where a column's flat window lies and how much audio it takes, relative to t_F.
struct Geometry {
    double windowFrom = 0;
    double windowTo = 0;
    double needFrom = 0;
    double needTo = 0;
    int segmentLength = 0;
};

Geometry GeometryOf(const DechirpSettings& settings) {
    const double fs = settings.sampleRate;
    const double rateHz = settings.sweepRateKhzPerS * units::kHertzPerKilohertz;
    const double audioDelay = settings.audioDelayMs * units::kSecondsPerMillisecond;
    Geometry g;
    g.windowFrom = audioDelay + settings.delayFromMs * units::kSecondsPerMillisecond - kLeadSeconds;
    g.windowTo =
        audioDelay + settings.delayToMs * units::kSecondsPerMillisecond + kPassHighHz / rateHz;
    g.needFrom = g.windowFrom - kMarginSeconds;
    g.segmentLength = FastSize(int(std::ceil((g.windowTo + kMarginSeconds - g.needFrom) * fs)) + 2);
    g.needTo = g.needFrom + double(g.segmentLength + 1) / fs; // all that Compute takes
    return g;
}

} // namespace

DechirpColumn::Span DechirpColumn::NeededSpan(const DechirpSettings& settings) {
    const Geometry g = GeometryOf(settings);
    return {g.needFrom, g.needTo};
}

DechirpColumn::DechirpColumn(const DechirpSettings& dechirpSettings)
    : settings(dechirpSettings), rateHz(settings.sweepRateKhzPerS * units::kHertzPerKilohertz),
      plans(std::make_unique<Plans>()) {
    const Geometry g = GeometryOf(settings);
    const double fs = settings.sampleRate;
    windowFrom = g.windowFrom;
    needFrom = g.needFrom;
    needTo = g.needTo;
    segmentLength = g.segmentLength;
    delayCount = int(std::lround((settings.delayToMs - settings.delayFromMs) / kDelayGridMs)) + 1;
    windowLength = int(std::ceil((g.windowTo - windowFrom) * fs)) + 1;
    const int gridBins =
        int(std::ceil(kCellsPerBin * fs / (rateHz * kDelayGridMs * units::kSecondsPerMillisecond)));
    spectrumLength = FastSize(std::max(windowLength, gridBins));

    passTaper.resize(segmentLength / 2 + 1);
    for (std::size_t bin = 0; bin < passTaper.size(); ++bin) {
        // Twice the positive frequencies and none of the negative: the analytic signal.
        passTaper[bin] = 2 * PassbandWeight(double(bin) * fs / segmentLength);
    }

    Plans& p = *plans;
    p.segment = fftwf_alloc_real(segmentLength);
    p.half = fftwf_alloc_complex(segmentLength / 2 + 1);
    p.analytic = fftwf_alloc_complex(segmentLength);
    p.dechirped = fftwf_alloc_complex(spectrumLength);
    p.spectrum = fftwf_alloc_complex(spectrumLength);
    p.forwardReal = fftwf_plan_dft_r2c_1d(segmentLength, p.segment, p.half, FFTW_MEASURE);
    p.backwardAnalytic =
        fftwf_plan_dft_1d(segmentLength, p.analytic, p.analytic, FFTW_BACKWARD, FFTW_MEASURE);
    p.forwardDechirped =
        fftwf_plan_dft_1d(spectrumLength, p.dechirped, p.spectrum, FFTW_FORWARD, FFTW_MEASURE);
    power.resize(spectrumLength);
}

DechirpColumn::~DechirpColumn() = default;

double DechirpColumn::DelayMs(int cell) const {
    return settings.delayFromMs + cell * kDelayGridMs;
}

bool DechirpColumn::Compute(std::span<const float> samples, double firstSampleTime,
                            double sampleInterval, double crossingTime, std::vector<float>* snrDb) {
    const double offset = firstSampleTime - crossingTime; // first sample's time after t_F
    const double first = std::ceil((needFrom - offset) / sampleInterval);
    if (!(first >= 0) || first + segmentLength > double(samples.size())) {
        return false;
    }
    const auto start = std::size_t(first);
    Plans& p = *plans;
    std::copy_n(samples.begin() + start, segmentLength, p.segment);
    fftwf_execute(p.forwardReal);

    const int halfLength = segmentLength / 2 + 1;
    for (int bin = 0; bin < halfLength; ++bin) {
        p.analytic[bin][0] = p.half[bin][0] * passTaper[bin];
        p.analytic[bin][1] = p.half[bin][1] * passTaper[bin];
    }
    std::fill(&p.analytic[halfLength][0], &p.analytic[segmentLength][0], 0.0f);
    fftwf_execute(p.backwardAnalytic);

    // The window's first sample, and its time after t_F.
    const int windowStart = int(std::ceil((windowFrom - offset) / sampleInterval) - first);
    if (windowStart < 0 || windowStart + windowLength > segmentLength) {
        return false;
    }
    for (int k = 0; k < windowLength; ++k) {
        const double u = offset + (first + windowStart + k) * sampleInterval;
        const double phase = -std::numbers::pi * rateHz * u * u;
        const Complex chirp(float(std::cos(phase)), float(std::sin(phase)));
        const Complex z(p.analytic[windowStart + k][0], p.analytic[windowStart + k][1]);
        const Complex product = z * chirp;
        p.dechirped[k][0] = product.real();
        p.dechirped[k][1] = product.imag();
    }
    std::fill(&p.dechirped[windowLength][0], &p.dechirped[spectrumLength][0], 0.0f);
    fftwf_execute(p.forwardDechirped);
    for (int bin = 0; bin < spectrumLength; ++bin) {
        power[bin] =
            p.spectrum[bin][0] * p.spectrum[bin][0] + p.spectrum[bin][1] * p.spectrum[bin][1];
    }

    // A mode of delay τ (plus the audio delay) sits at -R·τ Hz; bins are 1/(N·interval) apart.
    std::vector<float> cells(delayCount);
    const double binsPerHz = spectrumLength * sampleInterval;
    for (int cell = 0; cell < delayCount; ++cell) {
        const double measured =
            (DelayMs(cell) + settings.audioDelayMs) * units::kSecondsPerMillisecond;
        double bin = -rateHz * measured * binsPerHz;
        bin -= std::floor(bin / spectrumLength) * spectrumLength;
        const int below = int(std::floor(bin)) % spectrumLength;
        const int above = (below + 1) % spectrumLength;
        const float fraction = float(bin - std::floor(bin));
        cells[cell] = power[below] * (1 - fraction) + power[above] * fraction;
    }
    std::vector<float> sorted = cells;
    const auto middle = sorted.begin() + sorted.size() / 2;
    std::nth_element(sorted.begin(), middle, sorted.end());
    const float median = *middle;
    if (!(median > 0) || !std::isfinite(median)) {
        return false; // silence, or audio that is not numbers
    }
    snrDb->resize(delayCount);
    for (int cell = 0; cell < delayCount; ++cell) {
        (*snrDb)[cell] = float(kDecibels * std::log10(std::max(cells[cell], kTinyPower) / median));
    }
    return true;
}

} // namespace ionogram
