// From an oblique trace to the layer over the path's midpoint: over many simulated paths (ground
// distance, hops, foF2, hmF2 and semi-thickness at random) the trace is ray-traced exactly
// through a spherical quasi-parabolic layer, then spoilt as an ionogram spoils it (delays
// quantised to its 0.05 ms cells after noise and an audio delay the program knows and takes off,
// a few missing columns, the high ray seen only near the nose, the MOF only to the column below
// it), and fitted. The fitted foF2, hmF2 and mode are set against the layer's own. Then the
// audio delay from 1F + 2F pairs over simulated days. These traces are built here, not drawn by
// the dechirp and found by the scaler. TAVMIROK_GEOMETRY_SEED=N draws another set.

#include "benchrow.h"
#include "geo/layerfit.h"
#include "simulation/raytrace.h"

#include <QString>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <random>
#include <vector>

using ionogram::SphericalPath;

namespace {

constexpr int kPaths = 200;
constexpr double kCellMs = 0.05;
constexpr double kDelayNoiseMs = 0.015;
constexpr double kMissingColumnShare = 0.08;
constexpr double kSweepStartKhz = 2000;
constexpr double kSweepEndKhz = 30000;
constexpr double kLowestBaseKm = 100; // no F layer's base lies lower
constexpr double kShorterKm = 2500;
constexpr int kDays = 4;
constexpr int kSweepsPerDay = 24;
constexpr std::uint32_t kDefaultSeed = 20261208;

struct Sky {
    SphericalPath path;
    double audioMs = 0;
};

double Uniform(std::mt19937& random, double low, double high) {
    return std::uniform_real_distribution<double>(low, high)(random);
}

// The trace as the scaler would give it, its delays as measured (audio delay in) when keepAudio,
// else with the program's setting (the true audio delay) taken off.
std::vector<geo::TracePoint> Spoilt(const Sky& sky, std::mt19937& random, bool keepAudio) {
    const double mof = ionogram::TracedMofKhz(sky.path);
    // The trace is heard from somewhere between a third and two thirds of its MOF.
    const double lowest = std::max(kSweepStartKhz, Uniform(random, 0.33, 0.66) * mof);
    const double fromKhz = std::ceil(lowest / geo::kStepKhz) * geo::kStepKhz;
    // The high ray fades within this much delay of the low ray.
    const double highSpanMs = Uniform(random, 0.15, 1.5);
    std::normal_distribution<double> noise(0, kDelayNoiseMs);
    const std::vector<geo::TracePoint> traced =
        ionogram::TracedTrace(sky.path, fromKhz, geo::kStepKhz);
    std::vector<geo::TracePoint> trace;
    for (std::size_t first = 0, end = 0; first < traced.size(); first = end) {
        end = first;
        double lowMs = -1; // the column's low ray, if it has one (a long hop may show none)
        while (end < traced.size() && traced[end].khz == traced[first].khz) {
            lowMs = traced[end].high ? lowMs : traced[end].delayMs;
            ++end;
        }
        if (Uniform(random, 0, 1) < kMissingColumnShare) {
            continue;
        }
        const std::size_t columnStart = trace.size();
        for (std::size_t i = first; i < end; ++i) {
            const geo::TracePoint& point = traced[i];
            if (point.high && lowMs >= 0 && point.delayMs - lowMs > highSpanMs) {
                continue; // faded
            }
            const double measured = point.delayMs + sky.audioMs + noise(random);
            const double cell = std::round(measured / kCellMs) * kCellMs;
            const double delay = keepAudio ? cell : cell - sky.audioMs;
            if (trace.size() > columnStart &&
                std::abs(delay - trace.back().delayMs) < kCellMs / 2) {
                continue; // both rays in one cell at the nose
            }
            trace.push_back({point.khz, delay, point.high});
        }
    }
    return trace;
}

// A random sky whose path the layer can carry within the sweep.
Sky RandomSky(std::mt19937& random) {
    for (;;) {
        Sky sky;
        sky.path.groundKm = Uniform(random, 300, 4000);
        sky.path.hops = std::uniform_int_distribution<int>(1, 3)(random);
        sky.path.layer = {Uniform(random, 3000, 14000), Uniform(random, 220, 400),
                          Uniform(random, 50, 150)};
        sky.audioMs = Uniform(random, 0.5, 2);
        if (sky.path.layer.peakKm - sky.path.layer.semiThicknessKm < kLowestBaseKm) {
            continue;
        }
        const double mof = ionogram::TracedMofKhz(sky.path);
        if (mof > kSweepStartKhz + 3 * geo::kStepKhz && mof < kSweepEndKhz) {
            return sky;
        }
    }
}

QString Share(int count, int total) {
    return QString("%1 % (%2 of %3)").arg(100.0 * count / total, 0, 'f', 1).arg(count).arg(total);
}

struct Errors {
    std::vector<double> fof2;
    int peaksNear = 0;
    int modesRight = 0;
    int fitted = 0;

