// From an oblique trace to the layer over the path's midpoint, over many simulated paths (ground
// distance, hops, foF2, hmF2 and semi-thickness at random), the fitted foF2, hmF2 and mode set
// against the layer's own; then the audio delay from 1F + 2F pairs over simulated days. Twice:
//  - through the program's whole chain: each sweep's audio made by the simulated ionosphere
//    from layers ray-traced over a curved earth, with an audio delay the dechirp takes off,
//    dechirped, scaled by the real scaler, and fitted as the station fits it (GeometryOf);
//  - from traces built here: the exact ray trace spoilt as an ionogram spoils it (delays
//    quantised to 0.05 ms cells after noise, a few missing columns, the high ray seen only near
//    the nose), to tell the fit's own errors from the scaler's; and once more with the F2 peak
//    drawn at 200-450 km, wider than the layers the fit takes for usual.
// TAVMIROK_GEOMETRY_SEED=N draws other sets; TAVMIROK_GEOMETRY_PATHS=N fits N paths of each
// set instead of 200; TAVMIROK_GEOMETRY_DECHIRPED_ONLY=1 runs the first alone and
// TAVMIROK_GEOMETRY_DAYS=N gives it N days instead of 4;
// TAVMIROK_GEOMETRY_CACHE=FILE keeps its dechirped sweeps between runs (see sweepcache.h);
// TAVMIROK_GEOMETRY_ONLY=3,17 scales and fits only those paths of the first (the others drawn
// and read from the cache alike, so each path is the one a full run has), prints their traces'
// cells beside the true mode's ray trace, and skips the days.

#include "benchrow.h"
#include "core/units.h"
#include "geo/layerfit.h"
#include "ionogram/dechirp.h"
#include "ionogram/pathgeometry.h"
#include "ionogram/scaler.h"
#include "simulation/ionolayer.h"
#include "simulation/raytrace.h"
#include "simulation/realisticsky.h"
#include "simulation/simulatedionosphere.h"
#include "testkit/sweepcache.h"
#include "testkit/syntheticsweep.h"

#include <QString>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <random>
#include <vector>

using ionogram::SphericalPath;

