// How well the scaler reads synthetic sweeps through the real dechirp: each sweep's 280 columns
// computed from the simulated ionosphere's audio (only the audio each column needs), one to
// three modes reflected by parabolic layers with known MOF and least delay, then scaled; each
// scaled trace matched to its mode. Also sweeps of noise alone and of noise with a carrier
// keyed inside 5 % of the columns, counting the traces found there (all false), and the CPU
// time the scaler takes per sweep. Figures are printed, never judged.
// TAVMIROK_SCALER_DUMP=N prints signal sweep N's modes, column peaks and traces instead;
// TAVMIROK_SCALER_SEED=N (N > 0) draws another set of sweeps, to check a threshold on.

#include "benchrow.h"
#include "ionogram/scaler.h"
#include "simulation/ionolayer.h"
#include "simulation/simulatedionosphere.h"
#include "testkit/syntheticsweep.h"

#include <QString>
#include <cmath>
#include <ctime>
#include <numbers>
#include <random>
#include <vector>

using namespace ionogram;

namespace {

constexpr double kFs = 48000;
constexpr char kDumpVariable[] = "TAVMIROK_SCALER_DUMP";
constexpr double kChirpTime = 78;
constexpr double kNoiseRms = 0.01;
constexpr int kSignalSweeps = 200;
constexpr int kNoiseSweeps = 100;
constexpr double kDechirpGainDb = 19; // a mode's cell SNR over its level in the passband
constexpr double kMatchMs = 0.5;      // a trace belongs to the mode whose least delay is this near
constexpr double kResolvedMs = 1.0;   // modes drawn at least this far apart
constexpr double kKeyedShare = 0.05;

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

struct ModelMode {
    IonosphericLayer layer;
    double mofKhz = 0;
    double leastMs = 0; // the low ray's delay at the sweep's first step
    const char* kind = "";
};

// A layer scaled so that its MOF lies at mofKhz (the MOF is proportional to f_c).
IonosphericLayer LayerWithMof(IonosphericLayer layer, double mofKhz) {
    layer.criticalKhz = 1000;
    layer.criticalKhz = mofKhz / LayerMofKhz(layer) * 1000;
    return layer;
}

std::vector<ModelMode> DrawModes(std::mt19937* random) {
    std::uniform_real_distribution<double> unit(0, 1);
    auto in = [&](double from, double to) { return from + (to - from) * unit(*random); };
    const int count = 1 + int(unit(*random) * 3);
    const SounderProfile profile;
    const double firstKhz = sweep::StepFrequency(profile, 0) / kHzPerKhz;
    for (;;) {
        const double range = in(200, 3000);
        const double fPeak = in(250, 350);
        const double fThick = in(50, 100);
        std::vector<ModelMode> modes;
        auto add = [&](double peak, double thick, int hops, double mof, const char* kind) {
            const double levelDb = in(10, 28); // expected cell SNR of the low ray
            const double amplitude =
                kNoiseRms * std::sqrt(2 * std::pow(10.0, (levelDb - kDechirpGainDb) / 10));
            IonosphericLayer layer{0, peak, thick, range, hops, amplitude};
            layer = LayerWithMof(layer, mof);
            const std::vector<LayerRay> rays = LayerRays(layer, firstKhz);
            modes.push_back({layer, LayerMofKhz(layer), rays.empty() ? 0 : rays[0].delayMs, kind});
        };
        add(fPeak, fThick, 1, in(4000, 28000), "1F");
        if (count >= 2) {
            add(fPeak, fThick, 2, in(4000, 28000), "2F");
        }
        if (count >= 3) {
            add(in(100, 120), in(10, 20), 1, in(4000, 12000), "E");
        }
        bool resolved = true;
        for (std::size_t a = 0; a < modes.size(); ++a) {
            resolved = resolved && modes[a].leastMs < 18;
            for (std::size_t b = a + 1; b < modes.size(); ++b) {
                resolved = resolved && std::abs(modes[a].leastMs - modes[b].leastMs) >= kResolvedMs;
            }
        }
        if (resolved) {
            return modes;
        }
    }
}

// Sweep n's modes, each column's peaks (with the first mode's rays in brackets) and its traces.
void Dump(const std::vector<ModelMode>& modes, const IonogramSweep& sweep) {
    for (const ModelMode& m : modes) {
        std::printf("mode %s mof %.0f least %.3f fc %.0f D %.0f\n", m.kind, m.mofKhz, m.leastMs,
                    m.layer.criticalKhz, m.layer.groundRangeKm);
    }
    for (std::size_t c = 0; c < sweep.snrDb.size(); ++c) {
        std::printf("%.0f %d:", sweep.frequenciesKhz[c], int(ColumnFlooded(sweep.snrDb[c])));
        for (const ColumnPeak& p : ColumnPeaks(sweep.snrDb[c], 0)) {
            std::printf(" %.2f/%.0f", p.delayMs, p.snrDb);
        }
        for (const LayerRay& r : LayerRays(modes[0].layer, sweep.frequenciesKhz[c])) {
            std::printf(" [%.2f]", r.delayMs);
        }
        std::printf("\n");
    }
    for (const ScaledTrace& t : ScaleSweep(sweep).traces) {
        std::printf("trace %d lof %.0f mof %.0f least %.2f at %.0f peak %.1f\n", t.number, t.lofKhz,
                    t.mofKhz, t.minDelayMs, t.minDelayKhz, t.peakSnrDb);
    }
}

} // namespace

