#include "station/headless.h"

#include "settings/ionogramstore.h"
#include "settings/rigstore.h"
#include "settings/sounderstore.h"

#include "core/version.h"
#include "link/civ.h"
#include "link/commport.h"
#include "link/radiolink.h"
#include "sweep/schedule.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/timex.h>
#include <unistd.h>

namespace headless {

namespace {

constexpr int kHexBase = 16;
constexpr long long kMillisecondsPerSecond = 1000;
constexpr long long kMillisecondsPerDay = 86400 * kMillisecondsPerSecond;
constexpr double kHertzPerMegahertz = 1e6;

QString Refusal(const Status& status) {
    return status.IsOk() ? QString() : status.Message();
}

// A number among the settings (settings.*Group).*Field: a value of the sounder's profile or of
// the ionogram. The profile is checked whole once all values are in.
template <auto Group, auto Field>
SettingOption NumberOption(const char* name, const char* unit, const char* description) {
    return {
        name,
        unit,
        description,
        [](const QString& value) {
            return sweep::ParseDecimal(value, QLocale())
                       ? QString()
                       : QStringLiteral("\"%1\" is not a number.").arg(value);
        },
        [](RunSettings& settings, const QString& value) {
            (settings.*Group).*Field = sweep::ParseDecimal(value, QLocale()).value_or(0);
        },
        [](const RunSettings& settings) { return sweep::FormatDecimal((settings.*Group).*Field); }};
}

std::optional<bool> YesNo(const QString& text) {
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("yes") || word == QLatin1String("true")) {
        return true;
    }
    if (word == QLatin1String("no") || word == QLatin1String("false")) {
        return false;
    }
    return std::nullopt;
}

const SettingOption kSettingOptions[] = {
    {"port", "PORT", "Serial port of the radio: a device path, or COM1 ... COM255.",
     [](const QString& value) {
         QString device;
         return Refusal(CommPort::ResolvePortName(value, &device));
     },
     [](RunSettings& settings, const QString& value) { settings.basic.comPort = value; },
     [](const RunSettings& settings) { return settings.basic.comPort; }},
    {"baud", "BITS", "Line speed in bit/s, such as 19200.",
     [](const QString& value) {
         qint32 bitsPerSecond = 0;
         return Refusal(CommPort::ParseBaudRate(value, &bitsPerSecond));
     },
     [](RunSettings& settings, const QString& value) { settings.basic.baudRate = value; },
     [](const RunSettings& settings) { return settings.basic.baudRate; }},
    {"address", "HEX", "The radio's CI-V address in hexadecimal, such as 94.",
     [](const QString& value) { return civ::ParseAddress(value).problem; },
     [](RunSettings& settings, const QString& value) {
         settings.basic.radioAdress = civ::ParseAddress(value).address.value_or(0);
     },
     [](const RunSettings& settings) {
         return QString::number(settings.basic.radioAdress, kHexBase).toUpper();
     }},
    {"chirp", "SECONDS",
     "The sounder's chirp time: the second of the period at which its sweep would pass 0 MHz, "
     "0 to 299 for a 300 s period (fractions allowed).",
     [](const QString& value) {
         // Its range is the period's, checked once the period is known.
         return sweep::ParseDecimal(value, QLocale()) ? QString() : sweep::ChirpTimeRefusal(value);
     },
     [](RunSettings& settings, const QString& value) { settings.basic.chirpTime = value; },
     [](const RunSettings& settings) { return settings.basic.chirpTime; }},
    NumberOption<&RunSettings::profile, &sweep::Profile::sweepRate>(
        "sweep-rate", "KHZ/S", "The sounder's sweep rate in kHz per second (100)."),
    NumberOption<&RunSettings::profile, &sweep::Profile::period>(
        "period", "SECONDS", "How often the sounder sweeps, in seconds (300)."),
    NumberOption<&RunSettings::profile, &sweep::Profile::lowFrequency>(
        "low", "KHZ", "Where the radio waits between sweeps, in kHz (2000)."),
    NumberOption<&RunSettings::profile, &sweep::Profile::highFrequency>(
        "high", "KHZ", "The highest step, in kHz (30000)."),
    NumberOption<&RunSettings::profile, &sweep::Profile::stepSize>("step", "KHZ",
                                                                   "The step, in kHz (100)."),
    {"rig", "BACKEND",
     "How to reach the radio: civ (the built-in CI-V link), network (rigctld's protocol) or "
     "hamlib (a Hamlib model on the serial port).",
     [](const QString& value) {
         RigChoice choice = rigconfig::DefaultRigChoice();
         choice.backend = value.trimmed();
         choice.model = 1; // the model is checked on its own
         return Refusal(rigconfig::ValidateRigChoice(choice));
     },
     [](RunSettings& settings, const QString& value) { settings.rig.backend = value.trimmed(); },
     [](const RunSettings& settings) { return settings.rig.backend; }},
    {"rig-address", "HOST:PORT", "rigctld's address for --rig network (localhost:4532).",
     [](const QString& value) {
         rigconfig::HostPort hostPort;
         return Refusal(rigconfig::ParseHostPort(value, &hostPort));
     },
     [](RunSettings& settings, const QString& value) { settings.rig.address = value.trimmed(); },
     [](const RunSettings& settings) { return settings.rig.address; }},
    {"model", "NUMBER", "Hamlib's model number for --rig hamlib (3073 is the IC-7300).",
     [](const QString& value) {
         bool ok = false;
         return value.trimmed().toInt(&ok) > 0 && ok
                    ? QString()
                    : QStringLiteral("\"%1\" is not a Hamlib model number; rigctl --list shows "
                                     "them.")
                          .arg(value);
     },
     [](RunSettings& settings, const QString& value) {
         settings.rig.model = value.trimmed().toInt();
     },
     [](const RunSettings& settings) { return QString::number(settings.rig.model); }},
    {"audio-input", "NAME",
     "The audio input that carries the radio's audio, as PulseAudio names it (pactl list short "
     "sources); \"\" records no ionogram.",
     [](const QString&) { return QString(); },
     [](RunSettings& settings, const QString& value) {
         settings.ionogram.audioInput = value.trimmed();
     },
     [](const RunSettings& settings) { return settings.ionogram.audioInput; }},
    NumberOption<&RunSettings::ionogram, &IonogramChoice::audioDelayMs>(
        "audio-delay", "MS", "The delay of the radio's and sound card's audio path, in ms (0)."),
    NumberOption<&RunSettings::ionogram, &IonogramChoice::delayFromMs>(
        "delay-from", "MS", "The ionogram's lowest delay, in ms (0)."),
    NumberOption<&RunSettings::ionogram, &IonogramChoice::delayToMs>(
        "delay-to", "MS", "The ionogram's highest delay, in ms (20)."),
    {"folder", "PATH", "Where each sweep's PNG and CSV are archived.",
     [](const QString&) { return QString(); },
     [](RunSettings& settings, const QString& value) { settings.ionogram.folder = value; },
     [](const RunSettings& settings) { return settings.ionogram.folder; }},
    {"save", "yes|no", "Whether each sweep's ionogram is archived (yes).",
     [](const QString& value) {
         return YesNo(value) ? QString()
                             : QStringLiteral("\"%1\" is neither yes nor no.").arg(value);
     },
     [](RunSettings& settings, const QString& value) {
         settings.ionogram.save = YesNo(value).value_or(true);
     },
     [](const RunSettings& settings) {
         return settings.ionogram.save ? QStringLiteral("yes") : QStringLiteral("no");
     }},
};

constexpr const char* kHeadless = "headless";
constexpr const char* kVerbose = "verbose";

QString OptionText(const char* name) {
    return QStringLiteral("--") + QLatin1String(name);
}

CommandLine Refused(const QString& reason) {
    CommandLine result;
    result.exitStatus = kExitRefused;
    result.output = QStringLiteral("tavmirok: %1\n").arg(reason);
    return result;
}

void WriteError(const QString& line) {
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

QString Megahertz(std::int32_t hz) {
    constexpr int kDecimals = 3;
    return QString::number(hz / kHertzPerMegahertz, 'f', kDecimals);
}

QString RadioName(const RigState& state) {
    return state.backend == QLatin1String("civ")
               ? QStringLiteral("radio at address %1").arg(state.radio)
               : QStringLiteral("radio %1").arg(state.radio);
}

QString SignalName(int signalNumber) {
    switch (signalNumber) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    default:
        return QStringLiteral("signal %1").arg(signalNumber);
    }
}

} // namespace

