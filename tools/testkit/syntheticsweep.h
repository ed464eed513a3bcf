#pragma once

// Whole sweeps of the default sounder (280 steps, 100 kHz) through the real dechirp, from the
// simulated ionosphere's audio: for each step only the audio its column needs is made, so a
// sweep takes a fraction of a second. The benchmarks and the day-plot picture share it.

#include "ionogram/dechirp.h"
#include "ionogram/ionogram.h"
#include "simulation/ionolayer.h"
#include "simulation/simulatedionosphere.h"

#include <QDateTime>
#include <memory>
#include <optional>
#include <vector>

// A carrier switched on (or off) inside one column's window, as CW and RTTY do.
struct KeyedCarrier {
    double hz = 0; // audio frequency
    double amplitude = 0;
    double at = 0;  // s after the column's crossing where it is switched
    bool on = true; // switched on (else off)
};

class SyntheticSweeps {
public:
    // The audio reaches the dechirp pathDelayMs after the receiver's filter (a sound card's and
    // its driver's part of the audio delay). The dechirp takes off settingMs, the audio delay
    // setting; by default the whole delay, filter and path, as a program that knows it would.
    SyntheticSweeps(double sampleRate, double chirpTime, double noiseRms, double pathDelayMs = 0,
                    std::optional<double> settingMs = std::nullopt);

    // One sweep over layers with noise from seed; keyed[step], when given, adds a carrier; sky,
    // when given, adds its rays and audio.
    ionogram::IonogramSweep Make(const std::vector<ionogram::IonosphericLayer>& layers,
                                 std::uint32_t seed,
                                 const std::vector<std::optional<KeyedCarrier>>& keyed = {},
                                 std::shared_ptr<const ionogram::SkyModel> sky = {});
    // The same with a column at each of columnsKhz (any frequencies the sweep passes, in the
    // order listened to), as a listening plan with fine steps makes them.
    ionogram::IonogramSweep MakeAt(const std::vector<double>& columnsKhz,
                                   const std::vector<ionogram::IonosphericLayer>& layers,
                                   std::uint32_t seed,
                                   const std::vector<std::optional<KeyedCarrier>>& keyed = {},
                                   std::shared_ptr<const ionogram::SkyModel> sky = {});

    // The whole audio delay the sweeps hold: the filter's mean group delay and the path's.
    double AudioDelayMs() const { return filterMs + pathDelayMs; }

    // The span of audio a column takes, in seconds around its crossing.
    double WindowFrom() const { return dechirp->NeedFrom(); }
    double WindowTo() const { return dechirp->NeedTo(); }

private:
    double sampleRate;
    double chirpTime;
    double noiseRms;
    double pathDelayMs;
    double filterMs;
    std::unique_ptr<ionogram::DechirpColumn> dechirp;
};
