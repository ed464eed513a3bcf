#include "ionosphere.h"

#include <charconv>
#include <cmath>

namespace {

constexpr double kMaxPpm = 10000;

bool ParseDouble(std::string_view text, double* value) {
    double parsed = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(parsed)) {
        return false;
    }
    *value = parsed;
    return true;
}

} // namespace

bool ParseMode(const std::string& text, ionogram::PropagationMode* mode) {
    const auto colon1 = text.find(':');
    const auto colon2 = text.find(':', colon1 == text.npos ? colon1 : colon1 + 1);
    const auto dash = text.find('-', colon1 == text.npos ? colon1 : colon1 + 1);
    if (colon1 == text.npos || colon2 == text.npos || dash == text.npos || dash > colon2) {
        return false;
    }
    const std::string_view all(text);
    ionogram::PropagationMode parsed;
    if (!ParseDouble(all.substr(0, colon1), &parsed.delayMs) ||
        !ParseDouble(all.substr(colon1 + 1, dash - colon1 - 1), &parsed.lowKhz) ||
        !ParseDouble(all.substr(dash + 1, colon2 - dash - 1), &parsed.highKhz) ||
        !ParseDouble(all.substr(colon2 + 1), &parsed.amplitude)) {
        return false;
    }
    if (parsed.delayMs < 0 || parsed.lowKhz > parsed.highKhz || parsed.amplitude < 0 ||
        parsed.amplitude > 1) {
        return false;
    }
    *mode = parsed;
    return true;
}

bool ParseLayer(const std::string& text, ionogram::IonosphericLayer* layer) {
    constexpr int kFields = 6;
    double values[kFields] = {};
    std::string_view rest(text);
    for (int i = 0; i < kFields; ++i) {
        const auto colon = rest.find(':');
        if ((colon == rest.npos) != (i == kFields - 1) ||
            !ParseDouble(rest.substr(0, colon), &values[i])) {
            return false;
        }
        rest = colon == rest.npos ? std::string_view() : rest.substr(colon + 1);
    }
    const auto [critical, peak, thickness, range, hops, strength] = values;
    if (critical <= 0 || thickness <= 0 || peak <= thickness || range <= 0 || hops < 1 ||
        hops != std::floor(hops) || strength < 0 || strength > 1) {
        return false;
    }
    *layer = {critical, peak, thickness, range, int(hops), strength};
    return true;
}

std::optional<std::string> ParseAudioOption(const std::string& name,
                                            const std::function<bool()>& takeValue,
                                            const std::string& value, AudioOptions* options) {
    // Numbers: option, field, lowest and highest value, what it is.
    struct Number {
        const char* name;
        double* field;
        double low;
        double high;
        const char* what;
    };
    ionogram::SounderProfile& profile = options->profile;
    const Number numbers[] = {
        {"--audio-ppm", &options->ppm, -kMaxPpm, kMaxPpm, "parts per million"},
        {"--chirp", &options->chirpTime, 0, 299.999, "seconds from 0 to 299"},
        {"--sweep-rate", &profile.sweepRate, 1, 10000, "kHz per second"},
        {"--step", &profile.stepSize, 1, 10000, "kHz"},
        {"--low", &profile.lowFrequency, 0, 1e6, "kHz"},
        {"--high", &profile.highFrequency, 0, 1e6, "kHz"},
        {"--period", &profile.period, 1, 86400, "seconds"},
        {"--noise", &options->noiseRms, 0, 1, "an RMS level from 0 to 1"},
    };
    for (const Number& number : numbers) {
        if (name == number.name) {
            double parsed = 0;
            if (!takeValue() || !ParseDouble(value, &parsed) || parsed < number.low ||
                parsed > number.high) {
                return name + " needs " + number.what + ", got \"" + value + "\"";
            }
            *number.field = parsed;
            return std::string();
        }
    }
    if (name == "--audio") {
        if (!takeValue() || value.empty()) {
            return std::string("--audio needs a file or FIFO path");
        }
        options->path = value;
        return std::string();
    }
    if (name == "--mode") {
        ionogram::PropagationMode mode;
        if (!takeValue() || !ParseMode(value, &mode)) {
            return "--mode needs DELAY_MS:LOW_KHZ-HIGH_KHZ:STRENGTH such as 3.2:2000-9000:0.5, "
                   "got \"" +
                   value + "\"";
        }
        options->modes.push_back(mode);
        return std::string();
    }
    if (name == "--layer") {
        ionogram::IonosphericLayer layer;
        if (!takeValue() || !ParseLayer(value, &layer)) {
            return "--layer needs FC_KHZ:PEAK_KM:THICKNESS_KM:RANGE_KM:HOPS:STRENGTH such as "
                   "6000:300:100:1500:1:0.1, got \"" +
                   value + "\"";
        }
        options->layers.push_back(layer);
        return std::string();
    }
    return std::nullopt;
}

std::string AudioHelpText() {
    return R"(
Audio (the receiver's USB audio with a chirp sounder heard through a simulated ionosphere)
  --audio PATH        write the audio to PATH: 48000 Hz, signed 16-bit little-endian, mono,
                      in real time, each 20 ms block at the moment its last sample is due. A
                      FIFO (e.g. one made by PulseAudio's module-pipe-source) is written while
                      a reader has it open; blocks it cannot take are dropped, as a sound card
                      overruns. Any other path is created or truncated as a plain file.
  --audio-ppm N       the sound card's sample clock runs N parts per million fast (negative:
                      slow) against the computer's clock (default 0)
  --chirp SECONDS     the sounder's chirp time: its sweep passes F kHz at SECONDS + F / rate
                      after each period's start, periods counted from midnight UTC (default 78)
  --sweep-rate KHZ    sweep rate in kHz per second (default 100)
  --step KHZ          the tuning step (default 100)
  --low KHZ, --high KHZ  the band the sounder sweeps (default 2000 to 30000)
  --period SECONDS    the sounder's repetition period (default 300)
  --noise RMS         noise within the 300-2700 Hz passband, RMS with 1 as full scale
                      (default 0.01)
  --mode DELAY:LOW-HIGH:STRENGTH
                      a propagation mode: group delay in ms, the band in kHz where it exists
                      and its peak amplitude (1 = full scale), e.g. 3.2:2000-9000:0.5;
                      repeat for more modes. The radio hears the sweep at the frequency it is
                      tuned to, as a tone rising from 0 Hz through a sixth-order Butterworth
                      300-2700 Hz passband (about 0.3 ms of delay of its own).
  --layer FC:PEAK:THICKNESS:RANGE:HOPS:STRENGTH
                      a mode reflected by a parabolic layer: critical frequency in kHz, peak
                      height and semi-thickness in km, ground range of the path in km, number
                      of hops and the low ray's amplitude, e.g. 6000:300:100:1500:1:0.1 (MOF
                      13.47 MHz, least delay 5.18 ms). Its low ray and, above the critical
                      frequency, its weaker high ray meet at the MOF; nothing passes above it.
)";
}
