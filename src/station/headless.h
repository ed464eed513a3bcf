#pragma once

// The unattended station: `tavmirok --headless` drives the same Station as the window, from the
// stored settings with this run's overrides, and tells on standard error, one timestamped line
// per event, what the window would have shown. It never writes the settings.

#include "rig/rigchoice.h"
#include "rig/tuner.h"
#include "settings/ionogramstore.h"
#include "settings/settingsstore.h"
#include "station/station.h"
#include "sweep/profile.h"

#include <QDateTime>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
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
// Everything a run takes from the settings: the four values of the window's first settings, the
// sounder's profile and the way to the radio.
struct RunSettings {
    StoredSettings basic;
    sweep::Profile profile;
    RigChoice rig;
    IonogramChoice ionogram;
};

struct SettingOption {
    const char* name;      // "port" for --port
    const char* valueName; // shown in --help
    const char* description;
    // Why the text is refused, as the dialog that edits the setting checks it; "" if accepted.
    QString (*check)(const QString& value);
    // Puts an accepted text into the settings.
    void (*apply)(RunSettings& settings, const QString& value);
    // The value in force, as text the check takes.
    QString (*current)(const RunSettings& settings);
};
std::span<const SettingOption> SettingOptions();

struct CommandLine {
    bool headless = false;
    bool verbose = false;
    std::vector<std::pair<const SettingOption*, QString>> overrides;
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
QString ApplyOverrides(const CommandLine& commandLine, RunSettings* settings,
                       const QString& settingsLocation);

// Whether the kernel counts the system clock as synchronised (ntp_adjtime).
enum class ClockSync { Synchronised, Unsynchronised, Unknown };
// From ntp_adjtime's result and its status word.
ClockSync ClockSyncFrom(int result, int status);
ClockSync QueryClockSync();

// What one sweep came to: steps tuned, steps after which the radio was not answering, steps
// that could not be sent.
struct SweepTally {
    int steps = 0;
    int unanswered = 0;
    int failed = 0;
};

// The log's lines: pure functions of plain values.
QString LogLine(const QDateTime& utc, const QString& text); // "2026-12-07T16:10:16.123Z text"
QString TimeOfDay(double secondsSinceMidnight);             // "16:40:20.500"
QString ClockSyncText(ClockSync sync);
QString PortText(const RigState& state);
QString RadioText(const RigState& state);
// The port and radio lines that read differently after than before.
QStringList RigChanges(const RigState& before, const RigState& after);
QString WaitingText(double nextStep, const QString& chirpTime, std::int32_t parkHz);
QString SweepStartText(double mark);
QString SweepEndText(const SweepTally& tally, bool complete);
QString StepText(std::int32_t hz, double mark, bool reached, bool answering);
QString StartText(const StoredSettings& settings, const QString& settingsLocation);

// SIGINT and SIGTERM through a self-pipe into the event loop: the first one is reported by
// Received; a second one ends the program at once.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // Why the signals cannot be caught ("" when they can).
    const QString& Problem() const { return problem; }

signals:
    void Received(int signalNumber);

private:
    void Read();

    std::unique_ptr<QSocketNotifier> notifier;
    QString problem;
};

// Drives a station without a window: opens the port, arms the sweep and follows it, logging
// each event as one line.
class Runner : public QObject {
    Q_OBJECT
public:
    // How often the clock's synchronisation is read.
    static constexpr std::chrono::seconds kClockCheckPeriod{60};

    Runner(Station& station, bool verbose, QObject* parent = nullptr);

    // Logs the load notices, opens the port and arms the sweep.
    void Begin(const QStringList& loadNotices);
    // Ends the sweep for good and releases the port; logs why.
    void Stop(const QString& why);
    void Log(const QString& text);

private:
    // Logs what changed in the rig; reportRadio tells whether the radio answers even if unchanged.
    void ObserveRig(bool reportRadio);
    void CheckClock();
    void RetryConnect();
    void PhaseEntered(SweepScheduler::Phase phase);
    void StepTuned(std::int32_t hz, double mark, bool reached);
    void EndSweep(bool complete);

    Station& station;
    bool verbose;
    QTimer clockCheck;
    QTimer reconnect;
    std::optional<ClockSync> clockSync;
    std::optional<RigState> rig; // as last logged
    bool radioReported = false;
    QString connectProblem;
    bool stepping = false;
    std::int32_t lastHz = 0; // the last step of the sweep under way
    bool stopped = false;
    SweepTally tally;
};

// The whole windowless run, from the arguments to the exit status. Needs an application object.
int Main(const QStringList& arguments);

} // namespace headless
