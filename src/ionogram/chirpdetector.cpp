#include "ionogram/chirpdetector.h"

#include "core/units.h"
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
// Nothing is judged before the average holds this much audio: whitened by the first block
// alone, a keyed carrier's edges stand out over the whole band (heard at every start).
constexpr double kSettlingSeconds = 1;
constexpr double kJoinToleranceS = 0.002; // a block this far off the stream's end starts anew
constexpr double kModeSpreadS = 0.020;    // modes of one crossing this far apart are one
constexpr int kFewestLagsForFloor = 64;   // a floor needs this many outputs to be a median
// A bin whose power in one block exceeds its running average this many times holds a carrier
// that has just appeared (noise alone does so in e^-4, 2 % of the bins).
constexpr double kNewCarrierRatio = 4;
constexpr int kSmoothBins = 5;     // of the spectrum's average, about 20 Hz at 8 kHz
constexpr double kOwnBinRatio = 3; // a bin this far over its neighbours keeps its own level
// A bin this far over the band's median is notched. Keyed signals' skirts (a Morse edge's
// splatter, RTTY's shifts, PSK's sidebands) are loud only while keyed, so whitening by their
// average leaves bursts that the short 500 kHz/s filter takes for sweeps; notched, they cost a
// sweep no more than whitening did, since those bins held more interference than noise.
constexpr double kNotchRatio = 5;
// The block's first and last kGuardSamples are tapered (raised cosine) and no template that
// overlaps them is judged: a carrier cut off square at the block's edges would leak over the
// whole band and make a click there after whitening.
constexpr int kGuardSamples = 128; // 16 ms at 8 kHz
// A sweep fills the whole passband in turn, so its matched filter's output is made evenly of
// kSubBands parts of the template (each 300 Hz of the band); the edge of a keyed carrier, an RTTY
// shift or a PSK reversal is a burst in a few of them. The parts' powers must spread over at
// least kLeastSubBands of them: (sum of powers)^2 / (sum of squared powers). Noise alone spreads
// over about four; a sweep at the threshold over five to seven.
constexpr int kSubBands = 8;
constexpr double kLeastSubBands = 3;
// The fastest rate's filter, whose threshold is not raised, also meets SSB speech: noise-like
// bursts that the running average cannot whiten syllable by syllable, whose peaks spread like
// noise's (three to five parts). A sweep at its threshold spreads over five or more: a peak of
// that filter over fewer than kLeastSubBandsFastest parts is never strong. That halves
// the crossings speech makes there, which lets the threshold sit lower for the weakest sweeps,
// and such a sweep can still complete a sounder.
constexpr double kLeastSubBandsFastest = 4;
// The fastest filter's peaks are timed as well: a sweep passes each quarter of the passband in
// turn, at its rate, so the whitened audio's envelope in each quarter peaks where the sweep
// crosses that quarter's middle (1.2 ms apart at 500 kHz/s). An impulse lights the quarters at
// once, a keyed carrier or an RTTY shift one of them, and a burst of speech-like noise peaks in
// each where its noise happens to. Each quarter's envelope peak is sought within a template's
// length of the sweep's time, and how far it lies from it (up to kLateCountedS) is summed over
// the quarters. The peak is judged by a score: its level over the higher of its two floors, less
// kDbPerLateMs for each millisecond of that sum, plus kDbPerFilledPart for each part it fills
// over kEvenParts. It is strong from kStrongUnderDb under the threshold, and timed (weak, but
// allowed to begin a sounder, see ChirpDetection::timed) from kTimedUnderDb under it. Chosen on
// bench_detector's busy bands with and without speech, other draws than it is judged on: for
// the same false crossings it keeps as many of the weakest sweeps strong as counting the
// quarters within 1 ms of their times did (68 % at 6 dB for 8.5 an hour of speech), and being
// graded, it also sets a lower level apart, timed, that 94 % of them reach and some 45 peaks an
// hour of keying and 270 of speech (the level alone, for as many sweeps: 23 and 800).
constexpr int kQuarters = 4;
constexpr double kLateCountedS = 0.003;
constexpr double kDbPerLateMs = 0.3;
constexpr double kDbPerFilledPart = 0.5;
constexpr double kEvenParts = 5;
constexpr double kStrongUnderDb = 0.3;
constexpr double kTimedUnderDb = 2.0;
// Audio lost on its way (a sound card's or a sound server's overrun, a dropped packet) leaves a
// jump in the waveform that nothing marks: a click, which every filter hears, and the fastest as
// a sweep's length of broadband energy. The receiver's audio is band-limited far under the
// Nyquist frequency at the usual rates, so its third difference is small (a 2.7 kHz tone's is 27
// dB under the tone at 48 kHz), while a jump of the waveform puts twice its size there in one
// sample. A sample whose third difference has kClickPowerRatio times the power of the running
// mean of the last kClickLevelSeconds is such a jump, and no template that spans it (give or take
// kClickMarginS) is judged. Noise, carriers and sweeps come through the receiver's filter and
// never do so (e^-50 for Gaussian audio); at 8 kHz, where the passband fills the band, the test
// sees nothing.
constexpr double kClickPowerRatio = 100;
constexpr double kClickLevelSeconds = 0.02;
constexpr double kClickMarginS = 0.002;
// The floor is also taken near each peak, as the mean output within kLocalLags of it outside
// its main lobe (kLobeLags): keying edges, shifts and reversals come in runs that raise the
// output for a while, which the block's median does not see.
constexpr int kLocalLags = 100; // 50 ms at the output's 4 kHz
constexpr int kLobeLags = 2;
// A slower sweep's filter gains more (2.4 kHz times its passage): its threshold is raised by
// this share of its gain over the fastest rate's, so that every rate hears a crossing of the same
// strength alike, and noise and keying do not reach the slow filters' thresholds.
constexpr double kRaiseOfGain = 0.5;

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
    // What a peak is taken for, weakest first.
    enum class Rank { Weak, Timed, Strong };

    // One matched filter: a sweep rate in one direction.
    struct Filter {
        double rateHz = 0; // Hz/s
        bool falling = false;
        int length = 0;                 // template samples at the decimated rate
        std::vector<Complex> spectrum;  // conjugate of the template's transform, band bins
        std::vector<Complex> conjugate; // the template itself, conjugated, in time
        double window = 0;              // seconds within which peaks are one crossing
        double raiseDb = 0;             // over the settings' threshold, see kRaiseOfGain
        bool pending = false;           // the strongest peak seen, not yet passed by `window`
        double pendingStart = 0;        // epoch seconds of the template's first sample
        double pendingPower = 0;
        double pendingFloor = 1;
        Rank pendingRank = Rank::Weak;
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
    int advance = 0;          // decimated samples consumed per block (even)
    std::vector<float> taper; // of the block's first kGuardSamples
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

    // Jumps in the waveform (see kClickPowerRatio): the last three input samples, the running
    // mean power of the third difference, how many samples it holds (judged from one level's
    // worth), and the times of recent jumps.
    float lastSamples[3] = {0, 0, 0};
    double clickLevel = 0;
    long long clickLevelSamples = 0;
    std::vector<double> clicks;

    // The spectrum's running average over the passband bins.
    std::vector<float> average;
    int blocksAveraged = 0;
    int settlingBlocks = 0;

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
    std::vector<float> gains;         // of the whitening, per passband bin (0: notched)
    std::vector<double> ownSidelobes; // see OwnSidelobes(), for the filter being judged
    std::vector<float> estimate;      // of the noise and carriers in each passband bin
    std::vector<float> power;
    std::vector<float> sorted;
    // The whitened block's envelope in each quarter of the passband, at half the decimated rate
    // (index j at sample 2j), made for the first peak that is timed in a block.
    std::vector<std::vector<float>> quarterEnvelopes;
    bool quartersMade = false;

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

    // Notes the block's jumps (see kClickPowerRatio), samples[k] taken at first + k * interval.
    void FindClicks(std::span<const float> samples, double first, double interval) {
        const double alpha = std::min(1.0, 1 / (kClickLevelSeconds * inputRate));
        const auto judgedFrom = (long long)(std::ceil(kClickLevelSeconds * inputRate));
        for (std::size_t k = 0; k < samples.size(); ++k) {
            const double x = samples[k];
            const double third =
                x - 3.0 * lastSamples[2] + 3.0 * lastSamples[1] - double(lastSamples[0]);
            lastSamples[0] = lastSamples[1];
            lastSamples[1] = lastSamples[2];
            lastSamples[2] = float(x);
            const double power = third * third;
            if (++clickLevelSamples <= 3) {
                continue; // the difference still reaches before the stream
            }
            if (clickLevelSamples > judgedFrom && power > kClickPowerRatio * clickLevel) {
                const double time = first + double(k) * interval;
                if (clicks.empty() || time - clicks.back() > kClickMarginS) {
                    clicks.push_back(time);
                }
                continue; // the jump does not raise the level it is judged against
            }
            clickLevel += alpha * (power - clickLevel);
        }
    }

    // Whether a jump lies within the filter's template starting at `start` (epoch seconds).
    bool SpansClick(const Filter& filter, double start) const {
        const double end = start + filter.length / rate;
        return std::any_of(clicks.begin(), clicks.end(), [&](double click) {
            return click >= start - kClickMarginS && click <= end + kClickMarginS;
        });
    }

    // Over how many of the parts of the band the whitened audio at `lag` fills the filter's
    // template, as a sweep would all of them.
    double PartsFilled(const Filter& filter, int lag) const {
        const int length = filter.length;
        double sum = 0;
        double squares = 0;
        for (int b = 0; b < kSubBands; ++b) {
            Complex part(0, 0);
            for (int k = b * length / kSubBands; k < (b + 1) * length / kSubBands; ++k) {
                part += whitenedAudio[lag + k] * filter.conjugate[k];
            }
            sum += std::norm(part);
            squares += std::norm(part) * std::norm(part);
        }
        return squares > 0 ? sum * sum / squares : 0;
    }

    // The filter's output, in power over its peak's, d outputs (2d samples) from the peak of a
    // sweep it matches, for d up to kLocalLags, as this block's whitening shapes it: the notched
    // bins take slices out of the sweep, which ring beside its peak. Into ownSidelobes.
    void OwnSidelobes(const Filter& filter) {
        const int half = blockLength / 2;
        auto* response = reinterpret_cast<Complex*>(product);
        std::fill(response, response + half, Complex(0, 0));
        for (std::size_t k = 0; k < filter.spectrum.size(); ++k) {
            response[bandFrom + int(k)] = gains[k] * std::norm(filter.spectrum[k]);
        }
        fftwf_execute(backward);
        const auto* r = reinterpret_cast<const Complex*>(output);
        const double peak = std::max(double(std::norm(r[0])), 1e-30);
        ownSidelobes.clear();
        for (int d = 0; d <= kLocalLags; ++d) {
            ownSidelobes.push_back(std::norm(r[d]) / peak);
        }
    }

    // Mean of power[] within kLocalLags of j (of the first `valid`), its main lobe left out, less
    // what a sweep peaking at j adds there through its own sidelobes (ownSidelobes, made for the
    // filter): a strong sweep must not raise the floor it is judged against.
    double LocalFloor(int j, int valid) const {
        double sum = 0;
        double own = 0;
        int count = 0;
        for (int i = std::max(0, j - kLocalLags); i < std::min(valid, j + kLocalLags + 1); ++i) {
            if (std::abs(i - j) > kLobeLags) {
                sum += power[i];
                own += ownSidelobes[std::size_t(std::abs(i - j))];
                ++count;
            }
        }
        return count > 0 ? std::max(0.0, (sum - own * power[j]) / count) : 0;
    }

    // How far (seconds, up to kLateCountedS) the whitened audio's envelope in each quarter of
    // the passband peaks from where a sweep matching the filter, its template starting at `lag`,
    // would cross the quarter's middle, summed over the quarters (see kLateCountedS).
    double Lateness(const Filter& filter, int lag) {
        const int half = blockLength / 2;
        const int bins = bandTo - bandFrom + 1;
        auto* band = reinterpret_cast<Complex*>(product);
        const auto* y = reinterpret_cast<const Complex*>(output);
        if (!quartersMade) {
            quarterEnvelopes.resize(kQuarters);
            for (int q = 0; q < kQuarters; ++q) {
                std::fill(band, band + half, Complex(0, 0));
                for (int k = q * bins / kQuarters; k < (q + 1) * bins / kQuarters; ++k) {
                    band[bandFrom + k] = whitened[k];
                }
                fftwf_execute(backward);
                quarterEnvelopes[q].resize(half);
                for (int j = 0; j < half; ++j) {
                    quarterEnvelopes[q][j] = std::norm(y[j]);
                }
            }
            quartersMade = true;
        }
        const double quarterHz = (kPassHighHz - kPassLowHz) / kQuarters;
        const double reach = filter.length / 2.0; // outputs each side: a template's length
        double late = 0;
        for (int q = 0; q < kQuarters; ++q) {
            const double middleHz = kPassLowHz + (q + 0.5) * quarterHz;
            const double after =
                (filter.falling ? kPassHighHz - middleHz : middleHz - kPassLowHz) / filter.rateHz;
            const double centre = (lag + after * rate) / 2;
            const std::vector<float>& envelope = quarterEnvelopes[q];
            const int from = std::max(0, int(std::ceil(centre - reach)));
            const int to = std::min(half - 1, int(std::floor(centre + reach)));
            if (from > to) {
                late += kLateCountedS;
                continue;
            }
            const int loudest =
                int(std::max_element(envelope.begin() + from, envelope.begin() + to + 1) -
                    envelope.begin());
            late += std::min(std::abs(2 * (loudest - centre)) / rate, kLateCountedS);
        }
        return late;
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
        d.rateKhzPerS = filter.rateHz / units::kHertzPerKilohertz;
        d.snrDb = 10 * std::log10(filter.pendingPower / filter.pendingFloor);
        d.falling = filter.falling;
        d.weak = filter.pendingRank != Rank::Strong;
        d.timed = filter.pendingRank == Rank::Timed;
        out->push_back(d);
    }

    // Runs the matched filters over decimated[0, blockLength) (zero-padded when fewer remain)
    // and judges lags up to `lags` (even).
    void Process(int available, int lags, bool updateAverage, const ChirpDetectorSettings& settings,
                 std::vector<ChirpDetection>* out) {
        const int n = blockLength;
        std::fill(real, real + n, 0.0f);
        const int filled = std::min(available, n);
        std::copy(decimated.begin(), decimated.begin() + filled, real);
        for (int i = 0; i < std::min(kGuardSamples, filled / 2); ++i) {
            real[i] *= taper[i];
            real[filled - 1 - i] *= taper[i];
        }
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
            gains[k] = estimate[k] > notchAbove ? 0.0f : 1 / std::sqrt(estimate[k] + 1e-30f);
            whitened[k] = x[bandFrom + k] * gains[k];
        }
        auto* white = reinterpret_cast<Complex*>(whitenedSpectrum);
        std::fill(white, white + n / 2 + 1, Complex(0, 0));
        std::copy(whitened.begin(), whitened.end(), white + bandFrom);
        fftwf_execute(inverse);
        const int half = n / 2;
        auto* product = reinterpret_cast<Complex*>(this->product);
        const auto* y = reinterpret_cast<const Complex*>(output);
        if (blocksAveraged < settlingBlocks) {
            return;
        }
        quartersMade = false;
        for (Filter& filter : filters) {
            // The filter's own valid lags: its template lies between the guards.
            const int valid = std::min(lags, available - 2 * kGuardSamples - filter.length + 1) / 2;
            if (valid < kFewestLagsForFloor / 2) {
                continue;
            }
            const bool fastest = filter.raiseDb == 0;
            const double strong = std::pow(10.0, (settings.thresholdDb + filter.raiseDb) / 10);
            const double threshold =
                std::min(strong, std::pow(10.0, (settings.completingDb + filter.raiseDb) / 10));
            std::fill(product, product + half, Complex(0, 0));
            for (int k = 0; k < bins; ++k) {
                product[bandFrom + k] = whitened[k] * filter.spectrum[k];
            }
            // Only positive frequencies below rate/2 are present: half the points give the
            // complex output at half the decimated rate, lag 2j at j.
            fftwf_execute(backward);
            const int first = kGuardSamples / 2; // output j is lag 2j
            bool sidelobesMade = false;          // made once per block, for the first peak judged
            for (int j = 0; j < valid; ++j) {
                power[j] = std::norm(y[first + j]);
            }
            sorted.assign(power.begin(), power.begin() + valid);
            std::nth_element(sorted.begin(), sorted.begin() + valid / 2, sorted.end());
            const double floor = std::max(double(sorted[valid / 2]) / std::numbers::ln2, 1e-30);
            for (int j = 0; j < valid; ++j) {
                const int lag = kGuardSamples + 2 * j;
                const double lagTime = decimatedTime[lag];
                if (filter.pending && lagTime > filter.pendingStart + filter.window) {
                    Emit(filter, out);
                }
                if (power[j] < threshold * floor) {
                    continue;
                }
                // A peak under the pending one replaces it only where it ranks higher.
                const bool under =
                    filter.pending && power[j] / floor <= filter.pendingPower / filter.pendingFloor;
                if (under && filter.pendingRank == Rank::Strong) {
                    continue;
                }
                // The SNR stays the one over the block's floor; the local one only gates.
                if (!sidelobesMade) {
                    OwnSidelobes(filter);
                    sidelobesMade = true;
                }
                const double local = LocalFloor(j, valid);
                if (power[j] < threshold * local || SpansClick(filter, lagTime)) {
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
                const double parts = PartsFilled(filter, lag);
                if (parts < kLeastSubBands) {
                    continue; // a burst in part of the band, not a sweep through all of it
                }
                // Strong only over both floors, as every detection was before weak ones were;
                // for the fastest filter, by its score (see kLateCountedS).
                const double over = std::min(peak / floor, power[j] / std::max(local, 1e-30));
                Rank rank = over < strong ? Rank::Weak : Rank::Strong;
                if (fastest) {
                    const double score = 10 * std::log10(over) -
                                         kDbPerLateMs * 1000 * Lateness(filter, lag) +
                                         kDbPerFilledPart * (parts - kEvenParts);
                    rank = score >= settings.thresholdDb - kStrongUnderDb &&
                                   parts >= kLeastSubBandsFastest
                               ? Rank::Strong
                           : score >= settings.thresholdDb - kTimedUnderDb ? Rank::Timed
                                                                           : Rank::Weak;
                }
                if (under && rank <= filter.pendingRank) {
                    continue;
                }
                const double step = decimatedTime[lag + 1] - decimatedTime[lag];
                filter.pending = true;
                filter.pendingStart = lagTime + offset * 2 * step;
                filter.pendingPower = peak;
                filter.pendingFloor = floor;
                filter.pendingRank = rank;
            }
        }
    }

    void Consume(int count) {
        decimated.erase(decimated.begin(), decimated.begin() + count);
        decimatedTime.erase(decimatedTime.begin(), decimatedTime.begin() + count);
        if (!decimatedTime.empty()) {
            const double oldest = decimatedTime.front() - kClickMarginS;
            std::erase_if(clicks, [oldest](double click) { return click < oldest; });
        }
    }

    // Judges what is left of the stream and ends it.
    void Flush(const ChirpDetectorSettings& settings, std::vector<ChirpDetection>* out) {
        const int available = int(decimated.size());
        if (streaming && available > 0) {
            // Fewer than a block remain: zero-padded, every lag whose template fits is judged.
            Process(available, available & ~1, false, settings, out);
        }
        for (Filter& filter : filters) {
            Emit(filter, out);
        }
        streaming = false;
        inputCount = 0;
        nextOutput = 0;
        clickLevel = 0;
        clickLevelSamples = 0;
        clicks.clear();
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
        const double seconds = (kPassHighHz - kPassLowHz) / (rateKhz * units::kHertzPerKilohertz);
        longest = std::max(longest, int(std::ceil(seconds * s.rate)));
    }
    s.blockLength = NextPowerOfTwo(std::max(kShortestBlock, kBlocksPerTemplate * longest));
    s.advance = (s.blockLength - 2 * kGuardSamples - longest + 1) & ~1;
    for (int i = 0; i < kGuardSamples; ++i) {
        s.taper.push_back(float(0.5 - 0.5 * std::cos(kPi * (i + 0.5) / kGuardSamples)));
    }
    const double binHz = s.rate / s.blockLength;
    s.bandFrom = int(std::ceil(kPassLowHz / binHz));
    s.bandTo = int(std::floor(kPassHighHz / binHz));
    s.alpha = std::min(1.0, s.advance / s.rate / kWhiteningSeconds);
    s.settlingBlocks = int(std::ceil(kSettlingSeconds * s.rate / s.advance));
    const int bins = s.bandTo - s.bandFrom + 1;
    s.average.assign(bins, 0);
    s.whitened.assign(bins, {});
    s.gains.assign(bins, 0);
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
            filter.rateHz = rateKhz * units::kHertzPerKilohertz;
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
    double shortest = s.blockLength;
    for (const State::Filter& filter : s.filters) {
        shortest = std::min(shortest, double(filter.length));
    }
    for (State::Filter& filter : s.filters) {
        filter.raiseDb = kRaiseOfGain * 10 * std::log10(filter.length / shortest);
    }
    fftwf_destroy_plan(chirpPlan);
    fftwf_free(chirp);
    fftwf_free(chirpSpectrum);
}

