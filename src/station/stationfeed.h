#pragma once

// What the faces of the station (a web page, a network publisher, a log) see of it and may ask
// of it, without a pointer into its insides: events as plain values, a snapshot of the state
// taken under a short lock, and commands queued to the station's thread. The feed lives in the
// station's thread; a face in another thread connects to its signals (queued by Qt, since every
// argument is a value) and reads Snap() whenever it likes.

#include "core/serialsettings.h"
#include "geo/position.h"
#include "ionogram/audiostream.h"
#include "ionogram/ionogram.h"
#include "ionogram/scaler.h"
#include "ionogram/soundergrouper.h"
#include "rig/rigchoice.h"
#include "rig/tuner.h"
#include "settings/stationstore.h"
#include "sweep/profile.h"

#include <QDateTime>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

class Station;

namespace feed {

// What the station does now.
enum class Activity {
    Stopped,   // not started, or stopped: the radio stays where it is
    Waiting,   // armed, waiting for the next sweep
    Stepping,  // a sweep under way
    Listening, // parked on frequencies, finding sounders
};
const char* ActivityName(Activity activity); // "stopped", "waiting", "stepping", "listening"

// Where the single sounder's sweep stands.
enum class Phase {
    Idle,     // not armed
    Waiting,  // armed, parked until the first step
    Stepping, // its steps under way
};

// A sounder as the station follows it.
struct Sounder {
    // As the sweep events, the archive and the day file name it: the saved name, else
    // "period:chirp time" ("300:78").
    QString name;
    double rateKhzPerS = 0;
    double periodS = 0;
    double chirpTimeS = 0;
    std::optional<geo::Position> at;
};

// The single sounder's sweep is armed: the radio parks and waits for the first step.
struct Armed {
    QString sounder;
    double firstStep = 0; // seconds since UTC midnight
    QString chirpText;    // the chirp time as typed
    std::int32_t parkHz = 0;
};

// A sweep of one sounder, as it goes.
struct SweepInfo {
    QString sounder;    // as the sweep events name it
    double mark = 0;    // its first step's instant, seconds since UTC midnight
    QDateTime startUtc; // the same, whole seconds
    double lowKhz = 0;  // the band the picture spans
    double highKhz = 0;
    double delayFromMs = 0;
    double delayToMs = 0;
    int delayCells = 0;
};

struct Column {
    QString sounder;
    QDateTime sweepStartUtc;
    int index = 0; // the step's place in the sweep
    double khz = 0;
    std::vector<float> snrDb; // one per delay cell, NaN throughout for a step without audio
};

struct Scaled {
    Sounder sounder;
    std::shared_ptr<const ionogram::IonogramSweep> sweep;
    ionogram::ScaledSweep scaled;
    QDateTime scaledUtc; // when the scaling was done
};

struct HeardOn {
    double listenKhz = 0;
    ionogram::HeardSounder sounder;
};

// What listening on one frequency has heard so far.
struct HeardGroup {
    double listenKhz = 0;
    std::vector<ionogram::HeardSounder> confirmed;
    std::vector<ionogram::HeardSounder> unconfirmed; // crossings not yet confirmed as a sounder
    bool seemsLsb = false;                           // heard as falling chirps only
};

struct Snapshot {
    Activity activity = Activity::Stopped;
    bool started = false; // Start was pressed, and neither Stop nor Shutdown since
    // The single sounder's sweep: its phase, the next step's instant (seconds since midnight on
    // the station's clock), the frequency tuned last and the highest step (Hz), and the chirp
    // time it was armed with.
    Phase phase = Phase::Idle;
    double nextStepTime = 0;
    std::int32_t stepHz = 0;
    std::int32_t topHz = 0;
    double armedChirpTime = 0;
    // The values in force, as the station would store and show them.
    StoredSettings stored;
    sweep::Profile profile;
    RigChoice rigChoice;
    IonogramChoice ionogram;
    double listeningKhz = 0;             // the frequency listened on, 0 when not listening
    std::vector<HeardGroup> heardGroups; // in the order listened
    QString suggestedAudioDelay;         // "" before the day's sweeps suggest one
    RigState rig;
    QString audioInput; // "" when none is chosen
    bool audioRunning = false;
    double nextSweepEpoch = 0; // the next sweep's first step (epoch seconds), 0 when none is due
    std::vector<Sounder> followed; // the single sounder alone when none is followed
    bool plan = false;             // saved sounders are followed, each by name
    QString archiveFolder;         // "" when sweeps are not saved
    int iaruRegion = 1;
    std::optional<geo::Position> stationAt;
    QDateTime runningSinceUtc;
    // The sweep being received (or the last one) of each followed sounder.
    std::vector<std::shared_ptr<const ionogram::IonogramSweep>> ionograms;
    // The last scaled sweep of each sounder, by its name.
    std::map<QString, Scaled> lastScaled;
    std::vector<HeardOn> heard;
    QStringList problems; // the latest first, at most kProblemsKept
};

} // namespace feed

Q_DECLARE_METATYPE(feed::Armed)
Q_DECLARE_METATYPE(feed::SweepInfo)
Q_DECLARE_METATYPE(feed::Column)
Q_DECLARE_METATYPE(feed::Scaled)
Q_DECLARE_METATYPE(std::vector<feed::HeardOn>)
Q_DECLARE_METATYPE(std::shared_ptr<const ionogram::IonogramSweep>)

