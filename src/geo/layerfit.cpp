#include "geo/layerfit.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iomanip>
#include <limits>
#include <locale>
#include <optional>
#include <span>
#include <sstream>

namespace geo {

namespace {

constexpr double kHuge = 1e30;
// A trace is fitted when it has this many cells; its highest is taken for the column below its
// MOF (the nose), as the scaler reports it.
constexpr int kLeastFitPoints = 8;
// The loss measures each cell's distance from the model's trace in these units: half a column
// across, one delay cell (0.05 ms) up.
constexpr double kKhzScale = kStepKhz / 2;
constexpr double kDelayScaleMs = 0.05;
// The nose: the model's MOF should lie within the column past the trace's last one. It weighs
// as much as this many cells.
constexpr double kNoseWeight = 4;
constexpr double kHighRayTrustMs = 0.5;
// The layers a sky has. A trace fits about as well through fewer, higher hops as through more,
// lower ones; what tells them apart is that no F2 layer peaks at 150 km and no E layer reflects
// 8 MHz at vertical incidence.
struct LayerBounds {
    double lowestPeakKm, highestPeakKm, thinnestKm, thickestKm, highestCriticalKhz;
};
constexpr LayerBounds kELayer{90, kHighestELayerKm, 5, 40, 5000};
constexpr LayerBounds kFLayer{180, 600, 25, 250, 30000};
constexpr double kLeastCriticalKhz = 100;
constexpr double kLowestBaseKm = 80;
// Starting layers: the base this far under the least delay's height, this thick (F layer, and E
// layer where the least delay comes from low enough).
constexpr double kBaseDepthsKm[] = {0, 15, 40};
constexpr double kStartThicknessesKm[] = {30, 60, 100, 150, 200};
constexpr double kStartEThicknessesKm[] = {10, 25};
constexpr double kHighestEMirrorKm = 200;
// Starting layers at the usual F2 peak heights too, whatever the least delay says: a long single
// hop leaves near the horizon, where a cell 0.25 ms early puts the least delay's apex at 40 km
// instead of 230, and every start from it lies under the lowest F layer.
constexpr double kUsualStartPeaksKm[] = {250, 300, 350};
constexpr std::size_t kFirstCells = 5; // the low ray's cells whose median starts the least delay
// Where the starting layers put their MOF, as shares of the trace's top: on it, or for an open
// trace (its nose unseen) on it and beyond.
constexpr double kMofShares[] = {1};
constexpr double kOpenMofShares[] = {1, 1.3, 1.7};
constexpr int kRefinedStarts = 2;
constexpr int kFitIterations = 180;
// Choosing hop counts: the loss each further hop costs, and the scale (log of the ratio) on which
// a layer beyond the usual ones (below) costs as the square.
constexpr double kHopCost = 0.03;
constexpr double kUnusualScale = 0.1;
// Where layers usually lie: an F2 peak between 220 and 400 km, foE at most 4.2 MHz (the noon
// E layer at sunspot maximum). n hops of a layer and 2n (or 3n) of one half (or a third) as high
// make nearly the same trace, so the alias of a usual F2 layer is an F2 peak at 110-200 km or
// 440-800 km, or an E layer as strong as the F2: what lies beyond these costs.
constexpr double kUsualLowestF2Km = 220;
constexpr double kUsualHighestF2Km = 400;
constexpr double kUsualHighestFoEKhz = 4200;
// An F2 layer's semi-thickness lies between 50 and 150 km. Between the layers a trace cannot
// tell apart (a thin layer peaking high and a thick one peaking low have nearly the same base and
// nose), one far thinner or thicker than that costs, on a wider scale than the peak's.
constexpr double kUsualThinnestF2Km = 50;
constexpr double kUsualThickestF2Km = 150;
constexpr double kUnusualThicknessScale = 0.25;
// The fit itself weighs how usual its layer is by this share of the cost hop counts pay.
constexpr double kFitPriorWeight = 0.5;
// How many of the likeliest sets of hop counts (see FitSweep) are fitted again as one layer.
constexpr std::size_t kJointCandidates = 3;
// Fitting one layer to a sweep's modes: what a trace's top costs, in nose loss, when it is taken
// for a piece of a longer trace (as SoftLoss of a nose a column off: the nose weighs as much as
// four cells, and at three columns' cost a piece of a dozen cells, its own fit near exact, was
// taken for a stray and kept a layer of its own), and what a trace costs beyond its own fit when
// it is taken for none of the layer's modes (a trace of another layer or of nothing the sky
// sent).
constexpr double kPieceCost = 3;
constexpr double kStrayCost = 2;
// An E layer is seen beneath an F layer, whose modes reach higher frequencies and longer delays:
// a sweep whose layer is an E layer, its traces E modes or strays, is unusual (sporadic E may
// blanket the F layer, so it happens). A thick, weak F layer's flat 1F fits about as well as two
// hops of an E layer at 140 km, and its 3F as four: the sweep's layer taken for an E layer costs
// this much for each of its traces (weighed as below).
constexpr double kEOnlyCost = 1;
// In choosing the sweep's layer and hop counts, a trace weighs by what it shows of the layer: a
// trace of this many cells or more weighs fully, a piece of fewer in proportion, and a trace cut
// by the sweep's top (its nose unseen) half as much. A piece of 18 cells of a 1F's high ray, cut
// by the sweep's top, a millisecond beyond its 2F of 375 cells, fitted a layer at two thirds of
// the height at 3F a little better than the true one: weighing alike, it made the 2F a 3F.
constexpr double kFullWeightCells = 100;
constexpr double kCutWeight = 0.5;
// A trace takes the sweep's layer when its cells' loss under it exceeds their loss under their own
// layer by no more than this many times their own scatter per cell (the scatter taken as at least
// kLeastScatter, about a cell's rounding). Pure noise would allow a few units, but a dechirped
// trace's cells run late near the nose, and its own layer often takes the wrong side of the
// height/thickness trade-off that the sweep's other modes settle: clean 1F traces whose own layer
// was that wrong one stood 20-52 units off the sweep's; those whose own layer was right beside a
// trace the scaler strung together, 58-67 (bench_geometry's dechirped paths).
constexpr double kShareExcess = 55;
constexpr double kLeastScatter = 0.1;
// A trace whose own layer leaves more than this loss per cell (its cells some 0.15 ms off its own
// best layer, as when the scaler strung two modes together) is no clean trace: its own layer is
// worth no more than the sweep's.
constexpr double kCleanScatter = 4;
// A trace follows one of a layer's curves when its mean loss per cell under it is within this
// many times its own scatter per cell, the scatter taken as at least a cell's (a cell 0.05 ms off
// its curve costs 0.83), and every other curve's is kFollowApart times as much: a curve of one
// hop more or less lies a few tenths of a millisecond away (0.3 ms costs some 10).
constexpr double kFollowScatters = 4;
constexpr double kFollowLeastScatter = 1;
constexpr double kFollowApart = 2;
// A cell lies on a curve within three delay cells (0.15 ms) of it, a squared distance of 9 in
// the loss's units.
constexpr double kOnCurveSquared = 9;
// The audio delay is searched from this much too little to this much too much (ms).
constexpr double kLeastAudioDelayMs = -1;
constexpr double kMostAudioDelayMs = 3;
constexpr double kAudioDelayStepMs = 0.25;
// P.533's fallback: the hop count is the one whose least delay comes from nearest this height
// (by ratio); the peak is taken this far above the least delay's height (a layer of about 100 km
// semi-thickness, seen a little above its base), and an E layer's reflection this high.
constexpr double kTypicalMirrorKm = 280;
constexpr double kFallbackPeakAboveKm = 80;
constexpr double kELayerMirrorKm = 110;
constexpr double kMufHopKm = 3000; // M(3000)F2 and MUF(3000)F2
// A scaled cell's delay is the dechirp's peak, interpolated between cells in noise: it may come
// this much early. A trace whose least delay is shorter than the ground allows by no more is
// fitted (a long hop's low ray leaves near the horizon, its least delay close to that bound);
// only beyond it is the audio delay setting wrong.
constexpr double kEarlyCellMs = 0.15;

struct Observed {
    const std::vector<TracePoint>* points;
    int hops;
    bool open = false; // its nose lies beyond what the sweep shows
    // Among other modes of the layer: its top may be a piece the scaler cut from a longer trace,
    // for kPieceCost instead of the nose's miss.
    bool maybePiece = false;
};

double SoftLoss(double squared) {
    return 2 * (std::sqrt(1 + squared) - 1);
}

// A model's trace in loss units, for the squared distance from a cell to its nearest segment.
// The trace is cut into runs along which the frequency only rises or only falls (the low ray,
// the high ray): within a run the segments beyond the one at a cell's frequency lie ever further
// across, so the search goes outwards from there and stops where even the frequency's distance
// alone is more than the nearest found. That is the same nearest segment a search of them all
// finds, for a fraction of the work: the fit asks it of every cell for every trial layer.
class ScaledCurve {
public:
    explicit ScaledCurve(const std::vector<ObliquePoint>& model) {
        x.reserve(model.size());
        y.reserve(model.size());
        for (const ObliquePoint& point : model) {
            x.push_back(point.khz / kKhzScale);
            y.push_back(point.delayMs / kDelayScaleMs);
        }
        int direction = 0;
        for (std::size_t i = 1; i < x.size(); ++i) {
            const int step = x[i] > x[i - 1] ? 1 : x[i] < x[i - 1] ? -1 : 0;
            if (step != 0 && direction != 0 && step != direction) {
                runEnds.push_back(i - 1);
            }
            direction = step != 0 ? step : direction;
        }
        if (x.size() > 1) {
            runEnds.push_back(x.size() - 1);
        }
    }