namespace {

constexpr int kDefaultPaths = 200;
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
// The dechirped sweeps: the sounder, noise and levels of bench_scaler's.
constexpr double kSampleRate = 48000;
constexpr double kChirpTime = 78;
constexpr double kNoiseRms = 0.01;
constexpr double kDechirpGainDb = 19; // a mode's cell SNR over its level in the passband
constexpr double kLowestLevelDb = 10; // a mode's low ray, cell SNR
constexpr double kHighestLevelDb = 28;
constexpr double kCurveMs = 0.3;    // a trace's cell lies on a mode's ray this near it
constexpr double kOwnedShare = 0.5; // a trace is a mode's when this share of its cells is
constexpr int kNotedFailures = 120;

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

// Where the drawn skies put the F2 peak: the fit's own idea of a usual layer (220-400 km), and a
// wider range, so that a fit which merely leans on that idea shows it.
struct PeakRange {
    double lowestKm, highestKm;
};
constexpr PeakRange kUsualPeaks{220, 400};
constexpr PeakRange kWiderPeaks{200, 450};

// A random sky whose path the layer can carry within the sweep.
Sky RandomSky(std::mt19937& random, PeakRange peaks = kUsualPeaks) {
    for (;;) {
        Sky sky;
        sky.path.groundKm = Uniform(random, 300, 4000);
        sky.path.hops = std::uniform_int_distribution<int>(1, 3)(random);
        sky.path.layer = {Uniform(random, 3000, 14000),
                          Uniform(random, peaks.lowestKm, peaks.highestKm),
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
        fitted += found.method == geo::kFitted || found.method == geo::kFittedOpen;
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

// The skies' peaks drawn from peaks; beyond the usual range, the rows of every trace alone.
void Paths(std::mt19937& random, int pathCount, PeakRange peaks = kUsualPeaks) {
    const bool wider =
        peaks.lowestKm != kUsualPeaks.lowestKm || peaks.highestKm != kUsualPeaks.highestKm;
    Errors sweeps;
    Errors shorter; // the same, paths below kShorterKm
    Errors alone;
    std::vector<double> modelMofErrors;
    std::vector<double> cpuMs;
    for (int i = 0; i < pathCount; ++i) {
        const Sky sky = RandomSky(random, peaks);
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
        if (!wider) {
            alone.Add(geo::FitTrace(traces.back(), sky.path.groundKm), modes.back().path);
        }
    }
    const QString paths = QString("%1 paths, D 300-4000 km, 1-3 hops, foF2 3-14 MHz, hmF2 %2-%3 "
                                  "km, semi-thickness 50-150 km, exact ray traces spoilt as an "
                                  "ionogram spoils them (not through the dechirp and scaler)")
                              .arg(pathCount)
                              .arg(peaks.lowestKm)
                              .arg(peaks.highestKm);
    if (wider) {
        sweeps.Print(QString("every trace, hmF2 %1-%2 km").arg(peaks.lowestKm).arg(peaks.highestKm),
                     paths + "; drawn wider than the fit's usual F2 peaks (220-400 km), the sweeps "
                             "otherwise as above");
        return;
    }
    sweeps.Print("every trace of a sweep",
                 paths + "; each sweep shows the path's mode and every lower one (a 3-hop path "
                         "also 1F and 2F), fitted together");
    shorter.Print(QString("every trace, paths below %1 km").arg(kShorterKm),
                  "the same sweeps, those of paths shorter than that (longer ones' 1-hop rays "
                  "leave near the horizon, where the fit's trace once strayed most)");
    alone.Print("a trace alone", paths + "; the path's own mode fitted without the others");
    bench::PrintRow("geometry: the fit's MOF against the ray scan",
                    QString("median %1 %, largest %2 %")
                        .arg(bench::Median(modelMofErrors), 0, 'f', 2)
                        .arg(bench::Percentile(modelMofErrors, 1), 0, 'f', 2),
                    "the true layer's MOF as the fit's trace finds it (elevations from the "
                    "equivalent path, each landing frequency solved on the exact ray), against "
                    "the exact ray trace's, every mode of the same paths");
    bench::PrintRow("geometry: CPU per trace fit",
                    QString("mean %1 ms, 90% %2 ms")
                        .arg(bench::Mean(cpuMs), 0, 'f', 1)
                        .arg(bench::Percentile(cpuMs, 0.9), 0, 'f', 1),
                    "process CPU time of FitSweep over a sweep's traces, hops 1 to 4 tried, "
                    "per trace");
}

// The audio delay's error each day: the median of the day's estimates against the true delay.
struct DayErrors {
    std::vector<double> errors;
    int estimates = 0;

    void Add(const QString& what, double groundKm, double audioMs,
             const std::vector<double>& dayEstimates) {
        estimates += dayEstimates.size();
        const double median = geo::MedianAudioDelay(dayEstimates);
        errors.push_back(dayEstimates.empty() ? INFINITY : std::abs(median - audioMs));
        bench::Note(QString("%1 day %2: D %3 km, audio delay %4 ms, estimated %5 ms from %6 sweeps")
                        .arg(what)
                        .arg(errors.size())
                        .arg(groundKm, 0, 'f', 0)
                        .arg(audioMs, 0, 'f', 3)
                        .arg(median, 0, 'f', 3)
                        .arg(dayEstimates.size()));
    }

    void Print(const QString& measure, const QString& method) const {
        bench::PrintRow(measure,
                        QString("largest error %1 ms over %2 days (goal 0.1 ms)")
                            .arg(bench::Percentile(errors, 1), 0, 'f', 3)
                            .arg(errors.size()),
                        QString("median of the day's estimates, %1 sweeps a day (%2 estimates in "
                                "all), D 800-2500 km, audio delay 0.5-2 ms, ")
                                .arg(kSweepsPerDay)
                                .arg(estimates) +
                            method);
    }
};

// Days of one path each: foF2 and hmF2 follow the sun; every hour one sweep shows 1F and 2F,
// their delays as measured (the program's setting is 0).
void AudioDelay(std::mt19937& random) {
    DayErrors days;
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
        days.Add("spoilt traces,", groundKm, audioMs, dayEstimates);
    }
    days.Print("geometry: audio delay from 1F + 2F over a day", "traces as above");
}

// Through the dechirp and the scaler --------------------------------------------------------

// The point km along the great circle that leaves from at bearingDeg.
geo::Position Destination(const geo::Position& from, double bearingDeg, double km) {
    constexpr double kDegree = std::numbers::pi / 180;
    const double angle = km / geo::kEarthRadiusKm;
    const double lat = from.latitude * kDegree;
    const double bearing = bearingDeg * kDegree;
    const double toLat = std::asin(std::sin(lat) * std::cos(angle) +
                                   std::cos(lat) * std::sin(angle) * std::cos(bearing));
    const double east = std::atan2(std::sin(bearing) * std::sin(angle) * std::cos(lat),
                                   std::cos(angle) - std::sin(lat) * std::sin(toLat));
    const double lon = std::remainder(from.longitude + east / kDegree, 360.0);
    return {toLat / kDegree, lon};
}

// The modes a sky shows: every hop count up to the path's whose MOF the sweep reaches, each
// ray-traced over the curved earth, its low ray a random level over the noise.
std::vector<ionogram::IonosphericLayer> SkyModes(const geo::Layer& layer, double groundKm, int hops,
                                                 std::mt19937& random) {
    std::vector<ionogram::IonosphericLayer> modes;
    for (int n = 1; n <= hops; ++n) {
        if (ionogram::TracedMofKhz({layer, groundKm, n}) > kSweepStartKhz + 3 * geo::kStepKhz) {
            const double levelDb = Uniform(random, kLowestLevelDb, kHighestLevelDb);
            modes.push_back({layer.criticalKhz, layer.peakKm, layer.semiThicknessKm, groundKm, n,
                             ionogram::Amplitude(kNoiseRms, levelDb, kDechirpGainDb), true});
        }
    }
    return modes;
}

// The mode whose rays most of a scaled trace's cells lie on, or -1 when none holds half of them.
int OwnerMode(const std::vector<ionogram::IonosphericLayer>& modes,
              const ionogram::ScaledTrace& trace) {
    std::vector<int> count(modes.size(), 0);
    for (const ionogram::TracePoint& point : trace.points) {
        int nearest = -1;
        double best = kCurveMs;
        for (std::size_t m = 0; m < modes.size(); ++m) {
            for (const ionogram::LayerRay& ray : ionogram::LayerRays(modes[m], point.khz)) {
                if (std::abs(ray.delayMs - point.delayMs) <= best) {
                    best = std::abs(ray.delayMs - point.delayMs);
                    nearest = int(m);
                }
            }
        }
        count[std::max(nearest, 0)] += nearest >= 0;
    }
    const auto best = std::max_element(count.begin(), count.end());
    return best != count.end() && *best >= kOwnedShare * double(trace.points.size())
               ? int(best - count.begin())
               : -1;
}

// Why a dechirped trace's layer missed (foF2 beyond 8 %, hmF2 beyond 30 km or a wrong mode), the
// first that holds: the scaler split its mode into several traces, or lost its nose (its MOF 2 %
// off the ray trace's) though the sweep heard above it; the sweep ends below its nose; the fit
// gave it too many hops or too few, or the right hops but a layer off.
struct MissCauses {
    static constexpr double kNoseLost = 0.02;
    int split = 0, noseLost = 0, cut = 0, tooMany = 0, tooFew = 0, layerOff = 0;

    // The cause it was counted under, for the path's note.
    const char* Add(const geo::PathLayer& found, const SphericalPath& truth, bool splitMode,
                    double mofRatio) {
        const bool cutTrace =
            found.method == geo::kFittedOpen || found.method == geo::kFallBackOpen;
        if (splitMode) {
            ++split;
            return "split";
        }
        if (cutTrace) {
            ++cut;
            return "cut";
        }
        if (std::abs(mofRatio - 1) > kNoseLost || !found.error.empty()) {
            ++noseLost;
            return "nose lost";
        }
        if (found.hops > truth.hops) {
            ++tooMany;
            return "too many hops";
        }
        if (found.hops < truth.hops) {
            ++tooFew;
            return "too few hops";
        }
        ++layerOff;
        return "layer off";
    }

    void Print(const QString& method) const {
        bench::PrintRow("geometry, dechirped: misses by cause",
                        QString("scaler: %1 split, %2 nose lost; sweep's top: %3; fit: %4 hops "
                                "too many, %5 too few, %6 layer off at the right hops")
                            .arg(split)
                            .arg(noseLost)
                            .arg(cut)
                            .arg(tooMany)
                            .arg(tooFew)
                            .arg(layerOff),
                        method + "; a miss is foF2 beyond 8 %, hmF2 beyond 30 km or a wrong mode, "
                                 "counted under the first cause that holds");
    }
};

// A sweep of the modes made, dechirped and scaled, and its geometry as the station finds it.
struct ScaledPath {
    ionogram::ScaledSweep scaled;
    ionogram::SweepGeometry geometry;
};

ScaledPath ScalePath(SweepCache* cache, SyntheticSweeps* maker,
                     const std::vector<ionogram::IonosphericLayer>& modes, double groundKm,
                     std::uint32_t seed, std::mt19937& random, bool skip = false) {
    const geo::Position station{Uniform(random, -60, 60), Uniform(random, -180, 180)};
    const geo::Position sounder = Destination(station, Uniform(random, 0, 360), groundKm);
    ScaledPath path;
    const ionogram::IonogramSweep sweep = cache->Get([&] { return maker->Make(modes, seed); });
    if (skip) {
        return path;
    }
    path.scaled = ionogram::ScaleSweep(sweep);
    path.geometry = ionogram::GeometryOf(sweep, path.scaled, station, sounder);
    return path;
}

// The receiver filter's delay as a dechirped mode shows it, measured as a user calibrates: a
// noiseless mode of known delay through the filter and the dechirp (no setting), its peak less
// that delay. The filter's mean group delay over the passband (0.28 ms at 48 kHz) weighs the
// band's edges, where a Butterworth filter holds a tone longest, as much as its middle; the
// dechirp's taper weighs the middle (0.22 ms). Taken for the audio delay, the mean put every
// dechirped delay here 0.06 ms early against its ray.
double FilterDelayMs() {
    constexpr double kKnownMs = 5;
    constexpr double kDialKhz = 5000;
    constexpr double kSpareSeconds = 0.05; // audio before the column's, for the filter to settle
    const ionogram::SounderProfile profile;
    ionogram::SimulatedIonosphere::Settings settings;
    settings.sampleRate = kSampleRate;
    settings.chirpTime = kChirpTime;
    settings.modes = {{kKnownMs, profile.lowFrequency, profile.highFrequency, 1, 0}};
    ionogram::SimulatedIonosphere sky(settings);
    ionogram::DechirpSettings dechirp;
    dechirp.sampleRate = kSampleRate;
    ionogram::DechirpColumn column(dechirp);
    const double crossing = sweep::CrossingInPeriod(profile, kChirpTime, kDialKhz);
    const double first = crossing + column.NeedFrom() - kSpareSeconds;
    std::vector<float> audio(
        std::size_t((column.NeedTo() - column.NeedFrom() + kSpareSeconds) * kSampleRate) + 2);
    sky.Generate(kDialKhz, first, 1 / kSampleRate, audio);
    std::vector<float> snr;
    if (!column.Compute(audio, first, 1 / kSampleRate, crossing, &snr)) {
        return NAN;
    }
    const std::vector<ionogram::ColumnPeak> peaks = ionogram::ColumnPeaks(snr, dechirp.delayFromMs);
    const auto strongest = std::max_element(
        peaks.begin(), peaks.end(), [](const auto& a, const auto& b) { return a.snrDb < b.snrDb; });
    return strongest == peaks.end() ? NAN : strongest->delayMs - kKnownMs;
}

// The paths TAVMIROK_GEOMETRY_ONLY names; empty for all.
std::vector<int> OnlyPaths() {
    std::vector<int> only;
    for (const QString& number : qEnvironmentVariable("TAVMIROK_GEOMETRY_ONLY").split(',')) {
        bool ok = false;
        const int path = number.toInt(&ok);
        if (ok) {
            only.push_back(path);
        }
    }
    return only;
}

// A trace's cells and its mode's ray trace, for a person looking into one path.
void PrintTrace(const ionogram::ScaledTrace& trace, const SphericalPath& truth) {
    QString cells;
    for (const ionogram::TracePoint& point : trace.points) {
        cells += QString(" %1:%2%3")
                     .arg(point.khz, 0, 'f', 0)
                     .arg(point.delayMs, 0, 'f', 6)
                     .arg(point.high ? "h" : "");
    }
    bench::Note("      cells" + cells);
    QString rays;
    const double from = trace.points.empty() ? 0 : trace.points.front().khz;
    for (const geo::TracePoint& point : ionogram::TracedTrace(truth, from, geo::kStepKhz)) {
        rays += QString(" %1:%2%3")
                    .arg(point.khz, 0, 'f', 0)
                    .arg(point.delayMs, 0, 'f', 3)
                    .arg(point.high ? "h" : "");
    }
    bench::Note(QString("      rays over %1 km").arg(truth.groundKm, 0, 'f', 6) + rays);
}

// The virtual height column (the equivalent triangle's apex at a trace's least delay) against the
// truth: the apex at the least delay the true mode's low ray has over the trace's columns, at the
// true hop count. Beside the column as written, the same apex from the scaler's least delay
// (min_delay_ms) at the row's hop count, to tell which least delay serves.
struct HeightErrors {
    std::vector<double> written, scaler;

    static double TrueLeastMs(const ionogram::IonosphericLayer& mode,
                              const ionogram::ScaledTrace& trace) {
        double least = INFINITY;
        for (const ionogram::TracePoint& point : trace.points) {
            for (const ionogram::LayerRay& ray : ionogram::LayerRays(mode, point.khz)) {
                least = ray.high ? least : std::min(least, ray.delayMs);
            }
        }
        return least;
    }

    void Add(const geo::PathLayer& found, const SphericalPath& truth,
             const ionogram::IonosphericLayer& mode, const ionogram::ScaledTrace& trace) {
        if (!found.error.empty() || found.hops < 1) {
            return;
        }
        const double trueKm =
            geo::ApexHeightKm(TrueLeastMs(mode, trace), truth.hops, truth.groundKm);
        if (!std::isfinite(trueKm)) {
            return;
        }
        auto error = [&](double km) { return std::isfinite(km) ? std::abs(km - trueKm) : 1e9; };
        written.push_back(error(found.leastDelayHeightKm));
        scaler.push_back(error(geo::ApexHeightKm(trace.minDelayMs, found.hops, truth.groundKm)));
    }

    static QString Row(const std::vector<double>& errors) {
        const int near =
            std::count_if(errors.begin(), errors.end(), [](double e) { return e <= 20; });
        return QString("median %1 km, 90% %2 km, within 20 km %3")
            .arg(bench::Median(errors), 0, 'f', 1)
            .arg(bench::Percentile(errors, 0.9), 0, 'f', 1)
            .arg(Share(near, int(errors.size())));
    }

    void Print(const QString& method) const {
        const QString truth = "; against the apex at the true mode's least low-ray delay over "
                              "the trace's columns, true hops";
        bench::PrintRow("geometry, dechirped: virtual height column, error", Row(written),
                        method + truth + "; the column as the day file writes it");
        bench::PrintRow("geometry, dechirped: virtual height from the scaler's least delay",
                        Row(scaler), method + truth + "; the row's hops, min_delay_ms");
    }
};

void DechirpedPaths(std::mt19937& random, SweepCache* cache, int paths) {
    const std::vector<int> only = OnlyPaths();
    const double filterMs = FilterDelayMs();
    Errors traces;
    int modesShown = 0;
    int modesMissed = 0;
    int onNoMode = 0;
    int noted = 0;
    std::vector<double> distanceErrors;
    std::vector<double> cellErrors; // a trace's cell less its mode's nearest ray, ms
    MissCauses causes;
    HeightErrors heights;
    for (int i = 0; i < paths; ++i) {
        const Sky sky = RandomSky(random);
        const std::vector<ionogram::IonosphericLayer> modes =
            SkyModes(sky.path.layer, sky.path.groundKm, sky.path.hops, random);
        SyntheticSweeps maker(kSampleRate, kChirpTime, kNoiseRms, sky.audioMs - filterMs,
                              sky.audioMs);
        const bool skip = !only.empty() && std::find(only.begin(), only.end(), i) == only.end();
        const ScaledPath found =
            ScalePath(cache, &maker, modes, sky.path.groundKm, 60000 + i, random, skip);
        if (skip) {
            continue;
        }
        distanceErrors.push_back(std::abs(found.geometry.path.distanceKm - sky.path.groundKm));
        std::vector<int> owners;
        std::vector<int> tracesOf(modes.size(), 0);
        for (const ionogram::ScaledTrace& trace : found.scaled.traces) {
            owners.push_back(OwnerMode(modes, trace));
            tracesOf[std::max(owners.back(), 0)] += owners.back() >= 0;
        }
        for (std::size_t t = 0; t < found.scaled.traces.size(); ++t) {
            const int owner = owners[t];
            if (owner < 0) {
                ++onNoMode;
                continue;
            }
            for (const ionogram::TracePoint& point : found.scaled.traces[t].points) {
                double nearest = INFINITY;
                for (const ionogram::LayerRay& ray : ionogram::LayerRays(modes[owner], point.khz)) {
                    if (std::abs(point.delayMs - ray.delayMs) < std::abs(nearest)) {
                        nearest = point.delayMs - ray.delayMs;
                    }
                }
                if (std::isfinite(nearest)) {
                    cellErrors.push_back(nearest);
                }
            }
            const SphericalPath truth{sky.path.layer, sky.path.groundKm, modes[owner].hops};
            const geo::PathLayer& layer = found.geometry.layers[t];
            traces.Add(layer, truth);
            heights.Add(layer, truth, modes[owner], found.scaled.traces[t]);
            const bool wrong = std::abs(layer.criticalKhz / truth.layer.criticalKhz - 1) > 0.08 ||
                               std::abs(layer.peakKm - truth.layer.peakKm) > 30 ||
                               layer.mode != std::to_string(truth.hops) + "F";
            const char* cause =
                wrong ? causes.Add(layer, truth, tracesOf[owner] > 1,
                                   found.scaled.traces[t].mofKhz / ionogram::TracedMofKhz(truth))
                      : "right";
            if ((wrong || !only.empty()) && noted++ < kNotedFailures) {
                const ionogram::ScaledTrace& trace = found.scaled.traces[t];
                bench::Note(QString("path %1: D %2 km %3F of %4 foF2 %5 hmF2 %6 ym %7, audio %8 "
                                    "ms; trace %9 of %10 cells MOF %11 (traced %12): %13 %14 %15 "
                                    "foF2 %16 hmF2 %17 ym %18")
                                .arg(i)
                                .arg(sky.path.groundKm, 0, 'f', 0)
                                .arg(truth.hops)
                                .arg(modes.size())
                                .arg(truth.layer.criticalKhz, 0, 'f', 0)
                                .arg(truth.layer.peakKm, 0, 'f', 0)
                                .arg(truth.layer.semiThicknessKm, 0, 'f', 0)
                                .arg(sky.audioMs, 0, 'f', 2)
                                .arg(trace.number)
                                .arg(trace.points.size())
                                .arg(trace.mofKhz, 0, 'f', 0)
                                .arg(ionogram::TracedMofKhz(truth), 0, 'f', 0)
                                .arg(QString::fromStdString(layer.method))
                                .arg(QString::fromStdString(layer.mode))
                                .arg(QString::fromStdString(layer.error))
                                .arg(layer.criticalKhz, 0, 'f', 0)
                                .arg(layer.peakKm, 0, 'f', 0)
                                .arg(layer.semiThicknessKm, 0, 'f', 0) +
                            " (" + cause + ")");
            }
            if (!only.empty()) {
                PrintTrace(found.scaled.traces[t], truth);
            }
        }
        modesShown += int(modes.size());
        modesMissed += int(std::count(tracesOf.begin(), tracesOf.end(), 0));
    }
    const QString method =
        QString("%1 paths, D 300-4000 km, 1-3 hops (a path's sweep shows every lower mode too), "
                "foF2 3-14 MHz, hmF2 220-400 km, semi-thickness 50-150 km, audio delay 0.5-2 "
                "ms taken off by the dechirp; audio of rays traced over a curved earth, low rays "
                "10-28 dB over the noise, through the dechirp, the scaler and GeometryOf; each "
                "trace set against the mode whose rays it lies on")
            .arg(paths);
    traces.Print("dechirped and scaled, every trace", method);
    causes.Print(method);
    heights.Print(method);
    bench::PrintRow("geometry, dechirped: modes without a trace, traces on no mode",
                    QString("%1 of %2 modes without a trace; %3 traces on no mode")
                        .arg(modesMissed)
                        .arg(modesShown)
                        .arg(onNoMode),
                    method);
    std::vector<double> spread;
    const double medianError = bench::Median(cellErrors);
    for (double error : cellErrors) {
        spread.push_back(std::abs(error - medianError));
    }
    bench::PrintRow("geometry, dechirped: scaled cells against the rays",
                    QString("median %1 ms, 10% %2 ms, 90% %3 ms; 90% within %4 ms of the median")
                        .arg(bench::Median(cellErrors), 0, 'f', 3)
                        .arg(bench::Percentile(cellErrors, 0.1), 0, 'f', 3)
                        .arg(bench::Percentile(cellErrors, 0.9), 0, 'f', 3)
                        .arg(bench::Percentile(spread, 0.9), 0, 'f', 3),
                    method + "; each scaled cell's delay less its mode's nearest ray's (the "
                             "scaler's delays as the fit receives them)");
    bench::PrintRow("geometry, dechirped: ground distance error",
                    QString("largest %1 km").arg(bench::Percentile(distanceErrors, 1), 0, 'f', 3),
                    "the path's great circle between the drawn station and sounder positions");
}

// Days of one path each, as AudioDelay below, each sweep through the dechirp and the scaler with
// the program's audio delay setting at 0: the station's estimate is the setting plus what the
// 1F and 2F traces still hold.
void DechirpedAudioDelay(std::mt19937& random, SweepCache* cache) {
    const double filterMs = FilterDelayMs();
    constexpr double kSettingMs = 0;
    DayErrors days;
    const int dayCount = qEnvironmentVariableIsSet("TAVMIROK_GEOMETRY_DAYS")
                             ? qEnvironmentVariableIntValue("TAVMIROK_GEOMETRY_DAYS")
                             : kDays;
    for (int day = 0; day < dayCount; ++day) {
        const double groundKm = Uniform(random, 800, 2500);
        const double audioMs = Uniform(random, 0.5, 2);
        const double noonFoF2 = Uniform(random, 8000, 13000);
        SyntheticSweeps maker(kSampleRate, kChirpTime, kNoiseRms, audioMs - filterMs, kSettingMs);
        std::vector<double> dayEstimates;
        for (int hour = 0; hour < kSweepsPerDay; ++hour) {
            const double sun = std::max(0.0, std::cos((hour - 12) * std::numbers::pi / 12));
            const geo::Layer layer{noonFoF2 * (0.45 + 0.55 * sun), 330 - 70 * sun,
                                   Uniform(random, 60, 120)};
            const ScaledPath found =
                ScalePath(cache, &maker, SkyModes(layer, groundKm, 2, random), groundKm,
                          70000 + day * kSweepsPerDay + hour, random);
            if (found.geometry.audioDelayErrorMs) {
                dayEstimates.push_back(kSettingMs + *found.geometry.audioDelayErrorMs);
            }
        }
        days.Add("dechirped,", groundKm, audioMs, dayEstimates);
    }
    days.Print("geometry, dechirped: audio delay from 1F + 2F over a day",
               "through the dechirp and the scaler with the audio delay setting at 0, 1F and 2F "
               "ray-traced");
}

} // namespace

int main() {
    const char* seedText = std::getenv("TAVMIROK_GEOMETRY_SEED");
    const std::uint32_t seed = seedText ? std::strtoul(seedText, nullptr, 10) : kDefaultSeed;
    const int paths = qEnvironmentVariableIsSet("TAVMIROK_GEOMETRY_PATHS")
                          ? qEnvironmentVariableIntValue("TAVMIROK_GEOMETRY_PATHS")
                          : kDefaultPaths;
    {
        std::mt19937 random(seed + 1);
        SweepCache cache("TAVMIROK_GEOMETRY_CACHE", seed);
        DechirpedPaths(random, &cache, paths);
        if (!qEnvironmentVariableIsSet("TAVMIROK_GEOMETRY_ONLY")) {
            DechirpedAudioDelay(random, &cache);
        }
    }
    if (qEnvironmentVariableIntValue("TAVMIROK_GEOMETRY_DECHIRPED_ONLY") == 1) {
        return 0;
    }
    std::mt19937 random(seed);
    Paths(random, paths);
    std::mt19937 wider(seed + 2);
    Paths(wider, paths, kWiderPeaks);
    AudioDelay(random);
    return 0;
}
