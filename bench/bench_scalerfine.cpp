// How much fine steps near the MOF sharpen it: for each of many synthetic paths (one 1-hop F
// layer, its MOF at random off the 100 kHz grid) a sweep with the sounder's 100 kHz steps is
// scaled, then the next sweep is listened to as the listening plan lays it out with fine steps
// around that sweep's MOF (a slot every 25 kHz within 500 kHz of it), through the real dechirp,
// and scaled again. Both sweeps' MOF errors are printed, never judged.
// TAVMIROK_SCALER_SEED=N draws another set of paths and noise.

#include "benchrow.h"
#include "core/units.h"
#include "ionogram/scaler.h"
#include "simulation/ionolayer.h"
#include "sweep/listeningplan.h"
#include "testkit/syntheticsweep.h"

#include <QString>
#include <cmath>
#include <optional>
#include <random>
#include <vector>

using namespace ionogram;

namespace {

constexpr double kFs = 48000;
constexpr double kChirpTime = 78;
constexpr double kNoiseRms = 0.01;
constexpr int kPaths = 200;
constexpr double kDechirpGainDb = 19; // a mode's cell SNR over its level in the passband
constexpr double kMatchMs = 0.5;      // a trace belongs to the mode whose least delay is this near
constexpr std::uint32_t kDefaultSeed = 20261208;

// The scaled trace of the path: the one whose least delay lies nearest the model's.
std::optional<ScaledTrace> Matched(const ScaledSweep& scaled, double leastMs) {
    std::optional<ScaledTrace> best;
    for (const ScaledTrace& trace : scaled.traces) {
        const double apart = std::abs(trace.minDelayMs - leastMs);
        if (apart <= kMatchMs && (!best || apart < std::abs(best->minDelayMs - leastMs))) {
            best = trace;
        }
    }
    return best;
}

// What the station centres the next sweep's fine steps on: trace 1's MOF.
std::optional<double> FirstMof(const ScaledSweep& scaled) {
    for (const ScaledTrace& trace : scaled.traces) {
        if (trace.number == 1) {
            return trace.mofKhz;
        }
    }
    return std::nullopt;
}

QString Errors(const std::vector<double>& errors) {
    return QString("median %1 kHz, 90% %2 kHz (%3 sweeps)")
        .arg(bench::Median(errors), 0, 'f', 1)
        .arg(bench::Percentile(errors, 0.9), 0, 'f', 1)
        .arg(errors.size());
}

} // namespace

int main() {
    bool seedGiven = false;
    const int seedVariable = qEnvironmentVariableIntValue("TAVMIROK_SCALER_SEED", &seedGiven);
    const std::uint32_t seed = seedGiven ? std::uint32_t(seedVariable) : kDefaultSeed;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    auto in = [&](double from, double to) { return from + (to - from) * unit(random); };

    SyntheticSweeps maker(kFs, kChirpTime, kNoiseRms);
    const sweep::Profile profile;
    sweep::FollowedSounder sounder{"bench",          profile,     kChirpTime, maker.WindowFrom(),
                                   maker.WindowTo(), std::nullopt};
    sweep::PlanSettings settings;
    settings.fineSteps = true;

    std::vector<double> coarseErrors; // kHz, absolute
    std::vector<double> fineErrors;
    std::vector<double> fineColumns; // per fine sweep, columns between the 100 kHz steps
    int unscaled = 0;                // coarse sweeps with no trace to centre the fine steps on
    int fineMissed = 0;              // fine sweeps whose trace matched no mode
    int leftOut = 0;
    for (int path = 0; path < kPaths; ++path) {
        const double levelDb = in(12, 28); // expected cell SNR of the low ray
        IonosphericLayer layer{
            1000,
            in(250, 350),
            in(50, 100),
            in(200, 3000),
            1,
            kNoiseRms * std::sqrt(2 * std::pow(10.0, (levelDb - kDechirpGainDb) / 10))};
        layer.criticalKhz *= in(4000, 28000) / LayerMofKhz(layer);
        const double mofKhz = LayerMofKhz(layer);
        const double leastMs =
            LayerRays(layer, sweep::StepFrequency(profile, 0) / units::kHertzPerKilohertz)
                .front()
                .delayMs;

        const ScaledSweep coarse = ScaleSweep(maker.Make({layer}, seed + 2 * path));
        if (const auto trace = Matched(coarse, leastMs)) {
            coarseErrors.push_back(std::abs(trace->mofKhz - mofKhz));
        }
        sounder.mofKhz = FirstMof(coarse);
        if (!sounder.mofKhz) {
            ++unscaled;
            continue;
        }
        const sweep::ListeningPlan plan =
            sweep::MakePlan({sounder}, settings, 0, 2 * profile.period);
        std::vector<double> columnsKhz;
        int fine = 0;
        for (const sweep::Slot& slot : plan.listening) {
            if (slot.periodStart == 0) {
                columnsKhz.push_back(slot.listenHz / units::kHertzPerKilohertz);
                fine += slot.fine;
            }
        }
        for (const sweep::Slot& slot : plan.leftOut) {
            leftOut += slot.periodStart == 0;
        }
        fineColumns.push_back(fine);
        const ScaledSweep fineScaled =
            ScaleSweep(maker.MakeAt(columnsKhz, {layer}, seed + 2 * path + 1));
        if (const auto trace = Matched(fineScaled, leastMs)) {
            fineErrors.push_back(std::abs(trace->mofKhz - mofKhz));
        } else {
            ++fineMissed;
        }
    }
    const QString method =
        QString("%1 paths (1-hop F layer, MOF uniform 4-28 MHz, low ray 12-28 dB), each a sweep "
                "of 280 steps through the dechirp at 48 kHz; seed %2")
            .arg(kPaths)
            .arg(seed);
    bench::PrintRow("scaler: MOF absolute error, 100 kHz steps", Errors(coarseErrors), method);
    bench::PrintRow("scaler: MOF absolute error, fine steps near the MOF", Errors(fineErrors),
                    method + QString("; the next sweep with slots every %1 kHz within %2 kHz of "
                                     "the first sweep's trace 1 MOF, as the listening plan "
                                     "makes them")
                                 .arg(sweep::kFineStep)
                                 .arg(sweep::kFineSpan));
    bench::PrintRow("scaler: fine-step sweeps",
                    QString("%1 fine columns per sweep (median), %2 slots left out, %3 sweeps "
                            "without a trace to centre on, %4 fine sweeps matching no trace")
                        .arg(bench::Median(fineColumns))
                        .arg(leftOut)
                        .arg(unscaled)
                        .arg(fineMissed),
                    method);
    return 0;
}