    double NearestSquared(const TracePoint& cell, double offsetMs) const {
        const double px = cell.khz / kKhzScale;
        const double py = (cell.delayMs - offsetMs) / kDelayScaleMs;
        double nearest = kHuge;
        std::size_t first = 0;
        for (const std::size_t last : runEnds) {
            // The first point of the run at or past the cell's frequency; the segment before it
            // holds that frequency (or is the run's end nearest it).
            const bool rising = x[last] >= x[first];
            const auto begin = x.begin() + std::ptrdiff_t(first);
            const auto at =
                std::partition_point(begin, x.begin() + std::ptrdiff_t(last) + 1,
                                     [&](double v) { return rising ? v < px : v > px; });
            const std::size_t start =
                std::clamp<std::size_t>(std::size_t(at - x.begin()), first + 1, last) - 1;
            for (std::size_t i = start + 1; i-- > first;) {
                if (!Closer(i, px, py, nearest)) {
                    break;
                }
            }
            for (std::size_t i = start + 1; i < last; ++i) {
                if (!Closer(i, px, py, nearest)) {
                    break;
                }
            }
            first = last;
        }
        return nearest;
    }

private:
    // Takes segment i (points i, i + 1) into nearest; false where its frequency alone lies as
    // far as nearest, and so every segment beyond it in the run.
    bool Closer(std::size_t i, double px, double py, double& nearest) const {
        const double lowX = std::min(x[i], x[i + 1]);
        const double highX = std::max(x[i], x[i + 1]);
        const double across = px < lowX ? lowX - px : px > highX ? px - highX : 0;
        if (across * across >= nearest) {
            return false;
        }
        const double dx = x[i + 1] - x[i];
        const double dy = y[i + 1] - y[i];
        const double length = dx * dx + dy * dy;
        const double t =
            length > 0 ? std::clamp(((px - x[i]) * dx + (py - y[i]) * dy) / length, 0.0, 1.0) : 0.0;
        nearest =
            std::min(nearest, std::pow(px - x[i] - t * dx, 2) + std::pow(py - y[i] - t * dy, 2));
        return true;
    }

