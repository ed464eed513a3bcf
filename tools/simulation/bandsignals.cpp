#include "simulation/bandsignals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ionogram {

namespace {

constexpr double kKeyingEdgeSeconds = 0.005; // a keyed carrier's rise, fall or shift
constexpr double kDotsPerWord = 50;          // PARIS with its word gap
constexpr double kSecondsPerMinute = 60;
constexpr int kMorseCharacters = 400; // of the random text, repeated
constexpr int kLongestCharacter = 5;  // dots and dashes in one character
constexpr int kCharactersPerWord = 5;
// Speech: syllables in slots of kSyllableSeconds, talk spurts of kSpurtSeconds, of which one in
// kPauseEvery is a pause; the noise through a band-pass kSpeechQ wide.
constexpr double kSyllableSeconds = 0.18;
constexpr double kSpurtSeconds = 2.5;
constexpr std::uint64_t kPauseEvery = 4;
constexpr double kSpeechQ = 0.7;
constexpr int kGainSamples = 4096; // of the band-pass's impulse response, for its noise gain

std::uint64_t Hash(std::uint32_t seed, std::size_t which, double index, std::uint64_t salt = 0) {
    std::uint64_t x = std::uint64_t(std::int64_t(index)) * 0x9E3779B97F4A7C15ULL ^
                      (std::uint64_t(which + 1) << 32) ^ seed ^ (salt << 48);
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    return x;
}

} // namespace

double MorseDotSeconds(double wordsPerMinute) {
    return kSecondsPerMinute / (kDotsPerWord * wordsPerMinute);
}

double AmplitudeOverNoise(double noiseRms, double db) {
    return noiseRms * std::sqrt(2 * std::pow(10, db / 10));
}

BandSignal::BandSignal(const Interferer& interferer, std::uint32_t seed, std::size_t which)
    : source(interferer), seed(seed), which(which), random(seed + 7919 * std::uint32_t(which)) {
    if (source.keying != Interferer::Keying::OnOff) {
        return;
    }
    // Random characters of one to five dots (on 1) or dashes (on 3), a dot's gap between
    // them, three between characters and seven between words.
    for (int c = 0; c < kMorseCharacters; ++c) {
        const std::uint64_t h = Hash(seed, which, c, 1);
        const int symbols = 1 + int(h % kLongestCharacter);
        for (int s = 0; s < symbols; ++s) {
            const int on = ((h >> (8 + s)) & 1) != 0 ? 3 : 1;
            morse.insert(morse.end(), on, true);
            morse.push_back(false);
        }
        morse.insert(morse.end(), (c + 1) % kCharactersPerWord == 0 ? 6 : 2, false);
    }
}

bool BandSignal::Keyed(double element) const {
    return (Hash(seed, which, element) & 1) != 0;
}

bool BandSignal::MorseOn(double element) const {
    const auto n = std::int64_t(morse.size());
    return morse[std::size_t(((std::int64_t(element) % n) + n) % n)];
}

double BandSignal::Eased(double time, bool (BandSignal::*keyed)(double) const) const {
    const double element = std::floor(time / source.elementSeconds);
    const double now = (this->*keyed)(element) ? 1 : 0;
    const double before = (this->*keyed)(element - 1) ? 1 : 0;
    const double into = time - element * source.elementSeconds;
    const double edge = std::min(kKeyingEdgeSeconds, source.elementSeconds / 2);
    return into >= edge
               ? now
               : before + (now - before) * 0.5 * (1 - std::cos(std::numbers::pi * into / edge));
}

double BandSignal::Speech(double time, double sampleInterval) {
    if (sampleInterval != designedFor) {
        // A band-pass biquad (constant peak gain) around hz; its noise gain from its impulse
        // response, so that the syllables have the power asked for.
        designedFor = sampleInterval;
        const double w = 2 * std::numbers::pi * source.hz * sampleInterval;
        const double alpha = std::sin(w) / (2 * kSpeechQ);
        const double a0 = 1 + alpha;
        b[0] = alpha / a0;
        b[1] = 0;
        b[2] = -alpha / a0;
        a[1] = -2 * std::cos(w) / a0;
        a[2] = (1 - alpha) / a0;
        double y1 = 0, y2 = 0, energy = 0;
        for (int n = 0; n < kGainSamples; ++n) {
            const double x = n == 0 ? 1 : 0;
            const double x2 = n == 2 ? 1 : 0;
            const double y = b[0] * x + b[2] * x2 - a[1] * y1 - a[2] * y2;
            energy += y * y;
            y2 = y1;
            y1 = y;
        }
        noiseGain = std::sqrt(energy);
        z1 = z2 = 0;
    }
    const double x = gauss(random);
    const double y = b[0] * x + z1;
    z1 = b[1] * x - a[1] * y + z2;
    z2 = b[2] * x - a[2] * y;
    const double slot = std::floor(time / kSyllableSeconds);
    const std::uint64_t h = Hash(seed, which, slot, 2);
    // A spurt starts and ends between syllables (at the start of the syllable's slot): cut off
    // in the middle of one, the noise would stop with a click no talker makes.
    const double spurt = std::floor(slot * kSyllableSeconds / kSpurtSeconds + 1e-9);
    const bool talking = Hash(seed, which, spurt, 3) % kPauseEvery != 0;
    if (!talking || (h & 3) == 0) {
        return 0;
    }
    const double level = 0.5 + 0.5 * double((h >> 2) & 0xff) / 255;
    const double envelope =
        std::pow(std::sin(std::numbers::pi * (time / kSyllableSeconds - slot)), 2);
    return source.amplitude / std::sqrt(2) * level * envelope * y / noiseGain;
}

double BandSignal::Next(double time, double sampleInterval) {
    double hz = source.hz;
    double level = 1;
    switch (source.keying) {
    case Interferer::Keying::Steady:
        break;
    case Interferer::Keying::OnOff:
        level = Eased(time, &BandSignal::MorseOn);
        break;
    case Interferer::Keying::Shift:
        hz += source.shiftHz * Eased(time, &BandSignal::Keyed);
        break;
    case Interferer::Keying::Psk: {
        // Each symbol's sign at random; a reversal passes through zero with a cosine over the
        // whole symbol, as PSK31 shapes it.
        const double symbol = std::floor(time / source.elementSeconds);
        const double now = Keyed(symbol) ? 1 : -1;
        const double before = Keyed(symbol - 1) ? 1 : -1;
        const double c = std::cos(std::numbers::pi * (time / source.elementSeconds - symbol));
        level = before * (1 + c) / 2 + now * (1 - c) / 2;
        break;
    }
    case Interferer::Keying::Speech:
        return Speech(time, sampleInterval);
    }
    const double x = source.amplitude * level * std::cos(phase);
    phase = std::fmod(phase + 2 * std::numbers::pi * hz * sampleInterval, 2 * std::numbers::pi);
    return x;
}

} // namespace ionogram
