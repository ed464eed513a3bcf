#include "options.h"

#include "core/decimal.h"
#include "core/units.h"

#include <charconv>
#include <cstdio>
#include <limits>
#include <string_view>
#include <tuple>

namespace {

constexpr int kNumberText = 64;
constexpr int kMaxMilliseconds = int(units::kSecondsPerDay * units::kMillisecondsPerSecond);

template <typename T> bool ParseWhole(std::string_view text, int base, T* value) {
    if (text.empty()) {
        return false;
    }
    T parsed{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed, base);
    if (error != std::errc() || end != text.data() + text.size()) {
        return false;
    }
    *value = parsed;
    return true;
}

} // namespace

bool ParseHexByte(const std::string& text, std::uint8_t* value) {
    std::string_view digits = text;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
    }
    unsigned parsed = 0;
    if (digits.empty() || digits.size() > 2 || !ParseWhole(digits, 16, &parsed)) {
        return false;
    }
    *value = static_cast<std::uint8_t>(parsed);
    return true;
}

bool ParseFrequency(const std::string& text, std::int32_t* value) {
    std::int32_t parsed = 0;
    if (!ParseWhole(std::string_view(text), 10, &parsed) || parsed < 0) {
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseMilliseconds(const std::string& text, int* value) {
    int parsed = 0;
    if (!ParseWhole(std::string_view(text), 10, &parsed) || parsed < 0 ||
        parsed > kMaxMilliseconds) {
        return false;
    }
    *value = parsed;
    return true;
}

std::string ParseOptions(int argc, char** argv, SimOptions* options) {
    bool chirpGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool hasValue = false;
        if (const auto equals = name.find('='); name.starts_with("--") && equals != name.npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
            hasValue = true;
        }
        chirpGiven = chirpGiven || name == "--chirp";
        auto takeValue = [&]() -> bool {
            if (hasValue) {
                return true;
            }
            if (i + 1 >= argc) {
                return false;
            }
            value = argv[++i];
            return true;
        };
        // Switches: the option sets the field to the value given here.
        const std::tuple<const char*, bool*, bool> switches[] = {
            {"--no-echo", &options->echo, false},
            {"--silent", &options->silent, true},
            {"--transceive", &options->transceive, true},
            {"--garbage", &options->garbage, true},
            {"--exit-on-eof", &options->exitOnEof, true},
            {"--realtime-bus", &options->realtimeBus, true},
            {"--help", &options->help, true},
            {"-h", &options->help, true},
        };
        bool isSwitch = false;
        for (const auto& [switchName, field, setting] : switches) {
            if (name == switchName) {
                if (hasValue) {
                    return "option " + name + " takes no value";
                }
                *field = setting;
                isSwitch = true;
            }
        }

        if (isSwitch) {
            continue;
        }
        if (name == "--address") {
            if (!takeValue() || !ParseHexByte(value, &options->address)) {
                return "--address needs a hexadecimal byte such as 4E, got \"" + value + "\"";
            }
        } else if (name == "--frequency") {
            if (!takeValue() || !ParseFrequency(value, &options->frequency)) {
                return "--frequency needs whole hertz from 0 to 2147483647, got \"" + value + "\"";
            }
        } else if (name == "--reply-delay") {
            if (!takeValue() || !ParseMilliseconds(value, &options->replyDelayMs)) {
                return "--reply-delay needs milliseconds, got \"" + value + "\"";
            }
        } else if (name == "--log") {
            if (!takeValue() || value.empty()) {
                return "--log needs a file name";
            }
            options->logPath = value;
        } else if (name == "--link") {
            if (!takeValue() || value.empty()) {
                return "--link needs a path";
            }
            options->linkPath = value;
        } else if (name == "--print-sweep-start") {
            // Its range is the period's (--period), checked once every option is read.
            const auto chirpTime = takeValue()
                                       ? ParseDecimal(QString::fromStdString(value), QLocale::c())
                                       : std::nullopt;
            if (!chirpTime) {
                return "--print-sweep-start needs a chirp time, got \"" + value + "\"";
            }
            options->sweepStartChirpTime = chirpTime;
        } else if (auto audio = ParseAudioOption(name, takeValue, value, &options->audio)) {
            if (!audio->empty()) {
                return *audio;
            }
        } else {
            return "unknown option \"" + std::string(argv[i]) + "\"";
        }
    }
    // A chirp time given lies within the period, whichever of the two came first.
    if (chirpGiven && options->audio.chirpTime >= options->audio.profile.period) {
        char text[kNumberText];
        std::snprintf(text, sizeof text, "%g s), got %g", options->audio.profile.period,
                      options->audio.chirpTime);
        return std::string("--chirp needs seconds from 0 to below the period (") + text;
    }
    return {};
}

std::string HelpText() {
    return R"(Usage: tavmirok-radiosim [options]

A simulated Icom transceiver on a CI-V bus, for trying out and testing CI-V controllers
without a radio. It opens a pseudo-terminal, prints its device path (for example /dev/pts/5)
as the first line on standard output, and behaves on it like a radio on a CI-V bus: open that
path as a serial port (any speed, 8N1) in the controller.

On the bus
  - Every byte received is sent back at once, as a CI-V bus returns a station's own bytes.
  - Set frequency (05 + 5 or 4 BCD bytes) to the radio's address is carried out and answered
    FE FE <sender> <radio> FB FD; to the broadcast address 00 it is carried out, unanswered.
  - Answers go to the sender: the source address of the frame being answered.
  - Read frequency (03) is answered FE FE <sender> <radio> 03 <5 BCD> FD.
  - For Hamlib (rigctl -m 3073 -r <path> -C civaddr=0x4E): 25 00/01 read and set the selected
    and unselected VFO frequency, 07 is accepted (FB), 0F reads (0F 00) or sets split,
    26 00 reads or sets the mode (starts as 26 00 01 00 01: USB, data off, FIL1), 1A 03 reads
    or sets the filter width (starts as 1A 03 34).
  - Any other command to the radio's address, and a frequency that is not decimal BCD or is
    above 2147483647 Hz, is answered NG: FE FE <sender> <radio> FA FD.
  - Frames to other addresses are ignored. Bytes outside frames are ignored; a frame ends at
    FD and a new FE FE ends an unfinished one. No byte sequence upsets the radio.

Options
  --address HEX       the radio's CI-V address (default 4E; 0x4E is also accepted)
  --frequency HZ      starting frequency in hertz (default 14074000)
  --no-echo           do not send received bytes back (a line without bus echo)
  --silent            neither echo nor answer nor follow anything: a dead line
  --transceive        after every accepted frequency set, also send the report
                      FE FE 00 <radio> 00 <5 BCD> FD to the broadcast address
  --garbage           after the echo of each frame received, send the stray bytes 13 FD 00 FF
                      and a cut-off frequency report FE FE 00 <radio> 00 00 40 (see below)
  --reply-delay MS    wait MS milliseconds before each answer (the echo is never delayed)
  --log FILE          append one line per piece of traffic received (format below)
  --link PATH         keep a symlink PATH pointing to the current pseudo-terminal; it is
                      replaced in one step when the device changes and removed while there is
                      none. The first output line is still the real device path, not PATH.
  --exit-on-eof       quit when standard input ends (by default the radio keeps running, so
                      it can be started in the background with no input)
  --realtime-bus      serve the bus at a real-time priority where the system allows it, as a
                      radio's own processor reads its serial line whatever the computer does;
                      for timing benchmarks (the audio is still made at the ordinary priority)
  --print-sweep-start CHIRP
                      print when the next sweep of chirp time CHIRP (seconds from 0 to below
                      the period, --period: 0 to 299 for 300 s, fractions allowed) takes its
                      first step, as Tavmirok computes it when Start is pressed now, and exit
                      without opening a device. One line: the seconds from now and the UTC
                      time of day in seconds since midnight, "20.500 43220.500". Scripts use
                      it instead of redoing the arithmetic.
  -h, --help          show this text

Control commands (one per line on standard input; each is answered with one line on standard
output that begins with "ok" or "error")
  silent on|off       dead line on or off (as --silent)
  echo on|off         bus echo on or off
  transceive on|off   transceive reports on or off
  garbage on|off      stray bytes and a cut-off frame after each echo on or off
  frequency HZ        change the radio's frequency, as if turned at the knob; sends a
                      transceive report when transceive is on
  send HEX BYTES      put bytes on the bus towards the controller, e.g. send FE FE 4D 4E FB
                      (blanks optional); sent even when silent
  vanish MS           the device goes away: the pseudo-terminal is closed (a program holding
                      it gets end of file or an I/O error) and the link removed; after MS
                      milliseconds a new pseudo-terminal is opened and the link pointed at it.
                      The answer comes then: "ok reopened /dev/pts/N". Other commands are
                      answered meanwhile; "send" fails while there is no device.
  modes on|off        the fixed modes (--mode) heard or not, from the next audio block on
  audio-advance MS    from the next audio block on, the audio is what the sky gives MS
                      later: every delay comes out MS shorter (negative: longer); with --audio,
                      -1000 to 1000 (a test takes a capture path's measured delay off with it)
  status              one line: frequency, address, switches, frames received, device
  help                lists the commands
  quit                ends the program ("ok bye")
While silent, the radio also sends no transceive reports.

Signals: SIGTERM and SIGINT end the program cleanly (the link is removed); SIGUSR1 does
"vanish 2000" (its answer line appears on standard output like the command's).

Log format (--log): one line per frame received, flushed at once:
  36098.500 FE FE 4E 4D 05 00 00 10 02 00 FD
the UTC time of day in seconds since midnight with milliseconds, a blank and the frame's
bytes in upper-case hex. Bytes that belong to no frame are logged as one line per run
("36098.512 stray 13 0A"), and a frame ended by a new preamble before its FD, or left
unfinished when the device goes away, as "36098.520 cut FE FE 4E 4D 05 00". Nothing the
radio itself sends is logged.

Exit status: 0 after quit, a signal or end of input; 1 when the pseudo-terminal, the link, the
log or the audio file cannot be made; 2 for a bad command line.
)" + AudioHelpText();
}