std::span<const SettingOption> SettingOptions() {
    return kSettingOptions;
}

bool Requested(int argc, const char* const* argv) {
    QStringList names{OptionText(kHeadless),        OptionText(kVerbose),
                      QStringLiteral("--help"),     QStringLiteral("-h"),
                      QStringLiteral("--help-all"), QStringLiteral("--version"),
                      QStringLiteral("-v")};
    for (const SettingOption& option : SettingOptions()) {
        names << OptionText(option.name);
    }
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]).section(QLatin1Char('='), 0, 0);
        if (names.contains(argument)) {
            return true;
        }
    }
    return false;
}

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tunes an Icom-style radio over CI-V so that it follows a chirp sounder's "
                       "sweep. Without options it opens its window. With --headless it runs "
                       "without one, from the stored settings, and logs to standard error; the "
                       "options below change a stored value for this run only and are never "
                       "saved."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption headlessOption(
        QLatin1String(kHeadless),
        QStringLiteral("Run without a window: open the port, start the sweep at once and follow "
                       "it until SIGINT or SIGTERM."));
    const QCommandLineOption verboseOption(QLatin1String(kVerbose),
                                           QStringLiteral("Log every step of the sweep."));
    parser.addOption(headlessOption);
    parser.addOption(verboseOption);
    std::vector<QCommandLineOption> settingOptions;
    for (const SettingOption& option : SettingOptions()) {
        settingOptions.emplace_back(QLatin1String(option.name),
                                    QString::fromLatin1(option.description),
                                    QLatin1String(option.valueName));
        parser.addOption(settingOptions.back());
    }

    if (!parser.parse(arguments)) {
        return Refused(parser.errorText() + QStringLiteral(" Try tavmirok --help."));
    }
    CommandLine result;
    if (parser.isSet(help)) {
        result.exitStatus = kExitOk;
        result.output = parser.helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.exitStatus = kExitOk;
        result.output = QStringLiteral("Tavmirok %1\n").arg(QLatin1String(tavmirok::kVersion));
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return Refused(QStringLiteral("\"%1\" is not an option. Try tavmirok --help.")
                           .arg(parser.positionalArguments().constFirst()));
    }
    result.headless = parser.isSet(headlessOption);
    result.verbose = parser.isSet(verboseOption);
    for (std::size_t i = 0; i < settingOptions.size(); ++i) {
        if (!parser.isSet(settingOptions[i])) {
            continue;
        }
        const SettingOption& option = SettingOptions()[i];
        const QString value = parser.value(settingOptions[i]);
        if (const QString refusal = option.check(value); !refusal.isEmpty()) {
            return Refused(QStringLiteral("%1: %2").arg(OptionText(option.name), refusal));
        }
        result.overrides.emplace_back(&option, value);
    }
    if (!result.headless && (result.verbose || !result.overrides.empty())) {
        return Refused(QStringLiteral("These options are for the run without a window: add %1.")
                           .arg(OptionText(kHeadless)));
    }
    return result;
}