class StationFeed : public QObject {
    Q_OBJECT
public:
    static constexpr int kProblemsKept = 20;

    // Observes the station from now on; lives in its thread.
    explicit StationFeed(Station& station, QObject* parent = nullptr);

    // The state now, copied under the feed's lock: callable from any thread.
    feed::Snapshot Snap() const;
    // Parts of it, without copying the rest.
    RigState Rig() const;
    bool Plan() const;

    // Commands, callable from any thread: each is queued to the station's thread and done there
    // (at once when called on it).
    // Start arms the sweep as the Start button does; Stop ends stepping and listening and leaves
    // the radio where it is (a sweep under way is archived as cut short).
    void Start();
    void Stop();
    // Follows these saved sounders by name (none: the single sounder) and starts; refused with a
    // Problem when a name is not saved or the set does not fit one radio.
    void Follow(const QStringList& names);
    void Listen(const std::vector<double>& frequenciesKhz);
    // Opens the port (connects the rig) as the settings say; the outcome comes as Connected with
    // the number returned, so the one who asked can tell it from others.
    quint64 Connect();
    // Ends everything for good and releases the port; returns once that is done.
    void Shutdown();
    // Returns once every command queued before it is done (at once on the station's thread).
    void Sync();

    // The settings as loaded, every group: nothing is opened (Connect does).
    void Apply(const StationSettings& settings);
    // The chirp time as typed, read at each arming.
    void SetChirpText(const QString& text);
    // The single sounder's profile (a valid one); a sweep under way re-arms.
    void ApplyProfile(const sweep::Profile& profile);
    // Reaches the radio another way (a valid choice); the outcome comes as Connected.
    quint64 UseRig(const RigChoice& choice);
    void ConfigureIonogram(const IonogramChoice& choice);
    void SetPositions(const QString& stationAt, const QString& sounderAt);
    // The sounders the user saved, as a copy: a sweep of one carries its name.
    void SetSavedSounders(const std::vector<SavedSounder>& saved);
    // Follows the saved sounders these settings mark Follow (none: the single sounder), checked
    // beforehand by CheckFollowed.
    void FollowMarked(const StationSettings& settings);
    void SetRadioAddress(int address);
    // Takes this port and speed and opens the port anew; the outcome comes as Connected.
    quint64 ConnectTo(const QString& port, const QString& speed);
    void StopListening();
    // Hands placed audio to whatever follows the radio's audio, as the chosen input would (a
    // recorded or simulated band played in).
    void PlaceAudio(std::vector<ionogram::PlacedBlock> blocks);

signals:
    void Armed(const feed::Armed& armed);
    // The first step of a sweep is taken (its columns follow as ColumnAdded).
    void SweepStarted(const feed::SweepInfo& sweep);
    void SweepEnded(const QString& sounder, bool complete);
    // A step or slot tuned (or not); answering: whether the radio answered it, as the rig's
    // state said then.
    void StepTuned(const QString& sounder, std::int32_t hz, double atEpoch, bool reached,
                   bool answering);
    void ColumnAdded(const feed::Column& column);
    void Scaled(const feed::Scaled& scaled);
    void Archived(const QString& png);
    void DayRecorded(const QString& csv, const QString& png);
    void HeardChanged(const std::vector<feed::HeardOn>& heard);
    // While listening: each crossing heard, each sounder confirmed, and a radio that seems to be
    // in LSB.
    void Detected(double listenKhz, const ionogram::ChirpDetection& detection);
    void SounderConfirmed(double listenKhz, const ionogram::HeardSounder& sounder);
    void LsbSuspected();
    // Every answer of the radio (or its backend), to a step, a slot or the park tuning; the
    // snapshot's rig state is as it was then.
    void RigAnswered(bool reached);
    // What became of the connection asked for as `request`.
    void Connected(const Status& outcome, quint64 request);
    // The frequency display: "" and then the text, for each frequency the bus carried.
    void DisplayText(const QString& text);
    // A sweep's ionogram grew (column: the one being received), or is whole (-1).
    void IonogramUpdated(const std::shared_ptr<const ionogram::IonogramSweep>& sweep, int column);
    void AudioDelaySuggested(const QString& text);
    // What listening heard changed: the snapshot's heard groups are new.
    void HeardGroupsChanged();
    // What went wrong while listening (also told as a Problem).
    void ListenProblem(const QString& message);
    void Problem(const QString& message);
    void Notice(const QString& message);
    // Anything in the snapshot's status part changed: activity, rig, audio, next sweep.
    void StateChanged();

private:
    void Observe();
    // The status part of the snapshot, read from the station.
    void TakeState();
    feed::Sounder SounderNamed(const QString& name) const;
    void NoteColumns(const ionogram::IonogramSweep& sweep, int columnsDone);
    RigState TakeRig(); // the rig's state now, into the snapshot
    void TakeHeard();   // what listening heard, into the snapshot
    // A connection's outcome, told as Connected with the state it left.
    void Told(const Status& outcome, quint64 request);
    // Runs the command on the station's thread: queued there, at once when called on it.
    template <typename Command> void Queue(Command command);

    Station& station;
    // By sounder: the start of its sweep under way and how many of its columns were sent.
    std::map<QString, std::pair<QDateTime, int>> columnsSent;
    std::set<QString> underWay;
    std::atomic<quint64> lastRequest{0};
    QTimer heardRefresh; // many detections in one pass of the event loop are copied once
    mutable std::mutex lock;
    feed::Snapshot state; // guarded by lock
};
