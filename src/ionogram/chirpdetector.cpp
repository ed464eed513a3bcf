#include "ionogram/chirpdetector.h"

#include "ionogram/sounder.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include <fftw3.h>

namespace ionogram {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kLowestDecimatedRate = 8000; // holds the passband with room for the FIR's edge
constexpr double kFirWindowWidth = 5.5;       // Blackman: transition width in bins of 1/taps
constexpr int kShortestBlock = 2048;          // decimated samples per transform
constexpr int kBlocksPerTemplate = 4;         // a block holds this many of the longest template
constexpr double kWhiteningSeconds = 3;       // time constant of the spectrum's running average
constexpr double kJoinToleranceS = 0.002;     // a block this far off the stream's end starts anew
constexpr double kModeSpreadS = 0.020;        // modes of one crossing this far apart are one
constexpr int kFewestLagsForFloor = 64;       // a floor needs this many outputs to be a median
// A bin whose power in one block exceeds its running average this many times holds a carrier
// that has just appeared (noise alone does so in e^-4, 2 % of the bins).
constexpr double kNewCarrierRatio = 4;
constexpr int kSmoothBins = 5;     // of the spectrum's average, about 20 Hz at 8 kHz
constexpr double kOwnBinRatio = 3; // a bin this far over its neighbours keeps its own level
constexpr double kNotchRatio = 10; // a bin this far over the band's median is notched
constexpr int kQuarters = 4;
constexpr double kLeastQuarterShare = 0.1;

using Complex = std::complex<float>;

int NextPowerOfTwo(int n) {
    int m = 1;
    while (m < n) {
        m *= 2;
    }
    return m;
}

// Low-pass FIR for decimation by `factor`: windowed sinc cut at half the decimated rate.
std::vector<float> DecimationFilter(double inputRate, int factor) {
    if (factor <= 1) {
        return {1.0f};
    }
    const double outputRate = inputRate / factor;
    const double transition = outputRate - 2 * kPassHighHz;
    int taps = int(std::ceil(kFirWindowWidth * inputRate / transition)) | 1;
    std::vector<float> h(taps);
    const double cutoff = outputRate / 2 / inputRate; // cycles per input sample
    const int middle = taps / 2;
    double sum = 0;
    for (int i = 0; i < taps; ++i) {
        const double x = i - middle;
        const double sinc = x == 0 ? 2 * cutoff : std::sin(2 * kPi * cutoff * x) / (kPi * x);
        const double w = 0.42 - 0.5 * std::cos(2 * kPi * i / (taps - 1)) +
                         0.08 * std::cos(4 * kPi * i / (taps - 1));
        h[i] = float(sinc * w);
        sum += sinc * w;
    }
    for (float& v : h) {
        v = float(v / sum);
    }
    return h;
}

} // namespace

struct ChirpDetector::State {
    // One matched filter: a sweep rate in one direction.
    struct Filter {
        double rateHz = 0; // Hz/s
        bool falling = false;
        int length = 0;                 // template samples at the decimated rate
        std::vector<Complex> spectrum;  // conjugate of the template's transform, band bins
        std::vector<Complex> conjugate; // the template itself, conjugated, in time
        double window = 0;              // seconds within which peaks are one crossing
        bool pending = false;           // the strongest peak seen, not yet passed by `window`
        double pendingStart = 0;        // epoch seconds of the template's first sample
        double pendingPower = 0;
        double pendingFloor = 1;
    };

    // Where the samples of the current stream lie in time: from input index `start` on, sample
    // i was taken at time + (i - start) * interval.
    struct Anchor {
        long long start;
        double time;
        double interval;
    };

    double inputRate = 0;
    int factor = 1;
    double rate = 0; // decimated
    std::vector<float> fir;
    int blockLength = 0;
    int advance = 0; // decimated samples consumed per block (even)
    int bandFrom = 0;
    int bandTo = 0; // bins of the passband, inclusive
    double alpha = 0;
    std::vector<Filter> filters;

    // The stream.
    bool streaming = false;
    double expectedNext = 0;
    long long inputCount = 0;     // input samples taken in this stream
    long long nextOutput = 0;     // input index of the next decimated sample
    std::vector<float> history;   // the last fir.size() - 1 input samples, then the new block
    std::vector<Anchor> anchors;  // of recent blocks
    std::vector<float> decimated; // not yet consumed
    std::vector<double> decimatedTime;