    std::vector<double> x, y;
    std::vector<std::size_t> runEnds; // each run's last point, the next run's first
};

bool Within(const Layer& layer, const LayerBounds& bounds) {
    return layer.peakKm >= bounds.lowestPeakKm && layer.peakKm <= bounds.highestPeakKm &&
           layer.semiThicknessKm >= bounds.thinnestKm &&
           layer.semiThicknessKm <= bounds.thickestKm &&
           layer.criticalKhz <= bounds.highestCriticalKhz;
}

bool Plausible(const Layer& layer) {
    return layer.criticalKhz >= kLeastCriticalKhz &&
           layer.peakKm - layer.semiThicknessKm >= kLowestBaseKm &&
           (Within(layer, kELayer) || Within(layer, kFLayer));
}

// One trace's loss under a layer: its cells' (summed, and their weights) and its nose's.
struct TraceLoss {
    double cells = 0;
    double weight = 0;
    double nose = 0;
};

std::optional<TraceLoss> LossOf(const Layer& layer, double offsetMs, const Observed& observed,
                                double groundKm) {
    const std::vector<ObliquePoint> model = ObliqueTrace(layer, observed.hops, groundKm);
    if (model.size() < 2) {
        return std::nullopt;
    }
    const ScaledCurve curve(model);
    // The low ray's branch ends at the nose, where the high ray's begins.
    const auto nose =
        std::find_if(model.begin(), model.end(), [](const ObliquePoint& p) { return p.high; }) - 1;
    TraceLoss loss;
    double lastKhz = 0;
    for (const TracePoint& cell : *observed.points) {
        // Each cell against the nearer of the two rays, whatever the scaler called it: near
        // the nose the rays lie closer than the dechirp resolves, and which one a column's
        // peak belongs to is a guess (taking the flag's word pulled foF2 low by some 2 %).
        const double nearest = curve.NearestSquared(cell, offsetMs);
        // Far out on the high ray the ray grazes the peak, where a real layer departs most
        // from the quasi-parabola and the scaler's cells are sparse: those count for less.
        const double beyondNose = cell.high ? (cell.delayMs - offsetMs - nose->delayMs) : 0;
        const double weight = 1 / (1 + std::pow(std::max(0.0, beyondNose) / kHighRayTrustMs, 2));
        loss.cells += weight * SoftLoss(nearest);
        loss.weight += weight;
        lastKhz = std::max(lastKhz, cell.khz);
    }
    // An open trace's top column is no nose: the model's MOF need only lie above it.
    double miss = (nose->khz - lastKhz - kKhzScale) / kKhzScale;
    if (observed.open) {
        miss = std::min(0.0, miss);
    }
    loss.nose = SoftLoss(miss * miss);
    if (observed.maybePiece && miss > 0) {
        loss.nose = std::min(loss.nose, kPieceCost);
    }
    return loss;
}

// Mean loss per cell of the layer against the traces, their delays less offsetMs.
double Loss(const Layer& layer, double offsetMs, const std::vector<Observed>& traces,
            double groundKm) {
    if (!Plausible(layer)) {
        return kHuge;
    }
    double total = 0;
    double count = 0;
    for (const Observed& observed : traces) {
        const std::optional<TraceLoss> loss = LossOf(layer, offsetMs, observed, groundKm);
        if (!loss) {
            return kHuge;
        }
        total += loss->cells + kNoseWeight * loss->nose;
        count += loss->weight + kNoseWeight;
    }
    return count > 0 ? total / count : kHuge;
}

// Nelder–Mead from start, with the first simplex spread by steps.
std::vector<double> Minimize(const std::function<double(const std::vector<double>&)>& cost,
                             const std::vector<double>& start, const std::vector<double>& steps,
                             int iterations) {
    const std::size_t n = start.size();
    std::vector<std::vector<double>> simplex(n + 1, start);
    std::vector<double> values(n + 1);
    for (std::size_t i = 0; i < n; ++i) {
        simplex[i + 1][i] += steps[i];
    }
    for (std::size_t i = 0; i <= n; ++i) {
        values[i] = cost(simplex[i]);
    }
    auto along = [&](const std::vector<double>& centre, const std::vector<double>& worst,
                     double scale) {
        std::vector<double> point(n);
        for (std::size_t k = 0; k < n; ++k) {
            point[k] = centre[k] + scale * (worst[k] - centre[k]);
        }
        return point;
    };
    for (int iteration = 0; iteration < iterations; ++iteration) {
        std::vector<std::size_t> order(n + 1);
        for (std::size_t i = 0; i <= n; ++i) {
            order[i] = i;
        }
        std::sort(order.begin(), order.end(),
                  [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
        const std::size_t best = order.front();
        const std::size_t worst = order.back();
        const std::size_t second = order[n - 1];
        std::vector<double> centre(n, 0.0);
        for (std::size_t i = 0; i <= n; ++i) {
            if (i != worst) {
                for (std::size_t k = 0; k < n; ++k) {
                    centre[k] += simplex[i][k] / n;
                }
            }
        }
        const auto reflected = along(centre, simplex[worst], -1);
        const double reflectedValue = cost(reflected);
        if (reflectedValue < values[best]) {
            const auto expanded = along(centre, simplex[worst], -2);
            const double expandedValue = cost(expanded);
            const bool expand = expandedValue < reflectedValue;
            simplex[worst] = expand ? expanded : reflected;
            values[worst] = expand ? expandedValue : reflectedValue;
        } else if (reflectedValue < values[second]) {
            simplex[worst] = reflected;
            values[worst] = reflectedValue;
        } else {
            const auto contracted = along(centre, simplex[worst], 0.5);
            const double contractedValue = cost(contracted);
            if (contractedValue < values[worst]) {
                simplex[worst] = contracted;
                values[worst] = contractedValue;
            } else {
                for (std::size_t i = 0; i <= n; ++i) {
                    if (i != best) {
                        simplex[i] = along(simplex[best], simplex[i], 0.5);
                        values[i] = cost(simplex[i]);
                    }
                }
            }
        }
    }
    return simplex[std::min_element(values.begin(), values.end()) - values.begin()];
}

double LeastDelayMs(const std::vector<TracePoint>& trace) {
    double least = kHuge;
    for (const TracePoint& cell : trace) {
        least = std::min(least, cell.delayMs);
    }
    return least;
}

double HighestKhz(const std::vector<TracePoint>& trace) {
    double highest = 0;
    for (const TracePoint& cell : trace) {
        highest = std::max(highest, cell.khz);
    }
    return highest;
}

// The least delay as the low ray's first few cells give it: their median. The trace's shortest
// cell is no guide to start a fit from, as one cell in noise comes up to 0.25 ms early (75 km
// of path), and a start that low led the fit to an E layer under a thick F layer's flat trace.
double FirstCellsDelayMs(const std::vector<TracePoint>& trace) {
    std::vector<TracePoint> low;
    std::copy_if(trace.begin(), trace.end(), std::back_inserter(low),
                 [](const TracePoint& cell) { return !cell.high; });
    if (low.empty()) {
        return LeastDelayMs(trace);
    }
    std::sort(low.begin(), low.end(),
              [](const TracePoint& a, const TracePoint& b) { return a.khz < b.khz; });
    std::vector<double> first;
    for (std::size_t i = 0; i < std::min<std::size_t>(kFirstCells, low.size()); ++i) {
        first.push_back(low[i].delayMs);
    }
    std::nth_element(first.begin(), first.begin() + first.size() / 2, first.end());
    return first[first.size() / 2];
}

// Layers to start a fit from: bases a little under the least delay's height (the shortest cell's
// and the first cells', see above), and peaks where F2 layers usually lie; a range of
// thicknesses, each with the critical frequency that puts its MOF on the trace's nose (a layer's
// MOF grows in proportion to its critical frequency).
std::vector<Layer> StartingLayers(const Observed& observed, double groundKm, double offsetMs) {
    const std::vector<TracePoint>& trace = *observed.points;
    const int hops = observed.hops;
    const double shortestMs = groundKm / kLightKmPerMs;
    std::vector<Layer> layers;
    if (LeastDelayMs(trace) - offsetMs + kEarlyCellMs < shortestMs) {
        return layers;
    }
    // A layer with the critical frequency that puts its MOF on the trace's top.
    auto place = [&](Layer layer) {
        const double mof = ObliqueMofKhz(layer, hops, groundKm);
        if (!(mof > 0)) {
            return;
        }
        for (double beyond : observed.open ? std::span<const double>(kOpenMofShares)
                                           : std::span<const double>(kMofShares)) {
            layer.criticalKhz = 1000 * beyond * (HighestKhz(trace) + kKhzScale) / mof;
            if (Plausible(layer)) {
                layers.push_back(layer);
            }
        }
    };
    for (const double leastMs :
         {LeastDelayMs(trace) - offsetMs, FirstCellsDelayMs(trace) - offsetMs}) {
        // A least delay too short for any apex, or for a layer's base, within the cells' error:
        // the fit starts from the lowest base a layer has.
        const double apex =
            std::max(kLowestBaseKm,
                     std::max(0.0, ApexHeightKm(std::max(leastMs, shortestMs), hops, groundKm)));
        for (double depth : kBaseDepthsKm) {
            for (double thickness : kStartThicknessesKm) {
                place({1000, apex - depth + thickness, thickness});
            }
            for (double thickness : kStartEThicknessesKm) {
                if (apex < kHighestEMirrorKm) {
                    place({1000, apex - depth + thickness, thickness});
                }
            }
        }
    }
    // And layers where F2 peaks usually lie.
    for (double peakKm : kUsualStartPeaksKm) {
        for (double thickness : kStartThicknessesKm) {
            place({1000, peakKm, thickness});
        }
    }
    return layers;
}

// What a fitted layer costs for lying outside the usual layers (see kUsualLowestF2Km).
double Unusual(const Layer& layer) {
    if (layer.peakKm < kHighestELayerKm) {
        return std::pow(
            std::max(0.0, std::log(layer.criticalKhz / kUsualHighestFoEKhz)) / kUnusualScale, 2);
    }
    auto beyond = [](double value, double lowest, double highest) {
        return std::max({0.0, std::log(lowest / value), std::log(value / highest)});
    };
    return std::pow(beyond(layer.peakKm, kUsualLowestF2Km, kUsualHighestF2Km) / kUnusualScale, 2) +
           std::pow(beyond(layer.semiThicknessKm, kUsualThinnestF2Km, kUsualThickestF2Km) /
                        kUnusualThicknessScale,
                    2);
}

struct Fitted {
    Layer layer;
    double offsetMs = 0;
    double loss = kHuge;
};

// A layer's (and offset's) loss against what is fitted.
using LayerCost = std::function<double(const Layer&, double offsetMs)>;

// The best layer (and offset, when freeOffset) refined from the best few of the starts, its loss
// the layer's against the traces. What is minimised also weighs how usual the layer is: a trace
// fits a range of layers about as well, and of those the fit takes a usual one.
Fitted Refine(const LayerCost& layerCost, std::vector<Fitted> starts, bool freeOffset) {
    auto withPrior = [&](const Layer& layer, double offsetMs) {
        return layerCost(layer, offsetMs) + kFitPriorWeight * Unusual(layer);
    };
    for (Fitted& start : starts) {
        start.loss += kFitPriorWeight * Unusual(start.layer);
    }
    std::sort(starts.begin(), starts.end(),
              [](const Fitted& a, const Fitted& b) { return a.loss < b.loss; });
    Fitted best;
    double bestCost = kHuge;
    for (int i = 0; i < std::min<int>(kRefinedStarts, starts.size()); ++i) {
        const Fitted& start = starts[i];
        std::vector<double> x{start.layer.criticalKhz, start.layer.peakKm,
                              start.layer.semiThicknessKm};
        std::vector<double> steps{0.05 * start.layer.criticalKhz, 20, 20};
        if (freeOffset) {
            x.push_back(start.offsetMs);
            steps.push_back(kAudioDelayStepMs);
        }
        auto cost = [&](const std::vector<double>& v) {
            return withPrior({v[0], v[1], v[2]}, freeOffset ? v[3] : 0);
        };
        const std::vector<double> found = Minimize(cost, x, steps, kFitIterations);
        const double value = cost(found);
        if (value < bestCost) {
            bestCost = value;
            const Layer layer{found[0], found[1], found[2]};
            const double offset = freeOffset ? found[3] : 0;
            best = {layer, offset, layerCost(layer, offset)};
        }
    }
    return best;
}

// The best layer (and offset, when freeOffset) for the traces, their cells weighed alike,
// refined from the best of the starting layers.
Fitted FitLayer(const std::vector<Observed>& traces, double groundKm, bool freeOffset) {
    const LayerCost cost = [&](const Layer& layer, double offsetMs) {
        return Loss(layer, offsetMs, traces, groundKm);
    };
    std::vector<Fitted> starts;
    const double firstOffset = freeOffset ? kLeastAudioDelayMs : 0;
    const double lastOffset = freeOffset ? kMostAudioDelayMs : 0;
    for (double offset = firstOffset; offset <= lastOffset + 1e-9; offset += kAudioDelayStepMs) {
        for (const Layer& layer : StartingLayers(traces.front(), groundKm, offset)) {
            starts.push_back({layer, offset, cost(layer, offset)});
        }
    }
    return Refine(cost, std::move(starts), freeOffset);
}

// The one layer behind the modes of a sweep, each trace's mean loss per cell weighed by
// ModeWeight (a trace of kFullWeightCells says as much of the layer as a far longer one), fitted
// from the layers the traces fitted alone (own). A trace the layer explains worse than its own by
// kStrayCost is taken for a stray: it costs that much and no more. Its loss is the weighted mean
// of the traces'.
double ModeLoss(const Layer& layer, const Observed& mode, double ownLoss, double groundKm) {
    return std::min(Loss(layer, 0, {mode}, groundKm), ownLoss + kStrayCost);
}

double ModeWeight(const Observed& mode) {
    return std::min(1.0, mode.points->size() / kFullWeightCells) * (mode.open ? kCutWeight : 1);
}

Fitted FitModes(const std::vector<Observed>& modes, const std::vector<Fitted>& own,
                const Layer& start, double groundKm) {
    const LayerCost cost = [&](const Layer& layer, double) {
        double total = 0;
        double weight = 0;
        for (std::size_t k = 0; k < modes.size(); ++k) {
            total += ModeWeight(modes[k]) * ModeLoss(layer, modes[k], own[k].loss, groundKm);
            weight += ModeWeight(modes[k]);
        }
        return total / weight;
    };
    return Refine(cost, {{start, 0, cost(start, 0)}}, false);
}

// Whether a trace's cells fit the sweep's layer about as well as the layer they fitted alone
// (own): their extra loss under it, in units of own's scatter per cell, within what a few free
// parameters fitted to noise win; or its own layer leaves them too scattered to be worth more.
// Its top is not weighed: a piece's top is no nose of the layer.
bool Shares(const Layer& layer, const Fitted& own, const Observed& mode, double groundKm) {
    const std::optional<TraceLoss> shared =
        Plausible(layer) ? LossOf(layer, 0, mode, groundKm) : std::nullopt;
    const std::optional<TraceLoss> alone = LossOf(own.layer, 0, mode, groundKm);
    if (!shared || !alone || !(alone->weight > 0)) {
        return shared.has_value();
    }
    const double scatter = std::max(kLeastScatter, alone->cells / alone->weight);
    if (scatter > kCleanScatter) {
        return true;
    }
    return shared->cells - alone->cells <= kShareExcess * scatter;
}

bool SameLayer(const Layer& a, const Layer& b) {
    return a.criticalKhz == b.criticalKhz && a.peakKm == b.peakKm &&
           a.semiThicknessKm == b.semiThicknessKm;
}

// The hop count of the layer's curve a trace's cells follow, its top not weighed (a piece's top
// is no nose): the one whose mean loss per cell is least, where that lies within kFollowScatters
// of the trace's own scatter (scatter, at least kFollowLeastScatter) and every other count's
// beyond kFollowApart times it (unless !apart). On a long path the low rays of n and n + 1 hops
// start a few tenths of a millisecond apart, and near the noses a piece may lie between one
// mode's high ray and the next mode's low ray: it follows neither then, 0.
int FollowedHops(const Layer& layer, const std::vector<TracePoint>& trace, double scatter,
                 double groundKm, bool apart = true) {
    if (!Plausible(layer)) {
        return 0;
    }
    std::vector<double> perCell;
    for (int hops = 1; hops <= kMaxHops; ++hops) {
        const std::optional<TraceLoss> loss = LossOf(layer, 0, {&trace, hops}, groundKm);
        perCell.push_back(loss && loss->weight > 0 ? loss->cells / loss->weight : kHuge);
    }
    const auto least = std::min_element(perCell.begin(), perCell.end());
    if (!(*least <= kFollowScatters * std::max(kFollowLeastScatter, scatter))) {
        return 0;
    }
    for (auto it = perCell.begin(); apart && it != perCell.end(); ++it) {
        if (it != least && *it < kFollowApart * *least) {
            return 0;
        }
    }
    return int(least - perCell.begin()) + 1;
}

// The hop count of the layer's curve that most of a trace's cells lie on, within
// kOnCurveSquared of it, where that is more than half of them; else 0.
int MostCellsHops(const Layer& layer, const std::vector<TracePoint>& trace, double groundKm) {
    if (!Plausible(layer) || trace.empty()) {
        return 0;
    }
    std::vector<std::size_t> onCurve(kMaxHops, 0);
    for (int hops = 1; hops <= kMaxHops; ++hops) {
        const ScaledCurve curve(ObliqueTrace(layer, hops, groundKm));
        for (const TracePoint& cell : trace) {
            onCurve[hops - 1] += curve.NearestSquared(cell, 0) <= kOnCurveSquared;
        }
    }
    const auto most = std::max_element(onCurve.begin(), onCurve.end());
    return 2 * *most > trace.size() ? int(most - onCurve.begin()) + 1 : 0;
}

// The least delay of the layer's curve over the trace's columns: its low ray's at the trace's
// lowest column, where the low ray's delay is least. One cell in noise comes up to 0.25 ms early
// and the fitted curve runs through the cells' middle; NaN where the curve does not reach so low.
double ModelLeastDelayMs(const Layer& layer, int hops, double groundKm,
                         const std::vector<TracePoint>& trace) {
    const std::vector<ObliquePoint> model = ObliqueTrace(layer, hops, groundKm);
    double lowestKhz = kHuge;
    for (const TracePoint& cell : trace) {
        lowestKhz = std::min(lowestKhz, cell.khz);
    }
    for (std::size_t i = 0; i + 1 < model.size() && !model[i].high; ++i) {
        const ObliquePoint& a = model[i];
        const ObliquePoint& b = model[i + 1];
        if (i == 0 && lowestKhz <= a.khz) {
            return a.delayMs;
        }
        if (lowestKhz >= a.khz && lowestKhz <= b.khz && b.khz > a.khz) {
            return a.delayMs + (b.delayMs - a.delayMs) * (lowestKhz - a.khz) / (b.khz - a.khz);
        }
    }
    return std::numeric_limits<double>::quiet_NaN();
}

// A hop count's score for one trace: its fit's loss, a little per hop (the lowest-order mode that
// explains a trace is the likelier) and how unusual its layer is.
double HopScore(const Fitted& fit, int hops) {
    return fit.loss + kHopCost * (hops - 1) + Unusual(fit.layer);
}

std::string ModeLabel(int hops, double peakKm) {
    return std::to_string(hops) + (peakKm < kHighestELayerKm ? "E" : "F");
}

std::string ImpossibleDelay(double leastMs, double groundKm) {
    const double shortestMs = groundKm / kLightKmPerMs;
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.setf(std::ios::fixed);
    text.precision(2);
    text << "the least delay, " << leastMs << " ms, is shorter than the " << std::setprecision(0)
         << groundKm << " km path allows (" << std::setprecision(2) << shortestMs
         << " ms): the audio delay setting is too large by at least " << shortestMs - leastMs
         << " ms";
    return text.str();
}

// P.533's relations from the trace's MOF and least delay alone.
PathLayer FallBack(const std::vector<TracePoint>& trace, double groundKm, bool open) {
    const double least = LeastDelayMs(trace);
    PathLayer result;
    result.method = open ? kFallBackOpen : kFallBack;
    double nearest = kHuge;
    for (int hops = 1; hops <= kMaxHops; ++hops) {
        const double apex = ApexHeightKm(least, hops, groundKm);
        if (apex > 0 && std::abs(std::log(apex / kTypicalMirrorKm)) < nearest) {
            nearest = std::abs(std::log(apex / kTypicalMirrorKm));
            result.hops = hops;
            result.leastDelayHeightKm = apex;
        }
    }
    if (result.hops == 0) {
        result.error = "no hop count brings the least delay down from above the ground";
        return result;
    }
    const double hopKm = groundKm / result.hops;
    const double mof = HighestKhz(trace);
    if (result.leastDelayHeightKm < kHighestELayerKm) {
        result.peakKm = kELayerMirrorKm;
        result.criticalKhz = mof * IncidenceCos(hopKm, kELayerMirrorKm);
    } else {
        result.peakKm = result.leastDelayHeightKm + kFallbackPeakAboveKm;
        result.m3000 = P533M3000(result.peakKm);
        result.criticalKhz = P533FoF2Khz({0, result.m3000, 0, 0}, hopKm, mof);
        result.muf3000Khz = P533F2MufKhz({result.criticalKhz, result.m3000, 0, 0}, kMufHopKm);
    }
    result.mode = ModeLabel(result.hops, result.peakKm);
    return result;
}

} // namespace

PathLayer FitTrace(const std::vector<TracePoint>& trace, double groundKm, bool open) {
    return FitSweep({trace}, groundKm, {open}).front();
}

std::vector<PathLayer> FitSweep(const std::vector<std::vector<TracePoint>>& traces, double groundKm,
                                const std::vector<bool>& open) {
    auto isOpen = [&](std::size_t i) { return i < open.size() && open[i]; };
    std::vector<PathLayer> results(traces.size());
    // Each trace's best layer for every hop count, and which traces are fitted at all.
    std::vector<std::vector<Fitted>> fits(traces.size());
    std::vector<std::size_t> fitted;
    for (std::size_t i = 0; i < traces.size(); ++i) {
        const std::vector<TracePoint>& trace = traces[i];
        if (trace.empty() || !(groundKm > 0)) {
            results[i].error = "no trace or no ground distance";
            continue;
        }
        const double least = LeastDelayMs(trace);
        if (least + kEarlyCellMs < groundKm / kLightKmPerMs) {
            results[i].error = ImpossibleDelay(least, groundKm);
            continue;
        }
        if (static_cast<int>(trace.size()) < kLeastFitPoints) {
            results[i] = FallBack(trace, groundKm, isOpen(i));
            continue;
        }
        bool any = false;
        for (int hops = 1; hops <= kMaxHops; ++hops) {
            fits[i].push_back(FitLayer({{&trace, hops, isOpen(i)}}, groundKm, false));
            any = any || fits[i].back().loss < kHuge;
        }
        if (!any) {
            results[i] = FallBack(trace, groundKm, isOpen(i));
            continue;
        }
        fitted.push_back(i);
    }
    // Hop counts for the fitted traces together, as the modes of one layer. Over a flat earth a
    // trace fits exactly as well over n hops of a layer as over 2n hops of one half as high: only
    // the earth's curvature, the layers a sky has, and the other modes tell them apart. Each layer
    // a trace fitted alone, over any hop count, is tried for all the traces, each at the hop count
    // whose mode of that layer explains it best (or taken for a stray, its own best fit); the few
    // likeliest are fitted again to all their modes at once, and the one that explains every
    // trace best gives the hop counts and the traces' layer.
    auto assign = [&](const Layer& layer, std::vector<int>* assigned) {
        double score = 0;
        assigned->assign(fitted.size(), 1);
        for (std::size_t k = 0; k < fitted.size(); ++k) {
            const double weight = ModeWeight({&traces[fitted[k]], 1, isOpen(fitted[k])});
            score += weight * (Unusual(layer) + (layer.peakKm < kHighestELayerKm ? kEOnlyCost : 0));
            double least = kHuge;
            for (int n = 1; n <= kMaxHops; ++n) {
                const Observed mode{&traces[fitted[k]], n, isOpen(fitted[k]), true};
                const double cost = std::min(Loss(layer, 0, {mode}, groundKm) + kHopCost * (n - 1),
                                             HopScore(fits[fitted[k]][n - 1], n) + kStrayCost);
                if (cost < least) {
                    least = cost;
                    (*assigned)[k] = n;
                }
            }
            score += weight * least;
        }
        return score;
    };
    // A trace alone: its own best hop count. The only trace of its sweep taken for an E mode
    // makes the sweep's layer an E layer, which costs as it does for several traces (assign).
    std::vector<int> best;
    auto aloneScore = [&](std::size_t i, int hops) {
        const Fitted& fit = fits[i][hops - 1];
        const bool eOnly = fitted.size() == 1 && fit.layer.peakKm < kHighestELayerKm;
        return HopScore(fit, hops) + (eOnly ? kEOnlyCost : 0);
    };
    for (std::size_t i : fitted) {
        int own = 1;
        for (int n = 2; n <= kMaxHops; ++n) {
            if (aloneScore(i, n) < aloneScore(i, own)) {
                own = n;
            }
        }
        best.push_back(own);
    }
    std::optional<Fitted> common;
    if (fitted.size() >= 2) {
        std::vector<std::pair<double, Layer>> hypotheses;
        std::vector<int> assigned;
        for (std::size_t i : fitted) {
            for (const Fitted& alone : fits[i]) {
                if (alone.loss < kHuge) {
                    hypotheses.emplace_back(assign(alone.layer, &assigned), alone.layer);
                }
            }
        }
        std::sort(hypotheses.begin(), hypotheses.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        double bestScore = kHuge;
        std::vector<std::vector<int>> seen; // one fit for each distinct set of hop counts
        for (std::size_t h = 0; h < hypotheses.size() && seen.size() < kJointCandidates; ++h) {
            assign(hypotheses[h].second, &assigned);
            if (std::find(seen.begin(), seen.end(), assigned) != seen.end()) {
                continue;
            }
            seen.push_back(assigned);
            std::vector<Observed> modes;
            std::vector<Fitted> own;
            for (std::size_t k = 0; k < fitted.size(); ++k) {
                modes.push_back({&traces[fitted[k]], assigned[k], isOpen(fitted[k]), true});
                own.push_back(fits[fitted[k]][assigned[k] - 1]);
            }
            const Fitted one = FitModes(modes, own, hypotheses[h].second, groundKm);
            const double score = assign(one.layer, &assigned);
            if (score < bestScore) {
                bestScore = score;
                best = assigned;
                common = one;
            }
        }
    }
    // Only the traces the sweep's layer explains about as well as their own take it: a clean
    // trace that it explains far worse (beside one the scaler strung together from two modes,
    // which pulled the layer away) keeps its own.
    auto takes = [&](std::size_t i, int hops) {
        Fitted fit = fits[i][hops - 1];
        const Observed mode{&traces[i], hops, isOpen(i), true};
        if (common && Shares(common->layer, fit, mode, groundKm)) {
            const double loss = Loss(common->layer, 0, {mode}, groundKm);
            if (loss <= fit.loss + kStrayCost) {
                fit = {common->layer, 0, loss};
            }
        }
        return fit;
    };
    std::vector<Fitted> chosen;
    std::vector<double> scatter; // each trace's own layer's loss per cell
    for (std::size_t k = 0; k < fitted.size(); ++k) {
        chosen.push_back(takes(fitted[k], best[k]));
        const std::optional<TraceLoss> alone =
            LossOf(fits[fitted[k]][best[k] - 1].layer, 0, {&traces[fitted[k]], best[k]}, groundKm);
        scatter.push_back(alone && alone->weight > 0 ? alone->cells / alone->weight : kHuge);
    }
    // A piece of a split trace has no nose of its own, and alone or with the other pieces it may
    // fit a layer at the wrong hops. The sweep's traces fix its layer: the one that most of their
    // cells took, each cell counted less the more its trace scatters about its own layer, and a
    // cut trace's by kCutWeight. (A trace the scaler strung together from two modes may fit a
    // layer of its own at the wrong hops closely enough to pass for clean, and has the most
    // cells; but where every long trace is strung, the few clean cells of a piece were an E
    // layer's, and the scattered cells of the long traces that took the sweep's layer outweigh
    // them.) A trace whose cells follow one of that layer's curves at other hops than its own
    // takes that curve: its hop count and that layer, its own at those hops being a fit to a
    // piece.
    std::optional<std::size_t> reference;
    auto rank = [&](std::size_t k) {
        double sharing = 0;
        for (std::size_t j = 0; j < fitted.size(); ++j) {
            if (SameLayer(chosen[j].layer, chosen[k].layer)) {
                sharing += traces[fitted[j]].size() / std::max(kFollowLeastScatter, scatter[j]) *
                           (isOpen(fitted[j]) ? kCutWeight : 1);
            }
        }
        return sharing;
    };
    for (std::size_t k = 0; k < fitted.size(); ++k) {
        if (!reference || rank(k) > rank(*reference)) {
            reference = k;
        }
    }
    auto isE = [](const Layer& layer) { return layer.peakKm < kHighestELayerKm; };
    for (std::size_t k = 0; reference && k < fitted.size(); ++k) {
        const Layer& clean = chosen[*reference].layer;
        if (SameLayer(chosen[k].layer, clean)) {
            // Its hops are the curve most of its cells lie on: where two of the layer's curves lie
            // about as near the trace (a piece of a low ray at low frequencies on a long path,
            // where n and n + 1 hops run a few tenths of a millisecond apart), and where the scaler
            // strung cells of another mode into it (a curve that most of its cells lie on may
            // still lose in mean loss to one that runs between its two parts).
            const int most = MostCellsHops(clean, traces[fitted[k]], groundKm);
            if (most > 0 && most != best[k]) {
                best[k] = most;
                const Observed mode{&traces[fitted[k]], most, isOpen(fitted[k]), true};
                chosen[k].loss = Loss(clean, 0, {mode}, groundKm);
            }
            continue;
        }
        // A trace whose cells lie near the clean layer's curves is no trace of another kind of
        // layer: an E layer fitted to a piece of an F trace takes the nearest F curve.
        const bool otherKind = isE(chosen[k].layer) != isE(clean);
        const int follows =
            FollowedHops(clean, traces[fitted[k]], scatter[k], groundKm, !otherKind);
        // A trace the scaler strung together from two modes follows no curve as a whole, or the
        // one that runs between its parts: it is the mode most of its cells lie on.
        const int most = MostCellsHops(clean, traces[fitted[k]], groundKm);
        const int hops = most > 0 ? most : follows;
        if (hops > 0 && (hops != best[k] || otherKind || follows != hops)) {
            best[k] = hops;
            const Observed mode{&traces[fitted[k]], hops, isOpen(fitted[k]), true};
            chosen[k] = {clean, 0, Loss(clean, 0, {mode}, groundKm)};
        }
    }
    auto fill = [&](std::size_t i, int hops, const Fitted& fit) {
        PathLayer& result = results[i];
        result.method = isOpen(i) ? kFittedOpen : kFitted;
        result.hops = hops;
        result.mode = ModeLabel(hops, fit.layer.peakKm);
        result.criticalKhz = fit.layer.criticalKhz;
        result.peakKm = fit.layer.peakKm;
        result.semiThicknessKm = fit.layer.semiThicknessKm;
        const double leastMs = ModelLeastDelayMs(fit.layer, hops, groundKm, traces[i]);
        result.leastDelayHeightKm =
            ApexHeightKm(std::isnan(leastMs) ? LeastDelayMs(traces[i]) : leastMs, hops, groundKm);
        result.muf3000Khz = ObliqueMofKhz(fit.layer, 1, kMufHopKm);
        result.m3000 = result.muf3000Khz / fit.layer.criticalKhz;
        result.misfit = fit.loss;
    };
    for (std::size_t k = 0; k < fitted.size(); ++k) {
        fill(fitted[k], best[k], chosen[k]);
    }
    // A trace too short to fit alone is labelled by the clean layer's curve it follows, where it
    // follows one, and takes that layer; else P.533's relations stand.
    for (std::size_t i = 0; reference && i < traces.size(); ++i) {
        if (results[i].error.empty() &&
            (results[i].method == kFallBack || results[i].method == kFallBackOpen)) {
            const Layer& clean = chosen[*reference].layer;
            const int follows = FollowedHops(clean, traces[i], 0, groundKm);
            if (follows > 0) {
                const Observed mode{&traces[i], follows, isOpen(i), true};
                fill(i, follows, {clean, 0, Loss(clean, 0, {mode}, groundKm)});
            }
        }
    }
    return results;
}

AudioDelayEstimate EstimateAudioDelay(const std::vector<TracePoint>& oneHop,
                                      const std::vector<TracePoint>& twoHops, double groundKm) {
    if (static_cast<int>(oneHop.size()) < kLeastFitPoints || twoHops.empty() || !(groundKm > 0)) {
        return {};
    }
    const Fitted fitted = FitLayer({{&oneHop, 1}, {&twoHops, 2}}, groundKm, true);
    if (fitted.loss >= kHuge) {
        return {};
    }
    return {true, fitted.offsetMs, fitted.layer};
}

double MedianAudioDelay(std::vector<double> estimatesMs) {
    if (estimatesMs.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const auto middle = estimatesMs.begin() + estimatesMs.size() / 2;
    std::nth_element(estimatesMs.begin(), middle, estimatesMs.end());
    if (estimatesMs.size() % 2 == 1) {
        return *middle;
    }
    return (*middle + *std::max_element(estimatesMs.begin(), middle)) / 2;
}

} // namespace geo
