#pragma once

// What the simulated radio hears: the chirp sounder's timing, the propagation modes, the noise
// and the sound card's clock error, read from the command line, and the help text for them.

#include "simulation/simulatedionosphere.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct AudioOptions {
    static constexpr double kDefaultChirpTime = 78;
    static constexpr double kDefaultNoiseRms = 0.01;

    std::string path; // where the audio goes; empty: no audio
    double ppm = 0;   // the card's sample clock is this far fast (negative: slow)
    double chirpTime = kDefaultChirpTime;
    ionogram::SounderProfile profile;
    double noiseRms = kDefaultNoiseRms;
    std::vector<ionogram::PropagationMode> modes;
    std::vector<ionogram::IonosphericLayer> layers;
    std::vector<ionogram::SimulatedSounder> sounders; // heard besides the one above
    std::vector<ionogram::Interferer> carriers;
    bool longPathSky = false; // the realistic sky preset (realisticsky.h) besides the above
};

// Reads "DELAY_MS:LOW-HIGH:STRENGTH" such as "3.2:2000-9000:0.5" (kHz, amplitude 0..1).
bool ParseMode(const std::string& text, ionogram::PropagationMode* mode);

// Reads "FC_KHZ:PEAK_KM:THICKNESS_KM:RANGE_KM:HOPS:STRENGTH" such as
// "6000:300:100:1500:1:0.1": a mode reflected by a parabolic layer.
bool ParseLayer(const std::string& text, ionogram::IonosphericLayer* layer);

// Reads "RATE:PERIOD:CHIRP:DELAY_MS:STRENGTH" such as "500:60:54:3:0.05": a sounder sweeping
// 2 to 30 MHz heard by one mode over all of it.
bool ParseSounder(const std::string& text, ionogram::SimulatedSounder* sounder);

// Reads "HZ:STRENGTH" or "HZ:STRENGTH:KEYING" with KEYING steady, cw or rtty.
bool ParseCarrier(const std::string& text, ionogram::Interferer* carrier);

// Takes one option if it is an audio option: nothing when it is not, an empty string when it
// was read, or a message naming the bad value. takeValue fetches the value into `value`.
std::optional<std::string> ParseAudioOption(const std::string& name,
                                            const std::function<bool()>& takeValue,
                                            const std::string& value, AudioOptions* options);

std::string AudioHelpText();