    // The spectrum's running average over the passband bins.
    std::vector<float> average;
    int blocksAveraged = 0;

    // Transforms.
    float* real = nullptr;
    fftwf_complex* spectrum = nullptr;
    fftwf_complex* product = nullptr;
    fftwf_complex* output = nullptr;
    fftwf_plan forward = nullptr;
    fftwf_plan backward = nullptr;
    float* whitenedAudio = nullptr; // the whitened block in time, for the spread test
    fftwf_complex* whitenedSpectrum = nullptr;
    fftwf_plan inverse = nullptr;
    std::vector<Complex> whitened;
    std::vector<float> estimate; // of the noise and carriers in each passband bin
    std::vector<float> power;
    std::vector<float> sorted;

    ~State() {
        for (fftwf_plan plan : {forward, backward, inverse}) {
            if (plan != nullptr) {
                fftwf_destroy_plan(plan);
            }
        }
        fftwf_free(real);
        fftwf_free(whitenedAudio);
        for (fftwf_complex* buffer : {spectrum, product, output, whitenedSpectrum}) {
            fftwf_free(buffer);
        }
    }

    double TimeOfInput(double index) const {
        const Anchor* anchor = &anchors.front();
        for (const Anchor& a : anchors) {
            if (a.start <= index) {
                anchor = &a;
            }
        }
        return anchor->time + (index - double(anchor->start)) * anchor->interval;
    }

    void Decimate(std::span<const float> samples) {
        const int taps = int(fir.size());
        history.insert(history.end(), samples.begin(), samples.end());
        // history[0] is input index inputCount + samples.size() - history.size().
        const long long firstIndex =
            inputCount + (long long)samples.size() - (long long)history.size();
        inputCount += (long long)samples.size();
        // Outputs fall on input indices that are multiples of factor, once taps samples are in.
        if (nextOutput < taps - 1) {
            nextOutput = (taps - 1 + factor - 1) / factor * factor;
        }
        for (; nextOutput < inputCount; nextOutput += factor) {
            const long long n = nextOutput;
            const float* x = history.data() + (n - firstIndex) - (taps - 1);
            float sum = 0;
            for (int i = 0; i < taps; ++i) {
                sum += fir[i] * x[i];
            }
            decimated.push_back(sum);
            decimatedTime.push_back(TimeOfInput(double(n) - (taps - 1) / 2.0));
        }
        const std::size_t keep = std::size_t(taps - 1 + factor);
        if (history.size() > keep) {
            history.erase(history.begin(), history.end() - long(keep));
        }
        // Anchors before the oldest sample still needed are no longer looked at.
        const long long oldest = inputCount - (long long)history.size() - taps;
        while (anchors.size() > 1 && anchors[1].start <= oldest) {
            anchors.erase(anchors.begin());
        }
    }

    // A sweep fills the whole passband in turn: the template's quarters (each a quarter of the
    // band) all match it, while a burst or a keyed carrier's edge matches one or two. Each
    // quarter's power must reach kLeastQuarterShare of their mean.
    bool SpreadOverTheBand(const Filter& filter, int lag) const {
        const int length = filter.length;
        double quarters[kQuarters];
        double mean = 0;
        for (int q = 0; q < kQuarters; ++q) {
            Complex sum(0, 0);
            for (int k = q * length / kQuarters; k < (q + 1) * length / kQuarters; ++k) {
                sum += whitenedAudio[lag + k] * filter.conjugate[k];
            }
            quarters[q] = std::norm(sum);
            mean += quarters[q] / kQuarters;
        }
        return std::all_of(std::begin(quarters), std::end(quarters),
                           [mean](double power) { return power >= kLeastQuarterShare * mean; });
    }

    // Emits a filter's pending peak as a detection.
    void Emit(Filter& filter, std::vector<ChirpDetection>* out) {
        if (!filter.pending) {
            return;
        }
        filter.pending = false;
        ChirpDetection d;
        // The template starts at 300 Hz (rising) or 2700 Hz (falling); the tone is at 0 Hz
        // when the sweep passes the dial frequency.
        d.time = filter.falling ? filter.pendingStart + kPassHighHz / filter.rateHz
                                : filter.pendingStart - kPassLowHz / filter.rateHz;
        d.rateKhzPerS = filter.rateHz / kHzPerKhz;
        d.snrDb = 10 * std::log10(filter.pendingPower / filter.pendingFloor);
        d.falling = filter.falling;
        out->push_back(d);
    }

