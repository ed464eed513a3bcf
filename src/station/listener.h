#pragma once

// Listening on one frequency, or on several in turn: the radio is parked there (tuned at the
// start and again whenever the backend connects anew), the chirp detector follows the placed
// audio, the grouping sorts its crossings into sounders, and sounders-heard.csv in the archive
// folder is rewritten whenever the confirmed list changes. The sweep is not followed meanwhile:
// the station stops its scheduler before it starts listening.

#include "ionogram/audiostream.h"
#include "ionogram/chirpdetector.h"
#include "ionogram/soundergrouper.h"
#include "rig/tuner.h"

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

class Listener : public QObject {
    Q_OBJECT
public:
    explicit Listener(QObject* parent = nullptr);
    ~Listener() override;

    // The backend that parks the radio; it may change while listening (tuned at once).
    void SetTuner(Tuner* tuner);
    // Where sounders-heard.csv goes; empty: it is not written.
    void SetArchiveFolder(const QString& folder) { archiveFolder = folder; }

    // Listens to the frequencies (kHz) in turn, each for DwellSeconds(); forgets what an earlier
    // run heard.
    void Start(const std::vector<double>& frequenciesKhz);
    void Stop();
    bool Active() const { return active; }
    double FrequencyKhz() const;
    // One period of the slowest candidate rate's sweep from 2 to 30 MHz (the smallest divisor
    // of a day that holds it): 576 s at 50 kHz/s.
    static double DwellSeconds(const std::vector<double>& ratesKhzPerS);
    // What each frequency listened to has heard so far, in the order listened.
    const std::vector<std::unique_ptr<ionogram::SounderGrouper>>& Heard() const { return heard; }
    // The text of sounders-heard.csv for what was heard.
    QString CsvText() const;

    void AudioPlaced(const ionogram::PlacedBlock& block);

signals:
    void Detected(double listenKhz, const ionogram::ChirpDetection& detection);
    void SounderConfirmed(double listenKhz, const ionogram::HeardSounder& sounder);
    void ListChanged();
    // Sounders are heard as falling chirps and none as rising ones: the radio seems to be in LSB.
    void LsbSuspected();
    void Problem(const QString& message);
    void Tuning(double khz);

private:
    void Park();
    void RigStateChanged();
    void Take(const std::vector<ionogram::ChirpDetection>& detections);
    void NextFrequency(double now);

    Tuner* tuner = nullptr;
    QMetaObject::Connection tunerState;
    bool tunerConnected = false;
    QString archiveFolder;
    ionogram::ChirpDetectorSettings detectorSettings;
    std::unique_ptr<ionogram::ChirpDetector> detector;
    std::vector<std::unique_ptr<ionogram::SounderGrouper>> heard;
    std::vector<double> frequencies;
    std::size_t current = 0;
    double switchAt = 0; // epoch seconds at which the next frequency is due; 0: not yet known
    bool active = false;
    bool lsbTold = false;
};