QString ApplyOverrides(const CommandLine& commandLine, RunSettings* settings,
                       const QString& settingsLocation) {
    for (const auto& [option, value] : commandLine.overrides) {
        option->apply(*settings, value);
    }
    // Overrides were checked as they were read; a stored value may still be refused, and
    // without a window nobody could correct it. The profile, the chirp time within its period and
    // the way to the radio are checked whole.
    const auto refused = [&](const QString& refusal, const QString& options) {
        // A value given for this run is named as such; a stored one points at the file.
        for (const auto& [option, value] : commandLine.overrides) {
            if (options.contains(OptionText(option->name))) {
                return QStringLiteral("%1: %2").arg(OptionText(option->name), refusal);
            }
        }
        return QStringLiteral("The value stored in %1 is refused: %2 Give %3 for this run, or "
                              "correct the file.")
            .arg(settingsLocation, refusal, options);
    };
    for (const char* name : {"port", "baud", "address"}) {
        const auto option = std::find_if(SettingOptions().begin(), SettingOptions().end(),
                                         [name](const SettingOption& candidate) {
                                             return std::strcmp(candidate.name, name) == 0;
                                         });
        if (const QString refusal = option->check(option->current(*settings)); !refusal.isEmpty()) {
            return refused(refusal, OptionText(name));
        }
    }
    if (const Status valid = sweep::ValidateProfile(settings->profile); !valid.IsOk()) {
        return refused(valid.Message(), QStringLiteral("--sweep-rate, --period, --low, --high "
                                                       "and --step"));
    }
    const double period = settings->profile.period;
    if (!sweep::ParseChirpTime(settings->basic.chirpTime, QLocale(), period)) {
        return refused(sweep::ChirpTimeRefusal(settings->basic.chirpTime, period),
                       OptionText("chirp"));
    }
    if (const Status valid = rigconfig::ValidateRigChoice(settings->rig); !valid.IsOk()) {
        return refused(valid.Message(), QStringLiteral("--rig, --rig-address or --model"));
    }
    if (const QString refusal = IonogramRefusal(settings->ionogram); !refusal.isEmpty()) {
        return refused(refusal, QStringLiteral("--audio-delay, --delay-from, --delay-to, --folder "
                                               "or --save"));
    }
    return {};
}

