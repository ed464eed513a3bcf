#include "headless/commandline.h"

#include "core/units.h"
#include "core/version.h"
#include "geo/position.h"
#include "link/civ.h"
#include "link/commport.h"
#include "network/publisher.h"
#include "network/topics.h"
#include "settings/planstore.h"
#include "station/followplan.h"
#include "sweep/schedule.h"

#include <QCommandLineParser>
#include <QLocale>
#include <algorithm>
#include <cstring>

namespace headless {

namespace {

QString Refusal(const Status& status) {
    return status.IsOk() ? QString() : status.Message();
}

// A position typed on the command line: a locator or "LAT,LON" (empty: unknown).
QString PositionRefusal(const QString& value) {
    if (value.trimmed().isEmpty()) {
        return QString();
    }
    const geo::PositionText parsed = geo::ParsePosition(value.trimmed().toStdString());
    return parsed.position ? QString() : QString::fromStdString(parsed.error) + QLatin1Char('.');
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
            return ::ParseDecimal(value, QLocale())
                       ? QString()
                       : QStringLiteral("\"%1\" is not a number.").arg(value);
        },
        [](StationSettings& settings, const QString& value) {
            (settings.*Group).*Field = ::ParseDecimal(value, QLocale()).value_or(0);
        },
        [](const StationSettings& settings) { return ::FormatDecimal((settings.*Group).*Field); }};
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
         return Refusal(core::ResolvePortName(value, &device));
     },
     [](StationSettings& settings, const QString& value) { settings.basic.comPort = value; },
     [](const StationSettings& settings) { return settings.basic.comPort; }},
    {"baud", "BITS", "Line speed in bit/s, such as 19200.",
     [](const QString& value) {
         qint32 bitsPerSecond = 0;
         return Refusal(core::ParseBaudRate(value, &bitsPerSecond));
     },
     [](StationSettings& settings, const QString& value) { settings.basic.baudRate = value; },
     [](const StationSettings& settings) { return settings.basic.baudRate; }},
    {"address", "HEX", "The radio's CI-V address in hexadecimal, such as 94.",
     [](const QString& value) { return civ::ParseAddress(value).problem; },
     [](StationSettings& settings, const QString& value) {
         settings.basic.radioAdress = civ::ParseAddress(value).address.value_or(0);
     },
     [](const StationSettings& settings) {
         return QString::number(settings.basic.radioAdress, units::kHexBase).toUpper();
     }},
    {"chirp", "SECONDS",
     "The sounder's chirp time: the second of the period at which its sweep would pass 0 MHz, "
     "from 0 to below the period (--period): 0 to 299 for 300 s, 0 to 59 for 60 s, fractions "
     "such as 299.5 allowed.",
     [](const QString& value) {
         // Its range is the period's, checked once the period is known.
         return ::ParseDecimal(value, QLocale())
                    ? QString()
                    : sweep::ChirpTimeRefusal(value, sweep::Profile{}.period);
     },
     [](StationSettings& settings, const QString& value) { settings.basic.chirpTime = value; },
     [](const StationSettings& settings) { return settings.basic.chirpTime; }},
    NumberOption<&StationSettings::profile, &sweep::Profile::sweepRate>(
        "sweep-rate", "KHZ/S", "The sounder's sweep rate in kHz per second (100)."),
    NumberOption<&StationSettings::profile, &sweep::Profile::period>(
        "period", "SECONDS", "How often the sounder sweeps, in seconds (300)."),
    NumberOption<&StationSettings::profile, &sweep::Profile::lowFrequency>(
        "low", "KHZ", "Where the radio waits between sweeps, in kHz (2000)."),
    NumberOption<&StationSettings::profile, &sweep::Profile::highFrequency>(
        "high", "KHZ", "The highest step, in kHz (30000)."),
    NumberOption<&StationSettings::profile, &sweep::Profile::stepSize>("step", "KHZ",
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
     [](StationSettings& settings, const QString& value) {
         settings.rig.backend = value.trimmed();
     },
     [](const StationSettings& settings) { return settings.rig.backend; }},
    {"rig-address", "HOST:PORT", "rigctld's address for --rig network (localhost:4532).",
     [](const QString& value) {
         rigconfig::HostPort hostPort;
         return Refusal(rigconfig::ParseHostPort(value, &hostPort));
     },
     [](StationSettings& settings, const QString& value) {
         settings.rig.address = value.trimmed();
     },
     [](const StationSettings& settings) { return settings.rig.address; }},
    {"model", "NUMBER", "Hamlib's model number for --rig hamlib (3073 is the IC-7300).",
     [](const QString& value) {
         bool ok = false;
         return value.trimmed().toInt(&ok) > 0 && ok
                    ? QString()
                    : QStringLiteral("\"%1\" is not a Hamlib model number; rigctl --list shows "
                                     "them.")
                          .arg(value);
     },
     [](StationSettings& settings, const QString& value) {
         settings.rig.model = value.trimmed().toInt();
     },
     [](const StationSettings& settings) { return QString::number(settings.rig.model); }},
    {"audio-input", "NAME",
     "The audio input that carries the radio's audio, as PulseAudio names it (pactl list short "
     "sources); \"\" records no ionogram.",
     [](const QString&) { return QString(); },
     [](StationSettings& settings, const QString& value) {
         settings.ionogram.audioInput = value.trimmed();
     },
     [](const StationSettings& settings) { return settings.ionogram.audioInput; }},
    NumberOption<&StationSettings::ionogram, &IonogramChoice::audioDelayMs>(
        "audio-delay", "MS", "The delay of the radio's and sound card's audio path, in ms (0)."),
    NumberOption<&StationSettings::ionogram, &IonogramChoice::delayFromMs>(
        "delay-from", "MS", "The ionogram's lowest delay, in ms (0)."),
    NumberOption<&StationSettings::ionogram, &IonogramChoice::delayToMs>(
        "delay-to", "MS", "The ionogram's highest delay, in ms (20)."),
    {"folder", "PATH", "Where each sweep's PNG and CSV are archived.",
     [](const QString&) { return QString(); },
     [](StationSettings& settings, const QString& value) { settings.ionogram.folder = value; },
     [](const StationSettings& settings) { return settings.ionogram.folder; }},
    {"iaru-region", "1|2|3",
     "The IARU region whose amateur bands the day plot of scaled sweeps shows (1).",
     [](const QString& value) {
         const int region = value.trimmed().toInt();
         return region >= 1 && region <= ionogram::kIaruRegions
                    ? QString()
                    : QStringLiteral("\"%1\" is not an IARU region: 1, 2 or 3.").arg(value);
     },
     [](StationSettings& settings, const QString& value) {
         settings.ionogram.iaruRegion = value.trimmed().toInt();
     },
     [](const StationSettings& settings) { return QString::number(settings.ionogram.iaruRegion); }},
    {"save", "yes|no", "Whether each sweep's ionogram is archived (yes).",
     [](const QString& value) {
         return YesNo(value) ? QString()
                             : QStringLiteral("\"%1\" is neither yes nor no.").arg(value);
     },
     [](StationSettings& settings, const QString& value) {
         settings.ionogram.save = YesNo(value).value_or(true);
     },
     [](const StationSettings& settings) {
         return settings.ionogram.save ? QStringLiteral("yes") : QStringLiteral("no");
     }},
    {"tuning-time", "MS",
     "With --follow: how long the radio needs after a tuning command before its audio is on the "
     "new frequency, in whole ms (50).",
     [](const QString& value) {
         return PlanStore::ParseTuningTime(value)
                    ? QString()
                    : QStringLiteral("\"%1\" is not a whole number of milliseconds from 0 to %2.")
                          .arg(value, QString::number(sweep::kLongestTuningTime.count()));
     },
     [](StationSettings& settings, const QString& value) {
         settings.plan.tuningTime =
             PlanStore::ParseTuningTime(value).value_or(sweep::kDefaultTuningTime);
     },
     [](const StationSettings& settings) {
         return QString::number(settings.plan.tuningTime.count());
     }},
    {"fine-steps", "yes|no",
     "With --follow: a column every 25 kHz within 500 kHz of the last sweep's MOF (no).",
     [](const QString& value) {
         return YesNo(value) ? QString()
                             : QStringLiteral("\"%1\" is neither yes nor no.").arg(value);
     },
     [](StationSettings& settings, const QString& value) {
         settings.plan.fineSteps = YesNo(value).value_or(false);
     },
     [](const StationSettings& settings) {
         return settings.plan.fineSteps ? QStringLiteral("yes") : QStringLiteral("no");
     }},
    {"locator", "LOCATOR",
     "Where the station stands: a Maidenhead locator (JO62qm) or LAT,LON in degrees "
     "(52.5,13.4). With the sounder's position it gives the path and the ionosphere over its "
     "midpoint.",
     PositionRefusal,
     [](StationSettings& settings, const QString& value) { settings.stationAt = value.trimmed(); },
     [](const StationSettings& settings) { return settings.stationAt; }},
    {"sounder-at", "LOCATOR",
     "Where the sounder of the options above stands: a locator or LAT,LON in degrees.",
     PositionRefusal,
     [](StationSettings& settings, const QString& value) { settings.sounderAt = value.trimmed(); },
     [](const StationSettings& settings) { return settings.sounderAt; }},
    {"callsign", "CALL",
     "The station's callsign (or a short name of letters, digits, / and -) on the network; "
     "nothing is published without it.",
     [](const QString& value) { return network::CallsignRefusal(value.trimmed()); },
     [](StationSettings& settings, const QString& value) { settings.callsign = value.trimmed(); },
     [](const StationSettings& settings) { return settings.callsign; }},
    {"publish", "URL",
     "Publish every scaled sweep to this MQTT broker: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] "
     "(the broker's certificate is verified). Needs --callsign and the station's --locator.",
     [](const QString& value) {
         QString error;
         return network::ParseBrokerUrl(value, &error) ? QString() : error;
     },
     [](StationSettings& settings, const QString& value) {
         settings.publish.url = value.trimmed();
         settings.publish.enabled = true;
     },
     [](const StationSettings& settings) { return settings.publish.url; }},
    {"mqtt-user", "USER", "The user name at the broker.", [](const QString&) { return QString(); },
     [](StationSettings& settings, const QString& value) { settings.publish.user = value; },
     [](const StationSettings& settings) { return settings.publish.user; }},
    {"mqtt-password-file", "FILE",
     "A file holding the broker's password on its first line, readable by its owner only "
     "(chmod 600).",
     [](const QString&) { return QString(); },
     [](StationSettings& settings, const QString& value) { settings.publish.passwordFile = value; },
     [](const StationSettings& settings) { return settings.publish.passwordFile; }},
    {"mqtt-ca", "FILE",
     "With mqtts://: the CA certificates (PEM) that the broker's certificate must chain to; the "
     "system's when not given.",
     [](const QString&) { return QString(); },
     [](StationSettings& settings, const QString& value) { settings.publish.caFile = value; },
     [](const StationSettings& settings) { return settings.publish.caFile; }},
    {"mqtt-prefix", "PREFIX", "The first levels of every topic (tavmirok).",
     [](const QString& value) { return network::PrefixRefusal(value.trimmed()); },
     [](StationSettings& settings, const QString& value) {
         settings.publish.prefix = value.trimmed();
     },
     [](const StationSettings& settings) { return settings.publish.prefix; }},
};

