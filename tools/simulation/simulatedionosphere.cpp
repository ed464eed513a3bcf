#include "simulation/simulatedionosphere.h"

#include "core/units.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace ionogram {

namespace {

// The tone fades out smoothly well above the passband, below the Nyquist frequency.
constexpr double kFadeStartHz = 6000;
constexpr double kFadeEndHz = 8000;
constexpr double kFadeStartOfNyquist = 0.7;
constexpr double kFadeEndOfNyquist = 0.9;
constexpr int kAverageSteps = 2400; // frequencies summed for the mean group delay

using Complex = std::complex<double>;

// P(z) = c0 + c1 z^-1 + c2 z^-2 at z = e^{iω}, and its derivative term for the group delay.
Complex Polynomial(const double c[3], double omega) {
    return c[0] + c[1] * std::polar(1.0, -omega) + c[2] * std::polar(1.0, -2 * omega);
}

double PolynomialDelay(const double c[3], double omega) {
    const Complex weighted =
        c[1] * std::polar(1.0, -omega) + 2 * c[2] * std::polar(1.0, -2 * omega);
    return (weighted / Polynomial(c, omega)).real(); // in samples
}

} // namespace

PassbandFilter::PassbandFilter(double rate, double low, double high)
    : sampleRate(rate), lowHz(low), highHz(high) {
    const double k = 2 * sampleRate; // bilinear transform s = k (1 - z^-1) / (1 + z^-1)
    const double lowW = k * std::tan(std::numbers::pi * lowHz / sampleRate);
    const double highW = k * std::tan(std::numbers::pi * highHz / sampleRate);
    // Poles of the normalised Butterworth prototype in the left half plane, one per pair plus
    // the real pole of an odd order.
    for (int i = 0; i < (kOrderPerEdge + 1) / 2; ++i) {
        const double angle = std::numbers::pi * (2 * i + kOrderPerEdge + 1) / (2 * kOrderPerEdge);
        const double re = std::cos(angle);
        if (std::abs(std::sin(angle)) < 1e-9) { // the real pole -1
            const double lpB[3] = {0, 0, highW}, lpA[3] = {0, 1, highW};
            const double hpB[3] = {0, 1, 0}, hpA[3] = {0, 1, lowW};
            AddSection(lpB, lpA);
            AddSection(hpB, hpA);
        } else {
            const double lpB[3] = {0, 0, highW * highW};
            const double lpA[3] = {1, -2 * re * highW, highW * highW};
            const double hpB[3] = {1, 0, 0};
            const double hpA[3] = {1, -2 * re * lowW, lowW * lowW};
            AddSection(lpB, lpA);
            AddSection(hpB, hpA);
        }
    }
}

// analog (b[0] s^2 + b[1] s + b[2]) / (a[0] s^2 + a[1] s + a[2]) through the bilinear transform.
void PassbandFilter::AddSection(const double analogB[3], const double analogA[3]) {
    const double k = 2 * sampleRate;
    auto digital = [k](const double c[3], double out[3]) {
        out[0] = c[0] * k * k + c[1] * k + c[2];
        out[1] = 2 * c[2] - 2 * c[0] * k * k;
        out[2] = c[0] * k * k - c[1] * k + c[2];
    };
    Section section{};
    digital(analogB, section.b);
    digital(analogA, section.a);
    const double norm = section.a[0];
    for (int i = 0; i < 3; ++i) {
        section.b[i] /= norm;
        section.a[i] /= norm;
    }
    sections.push_back(section);
}

float PassbandFilter::Process(double x) {
    for (Section& s : sections) { // transposed direct form II
        const double y = s.b[0] * x + s.z1;
        s.z1 = s.b[1] * x - s.a[1] * y + s.z2;
        s.z2 = s.b[2] * x - s.a[2] * y;
        x = y;
    }
    return static_cast<float>(x);
}

double PassbandFilter::GainAt(double hz) const {
    const double omega = 2 * std::numbers::pi * hz / sampleRate;
    double gain = 1;
    for (const Section& s : sections) {
        gain *= std::abs(Polynomial(s.b, omega) / Polynomial(s.a, omega));
    }
    return gain;
}

double PassbandFilter::GroupDelayAt(double hz) const {
    const double omega = 2 * std::numbers::pi * hz / sampleRate;
    double samples = 0;
    for (const Section& s : sections) {
        samples += PolynomialDelay(s.b, omega) - PolynomialDelay(s.a, omega);
    }
    return samples / sampleRate;
}

double PassbandFilter::MeanGroupDelay() const {
    double weighted = 0;
    double total = 0;
    for (int i = 0; i < kAverageSteps; ++i) {
        const double hz = lowHz + (highHz - lowHz) * (i + 0.5) / kAverageSteps;
        const double power = GainAt(hz) * GainAt(hz);
        weighted += power * GroupDelayAt(hz);
        total += power;
    }
    return weighted / total;
}

