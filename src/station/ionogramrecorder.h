#pragma once

// Makes the ionogram of every sweep from the radio's audio: captures the chosen input, learns
// each step's mark and whether it reached the radio from the station, and at the end of a sweep
// archives it. It only listens: nothing here ever delays a step, and every failure (input gone,
// folder not writable) is told once while the sweep goes on.

#include "ionogram/audiocapture.h"
#include "ionogram/ionogram.h"
#include "settings/ionogramstore.h"
#include "sweep/profile.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

class IonogramRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kSampleRate = 48000;
    // How often an input that failed is tried again.
    static constexpr std::chrono::milliseconds kRetryInterval{2000};
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

    // From the station. Marks are seconds since UTC midnight.
    void StepPlanned(std::int32_t hz, double mark, double chirpTime);
    void StepTuned(std::int32_t hz, double mark, bool reached);
    // The sweep's last step has been taken (the radio parks for the next one).
    void SweepEnded();
    // The computer's clock jumped: the columns of the sweep under way cannot be placed.
    void ClockChanged();
    // Stops capturing for good, archiving nothing more.
    void Stop();

    // The sweep being received (or the last complete one), for the window.
    const ionogram::IonogramSweep* Current() const;

signals:
    void SweepUpdated(const ionogram::IonogramSweep& sweep, int columnBeingReceived);
    void Problem(const QString& message);
    // A sweep was written: the path of its PNG.
    void Archived(const QString& png);

private:
    void StartCapture();
    void CaptureFailed(const Status& status);
    void AudioArrived(const QVector<qint16>& samples, double arrival);
    void FinishSweep();

    std::function<double()> epochClock;
    IonogramChoice choice;
    sweep::Profile profile;
    ionogram::AudioCapture capture;
    std::unique_ptr<ionogram::Ionogram> ionogram;
    std::map<double, int> stepsByMark; // steps planned, waiting to learn whether they were tuned
    bool inSweep = false;
    bool stopped = false;
    int columnsShown = -1;
    ionogram::IonogramSweep lastComplete;
    bool haveComplete = false;
    QTimer retry;
    QTimer finish;
    QString lastCaptureProblem;
    QString lastArchiveProblem;
};