constexpr const char* kHeadless = "headless";
constexpr const char* kFollow = "follow";
// The options of the single sounder, which --follow replaces.
constexpr const char* kSingleSounderOptions[] = {"chirp", "sweep-rate", "period",    "low",
                                                 "high",  "step",       "sounder-at"};

// The saved sounders named by --follow: a value that is a saved name is taken whole, any other
// is split at its commas. The names not saved go to unknown.
QStringList FollowedNames(const QStringList& values, const std::vector<SavedSounder>& saved,
                          QStringList* unknown) {
    QStringList names;
    QStringList known;
    for (const SavedSounder& sounder : saved) {
        known << sounder.name;
    }
    for (const QString& value : values) {
        const QStringList parts =
            known.contains(value) ? QStringList{value} : value.split(u',', Qt::SkipEmptyParts);
        for (const QString& part : parts) {
            const QString name = known.contains(part) ? part : part.trimmed();
            (known.contains(name) ? names : *unknown) << name;
        }
    }
    return names;
}
constexpr const char* kListen = "listen";
constexpr const char* kHttp = "http";
constexpr const char* kHttpTokenFile = "http-token-file";
constexpr const char* kVerbose = "verbose";
constexpr const char* kCollect = "collect";
// The options a collector uses; it has no radio.
constexpr const char* kCollectorOptions[] = {"folder", "mqtt-user", "mqtt-password-file", "mqtt-ca",
                                             "mqtt-prefix"};