    // Runs the matched filters over decimated[0, blockLength) (zero-padded when fewer remain)
    // and judges lags up to `lags` (even).
    void Process(int available, int lags, bool updateAverage, double thresholdDb,
                 std::vector<ChirpDetection>* out) {
        const int n = blockLength;
        std::fill(real, real + n, 0.0f);
        std::copy(decimated.begin(), decimated.begin() + std::min(available, n), real);
        fftwf_execute(forward);
        const auto* x = reinterpret_cast<const Complex*>(spectrum);
        const int bins = bandTo - bandFrom + 1;
        if (blocksAveraged == 0) {
            for (int k = 0; k < bins; ++k) {
                average[k] = std::norm(x[bandFrom + k]);
            }
        }
        // The first blocks are averaged alike, then older ones fade with kWhiteningSeconds.
        const float weight =
            float(std::max(alpha, 1.0 / double(std::min(blocksAveraged, 1000000) + 1)));
        if (updateAverage) {
            ++blocksAveraged;
        }
        // The average smoothed over neighbouring bins: whitening by a ragged spectrum would
        // smear a strong sweep over the whole block. A carrier standing over the smoothed
        // level keeps its own bin's.
        float window = 0;
        for (int k = 0; k < std::min(kSmoothBins / 2, bins); ++k) {
            window += average[k];
        }
        for (int k = 0; k < bins; ++k) {
            if (k + kSmoothBins / 2 < bins) {
                window += average[k + kSmoothBins / 2];
            }
            if (k - kSmoothBins / 2 - 1 >= 0) {
                window -= average[k - kSmoothBins / 2 - 1];
            }
            const int count =
                std::min(bins - 1, k + kSmoothBins / 2) - std::max(0, k - kSmoothBins / 2) + 1;
            estimate[k] = std::max(window / float(count), average[k] / float(kOwnBinRatio));
        }
        for (int k = 0; k < bins; ++k) {
            const float p = std::norm(x[bandFrom + k]);
            // A carrier keyed on since the last blocks stands far over the average: it is
            // notched in this block already, before the average catches up.
            estimate[k] = std::max(estimate[k], p / float(kNewCarrierRatio));
            if (updateAverage) {
                average[k] += weight * (p - average[k]);
            }
        }
        // Bins far over the band's median hold carriers: they are notched outright, so that
        // a keyed carrier's edges go with it. A sweep raises every bin alike and keeps them.
        sorted.assign(estimate.begin(), estimate.end());
        std::nth_element(sorted.begin(), sorted.begin() + bins / 2, sorted.end());
        const float notchAbove = float(kNotchRatio) * sorted[bins / 2];
        for (int k = 0; k < bins; ++k) {
            whitened[k] = estimate[k] > notchAbove
                              ? Complex(0, 0)
                              : x[bandFrom + k] / std::sqrt(estimate[k] + 1e-30f);
        }
        auto* white = reinterpret_cast<Complex*>(whitenedSpectrum);
        std::fill(white, white + n / 2 + 1, Complex(0, 0));
        std::copy(whitened.begin(), whitened.end(), white + bandFrom);
        fftwf_execute(inverse);
        const double threshold = std::pow(10.0, thresholdDb / 10);
        const int half = n / 2;
        auto* product = reinterpret_cast<Complex*>(this->product);
        const auto* y = reinterpret_cast<const Complex*>(output);
        for (Filter& filter : filters) {
            // The filter's own valid lags: its template lies inside the real samples.
            const int valid = std::min(lags, available - filter.length + 1) / 2;
            if (valid < kFewestLagsForFloor / 2) {
                continue;
            }
            std::fill(product, product + half, Complex(0, 0));
            for (int k = 0; k < bins; ++k) {
                product[bandFrom + k] = whitened[k] * filter.spectrum[k];
            }
            // Only positive frequencies below rate/2 are present: half the points give the
            // complex output at half the decimated rate, lag 2j at j.
            fftwf_execute(backward);
            for (int j = 0; j < valid; ++j) {
                power[j] = std::norm(y[j]);
            }
            sorted.assign(power.begin(), power.begin() + valid);
            std::nth_element(sorted.begin(), sorted.begin() + valid / 2, sorted.end());
            const double floor = std::max(double(sorted[valid / 2]) / std::numbers::ln2, 1e-30);
            for (int j = 0; j < valid; ++j) {
                const double lagTime = decimatedTime[2 * j];
                if (filter.pending && lagTime > filter.pendingStart + filter.window) {
                    Emit(filter, out);
                }
                if (power[j] < threshold * floor) {
                    continue;
                }
                if (filter.pending &&
                    power[j] / floor <= filter.pendingPower / filter.pendingFloor) {
                    continue;
                }
                // Parabola through the neighbours for the peak's place and height between lags.
                double offset = 0;
                double peak = power[j];
                if (j > 0 && j + 1 < valid) {
                    const double a = power[j - 1], b = power[j], c = power[j + 1];
                    const double curve = a - 2 * b + c;
                    if (curve < 0) {
                        offset = std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
                        peak = b - 0.25 * (a - c) * offset;
                    }
                }
                if (!SpreadOverTheBand(filter, 2 * j)) {
                    continue; // a burst in part of the band, not a sweep through all of it
                }
                const double step = decimatedTime[2 * j + 1] - decimatedTime[2 * j];
                filter.pending = true;
                filter.pendingStart = lagTime + offset * 2 * step;
                filter.pendingPower = peak;
                filter.pendingFloor = floor;
            }
        }
    }

