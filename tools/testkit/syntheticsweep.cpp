#include "testkit/syntheticsweep.h"

#include "core/units.h"
#include "simulation/simulatedionosphere.h"

#include <cmath>
#include <numbers>

using namespace ionogram;

namespace {

constexpr double kWarmUp = 0.05; // s of audio before a column's span, for the receiver's filter

} // namespace

SyntheticSweeps::SyntheticSweeps(double rate, double chirp, double noise, double pathMs,
                                 std::optional<double> settingMs)
    : sampleRate(rate), chirpTime(chirp), noiseRms(noise), pathDelayMs(pathMs),
      filterMs(PassbandFilter(rate).MeanGroupDelay() / units::kSecondsPerMillisecond) {
    DechirpSettings settings;
    settings.sampleRate = sampleRate;
    settings.audioDelayMs = settingMs.value_or(AudioDelayMs());
    dechirp = std::make_unique<DechirpColumn>(settings);
}

IonogramSweep SyntheticSweeps::Make(const std::vector<IonosphericLayer>& layers, std::uint32_t seed,
                                    const std::vector<std::optional<KeyedCarrier>>& keyed,
                                    std::shared_ptr<const SkyModel> sky) {
    const SounderProfile profile;
    std::vector<double> columnsKhz;
    for (int step = 0; step < sweep::StepCount(profile); ++step) {
        columnsKhz.push_back(sweep::StepFrequency(profile, step) / units::kHertzPerKilohertz);
    }
    return MakeAt(columnsKhz, layers, seed, keyed, std::move(sky));
}

IonogramSweep SyntheticSweeps::MakeAt(const std::vector<double>& columnsKhz,
                                      const std::vector<IonosphericLayer>& layers,
                                      std::uint32_t seed,
                                      const std::vector<std::optional<KeyedCarrier>>& keyed,
                                      std::shared_ptr<const SkyModel> model) {
    const SounderProfile profile;
    SimulatedIonosphere::Settings sky;
    sky.sampleRate = sampleRate;
    sky.chirpTime = chirpTime;
    sky.noiseRms = noiseRms;
    sky.layers = layers;
    sky.seed = seed;
    sky.sky = std::move(model);
    SimulatedIonosphere ionosphere(sky);
    IonogramSweep sweep;
    sweep.chirpTime = chirpTime;
    std::vector<float> audio;
    std::vector<float> snr;
    for (int step = 0; step < int(columnsKhz.size()); ++step) {
        const double khz = columnsKhz[step];
        const double crossing = sweep::CrossingInPeriod(profile, chirpTime, khz);
        const double first = crossing + dechirp->NeedFrom() - kWarmUp;
        audio.resize(std::size_t((dechirp->NeedTo() - dechirp->NeedFrom() + kWarmUp) * sampleRate) +
                     2);
        // The audio heard at first reached the air the path's delay earlier.
        ionosphere.Generate(khz, first - pathDelayMs * units::kSecondsPerMillisecond,
                            1 / sampleRate, audio);
        if (step < int(keyed.size()) && keyed[step]) {
            const KeyedCarrier& k = *keyed[step];
            for (std::size_t i = 0; i < audio.size(); ++i) {
                const double t = first + double(i) / sampleRate;
                if ((t - crossing >= k.at) == k.on) {
                    audio[i] += float(k.amplitude * std::cos(2 * std::numbers::pi * k.hz * t));
                }
            }
        }
        sweep.frequenciesKhz.push_back(khz);
        if (!dechirp->Compute(audio, first, 1 / sampleRate, crossing, &snr)) {
            snr.assign(dechirp->DelayCount(), std::nanf(""));
        }
        sweep.snrDb.push_back(snr);
    }
    return sweep;
}