SimulatedIonosphere::SimulatedIonosphere(Settings config)
    : settings(std::move(config)), filter(settings.sampleRate), random(settings.seed),
      whiteRms(settings.noiseRms * std::sqrt(settings.sampleRate / 2 / (kPassHighHz - kPassLowHz))),
      fadeStartHz(std::min(kFadeStartHz, kFadeStartOfNyquist * settings.sampleRate / 2)),
      fadeEndHz(std::min(kFadeEndHz, kFadeEndOfNyquist * settings.sampleRate / 2)) {
    for (std::size_t i = 0; i < settings.interferers.size(); ++i) {
        bandSignals.emplace_back(settings.interferers[i], settings.seed, i);
    }
}

void SimulatedIonosphere::AddTones(const SimulatedSounder& sounder, double dialKhz,
                                   double firstSampleTime, double blockSpan,
                                   std::vector<Tone>* tones) const {
    const SounderProfile& profile = sounder.profile;
    const double rate = profile.sweepRate * units::kHertzPerKilohertz;
    // The sounder's crossing of the dial frequency nearest to this block.
    const double inPeriod = sweep::CrossingInPeriod(profile, sounder.chirpTime, dialKhz);
    const double period = std::floor((firstSampleTime - inPeriod) / profile.period + 0.5);
    const double crossing = period * profile.period + inPeriod;
    const bool swept = dialKhz >= profile.lowFrequency && dialKhz <= profile.highFrequency;
    const double fadeEnd = fadeEndHz / rate; // seconds from a tone's start to its end
    for (const PropagationMode& mode : sounder.modes) {
        const double start =
            crossing + mode.delayMs * units::kSecondsPerMillisecond - firstSampleTime;
        if (swept && dialKhz >= mode.lowKhz && dialKhz <= mode.highKhz && start < blockSpan &&
            start + fadeEnd > 0) {
            tones->push_back({start, rate, mode.amplitude, mode.phase});
        }
    }
}

double SimulatedIonosphere::Interference(double time, double sampleInterval) {
    double x = 0;
    for (BandSignal& signal : bandSignals) {
        x += signal.Next(time, sampleInterval);
    }
    return x;
}

void SimulatedIonosphere::Generate(double dialKhz, double firstSampleTime, double sampleInterval,
                                   std::span<float> out) {
    std::vector<Tone> tones;
    const double blockSpan = double(out.size()) * sampleInterval;
    // The main sounder's modes: the fixed ones, and each layer's rays at the dial frequency.
    SimulatedSounder main{settings.profile, settings.chirpTime, settings.modes};
    auto hear = [&](const std::vector<LayerRay>& rays) {
        for (const LayerRay& ray : rays) {
            // The ray's carrier phase at the dial frequency, as its path length sets it.
            const double phase = 2 * std::numbers::pi * std::fmod(dialKhz * ray.delayMs, 1.0);
            main.modes.push_back({ray.delayMs, dialKhz, dialKhz, ray.amplitude, phase});
        }
    };
    for (const IonosphericLayer& layer : settings.layers) {
        hear(LayerRays(layer, dialKhz));
    }
    if (settings.sky) {
        hear(settings.sky->Rays(dialKhz));
    }
    AddTones(main, dialKhz, firstSampleTime, blockSpan, &tones);
    std::vector<double> heard(settings.sky ? out.size() : 0, 0.0);
    if (settings.sky) {
        settings.sky->AddAudio(dialKhz, firstSampleTime, sampleInterval, whiteRms, heard);
    }
    for (const SimulatedSounder& sounder : settings.otherSounders) {
        AddTones(sounder, dialKhz, firstSampleTime, blockSpan, &tones);
    }
    for (std::size_t k = 0; k < out.size(); ++k) {
        const double t = double(k) * sampleInterval;
        double x = whiteRms > 0 ? whiteRms * gauss(random) : 0;
        for (const Tone& tone : tones) {
            const double u = t - tone.start;
            const double hz = tone.rate * u;
            if (u < 0 || hz >= fadeEndHz) {
                continue; // the other sideband, or far above the passband
            }
            double fade = 1;
            if (hz > fadeStartHz) {
                fade = 0.5 * (1 + std::cos(std::numbers::pi * (hz - fadeStartHz) /
                                           (fadeEndHz - fadeStartHz)));
            }
            x +=
                tone.amplitude * fade * std::cos(std::numbers::pi * tone.rate * u * u + tone.phase);
        }
        if (!settings.interferers.empty()) {
            x += Interference(firstSampleTime + t, sampleInterval);
        }
        if (!heard.empty()) {
            x += heard[k];
        }
        out[k] = filter.Process(x);
    }
}

} // namespace ionogram
