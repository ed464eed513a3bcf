// How well the scaler reads synthetic sweeps through the real dechirp: each sweep's 280 columns
// computed from the simulated ionosphere's audio (only the audio each column needs), one to
// three modes reflected by parabolic layers with known MOF and least delay, then scaled; each
// scaled trace matched to its mode. Also sweeps of noise alone and of noise with a carrier
// keyed inside 5 % of the columns, counting the traces found there (all false), and the CPU
// time the scaler takes per sweep. Figures are printed, never judged.
// TAVMIROK_SCALER_DUMP=N prints signal sweep N's modes, column peaks and traces instead;
// TAVMIROK_SCALER_SEED=N (N > 0) draws another set of sweeps, to check a threshold on.
// The realistic set (skies of long paths, see realisticsky.h) follows; TAVMIROK_SCALER_DUMP_REAL=N
// prints its sweep N instead, TAVMIROK_SCALER_DUMP_REAL_TO=DIR writes every sweep's print to
// DIR/N.txt as it goes, TAVMIROK_SCALER_REAL_ONLY=1 runs the set alone;
// TAVMIROK_SCALER_NOTES=N notes its first N gross errors (40 unless set),
// TAVMIROK_SCALER_EARTH=curved traces its rays over the curved earth. The preset sky follows;
// TAVMIROK_SCALER_DUMP_PRESET=N prints its seed N instead and runs nothing else.

#include "benchrow.h"
#include "core/units.h"
#include "ionogram/scaler.h"
#include "simulation/ionolayer.h"
#include "simulation/realisticsky.h"
#include "simulation/simulatedionosphere.h"
#include "testkit/sweepcache.h"
#include "testkit/syntheticsweep.h"