int main() {
    SyntheticSweeps maker(kFs, kChirpTime, kNoiseRms);
    bool dump = false;
    const std::uint32_t seedSet = qEnvironmentVariableIntValue("TAVMIROK_SCALER_SEED");
    const std::uint32_t shift = 10000 * seedSet; // noise seeds of the set
    std::mt19937 random(20261207 + seedSet);
    std::vector<double> mofErrors;   // kHz, absolute
    std::vector<double> delayErrors; // ms, signed
    std::vector<double> cpuMs;
    std::vector<double> peaks;
    int modesDrawn = 0;
    int modesMatched = 0;
    int unmatchedTraces = 0;
    for (int s = 0; s < kSignalSweeps; ++s) {
        const std::vector<ModelMode> modes = DrawModes(&random);
        std::vector<IonosphericLayer> layers;
        for (const ModelMode& mode : modes) {
            layers.push_back(mode.layer);
        }
        const IonogramSweep sweep = maker.Make(layers, 1000 + s + shift);
        if (qEnvironmentVariableIntValue(kDumpVariable, &dump) == s && dump) {
            Dump(modes, sweep);
            return 0;
        }
        const double before = CpuSeconds();
        const ScaledSweep scaled = ScaleSweep(sweep);
        cpuMs.push_back((CpuSeconds() - before) * 1e3);
        modesDrawn += int(modes.size());
        std::vector<bool> taken(modes.size(), false);
        for (const ScaledTrace& trace : scaled.traces) {
            int best = -1;
            for (int m = 0; m < int(modes.size()); ++m) {
                const double apart = std::abs(trace.minDelayMs - modes[m].leastMs);
                if (!taken[m] && apart <= kMatchMs &&
                    (best < 0 || apart < std::abs(trace.minDelayMs - modes[best].leastMs))) {
                    best = m;
                }
            }
            if (best < 0) {
                ++unmatchedTraces;
                bench::Note(QString("sweep %1: trace at %2 ms, MOF %3 kHz matches no mode")
                                .arg(s)
                                .arg(trace.minDelayMs, 0, 'f', 2)
                                .arg(trace.mofKhz, 0, 'f', 0));
                continue;
            }
            taken[best] = true;
            ++modesMatched;
            mofErrors.push_back(std::abs(trace.mofKhz - modes[best].mofKhz));
            delayErrors.push_back(trace.minDelayMs - modes[best].leastMs);
            peaks.push_back(trace.peakSnrDb);
            if (mofErrors.back() > 300) {
                bench::Note(QString("sweep %1: %2 MOF %3 kHz scaled %4 kHz")
                                .arg(s)
                                .arg(modes[best].kind)
                                .arg(modes[best].mofKhz, 0, 'f', 0)
                                .arg(trace.mofKhz, 0, 'f', 0));
            }
        }
    }
    const double offset = bench::Median(delayErrors);
    int delayWithin = 0;
    for (double error : delayErrors) {
        delayWithin += std::abs(error - offset) <= 0.1;
    }
    const QString method =
        QString(
            "%1 sweeps of 280 steps (100 kHz) through the dechirp at 48 kHz, 1-3 modes "
            "(1F, 2F, E-like) from parabolic layers, MOF uniform 4-28 MHz (E 4-12); seed set %2")
            .arg(kSignalSweeps)
            .arg(seedSet);
    bench::PrintRow("scaler: modes matched by a trace",
                    QString("%1 of %2").arg(modesMatched).arg(modesDrawn), method);
    bench::PrintRow("scaler: MOF absolute error",
                    QString("median %1 kHz, 90% %2 kHz")
                        .arg(bench::Median(mofErrors), 0, 'f', 0)
                        .arg(bench::Percentile(mofErrors, 0.9), 0, 'f', 0),
                    method + ", matched traces");
    bench::PrintRow(
        "scaler: least delay within 0.1 ms of the model",
        QString("%1 % (offset %2 ms)")
            .arg(100.0 * delayWithin / std::max<std::size_t>(1, delayErrors.size()), 0, 'f', 1)
            .arg(offset, 0, 'f', 3),
        method + "; offset = median of scaled minus model");
    bench::PrintRow("scaler: peak SNR of matched traces",
                    QString("5% %1 dB, median %2 dB, 95% %3 dB")
                        .arg(bench::Percentile(peaks, 0.05), 0, 'f', 1)
                        .arg(bench::Median(peaks), 0, 'f', 1)
                        .arg(bench::Percentile(peaks, 0.95), 0, 'f', 1),
                    method);
    bench::PrintRow("scaler: traces matching no mode", QString::number(unmatchedTraces), method);

    int noiseTraces = 0;
    int keyedTraces = 0;
    std::uniform_real_distribution<double> unit(0, 1);
    for (int s = 0; s < kNoiseSweeps; ++s) {
        noiseTraces += int(ScaleSweep(maker.Make({}, 5000 + s + shift)).traces.size());
        std::vector<std::optional<KeyedCarrier>> keyed(sweep::StepCount(SounderProfile{}));
        for (auto& column : keyed) {
            if (unit(random) < kKeyedShare) {
                const double levelDb = 10 + 20 * unit(random); // over the in-band noise
                column = KeyedCarrier{kPassLowHz + (kPassHighHz - kPassLowHz) * unit(random),
                                      kNoiseRms * std::sqrt(2 * std::pow(10.0, levelDb / 10)),
                                      maker.WindowFrom() +
                                          (maker.WindowTo() - maker.WindowFrom()) * unit(random),
                                      unit(random) < 0.5};
            }
        }
        keyedTraces += int(ScaleSweep(maker.Make({}, 7000 + s + shift, keyed)).traces.size());
    }
    bench::PrintRow("scaler: false traces, noise alone",
                    QString("%1 per 100 sweeps").arg(100.0 * noiseTraces / kNoiseSweeps),
                    QString("%1 sweeps of noise alone through the dechirp").arg(kNoiseSweeps));
    bench::PrintRow("scaler: false traces, keyed interference",
                    QString("%1 per 100 sweeps").arg(100.0 * keyedTraces / kNoiseSweeps),
                    QString("%1 sweeps of noise with a carrier (10-30 dB over the noise) "
                            "switched on or off inside the window of 5 % of the columns")
                        .arg(kNoiseSweeps));
    bench::PrintRow(
        "scaler: CPU per 280-step sweep",
        QString("median %1 ms, 95% %2 ms")
            .arg(bench::Median(cpuMs), 0, 'f', 2)
            .arg(bench::Percentile(cpuMs, 0.95), 0, 'f', 2),
        QString("thread CPU time of ScaleSweep over the %1 signal sweeps").arg(kSignalSweeps));
    return 0;
}
