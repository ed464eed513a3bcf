#pragma once

// The signals that share a ham band with the sounders, as a receiver in USB hears them: steady
// carriers, Morse keyed on and off with shaped edges, RTTY shifted between two tones, PSK-like
// phase reversals and SSB speech-like noise in syllables. Keying follows the time alone (a hash
// of the element's index), so audio generated in pieces keys the same.

#include <cstdint>
#include <random>
#include <vector>

namespace ionogram {

// Interference that does not sweep. `amplitude` is the peak of its tone (1 = full scale); a
// speech-like signal has the power of such a tone while a syllable is at its loudest.
struct Interferer {
    enum class Keying { Steady, OnOff, Shift, Psk, Speech };
    static constexpr double kDefaultElementSeconds = 0.06; // a Morse dot at 20 words per minute
    static constexpr double kDefaultShiftHz = 170;

    double hz = 0; // the tone, the lower RTTY tone, or the middle of the speech's spectrum
    double amplitude = 0;
    Keying keying = Keying::Steady;
    double elementSeconds = kDefaultElementSeconds; // Morse dot, RTTY or PSK symbol
    double shiftHz = kDefaultShiftHz;               // the upper RTTY tone lies this far above hz
};

// Seconds of a Morse dot at a speed in words per minute (PARIS: 50 dots a word).
double MorseDotSeconds(double wordsPerMinute);
// The peak amplitude of a tone whose power stands `db` over noise of RMS `noiseRms`.
double AmplitudeOverNoise(double noiseRms, double db);

// One interferer's audio, sample after sample.
class BandSignal {
public:
    BandSignal(const Interferer& interferer, std::uint32_t seed, std::size_t which);

    // The sample at `time` (epoch seconds); calls come in time order, sampleInterval apart.
    double Next(double time, double sampleInterval);

private:
    bool Keyed(double element) const;
    bool MorseOn(double element) const;
    // The keying (0 or 1) eased from the last element's into this one's with a raised cosine.
    double Eased(double time, bool (BandSignal::*keyed)(double) const) const;
    double Speech(double time, double sampleInterval);

    Interferer source;
    std::uint32_t seed;
    std::size_t which;
    std::vector<bool> morse; // the on-off pattern of a long random text, in dots, repeated
    double phase = 0;        // radians
    // Speech: noise through a band-pass biquad made for the sample interval in use.
    std::mt19937 random;
    std::normal_distribution<double> gauss;
    double designedFor = 0;
    double b[3] = {0, 0, 0};
    double a[3] = {1, 0, 0};
    double z1 = 0;
    double z2 = 0;
    double noiseGain = 1;
};

} // namespace ionogram
