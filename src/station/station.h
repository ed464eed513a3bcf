#pragma once

// The station: the one place that composes the radio link (or another rig backend), the step
// timer and the sweep scheduler from the settings, and wires them together. The main window and
// the windowless run both drive a Station; everything it has to say crosses as a signal.

#include "core/serialsettings.h"
#include "geo/position.h"
#include "ionogram/audiostream.h"
#include "link/radiolink.h"
#include "rig/civtuner.h"
#include "rig/rigchoice.h"
#include "settings/ionogramstore.h"
#include "settings/settingsstore.h"
#include "settings/stationstore.h"
#include "station/ionogramrecorder.h"
#include "station/listener.h"
#include "station/propagation.h"
#include "sweep/profile.h"
#include "sweep/slottuning.h"
#include "sweep/sweepscheduler.h"
#include "sweep/ticktimer.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class Station : public QObject {
    Q_OBJECT
public:
    // Armed, the audio input rests when the radio's next tuning for a sweep is further off than
    // kAudioRestAbove and the last was kAudioTail ago (its audio is in); it wakes kAudioWakeLead
    // before the next: time for the capture to open and for the placer to fit the card's clock
    // over a full history (SamplePlacer::Settings::historySeconds) before the sweep's audio.
    static constexpr double kAudioRestAbove = 90; // s
    static constexpr double kAudioWakeLead = 60;  // s
    static constexpr double kAudioTail = 5;       // s
    static constexpr std::chrono::milliseconds kAudioCheck{1000};

    // clock: seconds since midnight with fraction; seconds since UTC midnight when empty (the
    // sounders count their periods from midnight UTC).
    explicit Station(std::function<double()> clock = {}, QObject* parent = nullptr);
    ~Station() override;

    // Takes the stored values (port, speed, chirp time, radio address) without opening anything.
    void Apply(const StoredSettings& settings);
    // Takes every group as loaded: the values above, the profile, the ionogram, the way
    // to the radio (chosen, not connected: the next Connect uses it), the saved sounders, the
    // plan and the positions.
    void Apply(const StationSettings& settings);
    // The values in force, as they would be stored.
    StoredSettings Current() const;

    // The ionogram's settings in force (input, archive, IARU region).
    const IonogramChoice& IonogramInForce() const { return recorder.Choice(); }

    // Follows these sounders through the listening plan instead of the single profile and chirp
    // time (none: the single sounder again), from Start on, or at once when started. The set must
    // have passed sweep::CheckPlan.
    void Follow(std::vector<sweep::FollowedSounder> sounders, const sweep::PlanSettings& settings);
    const std::vector<sweep::FollowedSounder>& Followed() const { return followed; }
    // The followed sounder of this name; none when no followed sounder has it.
    const sweep::FollowedSounder* FollowedNamed(const QString& name) const;
    // Follows the saved sounders of these names (none: the single sounder), as Follow does; a
    // name not saved, or a set the radio cannot follow, is refused and changes nothing.
    Status FollowSaved(const QStringList& names);
    // Start was pressed (and the station not shut down or stopped since).
    bool Started() const { return started && !shutDown; }

    // Follows another sounder; a sweep under way re-arms at once. The profile must be valid.
    void ApplyProfile(const sweep::Profile& profile);
    const sweep::Profile& Profile() const { return scheduler->Profile(); }
    // Reaches the radio another way: the backend in use lets go of the radio (and its port) and
    // the new one connects; a sweep under way goes on through it. The choice must be valid.
    Status UseRig(const RigChoice& choice);
    // Records the ionogram from this audio input (none: no ionogram), with these delays and
    // archive folder.
    void ConfigureIonogram(const IonogramChoice& choice);
    // The radio's placed audio, for any consumer; it runs while an audio input is chosen.
    ionogram::AudioStream& Audio() { return audio; }
    // The sounders the user saved: a sweep of one of them carries its name in the sweep events.
    void SetSavedSounders(const std::vector<SavedSounder>& saved);
    // Where the station and the single sounder stand (a locator or "LAT,LON", empty when
    // unknown): with a sounder's position each of its sweeps is read as the layer over the path.
    void SetPositions(const QString& stationAt, const QString& sounderAt);
    std::optional<geo::Position> StationPosition() const;
    // Where the sounder the sweep events name so stands: a saved one's position, else the single
    // sounder's.
    std::optional<geo::Position> PositionOf(const QString& sounder) const;
    // The audio delay the day's sweeps last suggested (AudioDelaySuggested); empty before.
    const QString& SuggestedAudioDelay() const { return suggestedAudioDelay; }

    const RigChoice& RigInUse() const { return rigChoice; }

    // The port, speed and address of the radio, handed to the backend in use: the built-in link
    // reads them at each open and frame, Hamlib takes them at each Connect.
    SerialSettings& Serial() { return serial; }

    // Opens the port (connects the rig) with the port, speed and address as they are now;
    // a failure is returned for the caller to tell.
    Status Connect();
    // The radio's CI-V address, for the built-in link and for Icom models under Hamlib.
    void SetRadioAddress(int address);
    // The chirp time as typed; read at each arming.
    void SetChirpText(const QString& text) { chirpText = text; }
    const QString& ChirpText() const { return chirpText; }
    // As the Start button: arms anew from the chirp text.
    void Start();
    // Stops stepping and listening; the radio stays where it is and the port open. A sweep under
    // way ends cut short (and is archived as such). Start arms again.
    void Stop();
    // Ends the sweep for good, ends any wait for the radio and releases the port.
    void Shutdown();
    // Parks the radio on the frequencies (kHz), in turn, and finds the sounders heard there;
    // the sweep is not followed meanwhile (Start follows it again). Needs an audio input.
    void Listen(const std::vector<double>& frequenciesKhz);
    void StopListening();
    Listener& Listening() { return listener; }
    Tuner& Rig() { return *tuner; }
    SweepScheduler& Scheduler() { return *scheduler; }