ClockSync ClockSyncFrom(int result, int status) {
    if (result < 0) {
        return ClockSync::Unknown;
    }
    return result == TIME_ERROR || (status & STA_UNSYNC) != 0 ? ClockSync::Unsynchronised
                                                              : ClockSync::Synchronised;
}

ClockSync QueryClockSync() {
    timex reading{};
    reading.modes = 0; // read only
    const int result = ntp_adjtime(&reading);
    return ClockSyncFrom(result, reading.status);
}

QString LogLine(const QDateTime& utc, const QString& text) {
    QString line = utc.toUTC().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

QString TimeOfDay(double secondsSinceMidnight) {
    long long ms =
        std::llround(secondsSinceMidnight * kMillisecondsPerSecond) % kMillisecondsPerDay;
    if (ms < 0) {
        ms += kMillisecondsPerDay;
    }
    return QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms))
        .toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString ClockSyncText(ClockSync sync) {
    switch (sync) {
    case ClockSync::Synchronised:
        return QStringLiteral("clock: synchronised");
    case ClockSync::Unsynchronised:
        return QStringLiteral("clock: NOT synchronised; the steps are only as right as the clock. "
                              "Check \"timedatectl\" (System clock synchronized: yes).");
    case ClockSync::Unknown:
        break;
    }
    return QStringLiteral("clock: whether it is synchronised cannot be read");
}

QString PortText(const RigState& state) {
    if (state.connected) {
        return state.speed.isEmpty()
                   ? QStringLiteral("port %1: open").arg(state.endpoint)
                   : QStringLiteral("port %1 at %2 bit/s: open").arg(state.endpoint, state.speed);
    }
    if (state.reconnecting) {
        return QStringLiteral("port %1: gone, trying again").arg(state.endpoint);
    }
    if (!state.problem.isEmpty()) {
        return QStringLiteral("port %1: not open: %2").arg(state.endpoint, state.problem);
    }
    return QStringLiteral("port %1: closed").arg(state.endpoint);
}

QString RadioText(const RigState& state) {
    if (state.refusing) {
        return RadioName(state) + QStringLiteral(": refuses commands (NG)");
    }
    return RadioName(state) +
           (state.answering ? QStringLiteral(": answering") : QStringLiteral(": not answering"));
}

QStringList RigChanges(const RigState& before, const RigState& after) {
    QStringList lines;
    for (const auto text : {&PortText, &RadioText}) {
        if (const QString told = text(after); told != text(before)) {
            lines << told;
        }
    }
    return lines;
}

QString WaitingText(double nextStep, const QString& chirpTime, std::int32_t parkHz) {
    return QStringLiteral("waiting at %1 MHz; the next sweep's first step is at %2 (chirp time %3)")
        .arg(Megahertz(parkHz), TimeOfDay(nextStep), chirpTime);
}

QString SweepStartText(double mark) {
    return QStringLiteral("sweep started: first step at %1").arg(TimeOfDay(mark));
}

QString SweepEndText(const SweepTally& tally, bool complete) {
    return QStringLiteral("%1: %2 steps, %3 not answered by the radio, %4 not sent")
        .arg(complete ? QStringLiteral("sweep ended") : QStringLiteral("sweep cut short"))
        .arg(tally.steps)
        .arg(tally.unanswered)
        .arg(tally.failed);
}

QString StepText(std::int32_t hz, double mark, bool reached, bool answering) {
    QString outcome = QStringLiteral("reached");
    if (!reached) {
        outcome = QStringLiteral("not sent");
    } else if (!answering) {
        outcome = QStringLiteral("sent, not answered");
    }
    return QStringLiteral("step %1 MHz, mark %2: %3").arg(Megahertz(hz), TimeOfDay(mark), outcome);
}

