#include "support/heardband.h"

#include "simulation/simulatedionosphere.h"

#include <algorithm>
#include <cmath>

std::vector<ionogram::PlacedBlock> HeardBand(const std::vector<BandSounder>& sounders,
                                             double listenKhz, double from, double until) {
    std::vector<ionogram::PlacedBlock> blocks;
    ionogram::SimulatedIonosphere::Settings sky;
    sky.noiseRms = 0.01;
    sky.interferers = {{1000, 0.03}};
    std::vector<double> crossings;
    for (const BandSounder& s : sounders) {
        ionogram::SimulatedSounder& simulated = sky.otherSounders.emplace_back();
        simulated.profile.sweepRate = s.rateKhzPerS;
        simulated.profile.period = s.periodS;
        simulated.chirpTime = s.chirpTimeS;
        simulated.modes = {{s.delayMs, 2000, 30000, 0.1, 0}};
        const double first = std::floor(from / s.periodS) * s.periodS;
        for (double start = first; start < until; start += s.periodS) {
            const double t = start + s.chirpTimeS + listenKhz / s.rateKhzPerS;
            if (t >= from && t < until) {
                crossings.push_back(t);
            }
        }
    }
    std::sort(crossings.begin(), crossings.end());
    ionogram::SimulatedIonosphere ionosphere(sky);
    for (std::size_t k = 0; k < crossings.size(); ++k) {
        for (int b = 0; b < 100; ++b) {
            ionogram::PlacedBlock block;
            block.samples.resize(960);
            block.firstSampleTime = crossings[k] - 1.5 + b * 0.02;
            block.sampleInterval = 1 / sky.sampleRate;
            block.afterGap = b == 0 && k > 0;
            ionosphere.Generate(listenKhz, block.firstSampleTime, block.sampleInterval,
                                block.samples);
            blocks.push_back(std::move(block));
        }
    }
    return blocks;
}
