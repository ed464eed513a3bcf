#pragma once

// Makes the ionogram of every sweep from the radio's audio: follows the placed audio of the
// station's stream, learns the sweep events and each step (its frequency, when the sweep crosses
// it, and whether it reached the radio) from the scheduler, and at the end of a sweep archives it
// and says it is complete. It only listens: nothing here ever delays a step (the archive is written
// on a thread of its own, a quarter of a second per sweep), and a folder that is not writable is
// told once while the sweeps go on.

#include "ionogram/audiostream.h"
#include "ionogram/ionogram.h"
#include "settings/ionogramstore.h"
#include "sweep/profile.h"
#include "sweep/slottuning.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

class IonogramRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kSampleRate = ionogram::AudioStream::kSampleRate;
    // How long after its last step a sweep waits for that step's audio before it is archived.
    static constexpr std::chrono::milliseconds kLastAudioWait{1500};

    // epochClock: seconds since the Unix epoch, UTC; the system clock when empty.
    explicit IonogramRecorder(std::function<double()> epochClock = {}, QObject* parent = nullptr);
    ~IonogramRecorder() override;

    // What to record, for which sounder; an empty input records nothing. A sweep under way is
    // ended (and archived) first.
    void Configure(const IonogramChoice& choice, const sweep::Profile& profile);
    const IonogramChoice& Choice() const { return choice; }
    bool Recording() const { return !choice.audioInput.isEmpty(); }
    // The archive's file names carry the sweep's sounder (one recorder per followed sounder).
    void NameArchivesBySounder(bool on) { namedBySounder = on; }

    // The scheduler's sweep events and steps. Times are seconds since UTC midnight.
    void SweepArmed(const QString& sounder, double firstStep, double chirpTime);
    void SweepStarted(const QString& sounder, double mark);
    // A step (the single sounder's) or slot (a followed sounder's) is planned, and what became
    // of it: the outcome finds its step by the slot's id.
    void StepPlanned(const sweep::SlotTuning& step);
    void StepTuned(const sweep::SlotTuning& step);
    // Complete: its last step was taken; the last column's audio is waited for, then the sweep
    // is archived. Cut short: the same, but the sweep is marked so.
    void SweepEnded(const QString& sounder, bool complete);
    // The computer's clock jumped: the columns of the sweep under way cannot be placed.
    void ClockChanged();
    // Audio from the station's stream.
    void AudioPlaced(const ionogram::PlacedBlock& block);
    // Ends the sweep under way here, cut short, and hands it on (archived first when saving), as
    // when the station stops following its sounder. False when no sweep was under way.
    bool EndSweep();
    // Stops for good, archiving nothing more.
    void Stop();

signals:
    void SweepUpdated(const ionogram::IonogramSweep& sweep, int columnBeingReceived);
    void Problem(const QString& message);
    // A sweep was written: the path of its PNG.
    void Archived(const QString& png);
    // The sweep's ionogram is whole: its last column in (up to kLastAudioWait after its last
    // step), and archived first when saving is on.
    void SweepComplete(const ionogram::IonogramSweep& sweep);

private:
    void BeginSweep();
    void FinishSweep();
    void Archive();
    // The sweep written (or not): tells so, then that the sweep is complete.
    void TellArchived(const ionogram::IonogramSweep& sweep, const QString& png,
                      const Status& written);

    std::function<double()> epochClock;
    IonogramChoice choice;
    sweep::Profile profile;
    std::unique_ptr<ionogram::Ionogram> ionogram;
    std::map<quint64, int> stepsById; // steps planned, waiting to learn whether they were tuned
    QString sounder;                  // of the sweep armed last
    double chirpTime = 0;             // of the sweep armed last
    bool inSweep = false;
    bool cutShort = false; // the sweep under way was cut short
    bool stopped = false;
    int columnsShown = -1;
    ionogram::IonogramSweep lastComplete;
    QTimer finish;
    QString lastArchiveProblem;
    bool namedBySounder = false;
    // Writes the archives one after the other; waits for the last one when the recorder goes.
    QThreadPool archiveWriter;
};