ChirpDetector::~ChirpDetector() = default;

std::vector<ChirpDetection> ChirpDetector::Feed(std::span<const float> samples,
                                                double firstSampleTime, double sampleInterval) {
    State& s = *state;
    std::vector<ChirpDetection> out;
    if (samples.empty() || !(sampleInterval > 0)) {
        return out;
    }
    if (s.streaming && std::abs(firstSampleTime - s.expectedNext) > kJoinToleranceS) {
        s.Flush(settings, &out);
    }
    s.streaming = true;
    s.anchors.push_back({s.inputCount, firstSampleTime, sampleInterval});
    s.expectedNext = firstSampleTime + double(samples.size()) * sampleInterval;
    s.FindClicks(samples, firstSampleTime, sampleInterval);
    s.Decimate(samples);
    while (int(s.decimated.size()) >= s.blockLength) {
        s.Process(s.blockLength, s.advance, true, settings, &out);
        s.Consume(s.advance);
    }
    std::sort(out.begin(), out.end(),
              [](const ChirpDetection& a, const ChirpDetection& b) { return a.time < b.time; });
    return out;
}

std::vector<ChirpDetection> ChirpDetector::Gap() {
    std::vector<ChirpDetection> out;
    state->Flush(settings, &out);
    std::sort(out.begin(), out.end(),
              [](const ChirpDetection& a, const ChirpDetection& b) { return a.time < b.time; });
    return out;
}

void ChirpDetector::Reset() {
    std::vector<ChirpDetection> dropped;
    state->Flush(settings, &dropped);
    state->blocksAveraged = 0;
    for (auto& filter : state->filters) {
        filter.pending = false;
    }
}

} // namespace ionogram