    void Consume(int count) {
        decimated.erase(decimated.begin(), decimated.begin() + count);
        decimatedTime.erase(decimatedTime.begin(), decimatedTime.begin() + count);
    }

    // Judges what is left of the stream and ends it.
    void Flush(double thresholdDb, std::vector<ChirpDetection>* out) {
        const int available = int(decimated.size());
        if (streaming && available > 0) {
            // Fewer than a block remain: zero-padded, every lag whose template fits is judged.
            Process(available, available & ~1, false, thresholdDb, out);
        }
        for (Filter& filter : filters) {
            Emit(filter, out);
        }
        streaming = false;
        inputCount = 0;
        nextOutput = 0;
        history.clear();
        anchors.clear();
        decimated.clear();
        decimatedTime.clear();
    }
};

ChirpDetector::ChirpDetector(ChirpDetectorSettings detectorSettings)
    : settings(std::move(detectorSettings)), state(std::make_unique<State>()) {
    State& s = *state;
    s.inputRate = settings.sampleRate;
    s.factor = std::max(1, int(std::floor(s.inputRate / kLowestDecimatedRate)));
    s.rate = s.inputRate / s.factor;
    s.fir = DecimationFilter(s.inputRate, s.factor);

    int longest = 1;
    for (double rateKhz : settings.ratesKhzPerS) {
        const double seconds = (kPassHighHz - kPassLowHz) / (rateKhz * kHzPerKhz);
        longest = std::max(longest, int(std::ceil(seconds * s.rate)));
    }
    s.blockLength = NextPowerOfTwo(std::max(kShortestBlock, kBlocksPerTemplate * longest));
    s.advance = (s.blockLength - longest + 1) & ~1;
    const double binHz = s.rate / s.blockLength;
    s.bandFrom = int(std::ceil(kPassLowHz / binHz));
    s.bandTo = int(std::floor(kPassHighHz / binHz));
    s.alpha = std::min(1.0, s.advance / s.rate / kWhiteningSeconds);
    const int bins = s.bandTo - s.bandFrom + 1;
    s.average.assign(bins, 0);
    s.whitened.assign(bins, {});
    s.estimate.assign(bins, 0);
    s.power.assign(s.blockLength / 2, 0);

    const int n = s.blockLength;
    s.real = fftwf_alloc_real(n);
    s.spectrum = fftwf_alloc_complex(n / 2 + 1);
    s.product = fftwf_alloc_complex(n / 2);
    s.output = fftwf_alloc_complex(n / 2);
    s.forward = fftwf_plan_dft_r2c_1d(n, s.real, s.spectrum, FFTW_ESTIMATE);
    s.backward = fftwf_plan_dft_1d(n / 2, s.product, s.output, FFTW_BACKWARD, FFTW_ESTIMATE);
    s.whitenedAudio = fftwf_alloc_real(n);
    s.whitenedSpectrum = fftwf_alloc_complex(n / 2 + 1);
    s.inverse = fftwf_plan_dft_c2r_1d(n, s.whitenedSpectrum, s.whitenedAudio, FFTW_ESTIMATE);

    // The templates: a tone sweeping the passband at the rate, up or down, of unit energy.
    fftwf_complex* chirp = fftwf_alloc_complex(n);
    fftwf_complex* chirpSpectrum = fftwf_alloc_complex(n);
    fftwf_plan chirpPlan = fftwf_plan_dft_1d(n, chirp, chirpSpectrum, FFTW_FORWARD, FFTW_ESTIMATE);
    for (double rateKhz : settings.ratesKhzPerS) {
        for (bool falling : {false, true}) {
            State::Filter filter;
            filter.rateHz = rateKhz * kHzPerKhz;
            filter.falling = falling;
            const double passage = (kPassHighHz - kPassLowHz) / filter.rateHz;
            filter.length = int(std::ceil(passage * s.rate));
            filter.window = passage + kModeSpreadS;
            auto* h = reinterpret_cast<Complex*>(chirp);
            const double norm = 1 / std::sqrt(double(filter.length));
            for (int i = 0; i < n; ++i) {
                if (i >= filter.length) {
                    h[i] = 0;
                    continue;
                }
                const double t = i / s.rate;
                const double phase = falling
                                         ? 2 * kPi * kPassHighHz * t - kPi * filter.rateHz * t * t
                                         : 2 * kPi * kPassLowHz * t + kPi * filter.rateHz * t * t;
                h[i] = Complex(std::polar(norm, phase));
                filter.conjugate.push_back(std::conj(h[i]));
            }
            fftwf_execute(chirpPlan);
            const auto* spectrum = reinterpret_cast<const Complex*>(chirpSpectrum);
            for (int k = s.bandFrom; k <= s.bandTo; ++k) {
                filter.spectrum.push_back(std::conj(spectrum[k]));
            }
            s.filters.push_back(std::move(filter));
        }
    }
    fftwf_destroy_plan(chirpPlan);
    fftwf_free(chirp);
    fftwf_free(chirpSpectrum);
}