QString StartText(const StoredSettings& settings, const QString& settingsLocation) {
    return QStringLiteral("Tavmirok %1 without a window; settings from %2 (not written by this "
                          "run): port %3 at %4 bit/s, radio address %5, chirp time %6")
        .arg(QLatin1String(tavmirok::kVersion), settingsLocation, settings.comPort,
             settings.baudRate, QString::number(settings.radioAdress, kHexBase).toUpper(),
             settings.chirpTime);
}

// ---- Signals ----

namespace {

int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t stopSignalSeen = 0;

extern "C" void OnStopSignal(int signalNumber) {
    if (stopSignalSeen != 0) {
        // The second one: end now, as if there were no handler.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    stopSignalSeen = 1;
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        problem = QString::fromLocal8Bit(std::strerror(errno));
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    notifier = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &StopSignals::Read);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kStopSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
}

StopSignals::~StopSignals() {
    for (const int signalNumber : kStopSignals) {
        std::signal(signalNumber, SIG_DFL);
    }
    notifier.reset();
    for (int& fd : signalPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void StopSignals::Read() {
    unsigned char byte = 0;
    if (::read(signalPipe[1], &byte, 1) == 1) {
        emit Received(byte);
    }
}

// ---- The run ----

Runner::Runner(Station& station, bool verbose, QObject* parent)
    : QObject(parent), station(station), verbose(verbose) {
    connect(&station, &Station::Problem, this, [this](const QString& message) {
        if (!stopped) {
            Log(QStringLiteral("problem: ") + message);
        }
    });
    connect(&station, &Station::Notice, this, [this](const QString& message) {
        if (!stopped) {
            Log(QStringLiteral("notice: ") + message);
        }
    });
    connect(&station, &Station::StateChanged, this, [this] { ObserveRig(false); });
    connect(&station, &Station::Tuned, this, [this](TuneOutcome outcome) {
        ObserveRig(outcome == TuneOutcome::Reached && !radioReported);
    });
    connect(&station, &Station::PhaseEntered, this, &Runner::PhaseEntered);
    connect(&station, &Station::StepTuned, this, &Runner::StepTuned);
    connect(&station, &Station::Archived, this, [this](const QString& png) {
        Log(QStringLiteral("ionogram archived: %1 (and its .csv.gz)").arg(png));
    });

    clockCheck.setInterval(kClockCheckPeriod);
    connect(&clockCheck, &QTimer::timeout, this, &Runner::CheckClock);
    reconnect.setInterval(RadioLink::kReopenInterval);
    connect(&reconnect, &QTimer::timeout, this, &Runner::RetryConnect);
}

void Runner::Log(const QString& text) {
    WriteError(LogLine(QDateTime::currentDateTimeUtc(), text) + QLatin1Char('\n'));
}

void Runner::Begin(const QStringList& loadNotices) {
    for (const QString& notice : loadNotices) {
        Log(QStringLiteral("settings: ") + notice);
    }
    CheckClock();
    clockCheck.start();
    if (const Status opened = station.Connect(); !opened.IsOk()) {
        // Without a window nobody can pick another port: keep trying this one.
        connectProblem = opened.Message();
        Log(QStringLiteral("problem: %1 Trying again every %2 s.")
                .arg(connectProblem)
                .arg(
                    std::chrono::duration_cast<std::chrono::seconds>(reconnect.intervalAsDuration())
                        .count()));
        rig = station.Rig().State();
        reconnect.start();
    } else {
        ObserveRig(false);
    }
    station.Start();
}

void Runner::ObserveRig(bool reportRadio) {
    if (stopped) {
        return;
    }
    const RigState state = station.Rig().State();
    QStringList lines = rig ? RigChanges(*rig, state) : QStringList{PortText(state)};
    // The radio's first answer (or silence) is told even when nothing changed.
    if (reportRadio && state.connected) {
        radioReported = true;
        if (!lines.contains(RadioText(state))) {
            lines << RadioText(state);
        }
    }
    for (const QString& line : lines) {
        Log(line);
    }
    rig = state;
}

void Runner::CheckClock() {
    const ClockSync sync = QueryClockSync();
    if (clockSync != sync) {
        clockSync = sync;
        Log(ClockSyncText(sync));
    }
}

void Runner::RetryConnect() {
    if (stopped || station.Rig().State().connected) {
        reconnect.stop();
        return;
    }
    if (const Status opened = station.Connect(); opened.IsOk()) {
        reconnect.stop();
        connectProblem.clear();
    } else if (opened.Message() != connectProblem) {
        connectProblem = opened.Message();
        Log(QStringLiteral("problem: ") + connectProblem);
    }
}

void Runner::PhaseEntered(SweepScheduler::Phase phase) {
    if (stopped) {
        return;
    }
    if (phase == SweepScheduler::Phase::Waiting) {
        if (stepping) {
            // Complete when its last step was the profile's highest, not the default sweep's.
            const sweep::Profile& profile = station.Profile();
            EndSweep(lastHz == sweep::StepFrequency(profile, sweep::StepCount(profile) - 1));
        }
        // The next step's time is set right after this signal; tell it once it is.
        QTimer::singleShot(0, this, [this] {
            if (!stopped && station.Scheduler().CurrentPhase() == SweepScheduler::Phase::Waiting) {
                Log(WaitingText(station.Scheduler().NextStepTime(), station.ChirpText(),
                                sweep::ParkFrequency(station.Profile())));
            }
        });
    } else if (phase == SweepScheduler::Phase::Stepping && !stepping) {
        stepping = true;
        tally = {};
        lastHz = 0;
        Log(SweepStartText(station.Scheduler().NextStepTime()));
    }
}

void Runner::StepTuned(std::int32_t hz, double mark, bool reached) {
    if (stopped) {
        return;
    }
    const bool answering = station.Rig().State().answering;
    ++tally.steps;
    if (!reached) {
        ++tally.failed;
    } else if (!answering) {
        ++tally.unanswered;
    }
    lastHz = hz;
    if (verbose) {
        Log(StepText(hz, mark, reached, answering));
    }
}

void Runner::EndSweep(bool complete) {
    stepping = false;
    Log(SweepEndText(tally, complete));
}

void Runner::Stop(const QString& why) {
    if (stopped) {
        return;
    }
    Log(why);
    if (stepping) {
        EndSweep(false);
    }
    stopped = true;
    clockCheck.stop();
    reconnect.stop();
    const QString endpoint = station.Rig().State().endpoint;
    station.Shutdown();
    Log(QStringLiteral("stopped; port %1 released").arg(endpoint));
}

int Main(const QStringList& arguments) {
    const CommandLine commandLine = ParseCommandLine(arguments);
    if (commandLine.exitStatus) {
        if (*commandLine.exitStatus == kExitOk) {
            std::fputs(commandLine.output.toLocal8Bit().constData(), stdout);
        } else {
            WriteError(commandLine.output);
        }
        return *commandLine.exitStatus;
    }
    const SettingsStore store;
    QStringList notices;
    RunSettings settings;
    settings.basic = store.Load(&notices);
    settings.profile = SounderStore().Load(&notices);
    settings.rig = RigStore().Load(&notices);
    settings.ionogram = IonogramStore().Load(&notices);
    if (const QString refusal = ApplyOverrides(commandLine, &settings, store.Location());
        !refusal.isEmpty()) {
        WriteError(QStringLiteral("tavmirok: %1\n").arg(refusal));
        return kExitRefused;
    }

    StopSignals stopSignals;
    Station station;
    station.Apply(settings.basic);
    station.ApplyProfile(settings.profile);
    station.ChooseRig(settings.rig);
    station.ConfigureIonogram(settings.ionogram);
    Runner runner(station, commandLine.verbose);
    QObject::connect(&stopSignals, &StopSignals::Received, &runner, [&runner](int signalNumber) {
        runner.Stop(QStringLiteral("%1 received: stopping").arg(SignalName(signalNumber)));
        QCoreApplication::exit(kExitOk);
    });
    runner.Log(StartText(settings.basic, store.Location()));
    if (!stopSignals.Problem().isEmpty()) {
        runner.Log(QStringLiteral("problem: SIGINT and SIGTERM cannot be caught (%1); they end "
                                  "the program without releasing the port first.")
                       .arg(stopSignals.Problem()));
    }
    // Begin inside the event loop, so that a signal during the first tuning ends it.
    QTimer::singleShot(0, &runner, [&runner, &notices] { runner.Begin(notices); });
    const int status = QCoreApplication::exec();
    runner.Stop(QStringLiteral("the event loop ended: stopping"));
    return status;
}

} // namespace headless