#include <QString>
#include <QStringList>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
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
constexpr int kTimedRuns = 3; // each realistic sweep scaled this often, the least CPU taken
constexpr int kRealisticSweeps = 300;
constexpr char kRealisticDumpVariable[] = "TAVMIROK_SCALER_DUMP_REAL";
constexpr char kEarthVariable[] = "TAVMIROK_SCALER_EARTH";
constexpr char kRealisticDumpDirVariable[] = "TAVMIROK_SCALER_DUMP_REAL_TO";
constexpr char kRealisticOnlyVariable[] = "TAVMIROK_SCALER_REAL_ONLY";
constexpr char kPresetDumpVariable[] = "TAVMIROK_SCALER_DUMP_PRESET";
constexpr double kCurveMs = 0.3;     // a trace's cell lies on a mode's curve this near it
constexpr double kStandingDb = 10;   // a nose standing this far over the noise must be scaled
constexpr double kGrossKhz = 500;    // a MOF off by more is a gross error
constexpr double kOwnedShare = 0.5;  // a trace is a mode's when this share of its cells is
constexpr double kMergedShare = 0.2; // ... and holds another mode too when this share is
constexpr int kMergedCells = 4;
constexpr double kClearMs = 0.3; // modes closer than this to another are no longer told apart

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
    const double firstKhz = sweep::StepFrequency(profile, 0) / units::kHertzPerKilohertz;
    for (;;) {
        const double range = in(200, 3000);
        const double fPeak = in(250, 350);
        const double fThick = in(50, 100);
        std::vector<ModelMode> modes;
        auto add = [&](double peak, double thick, int hops, double mof, const char* kind) {
            const double levelDb = in(10, 28); // expected cell SNR of the low ray
            const double amplitude = Amplitude(kNoiseRms, levelDb, kDechirpGainDb);
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

// The MOFs of the traces a mode owns beyond its first, for the notes.
QString OwnedMofs(const ScaledSweep& scaled, const std::vector<int>& traces) {
    QString text;
    for (std::size_t i = 1; i < traces.size(); ++i) {
        text += QString(i == 1 ? "; also MOF %1" : ", %1")
                    .arg(scaled.traces[traces[i]].mofKhz, 0, 'f', 0);
    }
    return text;
}

// Which modes' curves (O or X, low or high ray, over its multipath spread) a trace's cell lies
// on, within kCurveMs: where two modes' low rays run together, both; and the nearest of them
// (by the middle of the strongest paths), or -1.
struct CellModes {
    std::vector<bool> on;
    int nearest = -1;
};

std::vector<CellModes> OnCurves(const RealisticSky& sky, const ScaledTrace& trace) {
    const int modes = int(sky.Config().modes.size());
    std::vector<CellModes> cells;
    for (const TracePoint& point : trace.points) {
        CellModes cell{std::vector<bool>(modes, false), -1};
        double nearest = INFINITY;
        for (int m = 0; m < modes; ++m) {
            const double spread = sky.Config().modes[m].spreadMs;
            for (const LayerRay& ray : sky.ModeCurves(m, point.khz)) {
                const double apart = std::max(
                    {0.0, ray.delayMs - point.delayMs, point.delayMs - ray.delayMs - spread});
                const double middle = std::abs(point.delayMs - ray.delayMs - spread / 3);
                if (apart <= kCurveMs) {
                    cell.on[m] = true;
                    if (middle < nearest) {
                        nearest = middle;
                        cell.nearest = m;
                    }
                }
            }
        }
        cells.push_back(cell);
    }
    return cells;
}

// The cell SNR expected at a mode's nose: in the last column at or under its MOF, where the
// sounder is heard and no broadcaster floods it (else -inf: the nose does not stand).
// The last column at or under the mode's MOF, or -1.
int NoseColumn(const RealisticSky& sky, int mode, const IonogramSweep& sweep) {
    int column = -1;
    for (int c = 0; c < int(sweep.frequenciesKhz.size()); ++c) {
        const double khz = sweep.frequenciesKhz[c];
        if (khz <= sky.MofKhz(mode) && (column < 0 || khz > sweep.frequenciesKhz[column])) {
            column = c;
        }
    }
    return column;
}

// One mode of a sky alone, its amplitudes times sign, and nothing else of the sky.
class OneMode : public SkyModel {
public:
    OneMode(std::shared_ptr<const RealisticSky> whole, int which, double by)
        : sky(std::move(whole)), mode(which), sign(by) {}
    std::vector<LayerRay> Rays(double dialKhz) const override {
        std::vector<LayerRay> rays = sky->ModeRays(mode, dialKhz);
        for (LayerRay& ray : rays) {
            ray.amplitude *= sign;
        }
        return rays;
    }
    void AddAudio(double, double, double, double, std::span<double>) const override {}

private:
    std::shared_ptr<const RealisticSky> sky;
    int mode;
    double sign;
};

// The cell SNR of a mode's nose: in the last column at or under its MOF (where the sounder is
// heard and no broadcaster floods it; else -inf), the most power the mode's own paths put in one
// cell on its rays (within its multipath spread), over the noise's median cell. The paths are
// tones at their own delays and carrier phases: they add in a cell as the dechirp has them, not
// as amplitudes in phase. The dechirp is linear up to the cell's power, so with the same noise,
// |S + N|^2 + |-S + N|^2 - 2 |N|^2 = 2 |S|^2 cell by cell: the mode's power without the noise.
double NoseSnrDb(SyntheticSweeps* maker, const std::shared_ptr<const RealisticSky>& sky, int mode,
                 const IonogramSweep& sweep) {
    const int column = NoseColumn(*sky, mode, sweep);
    const double khz = column < 0 ? 0 : sweep.frequenciesKhz[column];
    if (column < 0 || sky->MofKhz(mode) - khz > 100 || !sky->Transmitting(khz) ||
        sky->Flooded(khz)) {
        return -INFINITY;
    }
    constexpr std::uint32_t kNoiseSeed = 7;
    auto cells = [&](double sign) {
        const std::shared_ptr<const SkyModel> alone =
            sign == 0 ? nullptr : std::make_shared<OneMode>(sky, mode, sign);
        const IonogramSweep one = maker->MakeAt({khz}, {}, kNoiseSeed, {}, alone);
        std::vector<double> power;
        for (float db : one.snrDb[0]) {
            power.push_back(std::pow(10.0, db / 10));
        }
        return power;
    };
    const std::vector<double> plus = cells(1);
    const std::vector<double> minus = cells(-1);
    const std::vector<double> noise = cells(0);
    const double spread = sky->Config().modes[mode].spreadMs;
    double most = 0;
    for (std::size_t i = 0; i < plus.size(); ++i) {
        const double delay = sweep.DelayMs(int(i));
        for (const LayerRay& ray : sky->ModeRays(mode, khz)) {
            if (delay >= ray.delayMs - kCurveMs && delay <= ray.delayMs + spread + kCurveMs) {
                most = std::max(most, (plus[i] + minus[i] - 2 * noise[i]) / 2);
            }
        }
    }
    return 10 * std::log10(most);
}

// What the truth took for the nose's level before: the paths' amplitudes summed as if all
// were one tone in one cell.
double SummedNoseDb(const RealisticSky& sky, int mode, const IonogramSweep& sweep) {
    const int column = NoseColumn(sky, mode, sweep);
    const double khz = column < 0 ? 0 : sweep.frequenciesKhz[column];
    if (column < 0 || sky.MofKhz(mode) - khz > 100 || !sky.Transmitting(khz) || sky.Flooded(khz)) {
        return -INFINITY;
    }
    double amplitude = 0;
    for (const LayerRay& ray : sky.ModeRays(mode, khz)) {
        amplitude += ray.amplitude;
    }
    return 20 * std::log10(amplitude / (kNoiseRms * std::sqrt(2.0))) + kDechirpGainDb;
}

// Whether the sweep shows the mode's nose: in the last column at or under its MOF, a peak of
// kStandingDb or more on one of its rays (within its multipath spread).
bool NoseSeen(const RealisticSky& sky, int mode, const IonogramSweep& sweep) {
    const int column = NoseColumn(sky, mode, sweep);
    if (column < 0) {
        return false;
    }
    const double spread = sky.Config().modes[mode].spreadMs;
    for (const ColumnPeak& peak : ColumnPeaks(sweep.snrDb[column], sweep.delayFromMs)) {
        for (const LayerRay& ray : sky.ModeRays(mode, sweep.frequenciesKhz[column])) {
            if (peak.snrDb >= kStandingDb && peak.delayMs >= ray.delayMs - kCurveMs &&
                peak.delayMs <= ray.delayMs + spread + kCurveMs) {
                return true;
            }
        }
    }
    return false;
}

// How far a mode's low ray runs from the nearest other mode's: per other mode, the median of
// the two low rays' distance where both are drawn (or, where one takes over at the other's top,
// as sporadic E hands over to the F modes it blanketed, the step between them); the least of
// those. INFINITY for a mode alone. Beyond thickness: from the lower one's last path (its
// multipath spread above its low ray) instead of its first.
double ClearanceMs(const RealisticSky& sky, int mode, bool beyondThickness = false) {
    constexpr double kFromKhz = 2000;
    constexpr double kToKhz = 30000;
    constexpr double kStepKhz = 100;
    constexpr double kHandOverKhz = 500;
    auto lowRay = [&](int m, double khz) {
        const std::vector<LayerRay> rays = sky.ModeCurves(m, khz);
        return rays.empty() ? NAN : rays.front().delayMs;
    };
    double least = INFINITY;
    for (int other = 0; other < int(sky.Config().modes.size()); ++other) {
        if (other == mode) {
            continue;
        }
        std::vector<double> apart;
        double lastMine = NAN; // the last low ray of each, and where
        double lastMineKhz = 0;
        double lastOther = NAN;
        double lastOtherKhz = 0;
        double handOver = INFINITY;
        for (double khz = kFromKhz; khz < kToKhz; khz += kStepKhz) {
            const double mine = lowRay(mode, khz);
            const double theirs = lowRay(other, khz);
            if (!std::isnan(mine) && !std::isnan(theirs)) {
                const double lowerSpread =
                    beyondThickness ? sky.Config().modes[mine < theirs ? mode : other].spreadMs : 0;
                apart.push_back(std::abs(mine - theirs) - lowerSpread);
            } else if (!std::isnan(mine) && !std::isnan(lastOther) &&
                       khz - lastOtherKhz <= kHandOverKhz) {
                handOver = std::min(handOver, std::abs(mine - lastOther));
            } else if (!std::isnan(theirs) && !std::isnan(lastMine) &&
                       khz - lastMineKhz <= kHandOverKhz) {
                handOver = std::min(handOver, std::abs(theirs - lastMine));
            }
            if (!std::isnan(mine)) {
                lastMine = mine;
                lastMineKhz = khz;
            }
            if (!std::isnan(theirs)) {
                lastOther = theirs;
                lastOtherKhz = khz;
            }
        }
        least = std::min(least, apart.empty() ? handOver : bench::Median(apart));
    }
    return least;
}

// Whether another mode's high ray runs through a mode's nose: in the last column at or under its
// MOF, within kCurveMs of one of its rays there. (On a long path 1F's high ray comes down through
// the delays of 2F's and 3F's noses: beyond such a nose a trace runs on at nearly its delay.)
bool NoseCrossed(const RealisticSky& sky, int mode, const IonogramSweep& sweep) {
    const int column = NoseColumn(sky, mode, sweep);
    if (column < 0) {
        return false;
    }
    const double khz = sweep.frequenciesKhz[column];
    for (int other = 0; other < int(sky.Config().modes.size()); ++other) {
        for (const LayerRay& high : sky.ModeCurves(other, khz)) {
            for (const LayerRay& own : sky.ModeCurves(mode, khz)) {
                if (other != mode && high.high &&
                    std::abs(high.delayMs - own.delayMs) <= kCurveMs) {
                    return true;
                }
            }
        }
    }
    return false;
}

// The sky's band plan, each column's peaks with the modes' curves in brackets, and the traces.
void DumpSky(const RealisticSky& sky, const IonogramSweep& sweep, const ScaledSweep& scaled,
             std::FILE* out = stdout) {
    const RealisticSkySettings& settings = sky.Config();
    const int modes = int(settings.modes.size());
    std::fprintf(out, "swept %.0f-%.0f silent %.0f-%.0f\n", settings.sweptFromKhz,
                 settings.sweptToKhz, settings.silentFromKhz, settings.silentToKhz);
    for (double khz : settings.floodedKhz) {
        std::fprintf(out, "flooded %.0f\n", khz);
    }
    for (std::size_t c = 0; c < sweep.snrDb.size(); ++c) {
        std::fprintf(out, "%.0f %d:", sweep.frequenciesKhz[c], int(ColumnFlooded(sweep.snrDb[c])));
        for (const ColumnPeak& p : ColumnPeaks(sweep.snrDb[c], 0)) {
            std::fprintf(out, " %.2f/%.0f", p.delayMs, p.snrDb);
        }
        for (int m = 0; m < modes; ++m) {
            for (const LayerRay& r : sky.ModeCurves(m, sweep.frequenciesKhz[c])) {
                std::fprintf(out, " [%d:%.2f]", m, r.delayMs);
            }
        }
        std::fprintf(out, "\n");
    }
    for (const ScaledTrace& t : scaled.traces) {
        std::fprintf(out, "trace %d lof %.0f mof %.0f o %.0f least %.2f flat %d cells %d\n",
                     t.number, t.lofKhz, t.mofKhz, t.oMofKhz, t.minDelayMs, int(t.flat),
                     int(t.points.size()));
        for (const TracePoint& p : t.points) {
            std::fprintf(out, " %.0f/%.2f%s", p.khz, p.delayMs, p.high ? "h" : "");
        }
        std::fprintf(out, "\n");
    }
}

// For the notes: how far above khz (within 600 kHz) the sounder falls silent or a broadcaster or
// keyed carrier floods the dial; empty where neither.
QString MaskedAbove(const RealisticSky& sky, double khz) {
    constexpr double kStepKhz = 100;
    constexpr double kWithinKhz = 600;
    for (double above = kStepKhz; above <= kWithinKhz; above += kStepKhz) {
        if (!sky.Transmitting(khz + above) || sky.Flooded(khz + above)) {
            return QString(", %1 %2 kHz above")
                .arg(sky.Transmitting(khz + above) ? "flooded" : "silent")
                .arg(above, 0, 'f', 0);
        }
    }
    return {};
}

// For the notes: every trace of the sweep (LOF-MOF, least delay, flat, the mode it was matched
// to or "-").
QString TraceList(const ScaledSweep& scaled, const std::vector<int>& modeOf) {
    QStringList list;
    for (std::size_t t = 0; t < scaled.traces.size(); ++t) {
        const ScaledTrace& trace = scaled.traces[t];
        list << QString("%1-%2 kHz %3 ms%4 %5")
                    .arg(trace.lofKhz, 0, 'f', 0)
                    .arg(trace.mofKhz, 0, 'f', 0)
                    .arg(trace.minDelayMs, 0, 'f', 2)
                    .arg(trace.flat ? " flat" : "")
                    .arg(modeOf[t] < 0 ? QString("-") : QString::number(modeOf[t]));
    }
    return "; traces: " + list.join(", ");
}

// TAVMIROK_SCALER_EARTH=curved draws the realistic set's rays over the curved earth.
bool CurvedEarth() {
    return qEnvironmentVariable(kEarthVariable) == "curved";
}

QString RealRow(const char* measure) {
    return QString(CurvedEarth() ? "scaler, real skies over a curved earth: %1"
                                 : "scaler, real skies: %1")
        .arg(measure);
}

// The realistic set: skies of long paths (see realisticsky.h) scaled and matched to the modes
// by the truth's curves.
void RealisticSet(SyntheticSweeps* maker, std::uint32_t seedSet, std::vector<double>* cpuMs) {
    std::mt19937 random(20261208 + seedSet);
    // TAVMIROK_SCALER_CACHE=FILE keeps these sweeps between runs (see sweepcache.h).
    SweepCache cache("TAVMIROK_SCALER_CACHE", seedSet + (CurvedEarth() ? 1U << 31 : 0));
    std::map<QString, int> drawn; // modes by name
    std::vector<double> mofErrors;
    std::vector<double> oErrors;
    int standing = 0;
    int one = 0;
    int gross = 0;
    int falseTraces = 0;
    int flatModes = 0;
    int flatFlagged = 0;
    int split = 0;
    int merged = 0;
    int missed = 0;
    int off = 0;        // one trace, its MOF off by more than kGrossKhz
    int clear = 0;      // standing modes whose low ray runs kClearMs or more from any other's
    int clearGross = 0; // ... and gross errors among them
    int thin = 0;       // standing modes kClearMs or more beyond every other's thickness
    int thinGross = 0;
    int crossed = 0;      // standing modes whose nose another mode's high ray runs through
    int crossedGross = 0; // ... and gross errors among them
    int unseen = 0;       // standing modes whose nose column shows no peak of kStandingDb on them
    int unseenGross = 0;  // ... and gross errors among them
    // Standing modes nothing hides: clear of the others, no other mode's high ray through the
    // nose, the nose seen in its column. What the scaler misses of these is its own doing.
    int plain = 0;
    int plainGross = 0;
    int plainMissed = 0;
    int plainSplit = 0;
    int plainMerged = 0;
    int bad = 0;
    int standingBySum = 0;   // modes the paths' amplitudes summed in phase would call standing
    int setAside = 0;        // usable columns the scaler takes for flooded ...
    int setAsideFlooded = 0; // ... of them on a dial the sky floods
    int skyFlooded = 0;      // usable columns on a dial the sky floods
    const int notes = qEnvironmentVariableIsSet("TAVMIROK_SCALER_NOTES")
                          ? qEnvironmentVariableIntValue("TAVMIROK_SCALER_NOTES")
                          : 40;
    bool dump = false;
    const int dumpSweep = qEnvironmentVariableIntValue(kRealisticDumpVariable, &dump);
    const QString dumpTo = qEnvironmentVariable(kRealisticDumpDirVariable);
    for (int s = 0; s < kRealisticSweeps; ++s) {
        const RealisticSkySettings settings =
            DrawRealisticSky(&random, kNoiseRms, kDechirpGainDb, CurvedEarth());
        const auto sky = std::make_shared<RealisticSky>(settings);
        const IonogramSweep sweep =
            cache.Get([&] { return maker->Make({}, 30000 + s + 10000 * seedSet, {}, sky); });
        for (std::size_t c = 0; c < sweep.snrDb.size(); ++c) {
            if (IonogramSweep::Usable(sweep.snrDb[c])) {
                const bool flooded = sky->Flooded(sweep.frequenciesKhz[c]);
                const bool aside = ColumnFlooded(sweep.snrDb[c]);
                skyFlooded += flooded;
                setAside += aside;
                setAsideFlooded += aside && flooded;
            }
        }
        // (The least of a few runs: what the scaler costs, without the machine's own stalls.)
        ScaledSweep scaled;
        double leastMs = INFINITY;
        for (int run = 0; run < kTimedRuns; ++run) {
            const double before = CpuSeconds();
            scaled = ScaleSweep(sweep);
            leastMs = std::min(leastMs, (CpuSeconds() - before) * 1e3);
        }
        cpuMs->push_back(leastMs);
        const int modes = int(settings.modes.size());
        for (const SkyMode& mode : settings.modes) {
            ++drawn[QString::fromStdString(mode.name)];
        }
        std::vector<std::vector<int>> owned(modes); // the traces each mode owns
        std::vector<bool> mergedInto(modes, false); // held by a trace another mode owns
        std::vector<int> modeOf(scaled.traces.size(), -1);
        for (int t = 0; t < int(scaled.traces.size()); ++t) {
            const std::vector<CellModes> cells = OnCurves(*sky, scaled.traces[t]);
            std::vector<int> count(modes, 0);
            for (const CellModes& cell : cells) {
                if (cell.nearest >= 0) {
                    ++count[cell.nearest];
                }
            }
            int best = int(std::max_element(count.begin(), count.end()) - count.begin());
            if (modes > 0 && count[best] < kOwnedShare * double(cells.size())) {
                // Modes whose low rays run within each other's multipath spread split the
                // nearest-mode vote of a trace that lies on their curves: the mode whose curves
                // hold most of its cells owns it (of two alike, the nearer), where they hold
                // that share. Only a trace on no mode's curves is a false one.
                std::vector<int> on(modes, 0);
                for (const CellModes& cell : cells) {
                    for (int m = 0; m < modes; ++m) {
                        on[m] += cell.on[m];
                    }
                }
                for (int m = 0; m < modes; ++m) {
                    if (on[m] > on[best] || (on[m] == on[best] && count[m] > count[best])) {
                        best = m;
                    }
                }
                if (on[best] >= kOwnedShare * double(cells.size())) {
                    count[best] = on[best];
                }
            }
            // Cells of another mode that are not the owner's: the trace holds that mode too.
            std::vector<int> only(modes, 0);
            for (const CellModes& cell : cells) {
                for (int m = 0; m < modes; ++m) {
                    only[m] += cell.on[m] && !cell.on[best];
                }
            }
            if (modes == 0 || count[best] < kOwnedShare * double(cells.size())) {
                ++falseTraces;
                continue;
            }
            owned[best].push_back(t);
            modeOf[t] = best;
            for (int m = 0; m < modes; ++m) {
                if (m != best && only[m] >= std::max<double>(kMergedCells,
                                                             kMergedShare * double(cells.size()))) {
                    mergedInto[m] = true;
                }
            }
        }
        for (int t = 0; t < int(scaled.traces.size()); ++t) {
            if (modeOf[t] < 0) {
                bench::Note(QString("real sweep %1: trace at %2 ms, MOF %3 kHz matches no mode")
                                .arg(s)
                                .arg(scaled.traces[t].minDelayMs, 0, 'f', 2)
                                .arg(scaled.traces[t].mofKhz, 0, 'f', 0) +
                            MaskedAbove(*sky, scaled.traces[t].mofKhz) + TraceList(scaled, modeOf));
            }
        }
        std::vector<double> noseDb(modes);
        for (int m = 0; m < modes; ++m) {
            noseDb[m] = NoseSnrDb(maker, sky, m, sweep);
            standingBySum += SummedNoseDb(*sky, m, sweep) >= kStandingDb;
        }
        const bool dumpThis = dump && dumpSweep == s;
        std::FILE* out = dumpThis ? stdout : nullptr;
        if (!dumpTo.isEmpty()) {
            out =
                std::fopen(QString("%1/%2.txt").arg(dumpTo).arg(s).toLocal8Bit().constData(), "w");
        }
        if (out != nullptr) {
            for (int m = 0; m < modes; ++m) {
                std::fprintf(out, "mode %d %s MOF %.0f O %.0f nose %.1f dB traces %d%s\n", m,
                             settings.modes[m].name.c_str(), sky->MofKhz(m), sky->OMofKhz(m),
                             noseDb[m], int(owned[m].size()), mergedInto[m] ? " merged" : "");
            }
            DumpSky(*sky, sweep, scaled, out);
            if (dumpThis) {
                std::exit(0);
            }
            std::fclose(out);
        }
        for (int m = 0; m < modes; ++m) {
            if (owned[m].size() == 1 && settings.modes[m].flat) {
                ++flatModes;
                flatFlagged += scaled.traces[owned[m][0]].flat;
            }
            if (noseDb[m] < kStandingDb) {
                continue;
            }
            ++standing;
            const double clearance = ClearanceMs(*sky, m);
            clear += clearance >= kClearMs;
            const double beyond = ClearanceMs(*sky, m, true);
            thin += beyond >= kClearMs;
            const bool seen = NoseSeen(*sky, m, sweep);
            const bool through = NoseCrossed(*sky, m, sweep);
            crossed += through;
            unseen += !seen;
            const bool single = owned[m].size() == 1 && !mergedInto[m];
            const double error = owned[m].empty()
                                     ? INFINITY
                                     : std::abs(scaled.traces[owned[m][0]].mofKhz - sky->MofKhz(m));
            split += owned[m].size() > 1;
            missed += owned[m].empty();
            merged += mergedInto[m];
            one += single;
            if (!owned[m].empty()) {
                mofErrors.push_back(error);
                const double oMof = scaled.traces[owned[m][0]].oMofKhz;
                if (oMof > 0 && sky->OMofKhz(m) > 0) {
                    oErrors.push_back(std::abs(oMof - sky->OMofKhz(m)));
                }
            }
            off += single && error > kGrossKhz;
            const bool isPlain = clearance >= kClearMs && !through && seen;
            plain += isPlain;
            if (isPlain && (!single || error > kGrossKhz)) {
                ++plainGross;
                plainMissed += owned[m].empty();
                plainSplit += owned[m].size() > 1;
                plainMerged += mergedInto[m];
            }
            if (!single || error > kGrossKhz) {
                ++gross;
                clearGross += clearance >= kClearMs;
                thinGross += beyond >= kClearMs;
                unseenGross += !seen;
                crossedGross += through;
                if (bad++ < notes) {
                    bench::Note(
                        QString("real sweep %1: %2 MOF %3 kHz (O %7, nose %8 dB, %9 ms clear, "
                                "%11 beyond thickness): "
                                "%4 trace(s)%5, MOF %6 kHz; paths summed in phase %10 dB")
                            .arg(s)
                            .arg(settings.modes[m].name.c_str())
                            .arg(sky->MofKhz(m), 0, 'f', 0)
                            .arg(owned[m].size())
                            .arg(mergedInto[m] ? " merged with another mode" : "")
                            .arg(owned[m].empty() ? 0.0 : scaled.traces[owned[m][0]].mofKhz, 0, 'f',
                                 0)
                            .arg(sky->OMofKhz(m), 0, 'f', 0)
                            .arg(noseDb[m], 0, 'f', 1)
                            .arg(clearance, 0, 'f', 2)
                            .arg(SummedNoseDb(*sky, m, sweep), 0, 'f', 1)
                            .arg(beyond, 0, 'f', 2) +
                        OwnedMofs(scaled, owned[m]) + MaskedAbove(*sky, sky->MofKhz(m)) +
                        (through ? ", another mode's high ray through its nose" : "") +
                        (isPlain ? ", nothing hides it" : "") + TraceList(scaled, modeOf));
                }
            }
        }
    }
    QStringList kinds;
    for (const auto& [name, count] : drawn) {
        kinds << QString("%1 %2").arg(count).arg(name);
    }
    const QString method =
        QString("%1 realistic sweeps (3000-4000 km over a %4 earth, 1F-3F with O/X, each hop "
                "count's layer within 4 % in foF2 and 15 km in height of 1F's, E where 0.3 ms "
                "clear of the F modes or sporadic E blanketing them under its top (1F's low ray "
                "takes over there at nearly its delay), thick fading traces, silent bands, "
                "broadcast bands; modes drawn: %3); modes whose nose stands >= 10 dB (the power "
                "its paths put in a cell of its nose's column, over the noise's median); matched "
                "by the truth's curves; seed set %2")
            .arg(kRealisticSweeps)
            .arg(seedSet)
            .arg(kinds.join(", "))
            .arg(CurvedEarth() ? "curved" : "flat");
    bench::PrintRow(RealRow("modes reported as one trace"),
                    QString("%1 of %2 (%3 %): missed %4, split %5, merged %6")
                        .arg(one)
                        .arg(standing)
                        .arg(100.0 * one / std::max(1, standing), 0, 'f', 1)
                        .arg(missed)
                        .arg(split)
                        .arg(merged),
                    method);
    bench::PrintRow(RealRow("MOF absolute error"),
                    QString("median %1 kHz, 90% %2 kHz")
                        .arg(bench::Median(mofErrors), 0, 'f', 0)
                        .arg(bench::Percentile(mofErrors, 0.9), 0, 'f', 0),
                    method);
    bench::PrintRow(RealRow("gross errors"),
                    QString("%1 of %2 (%3 %): missed %4, split %5, merged %6, one trace with "
                            "its MOF off %7")
                        .arg(gross)
                        .arg(standing)
                        .arg(100.0 * gross / std::max(1, standing), 0, 'f', 1)
                        .arg(missed)
                        .arg(split)
                        .arg(merged)
                        .arg(off),
                    method + "; missed, split, merged (a mode may be both split and merged) or "
                             "MOF off by more than 500 kHz");
    bench::PrintRow(RealRow("gross errors, modes clear of the others"),
                    QString("%1 of %2 (%3 %)")
                        .arg(clearGross)
                        .arg(clear)
                        .arg(100.0 * clearGross / std::max(1, clear), 0, 'f', 1),
                    method + "; the standing modes whose low ray runs (by its median distance) "
                             "0.3 ms or more from every other mode's");
    bench::PrintRow(RealRow("gross errors, modes clear of the others' thickness"),
                    QString("%1 of %2 (%3 %)")
                        .arg(thinGross)
                        .arg(thin)
                        .arg(100.0 * thinGross / std::max(1, thin), 0, 'f', 1),
                    method + "; the standing modes whose low ray runs (by its median distance) "
                             "0.3 ms or more from every other mode's, counted from the lower "
                             "one's last path (a thick trace's multipath spread)");
    bench::PrintRow(
        RealRow("gross errors, noses another mode's high ray runs through"),
        QString("%1 of %2 (%3 %); the other standing modes %4 of %5 (%6 %)")
            .arg(crossedGross)
            .arg(crossed)
            .arg(100.0 * crossedGross / std::max(1, crossed), 0, 'f', 1)
            .arg(gross - crossedGross)
            .arg(standing - crossed)
            .arg(100.0 * (gross - crossedGross) / std::max(1, standing - crossed), 0, 'f', 1),
        method + "; another mode's high ray within 0.25 ms of one of the mode's rays "
                 "in its nose's column");
    bench::PrintRow(RealRow("gross errors, modes nothing hides"),
                    QString("%1 of %2 (%3 %): missed %4, split %5, merged %6")
                        .arg(plainGross)
                        .arg(plain)
                        .arg(100.0 * plainGross / std::max(1, plain), 0, 'f', 1)
                        .arg(plainMissed)
                        .arg(plainSplit)
                        .arg(plainMerged),
                    method + "; the standing modes clear of the others (as above), whose nose "
                             "no other mode's high ray runs through and whose nose's column shows "
                             "them (see below)");
    bench::PrintRow(
        RealRow("standing noses the sweep does not show"),
        QString("%1 of %2 standing modes, %3 of the gross errors (%4 modes would stand by their "
                "paths' amplitudes summed in phase)")
            .arg(unseen)
            .arg(standing)
            .arg(unseenGross)
            .arg(standingBySum),
        method + "; no peak of 10 dB or more on the mode's rays in its nose's column, though "
                 "its own paths put 10 dB over the noise's median in a cell there");
    bench::PrintRow(
        RealRow("columns set aside as flooded"),
        QString("%1 (%2 on a dial the sky floods); the sky floods %3 usable columns")
            .arg(setAside)
            .arg(setAsideFlooded)
            .arg(skyFlooded),
        method + "; columns ColumnFlooded takes for flooded, against the broadcast bands and keyed "
                 "carriers the sky puts there");
    bench::PrintRow(RealRow("false traces"),
                    QString("%1 per 100 sweeps").arg(100.0 * falseTraces / kRealisticSweeps),
                    method + "; traces whose cells lie on no mode's curve");
    bench::PrintRow(RealRow("O nose where reported"),
                    QString("%1 traces, median error %2 kHz; sporadic E flagged flat %3 of %4")
                        .arg(oErrors.size())
                        .arg(bench::Median(oErrors), 0, 'f', 0)
                        .arg(flatFlagged)
                        .arg(flatModes),
                    method);
}

// The simulated radio's preset sky (--sky long-path) over a few noise seeds: each mode's MOF
// against the trace whose cells lie on its curves.
void PresetSet(SyntheticSweeps* maker, std::uint32_t seedSet) {
    constexpr int kSeeds = 10;
    constexpr double kWithinKhz = 150;
    const auto sky = std::make_shared<RealisticSky>(PresetSky(kNoiseRms));
    const int modes = int(sky->Config().modes.size());
    int within = 0;
    int extra = 0;
    for (int s = 0; s < kSeeds; ++s) {
        const IonogramSweep sweep = maker->Make({}, 40000 + s + 10000 * seedSet, {}, sky);
        const ScaledSweep scaled = ScaleSweep(sweep);
        bool dump = false;
        if (qEnvironmentVariableIntValue(kPresetDumpVariable, &dump) == s && dump) {
            DumpSky(*sky, sweep, scaled);
            std::exit(0);
        }
        std::vector<int> owned(modes, 0);
        std::vector<double> error(modes, INFINITY);
        for (const ScaledTrace& trace : scaled.traces) {
            std::vector<int> count(modes, 0);
            for (const CellModes& cell : OnCurves(*sky, trace)) {
                count[std::max(0, cell.nearest)] += cell.nearest >= 0;
            }
            const int best = int(std::max_element(count.begin(), count.end()) - count.begin());
            if (count[best] == 0) {
                ++extra;
                continue;
            }
            ++owned[best];
            error[best] = std::abs(trace.mofKhz - sky->MofKhz(best));
        }
        QStringList line;
        for (int m = 0; m < modes; ++m) {
            within += owned[m] == 1 && error[m] <= kWithinKhz;
            line << QString("%1 %2 trace(s) MOF off %3 kHz")
                        .arg(sky->Config().modes[m].name.c_str())
                        .arg(owned[m])
                        .arg(error[m], 0, 'f', 0);
        }
        bench::Note(QString("preset sky, seed %1: %2").arg(s).arg(line.join("; ")));
    }
    bench::PrintRow(
        "scaler, preset sky: modes as one trace within 150 kHz",
        QString("%1 of %2; %3 traces on no mode").arg(within).arg(kSeeds * modes).arg(extra),
        QString("the simulated radio's --sky long-path over %1 noise seeds").arg(kSeeds));
}

void PrintRealisticCpu(const std::vector<double>& cpuMs) {
    bench::PrintRow(RealRow("CPU per 280-step sweep"),
                    QString("median %1 ms, 95% %2 ms")
                        .arg(bench::Median(cpuMs), 0, 'f', 2)
                        .arg(bench::Percentile(cpuMs, 0.95), 0, 'f', 2),
                    QString("thread CPU time of ScaleSweep over the %1 realistic sweeps, the "
                            "least of %2 runs each")
                        .arg(kRealisticSweeps)
                        .arg(kTimedRuns));
}

} // namespace

int main() {
    SyntheticSweeps maker(kFs, kChirpTime, kNoiseRms);
    bool dump = false;
    const std::uint32_t seedSet = qEnvironmentVariableIntValue("TAVMIROK_SCALER_SEED");
    const std::uint32_t shift = 10000 * seedSet; // noise seeds of the set
    if (qEnvironmentVariableIsSet(kPresetDumpVariable)) {
        PresetSet(&maker, seedSet);
        return 0;
    }
    if (qEnvironmentVariableIsSet(kRealisticDumpVariable) ||
        qEnvironmentVariableIsSet(kRealisticOnlyVariable)) {
        std::vector<double> realCpuMs;
        RealisticSet(&maker, seedSet, &realCpuMs);
        PrintRealisticCpu(realCpuMs);
        return 0;
    }
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
    std::vector<double> realCpuMs;
    RealisticSet(&maker, seedSet, &realCpuMs);
    PresetSet(&maker, seedSet);
    PrintRealisticCpu(realCpuMs);
    bench::PrintRow(
        "scaler: CPU per 280-step sweep",
        QString("median %1 ms, 95% %2 ms")
            .arg(bench::Median(cpuMs), 0, 'f', 2)
            .arg(bench::Percentile(cpuMs, 0.95), 0, 'f', 2),
        QString("thread CPU time of ScaleSweep over the %1 signal sweeps").arg(kSignalSweeps));
    return 0;
}
