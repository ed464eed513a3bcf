#pragma once

// Accumulates one sweep's ionogram from the receiver's audio: the station reports each step
// (frequency, mark, whether the radio reached it) and the audio stream hands over placed blocks;
// each step's column is computed as soon as its audio is in. A step the radio did not reach, or
// whose audio is missing or lost, gets a NaN column.
//
// One clock for everything: seconds since the Unix epoch (UTC), for the marks and for the
// placed audio. EpochFromSecondsOfDay converts a mark given in seconds since UTC midnight.

#include "ionogram/audiostream.h"
#include "ionogram/dechirp.h"
#include "ionogram/sounder.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace ionogram {

// One sweep's ionogram: a row of SNR in dB per step on the fixed delay grid, NaN throughout
// for a step without usable audio.
struct IonogramSweep {
    QString sounder;       // as the sweep events name it
    bool cutShort = false; // the clock jumped, a new arming ended it, or most audio was missing
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
};

class Ionogram {
public:
    explicit Ionogram(const IonogramSettings& settings);

    // Starts a new sweep (the steps of an unfinished one are dropped).
    void BeginSweep(double chirpTime, const QString& sounder = QString());
    // A step planned at mark (epoch seconds): returns its index in the sweep.
    int AddStep(double frequencyKhz, double mark);
    // Whether the radio took the step's frequency; its column waits for this.
    void SetReached(int step, bool reached);

    // Placed audio from the stream.
    void AddAudio(const PlacedBlock& block);

    // The sweep so far: steps whose column is not computed yet are NaN.
    const IonogramSweep& Sweep() const { return sweep; }
    int ColumnsDone() const;
    // Ends the sweep: columns still waiting for audio become NaN. Returns the whole ionogram,
    // cut short when most steps the radio reached have no column.
    IonogramSweep SweepComplete();

    const IonogramSettings& Settings() const { return settings; }

private:
    struct Step {
        double mark = 0;
        std::optional<bool> reached;
        bool done = false;
    };

    // Placed samples without a gap between them. Their times come from the newest block's
    // placement, the placer's latest fit, carried back along the run.
    struct Run {
        std::vector<float> samples;
        std::int64_t start = 0;     // index of samples[0] in the run (earlier ones trimmed)
        std::int64_t lastBlock = 0; // index of the newest block's first sample
        double lastBlockTime = 0;
        double interval = 0;

        std::int64_t End() const { return start + std::int64_t(samples.size()); }
        double TimeOf(std::int64_t index) const {
            return lastBlockTime + double(index - lastBlock) * interval;
        }
        // The first sample at or after t.
        std::int64_t IndexAt(double t) const;
    };

    void TryColumns();
    bool TryColumn(int index);
    void TrimAudio();

    IonogramSettings settings;
    DechirpColumn dechirp;
    IonogramSweep sweep;
    std::vector<Step> steps;
    std::deque<Run> runs;   // oldest first
    double placedUntil = 0; // the time just after the newest placed sample
};

// The epoch time nearest to nowEpoch whose time of day (UTC) is secondsOfDay.
double EpochFromSecondsOfDay(double secondsOfDay, double nowEpoch);

} // namespace ionogram