    void Add(const geo::PathLayer& found, const SphericalPath& truth) {
        fof2.push_back(std::abs(found.criticalKhz / truth.layer.criticalKhz - 1) * 100);
        peaksNear += std::abs(found.peakKm - truth.layer.peakKm) <= 30;
        modesRight += found.mode == std::to_string(truth.hops) + "F";
        fitted += found.method == "fit";
    }

    void Print(const QString& what, const QString& method) const {
        const int total = fof2.size();
        bench::PrintRow("geometry: foF2 at the midpoint, error, " + what,
                        QString("median %1 %, 90% %2 % (goals 3 %, 8 %), %3 fitted of %4")
                            .arg(bench::Median(fof2), 0, 'f', 2)
                            .arg(bench::Percentile(fof2, 0.9), 0, 'f', 2)
                            .arg(fitted)
                            .arg(total),
                        method);
        bench::PrintRow("geometry: hmF2 within 30 km, " + what,
                        Share(peaksNear, total) + " (goal 90 %)", method);
        bench::PrintRow("geometry: mode label right, " + what,
                        Share(modesRight, total) + " (goal 95 %)", method);
    }
};

void Paths(std::mt19937& random) {
    Errors sweeps;
    Errors shorter; // the same, paths below kShorterKm
    Errors alone;
    std::vector<double> modelMofErrors;
    std::vector<double> cpuMs;
    for (int i = 0; i < kPaths; ++i) {
        const Sky sky = RandomSky(random);
        // The sky shows the path's mode and every lower one the layer carries.
        std::vector<Sky> modes;
        std::vector<std::vector<geo::TracePoint>> traces;
        for (int hops = 1; hops <= sky.path.hops; ++hops) {
            Sky mode = sky;
            mode.path.hops = hops;
            const double tracedMof = ionogram::TracedMofKhz(mode.path);
            if (tracedMof > kSweepStartKhz + 3 * geo::kStepKhz) {
                modes.push_back(mode);
                traces.push_back(Spoilt(mode, random, false));
                modelMofErrors.push_back(
                    std::abs(geo::ObliqueMofKhz(mode.path.layer, hops, mode.path.groundKm) /
                                 tracedMof -
                             1) *
                    100);
            }
        }
        const std::clock_t begin = std::clock();
        const std::vector<geo::PathLayer> found = geo::FitSweep(traces, sky.path.groundKm);
        cpuMs.push_back(1000.0 * (std::clock() - begin) / CLOCKS_PER_SEC / traces.size());
        for (std::size_t k = 0; k < traces.size(); ++k) {
            sweeps.Add(found[k], modes[k].path);
            if (sky.path.groundKm < kShorterKm) {
                shorter.Add(found[k], modes[k].path);
            }
            const auto& truth = modes[k].path.layer;
            if (std::abs(found[k].criticalKhz / truth.criticalKhz - 1) > 0.08 ||
                std::abs(found[k].peakKm - truth.peakKm) > 30 ||
                found[k].mode != std::to_string(modes[k].path.hops) + "F") {
                bench::Note(QString("D %1 km %2 hop(s) foF2 %3 hmF2 %4 ym %5, %6 cells: %7 %8 "
                                    "foF2 %9 hmF2 %10 ym %11 misfit %12")
                                .arg(sky.path.groundKm, 0, 'f', 0)
                                .arg(modes[k].path.hops)
                                .arg(truth.criticalKhz, 0, 'f', 0)
                                .arg(truth.peakKm, 0, 'f', 0)
                                .arg(truth.semiThicknessKm, 0, 'f', 0)
                                .arg(traces[k].size())
                                .arg(QString::fromStdString(found[k].method + " " + found[k].mode))
                                .arg(QString::fromStdString(found[k].error))
                                .arg(found[k].criticalKhz, 0, 'f', 0)
                                .arg(found[k].peakKm, 0, 'f', 0)
                                .arg(found[k].semiThicknessKm, 0, 'f', 0)
                                .arg(found[k].misfit, 0, 'f', 2));
            }
        }
        // The path's own mode fitted alone, as if the sweep showed no other.
        alone.Add(geo::FitTrace(traces.back(), sky.path.groundKm), modes.back().path);
    }
    const QString paths = QString("%1 paths, D 300-4000 km, 1-3 hops, foF2 3-14 MHz, hmF2 220-400 "
                                  "km, semi-thickness 50-150 km, exact ray traces spoilt as an "
                                  "ionogram spoils them (not through the dechirp and scaler)")
                              .arg(kPaths);
    sweeps.Print("every trace of a sweep",
                 paths + "; each sweep shows the path's mode and every lower one (a 3-hop path "
                         "also 1F and 2F), fitted together");
    shorter.Print(QString("every trace, paths below %1 km").arg(kShorterKm),
                  "the same sweeps, those of paths shorter than that (longer ones' 1-hop rays "
                  "leave near the horizon, where the equivalent path strays most)");
    alone.Print("a trace alone", paths + "; the path's own mode fitted without the others");
    bench::PrintRow("geometry: equivalent-path MOF against the ray trace",
                    QString("median %1 %, largest %2 %")
                        .arg(bench::Median(modelMofErrors), 0, 'f', 2)
                        .arg(bench::Percentile(modelMofErrors, 1), 0, 'f', 2),
                    "the true layer's MOF by Martyn's theorem with the curvature factor, against "
                    "the exact ray trace's, every mode of the same paths");
    bench::PrintRow("geometry: CPU per trace fit",
                    QString("mean %1 ms, 90% %2 ms")
                        .arg(bench::Mean(cpuMs), 0, 'f', 1)
                        .arg(bench::Percentile(cpuMs, 0.9), 0, 'f', 1),
                    "process CPU time of FitSweep over a sweep's traces, hops 1 to 4 tried, "
                    "per trace");
}

// Days of one path each: foF2 and hmF2 follow the sun; every hour one sweep shows 1F and 2F,
// their delays as measured (the program's setting is 0).
void AudioDelay(std::mt19937& random) {
    std::vector<double> errors;
    int estimates = 0;
    for (int day = 0; day < kDays; ++day) {
        const double groundKm = Uniform(random, 800, 2500);
        const double audioMs = Uniform(random, 0.5, 2);
        const double noonFoF2 = Uniform(random, 8000, 13000);
        std::vector<double> dayEstimates;
        for (int hour = 0; hour < kSweepsPerDay; ++hour) {
            const double sun = std::max(0.0, std::cos((hour - 12) * std::numbers::pi / 12));
            const geo::Layer layer{noonFoF2 * (0.45 + 0.55 * sun), 330 - 70 * sun,
                                   Uniform(random, 60, 120)};
            const Sky one{{layer, groundKm, 1}, audioMs};
            const Sky two{{layer, groundKm, 2}, audioMs};
            const auto estimate = geo::EstimateAudioDelay(Spoilt(one, random, true),
                                                          Spoilt(two, random, true), groundKm);
            if (estimate.valid) {
                dayEstimates.push_back(estimate.delayMs);
            }
        }
        estimates += dayEstimates.size();
        const double median = geo::MedianAudioDelay(dayEstimates);
        errors.push_back(std::abs(median - audioMs));
        bench::Note(QString("day %1: D %2 km, audio delay %3 ms, estimated %4 ms from %5 sweeps")
                        .arg(day + 1)
                        .arg(groundKm, 0, 'f', 0)
                        .arg(audioMs, 0, 'f', 3)
                        .arg(median, 0, 'f', 3)
                        .arg(dayEstimates.size()));
    }
    bench::PrintRow("geometry: audio delay from 1F + 2F over a day",
                    QString("largest error %1 ms over %2 days (goal 0.1 ms)")
                        .arg(bench::Percentile(errors, 1), 0, 'f', 3)
                        .arg(kDays),
                    QString("median of the day's estimates, %1 sweeps a day (%2 estimates in all), "
                            "D 800-2500 km, audio delay 0.5-2 ms, traces as above")
                        .arg(kSweepsPerDay)
                        .arg(estimates));
}

} // namespace

int main() {
    const char* seedText = std::getenv("TAVMIROK_GEOMETRY_SEED");
    std::mt19937 random(seedText ? std::strtoul(seedText, nullptr, 10) : kDefaultSeed);
    Paths(random);
    AudioDelay(random);
    return 0;
}
