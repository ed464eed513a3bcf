#pragma once

// A receiver in USB listening to a chirp sounder through a simulated ionosphere: each
// propagation mode is the sweep delayed by its group delay, heard as a tone rising from 0 Hz,
// plus noise, through a Butterworth passband. The simulated radio writes it as its audio and
// the tests feed it to the ionogram with exactly known delays.

#include "ionogram/sounder.h"
#include "simulation/bandsignals.h"
#include "simulation/ionolayer.h"

#include <cstdint>
#include <memory>
#include <random>
#include <span>
#include <vector>

namespace ionogram {

// One path through the ionosphere: its group delay, the band where it exists and its strength
// (peak amplitude of its tone, 1 = full scale), with the phase its tone starts at.
struct PropagationMode {
    double delayMs = 0;
    double lowKhz = 0;
    double highKhz = 0;
    double amplitude = 0;
    double phase = 0;
};

// Another sounder heard at the same time as the main one, with its own sweep, timing and modes.
struct SimulatedSounder {
    SounderProfile profile;
    double chirpTime = 0;
    std::vector<PropagationMode> modes;
};

// Butterworth high-pass and low-pass of the same order in cascade: the receiver's passband.
class PassbandFilter {
public:
    static constexpr int kOrderPerEdge = 3; // sixth order in all

    PassbandFilter(double sampleRate, double lowHz = kPassLowHz, double highHz = kPassHighHz);

    float Process(double x);
    double GainAt(double hz) const;
    double GroupDelayAt(double hz) const; // seconds
    // Group delay averaged over the passband, weighted by the power that passes: the constant
    // delay the filter adds to every mode, which the ionogram's audio delay calibrates out.
    double MeanGroupDelay() const;

private:
    struct Section {
        double b[3];
        double a[3]; // a[0] == 1
        double z1 = 0;
        double z2 = 0;
    };
    void AddSection(const double analogB[3], const double analogA[3]);

    double sampleRate;
    double lowHz;
    double highHz;
    std::vector<Section> sections;
};

// A sky drawn elsewhere (see realisticsky.h): the main sounder's rays at a dial frequency, and
// what else the receiver hears there (programme audio), added before the receiver's passband.
class SkyModel {
public:
    virtual ~SkyModel() = default;
    virtual std::vector<LayerRay> Rays(double dialKhz) const = 0;
    // Adds to x[k] the audio at firstSampleTime + k * sampleInterval; whiteRms is the noise's.
    virtual void AddAudio(double dialKhz, double firstSampleTime, double sampleInterval,
                          double whiteRms, std::span<double> x) const = 0;
};

class SimulatedIonosphere {
public:
    struct Settings {
        double sampleRate = 48000;
        SounderProfile profile;
        double chirpTime = 0;
        double noiseRms = 0; // RMS of the noise within the passband, 1 = full scale
        std::vector<PropagationMode> modes;
        // Modes reflected by a layer: their rays' delays and amplitudes follow the dial.
        std::vector<IonosphericLayer> layers;
        std::uint32_t seed = 1;
        std::vector<SimulatedSounder> otherSounders;
        std::vector<Interferer> interferers;
        std::shared_ptr<const SkyModel> sky;
    };

    explicit SimulatedIonosphere(Settings settings);

    // The next out.size() samples of the audio with the radio tuned to dialKhz. Sample k is
    // taken at firstSampleTime + k * sampleInterval on the sounder's clock (seconds; the
    // sounder's periods are counted from 0, so seconds since midnight UTC or since the epoch).
    void Generate(double dialKhz, double firstSampleTime, double sampleInterval,
                  std::span<float> out);

    const Settings& Config() const { return settings; }
    // The fixed modes heard from the next block on.
    void SetModes(std::vector<PropagationMode> modes) { settings.modes = std::move(modes); }
    const PassbandFilter& Filter() const { return filter; }

private:
    struct Tone {
        double start; // seconds after the first sample at which the tone leaves 0 Hz
        double rate;  // Hz/s
        double amplitude;
        double phase;
    };
    // The tones of one sounder's modes heard during the block.
    void AddTones(const SimulatedSounder& sounder, double dialKhz, double firstSampleTime,
                  double blockSpan, std::vector<Tone>* tones) const;
    double Interference(double time, double sampleInterval);

    Settings settings;
    PassbandFilter filter;
    std::mt19937 random;
    std::normal_distribution<double> gauss;
    double whiteRms;
    double fadeStartHz;
    double fadeEndHz;
    std::vector<BandSignal> bandSignals; // of the interferers, kept between blocks
};

} // namespace ionogram