ChirpDetector::~ChirpDetector() = default;

double ChirpDetector::DecimatedRate() const {
    return state->rate;
}

double ChirpDetector::Latency() const {
    return state->blockLength / state->rate;
}

std::vector<ChirpDetection> ChirpDetector::Feed(std::span<const float> samples,
                                                double firstSampleTime, double sampleInterval) {
    State& s = *state;
    std::vector<ChirpDetection> out;
    if (samples.empty() || !(sampleInterval > 0)) {
        return out;
    }
    if (s.streaming && std::abs(firstSampleTime - s.expectedNext) > kJoinToleranceS) {
        s.Flush(settings.thresholdDb, &out);
    }
    s.streaming = true;
    s.anchors.push_back({s.inputCount, firstSampleTime, sampleInterval});
    s.expectedNext = firstSampleTime + double(samples.size()) * sampleInterval;
    s.Decimate(samples);
    while (int(s.decimated.size()) >= s.blockLength) {
        s.Process(s.blockLength, s.advance, true, settings.thresholdDb, &out);
        s.Consume(s.advance);
    }
    std::sort(out.begin(), out.end(),
              [](const ChirpDetection& a, const ChirpDetection& b) { return a.time < b.time; });
    return out;
}

std::vector<ChirpDetection> ChirpDetector::Gap() {
    std::vector<ChirpDetection> out;
    state->Flush(settings.thresholdDb, &out);
    std::sort(out.begin(), out.end(),
              [](const ChirpDetection& a, const ChirpDetection& b) { return a.time < b.time; });
    return out;
}

void ChirpDetector::Reset() {
    std::vector<ChirpDetection> dropped;
    state->Flush(settings.thresholdDb, &dropped);
    state->blocksAveraged = 0;
    for (auto& filter : state->filters) {
        filter.pending = false;
    }
}

} // namespace ionogram