QString OptionText(const char* name) {
    return QStringLiteral("--") + QLatin1String(name);
}

CommandLine Refused(const QString& reason) {
    CommandLine result;
    result.exitStatus = kExitRefused;
    result.output = QStringLiteral("tavmirok: %1\n").arg(reason);
    return result;
}

} // namespace

std::span<const SettingOption> SettingOptions() {
    return kSettingOptions;
}

bool Requested(int argc, const char* const* argv) {
    QStringList names{
        OptionText(kHeadless),        OptionText(kVerbose),        OptionText(kFollow),
        OptionText(kListen),          OptionText(kHttp),           OptionText(kHttpTokenFile),
        OptionText(kCollect),         QStringLiteral("--help"),    QStringLiteral("-h"),
        QStringLiteral("--help-all"), QStringLiteral("--version"), QStringLiteral("-v")};
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
        QStringLiteral("Follows the sweep of a chirp sounder (any period, sweep rate and band) "
                       "with an ordinary receiver, tuned step by step over Icom CI-V, rigctld or "
                       "Hamlib, and makes an ionogram of each sweep from the radio's audio, "
                       "archived as a picture and a table. Without options it opens its window. "
                       "With --headless it runs without one, from the stored settings, and logs "
                       "to standard error; the options below change a stored value for this run "
                       "only and are never saved."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption headlessOption(
        QLatin1String(kHeadless),
        QStringLiteral("Run without a window: open the port, start the sweep at once and follow "
                       "it until SIGINT or SIGTERM."));
    const QCommandLineOption verboseOption(QLatin1String(kVerbose),
                                           QStringLiteral("Log every step of the sweep."));
    const QCommandLineOption followOption(
        QLatin1String(kFollow),
        QStringLiteral("Follow these saved sounders (Configure > Sounder...) with one radio, "
                       "each to its own ionogram, instead of the stored Follow marks and the "
                       "single sounder. Give it once per name for names with a comma."),
        QStringLiteral("NAME[,NAME...]"));
    parser.addOption(headlessOption);
    parser.addOption(verboseOption);
    parser.addOption(followOption);
    const QCommandLineOption listenOption(
        QLatin1String(kListen),
        QStringLiteral("Listen instead of following: park the radio on KHZ (or on each of a "
                       "comma-separated list in turn) and find the sounders heard, written to "
                       "sounders-heard.csv in the archive folder. Needs an audio input."),
        QStringLiteral("KHZ"));
    parser.addOption(listenOption);
    const QCommandLineOption httpOption(
        QLatin1String(kHttp),
        QStringLiteral("Serve the station's page and JSON API (read-only) on [ADDRESS:]PORT, "
                       "127.0.0.1 unless an address is given ([::1]:8073 for IPv6)."),
        QStringLiteral("[ADDRESS:]PORT"));
    const QCommandLineOption httpTokenOption(
        QLatin1String(kHttpTokenFile),
        QStringLiteral("With --http: the access token that commands (start, stop, follow, "
                       "listen) must send as \"Authorization: Bearer TOKEN\" is this file's "
                       "content. Without it commands are refused."),
        QStringLiteral("FILE"));
    parser.addOption(httpOption);
    parser.addOption(httpTokenOption);
    const QCommandLineOption collectOption(
        QLatin1String(kCollect),
        QStringLiteral("Collect instead of following: no radio; keep every station's scaled "
                       "sweeps from this MQTT broker in network-YYYY-MM-DD.csv and its map "
                       "network-YYYY-MM-DD.png in --folder."),
        QStringLiteral("URL"));
    parser.addOption(collectOption);
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
    result.follow = parser.values(followOption);
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
    if (!result.follow.isEmpty()) {
        for (const auto& [option, value] : result.overrides) {
            for (const char* single : kSingleSounderOptions) {
                if (std::strcmp(option->name, single) == 0) {
                    return Refused(QStringLiteral("%1 follows saved sounders, each with its own "
                                                  "chirp time and sweep: leave out %2.")
                                       .arg(OptionText(kFollow), OptionText(single)));
                }
            }
        }
    }
    if (parser.isSet(collectOption)) {
        QString error;
        if (!network::ParseBrokerUrl(parser.value(collectOption), &error)) {
            return Refused(QStringLiteral("%1: %2").arg(OptionText(kCollect), error));
        }
        result.collectUrl = parser.value(collectOption).trimmed();
        for (const auto& [option, value] : result.overrides) {
            if (std::find_if(std::begin(kCollectorOptions), std::end(kCollectorOptions),
                             [&](const char* name) {
                                 return std::strcmp(option->name, name) == 0;
                             }) == std::end(kCollectorOptions)) {
                return Refused(QStringLiteral("%1 collects from the broker without a radio: "
                                              "leave out %2.")
                                   .arg(OptionText(kCollect), OptionText(option->name)));
            }
        }
        if (parser.isSet(httpTokenOption)) {
            return Refused(QStringLiteral("%1 serves its map read-only, without commands: leave "
                                          "out %2.")
                               .arg(OptionText(kCollect), OptionText(kHttpTokenFile)));
        }
        if (!result.follow.isEmpty() || parser.isSet(listenOption)) {
            return Refused(QStringLiteral("%1 collects from the broker without a radio: leave "
                                          "out --follow and --listen.")
                               .arg(OptionText(kCollect)));
        }
    }
    if (parser.isSet(listenOption)) {
        if (!result.follow.isEmpty()) {
            return Refused(
                QStringLiteral("%1 listens instead of following a sounder: leave out %2.")
                    .arg(OptionText(kListen), OptionText(kFollow)));
        }
        if (!sweep::ParseListenList(parser.value(listenOption), &result.listenKhz)) {
            return Refused(QStringLiteral("%1: \"%2\" is not a frequency in kHz from %3 to %4 (or "
                                          "a comma-separated list of them).")
                               .arg(OptionText(kListen), parser.value(listenOption))
                               .arg(sweep::kLowestFrequency)
                               .arg(sweep::kHighestFrequency));
        }
        for (const auto& [option, value] : result.overrides) {
            for (const char* follows :
                 {"chirp", "sweep-rate", "period", "low", "high", "step", "follow"}) {
                if (std::strcmp(option->name, follows) == 0) {
                    return Refused(QStringLiteral("%1 listens instead of following a sounder: "
                                                  "leave out %2.")
                                       .arg(OptionText(kListen), OptionText(option->name)));
                }
            }
        }
    }
    if (parser.isSet(httpOption)) {
        result.http = web::ParseListenAddress(parser.value(httpOption));
        if (!result.http) {
            return Refused(QStringLiteral("%1: \"%2\" is not [ADDRESS:]PORT (a port from 1 to "
                                          "65535, an IPv6 address in brackets).")
                               .arg(OptionText(kHttp), parser.value(httpOption)));
        }
    }
    if (parser.isSet(httpTokenOption)) {
        if (!result.http) {
            return Refused(QStringLiteral("%1 is the token of the web server: add %2.")
                               .arg(OptionText(kHttpTokenFile), OptionText(kHttp)));
        }
        result.httpTokenFile = parser.value(httpTokenOption);
    }
    if (!result.headless &&
        (result.verbose || !result.overrides.empty() || !result.follow.isEmpty() ||
         !result.listenKhz.empty() || result.http || !result.collectUrl.isEmpty())) {
        return Refused(QStringLiteral("These options are for the run without a window: add %1.")
                           .arg(OptionText(kHeadless)));
    }
    return result;
}

QString ApplyOverrides(const CommandLine& commandLine, StationSettings* settings,
                       const QString& settingsLocation) {
    for (const auto& [option, value] : commandLine.overrides) {
        option->apply(*settings, value);
    }
    if (!commandLine.follow.isEmpty()) {
        QStringList unknown;
        const QStringList names = FollowedNames(commandLine.follow, settings->saved, &unknown);
        if (!unknown.isEmpty()) {
            QStringList saved;
            for (const SavedSounder& sounder : settings->saved) {
                saved << QStringLiteral("\"%1\"").arg(sounder.name);
            }
            return QStringLiteral("%1: no saved sounder is called \"%2\". %3")
                .arg(OptionText(kFollow), unknown.first(),
                     saved.isEmpty()
                         ? QStringLiteral("There are none: save sounders in Configure > Sounder.")
                         : QStringLiteral("The saved sounders are %1.")
                               .arg(saved.join(QStringLiteral(", "))));
        }
        for (SavedSounder& sounder : settings->saved) {
            sounder.follow = names.contains(sounder.name);
        }
    }
    const bool following = !FollowedSounders(*settings).empty();
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
    if (const Status valid = sweep::ValidateProfile(settings->profile);
        !following && !valid.IsOk()) {
        return refused(valid.Message(), QStringLiteral("--sweep-rate, --period, --low, --high "
                                                       "and --step"));
    }
    const double period = settings->profile.period;
    if (!following && !sweep::ParseChirpTime(settings->basic.chirpTime, QLocale(), period)) {
        return refused(sweep::ChirpTimeRefusal(settings->basic.chirpTime, period),
                       OptionText("chirp"));
    }
    if (const Status valid = rigconfig::ValidateRigChoice(settings->rig); !valid.IsOk()) {
        return refused(valid.Message(), QStringLiteral("--rig, --rig-address or --model"));
    }
    if (const QString refusal = IonogramRefusal(settings->ionogram); !refusal.isEmpty()) {
        return refused(refusal, QStringLiteral("--audio-delay, --delay-from, --delay-to, --folder, "
                                               "--iaru-region or --save"));
    }
    // The single profile and chirp time are not used when saved sounders are followed: the set
    // followed is checked instead, with the delays shown (checked above).
    if (const Status served = following ? CheckFollowed(*settings) : Status::Ok(); !served.IsOk()) {
        return commandLine.follow.isEmpty()
                   ? refused(served.Message(), OptionText(kFollow))
                   : QStringLiteral("%1: %2").arg(OptionText(kFollow), served.Message());
    }
    if (settings->publish.enabled) {
        if (const QString problem = network::PublishRefusal(*settings); !problem.isEmpty()) {
            // Named after --publish when given, else after the stored group that asks for it.
            const bool given = std::any_of(
                commandLine.overrides.begin(), commandLine.overrides.end(),
                [](const auto& o) { return std::strcmp(o.first->name, "publish") == 0; });
            return given ? QStringLiteral("--publish: %1").arg(problem)
                         : QStringLiteral("Publishing is on in %1 but refused: %2 Give the "
                                          "values for this run, or correct the file.")
                               .arg(settingsLocation, problem);
        }
    }
    if (!commandLine.listenKhz.empty() && settings->ionogram.audioInput.isEmpty()) {
        return QStringLiteral("%1 needs the radio's audio: choose an audio input with "
                              "--audio-input or in Configure > Audio Input.")
            .arg(OptionText(kListen));
    }
    return {};
}

} // namespace headless