signals:
    // Something the user must be told (a window shows it in a box; a windowless run logs it).
    void Problem(const QString& message);
    // A passing remark for the status line, such as a re-arming after a clock change.
    void Notice(const QString& message);
    // The frequency display: "" and then the text, for each frequency the bus carried.
    void DisplayText(const QString& text);
    // Anything the status line shows changed: port, radio, phase, step.
    void StateChanged();
    // The single sounder's sweep events (SweepScheduler); SweepStarted and SweepEnded also come
    // for each followed sounder's sweeps, named after it.
    void SweepArmed(const QString& sounder, double firstStep, double chirpTime);
    void SweepStarted(const QString& sounder, double mark);
    void SweepEnded(const QString& sounder, bool complete);
    // A sweep's ionogram is whole, archived first when saving is on (IonogramRecorder).
    void SweepComplete(const ionogram::IonogramSweep& sweep);
    // A step of the single sounder's sweep or a slot of the listening plan was tuned (or not).
    void StepTuned(const sweep::SlotTuning& step);
    // Every answer of the backend in use, also to the park tuning.
    void Tuned(TuneOutcome outcome);
    // The ionogram of the sweep being received grew, or a sweep was complete (column -1).
    void IonogramUpdated(const ionogram::IonogramSweep& sweep, int columnBeingReceived);
    // A sweep's ionogram was archived: the path of its picture.
    void Archived(const QString& png);
    // A complete sweep was scaled (Propagation), and the day file and plot it went into.
    void Scaled(const ionogram::IonogramSweep& sweep, const ionogram::ScaledSweep& scaled);
    void DayRecorded(const QString& csv, const QString& png);
    // The day's sweeps suggest an audio delay (also told as a Notice), once per change.
    void AudioDelaySuggested(const QString& text);

private:
    void Attach(Tuner& next);
    // Trace 1's MOF of a followed sounder's scaled sweep: its next sweep's fine steps centre there.
    void TakeMof(const ionogram::IonogramSweep& sweep, const ionogram::ScaledSweep& scaled);
    std::unique_ptr<Tuner> MakeTuner(const RigChoice& choice);
    // Tells the backend in use the band the profile tunes.
    void ApplyBand();
    // Lets the audio input rest while no sweep needs it for a while and nothing listens, and
    // wakes it in time for the next (checked every kAudioCheck).
    void RestAudio();

    std::function<double()> clock;
    QString chirpText;
    SerialSettings serial;
    RadioLink link;
    CivTuner civ;
    std::unique_ptr<Tuner> other; // the network or Hamlib backend, when one is in use
    Tuner* tuner = nullptr;
    RigChoice rigChoice;
    std::unique_ptr<AlignedTickTimer> timer;
    std::unique_ptr<SweepScheduler> scheduler; // the single sounder and the listening plan
    std::vector<sweep::FollowedSounder> followed;
    sweep::PlanSettings planSettings;
    // While sounders are followed: one ionogram each, fed by the plan's slots and the same audio.
    std::vector<std::unique_ptr<IonogramRecorder>> sounderRecorders;
    IonogramChoice ionogramChoice;
    std::vector<SavedSounder> savedSounders; // for each followed sounder's own delays and position
    StationSettings applied; // as last applied: what FollowSaved builds the plan from
    QString stationAt;
    QString sounderAt;
    QString suggestedAudioDelay;
    // The saved sounder of this name; none when no sounder is saved by it.
    const SavedSounder* SavedNamed(const QString& name) const;
    // The ionogram of a followed sounder: ionogramChoice with its saved delays, where it has them.
    IonogramChoice ChoiceOf(const QString& sounder) const;
    void MakeSounderRecorders();
    // The recorder of a followed sounder and the half step its marks are counted back by.
    IonogramRecorder* RecorderOf(const QString& sounder);
    // Where the scheduler's events of this sounder go: the single sounder's recorder, or the
    // followed sounder's own.
    IonogramRecorder* RecorderFor(const QString& sounder);
    bool started = false;
    ionogram::AudioStream audio;
    QTimer audioCheck;
    std::optional<double> lastTuning; // the clock's reading when a sweep last tuned the radio
    IonogramRecorder recorder;
    Propagation propagation;
    Listener listener;
    bool shutDown = false;
};
