#pragma once

#include "headless/clocksync.h"
#include "headless/logtext.h"
#include "rig/tuner.h"
#include "station/stationfeed.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <map>
#include <optional>

namespace headless {

// The unattended station: `tavmirok --headless` drives the same Station as the window, from the
// stored settings with this run's overrides, and tells on standard error, one timestamped line
// per event, what the window would have shown. It never writes the settings.

// Drives a station without a window, through its feed alone: opens the port, arms the sweep and
// follows it, logging each event as one line.
class Runner : public QObject {
    Q_OBJECT
public:
    // How often the clock's synchronisation is read.
    static constexpr std::chrono::seconds kClockCheckPeriod{60};
    // How often a port that could not be opened is tried again.
    static constexpr std::chrono::milliseconds kReconnectInterval{2000};

    Runner(StationFeed& feed, bool verbose, QObject* parent = nullptr);

    // Logs the load notices, opens the port and arms the sweep.
    void Begin(const QStringList& loadNotices);
    // Begin listens on these frequencies (kHz) instead of following the sweep.
    void ListenTo(const std::vector<double>& khz) { listenKhz = khz; }
    // Ends the sweep for good and releases the port; logs why.
    void Stop(const QString& why);
    void Log(const QString& text);

private:
    // Logs what changed in the rig; reportRadio tells whether the radio answers even if unchanged.
    void ObserveRig(bool reportRadio);
    void Connected(const Status& outcome);
    void CheckClock();
    void RetryConnect();
    // A step of the single sweep, or a slot of a followed sounder's, counted in its sweep's tally.
    void StepTuned(const QString& sweep, bool reached, bool answering);
    void EndSweep(const QString& sweep, bool complete);
    // The name a sweep's lines carry: the sounder's while sounders are followed, none for the
    // single sounder.
    QString SweepName(const QString& sounder) const;
    void SweepScaled(const ionogram::ScaledSweep& scaled, const QString& sounder);

    StationFeed& feed;
    bool verbose;
    QTimer clockCheck;
    QTimer reconnect;
    std::optional<ClockSync> clockSync;
    std::optional<RigState> rig; // as last logged
    bool radioReported = false;
    QString connectProblem;
    std::vector<double> listenKhz;
    bool stopped = false;
    bool begun = false;                     // the first connection was tried
    std::map<QString, SweepTally> underWay; // by SweepName: each sweep started and not yet ended
    std::map<QString, double> lastMofKhz; // trace 1's MOF of each sounder's last sweep (NaN: none)
};

// The whole windowless run, from the arguments to the exit status. Needs an application object.
int Main(const QStringList& arguments);

} // namespace headless
