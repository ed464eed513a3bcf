#include "ionosphere.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <vector>

namespace {

constexpr double kMaxPpm = 10000;
constexpr double kHighestCarrierHz = 20000;
constexpr double kRttyBaud = 45.45;
constexpr double kPskBaud = 31.25;
constexpr double kMorseWpm = 20;
constexpr double kSlowestWpm = 5;
constexpr double kFastestWpm = 60;
constexpr double kSlowestBaud = 10;
constexpr double kFastestBaud = 300;

std::vector<std::string_view> Fields(std::string_view text) {
    std::vector<std::string_view> fields;
    for (std::size_t from = 0;;) {
        const auto colon = text.find(':', from);
        fields.push_back(text.substr(from, colon == text.npos ? text.npos : colon - from));
        if (colon == text.npos) {
            return fields;
        }
        from = colon + 1;
    }
}

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

bool ParseSounder(const std::string& text, ionogram::SimulatedSounder* sounder) {
    const auto fields = Fields(text);
    ionogram::SimulatedSounder parsed;
    ionogram::PropagationMode mode;
    if (fields.size() != 5 || !ParseDouble(fields[0], &parsed.profile.sweepRate) ||
        !ParseDouble(fields[1], &parsed.profile.period) ||
        !ParseDouble(fields[2], &parsed.chirpTime) || !ParseDouble(fields[3], &mode.delayMs) ||
        !ParseDouble(fields[4], &mode.amplitude)) {
        return false;
    }
    if (parsed.profile.sweepRate < 1 || parsed.profile.sweepRate > 10000 ||
        parsed.profile.period < 1 || parsed.profile.period > 86400 || parsed.chirpTime < 0 ||
        parsed.chirpTime >= parsed.profile.period || mode.delayMs < 0 || mode.amplitude < 0 ||
        mode.amplitude > 1) {
        return false;
    }
    mode.lowKhz = parsed.profile.lowFrequency;
    mode.highKhz = parsed.profile.highFrequency;
    parsed.modes.push_back(mode);
    *sounder = parsed;
    return true;
}

bool ParseCarrier(const std::string& text, ionogram::Interferer* carrier) {
    const auto fields = Fields(text);
    ionogram::Interferer parsed;
    if (fields.size() < 2 || fields.size() > 4 || !ParseDouble(fields[0], &parsed.hz) ||
        !ParseDouble(fields[1], &parsed.amplitude) || parsed.hz <= 0 ||
        parsed.hz > kHighestCarrierHz || parsed.amplitude < 0 || parsed.amplitude > 1) {
        return false;
    }
    const std::string_view keying = fields.size() >= 3 ? fields[2] : "steady";
    // The speed: words per minute of Morse, baud of RTTY.
    double speed = 0;
    if (fields.size() == 4 && !ParseDouble(fields[3], &speed)) {
        return false;
    }
    using Keying = ionogram::Interferer::Keying;
    if (keying == "cw") {
        speed = speed > 0 ? speed : kMorseWpm;
        parsed.keying = Keying::OnOff;
        parsed.elementSeconds = ionogram::MorseDotSeconds(speed);
        if (speed < kSlowestWpm || speed > kFastestWpm) {
            return false;
        }
    } else if (keying == "rtty") {
        speed = speed > 0 ? speed : kRttyBaud;
        parsed.keying = Keying::Shift;
        parsed.elementSeconds = 1 / speed;
        if (speed < kSlowestBaud || speed > kFastestBaud) {
            return false;
        }
    } else if (keying == "psk" && fields.size() == 3) {
        parsed.keying = Keying::Psk;
        parsed.elementSeconds = 1 / kPskBaud;
    } else if (keying == "ssb" && fields.size() == 3) {
        parsed.keying = Keying::Speech;
    } else if (keying != "steady" || fields.size() == 4) {
        return false;
    }
    *carrier = parsed;
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
        // Its upper bound is the period's, checked once every option is read.
        {"--chirp", &options->chirpTime, 0, 86400, "seconds from 0 to below the period"},
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
    if (name == "--sky") {
        if (!takeValue() || value != "long-path") {
            return "--sky needs long-path, got \"" + value + "\"";
        }
        options->longPathSky = true;
        return std::string();
    }
    if (name == "--layer" || name == "--sphere-layer") {
        ionogram::IonosphericLayer layer;
        if (!takeValue() || !ParseLayer(value, &layer)) {
            return name.substr(2) +
                   " needs FC_KHZ:PEAK_KM:THICKNESS_KM:RANGE_KM:HOPS:STRENGTH such as "
                   "6000:300:100:1500:1:0.1, got \"" +
                   value + "\"";
        }
        layer.sphere = name == "--sphere-layer";
        options->layers.push_back(layer);
        return std::string();
    }
    if (name == "--sounder") {
        ionogram::SimulatedSounder sounder;
        if (!takeValue() || !ParseSounder(value, &sounder)) {
            return "--sounder needs RATE:PERIOD:CHIRP:DELAY_MS:STRENGTH such as "
                   "500:60:54:3:0.05 (the chirp time below the period), got \"" +
                   value + "\"";
        }
        options->sounders.push_back(sounder);
        return std::string();
    }
    if (name == "--sounder-mode") {
        ionogram::PropagationMode mode;
        if (!takeValue() || !ParseMode(value, &mode) || options->sounders.empty()) {
            return "--sounder-mode needs DELAY_MS:LOW_KHZ-HIGH_KHZ:STRENGTH after a --sounder, "
                   "got \"" +
                   value + "\"";
        }
        options->sounders.back().modes.push_back(mode);
        return std::string();
    }
    if (name == "--carrier") {
        ionogram::Interferer carrier;
        if (!takeValue() || !ParseCarrier(value, &carrier)) {
            return "--carrier needs HZ:STRENGTH or HZ:STRENGTH:steady|cw|rtty|psk|ssb, cw and "
                   "rtty with an optional speed, such as 1000:0.05:cw:25, got \"" +
                   value + "\"";
        }
        options->carriers.push_back(carrier);
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
                      a reader has it open; what it cannot take yet waits up to 10 s, and is
                      dropped beyond, as a sound card overruns. Any other path is created or
                      truncated as a plain file.
  --audio-ppm N       the sound card's sample clock runs N parts per million fast (negative:
                      slow) against the computer's clock (default 0)
  --chirp SECONDS     the sounder's chirp time: its sweep passes F kHz at SECONDS + F / rate
                      after each period's start, periods counted from midnight UTC; from 0 to
                      below the period (0 to 299 for 300 s, fractions allowed; default 78)
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
  --sphere-layer FC:PEAK:THICKNESS:RANGE:HOPS:STRENGTH
                      the same, its rays traced through a spherical quasi-parabolic layer over
                      a curved earth (6371 km); give 1F and 2F of one layer as two of these
                      with 1 and 2 hops, an E layer with a peak near 110 km
  --sky long-path      a sky of a 3000 km path: 1F, 2F and 3F 0.55 and 0.9 ms apart, each
                      weaker than the one below, O noses at 19.0, 10.3 and 7.7 MHz and X noses
                      650 kHz above, thick and fading; the sounder silent from 14 to 16 MHz;
                      the broadcast bands full of programme audio 30 dB over the noise
                      (scaled to --noise)
  --sounder RATE:PERIOD:CHIRP:DELAY_MS:STRENGTH
                      another sounder heard at the same time, e.g. 500:60:54:3:0.05: its sweep
                      rate in kHz/s, period and chirp time in seconds, sweeping 2 to 30 MHz,
                      heard by one mode of that delay and peak amplitude over all of it;
                      repeat for more sounders
  --sounder-mode DELAY:LOW-HIGH:STRENGTH
                      one more mode for the last --sounder, written as for --mode
  --carrier HZ:STRENGTH[:KEYING[:SPEED]]
                      interference at HZ of the audio with that peak amplitude, KEYING steady
                      (the default), cw (Morse at SPEED words per minute, 20 if not given),
                      rtty (shifted 170 Hz up and back at SPEED baud, 45.45 if not given),
                      psk (PSK31-like phase reversals) or ssb (speech-like noise in
                      syllables around HZ, as loud as a tone of that amplitude); keyed at
                      random with 5 ms edges; repeat for more
)";
}
