#pragma once

// Accumulates one sweep's ionogram from the receiver's audio: the station reports each step
// (frequency, mark, whether the radio reached it) and hands over audio blocks with their
// arrival times; each step's column is computed as soon as its audio is in and placed on the
// clock. A step the radio did not reach, or whose audio is missing or lost, gets a NaN column.
//
// One clock for everything: seconds since the Unix epoch (UTC), for the marks and for the
// arrival times of the audio. EpochFromSecondsOfDay converts a mark given in seconds since
// UTC midnight.

#include "ionogram/dechirp.h"
#include "ionogram/sampleplacer.h"
#include "ionogram/sounder.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ionogram {

// One sweep's ionogram: a row of SNR in dB per step on the fixed delay grid, NaN throughout
// for a step without usable audio.
struct IonogramSweep {
    double chirpTime = 0;
    QString profile;
    QDateTime startUtc; // the first step's mark
    QString audioInput;
    double sampleRate = 0;
    double audioDelayMs = 0;
    double delayFromMs = kDefaultDelayFromMs;
    double delayToMs = kDefaultDelayToMs;
    // The profile's band (park frequency to highest step), the picture's frequency axis before
    // every step is in; both 0 when unknown.
    double lowKhz = 0;
    double highKhz = 0;
    std::vector<double> frequenciesKhz;
    std::vector<std::vector<float>> snrDb;

    int DelayCount() const;
    double DelayMs(int cell) const { return delayFromMs + cell * kDelayGridMs; }
    static bool Usable(const std::vector<float>& row);
};

struct IonogramSettings {
    double sampleRate = 48000;
    SounderProfile profile;
    QString profileName;
    QString audioInput; // the sound card's name, for the archive
    double delayFromMs = kDefaultDelayFromMs;
    double delayToMs = kDefaultDelayToMs;
    double audioDelayMs = 0;
    SamplePlacer::Settings placer;
};

class Ionogram {
public:
    explicit Ionogram(const IonogramSettings& settings);

    // Starts a new sweep (the steps of an unfinished one are dropped).
    void BeginSweep(double chirpTime);
    // A step planned at mark (epoch seconds): returns its index in the sweep.
    int AddStep(double frequencyKhz, double mark);
    // Whether the radio took the step's frequency; its column waits for this.
    void SetReached(int step, bool reached);

    // Audio as it arrives from the sound card, with the time it arrived (epoch seconds).
    void AddAudio(std::span<const float> samples, double arrival);
    void AddAudio(std::span<const std::int16_t> samples, double arrival);

    // The sweep so far: steps whose column is not computed yet are NaN.
    const IonogramSweep& Sweep() const { return sweep; }
    int ColumnsDone() const;
    // Ends the sweep: columns still waiting for audio become NaN. Returns the whole ionogram.
    IonogramSweep SweepComplete();

    const SamplePlacer& Placer() const { return placer; }
    const IonogramSettings& Settings() const { return settings; }

private:
    struct Step {
        double mark = 0;
        std::optional<bool> reached;
        bool done = false;
    };

    void TryColumns();
    bool TryColumn(int index);
    void TrimAudio();

    IonogramSettings settings;
    DechirpColumn dechirp;
    SamplePlacer placer;
    IonogramSweep sweep;
    std::vector<Step> steps;
    std::vector<float> audio; // samples audioStart .. placer.Received() - 1
    std::int64_t audioStart = 0;
    double lastArrival = 0;
};

// The epoch time nearest to nowEpoch whose time of day (UTC) is secondsOfDay.
double EpochFromSecondsOfDay(double secondsOfDay, double nowEpoch);

} // namespace ionogram
