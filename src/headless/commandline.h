#pragma once

// The windowless run's command line: the option table (one row per setting a run may override),
// reading the arguments, and putting the overrides into the loaded settings with every value
// in force checked, since without a window nobody could correct a refused one.

#include "settings/stationstore.h"
#include "web/httprequest.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace headless {

constexpr int kExitOk = 0;
// A value on the command line or in the settings was refused; nothing was opened. The systemd
// unit does not restart the station after it.
constexpr int kExitRefused = 2;

// One command-line option that overrides a stored setting for this run only. Another setting
// is one more row in SettingOptions().
struct SettingOption {
    const char* name;      // "port" for --port
    const char* valueName; // shown in --help
    const char* description;
    // Why the text is refused, as the dialog that edits the setting checks it; "" if accepted.
    QString (*check)(const QString& value);
    // Puts an accepted text into the settings.
    void (*apply)(StationSettings& settings, const QString& value);
    // The value in force, as text the check takes.
    QString (*current)(const StationSettings& settings);
};
std::span<const SettingOption> SettingOptions();

struct CommandLine {
    bool headless = false;
    bool verbose = false;
    std::vector<std::pair<const SettingOption*, QString>> overrides;
    // --follow, as given (each a name, or names joined by commas); empty when not given.
    QStringList follow;
    // --listen: the frequencies (kHz) to listen to in turn instead of following a sweep.
    std::vector<double> listenKhz;
    // --http: serve the web page and API there; --http-token-file: where the access token for
    // commands is (read when the run starts, never logged).
    std::optional<web::ListenAddress> http;
    QString httpTokenFile;
    // --collect: the broker to collect every station's scaled sweeps from, without a radio.
    QString collectUrl;
    // Set when the run ends here: --help and --version (text for standard output, status 0),
    // or a refused command line (one line for standard error, kExitRefused).
    std::optional<int> exitStatus;
    QString output;
};

// Whether the arguments are for the windowless run (or ask for help or the version), decided
// before any application object exists.
bool Requested(int argc, const char* const* argv);
// Reads the arguments (the program's name first) and checks every override's value.
CommandLine ParseCommandLine(const QStringList& arguments);
// Puts the overrides into settings, then checks every value in force: the first refusal, naming
// where the value came from, or "" when all are accepted.
QString ApplyOverrides(const CommandLine& commandLine, StationSettings* settings,
                       const QString& settingsLocation);

} // namespace headless
