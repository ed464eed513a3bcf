#include "ionogram/scaler.h"

#include "core/median.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <numeric>

namespace ionogram {

namespace {

constexpr double kResolutionMs = 0.4; // two peaks closer than this are one
// ... for the whole curves, which take a thick trace's later paths, and a mode a fraction of a
// millisecond above another, apart.
constexpr double kFineResolutionMs = 0.2;
constexpr int kLargestGap = 1;    // columns a trace may skip
constexpr int kNoseColumns = 3;   // the low and high ray of a mode end this close together
constexpr double kNoseMs = 1.0;   // ... this close in delay
constexpr double kEndDropDb = 10; // see TrimEnds
constexpr double kKeptEndDb = 12;
constexpr double kNoseDropDb = 8; // see ExtendToNoses
constexpr double kNoseDb = 11;    // a nose stands this far over the noise
constexpr double kFaintDb = 12;   // see ReadCurves
constexpr int kHoldColumns = 2;   // see HoldWeakEnds
constexpr double kHoldDb = 7;
constexpr double kHoldMs = 0.1;
constexpr int kShadowPoints = 2; // see MergeShadows
constexpr double kShadowMs = 0.9;
constexpr double kAgainMs = 0.25;
// A level piece this far under a trace just below it is the dechirp's sidelobe (a weaker mode
// above lies a few dB under, a hop's ground reflection or two).
constexpr double kShadowDb = 12;
constexpr double kSameMs = 0.15;    // see MergeOneDelay
constexpr double kNoseRiseMs = 0.4; // a low ray's last peaks rise this far into its nose
constexpr int kNoseRunPoints = 5;
// An X nose lies about half the gyrofrequency (0.6-0.7 MHz) above its O nose.
constexpr double kSplitFromKhz = 300;
constexpr double kSplitToKhz = 1000;
constexpr double kXSplitKhz = 650; // ... mostly, on every hop
// A high ray comes down onto its low ray at least this fast (ms per column).
constexpr double kDescendingMsPerColumn = 0.01;
constexpr int kSmoothing = 2;    // columns either side in the least delay's running median
constexpr double kFlatMs = 0.15; // the least delay is taken over columns this near the least
constexpr double kHalf = 0.5;
constexpr int kSlopePoints = 4; // peaks a trace's course is fitted to
constexpr int kMissedColumns =
    2; // a steep high ray followed no further past this many without a peak
constexpr double kSteepestMsPerColumn = 1.5; // a high ray far from its nose falls this fast
constexpr int kStitchColumns = 4;            // columns between two chains that may be one trace
// A weak low ray sinks into the noise for longer stretches: a later piece at nearly its delay
// (the low ray rises a little towards its nose) continues a trace across this many columns.
constexpr int kJoinColumns = 60;
constexpr double kJoinBelowMs = 0.25;
constexpr double kJoinAboveMs = 0.5;
constexpr int kJoinPoints = 3;    // peaks at a piece's end whose median delay stands for it
constexpr int kPieceColumns = 3;  // a piece this long, or with a peak over kTraceDb, may be joined
constexpr int kTipGapColumns = 8; // see Tips
constexpr double kTipMs = 0.3;
constexpr int kTipPoints = 3;
constexpr int kTipRunColumns = 3;
constexpr double kHighPieceMs = 1.5; // see MergeHighPieces
// A low ray's delay rises towards its nose, ever faster; a high ray's falls with frequency towards
// its own nose: a trace that falls by kFallMs over kFallFromKhz or more (in kFallPoints peaks or
// more) past where it stood highest has run on from its nose onto another mode's high ray.
constexpr double kFallMs = 0.15;
constexpr double kFallFromKhz = 1000;
constexpr double kFallSpanKhz = 8000; // (over a curve's top this wide)
// ... and for a whole curve, this far: near a flat nose (a long path's) the peaks a curve takes
// scatter over a thick trace's paths, and may seem to fall by kFallMs over a megahertz.
constexpr double kCurveFallMs = 0.3;
constexpr int kFallPoints = 6;
// Programme audio floods a broadcast band's columns whole: a trace that ends this close under
// one ends at the flood's edge, not necessarily at its nose.
constexpr double kFloodEdgeKhz = 250;
constexpr int kFloodColumns = 3; // (a broadcast band is 300 to 700 kHz wide)

struct Point {
    int position = 0; // the column's place in the sweep, by frequency
    double delayMs = 0;
    double snrDb = 0;
};

using Chain = std::vector<Point>;

// The least-squares line through (x, y); flat through their mean when all x are one.
struct Line {
    double meanX = 0;
    double meanY = 0;
    double slope = 0;
    double At(double x) const { return meanY + slope * (x - meanX); }
};

Line FitLine(const std::vector<double>& x, const std::vector<double>& y) {
    Line line;
    for (std::size_t i = 0; i < x.size(); ++i) {
        line.meanX += x[i] / double(x.size());
        line.meanY += y[i] / double(x.size());
    }
    double sxy = 0;
    double sxx = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - line.meanX) * (y[i] - line.meanY);
        sxx += (x[i] - line.meanX) * (x[i] - line.meanX);
    }
    line.slope = sxx > 0 ? sxy / sxx : 0;
    return line;
}

// Where the chain expects its next peak at position, and how far from it one may lie: along a
// line fitted to its last few peaks, so that one noisy peak does not turn it.
void Expect(const Chain& chain, int position, double* delayMs, double* toleranceMs) {
    const int count = std::min(int(chain.size()), kSlopePoints);
    std::vector<double> x;
    std::vector<double> y;
    for (int i = int(chain.size()) - count; i < int(chain.size()); ++i) {
        x.push_back(chain[i].position);
        y.push_back(chain[i].delayMs);
    }
    const Line line = FitLine(x, y);
    *delayMs = line.At(position);
    *toleranceMs = kLinkMs + kHalf * std::min(std::abs(line.slope), kSteepestMsPerColumn) *
                                 (position - chain.back().position);
}

// Links each column's peaks to the chains that point at them, nearest first; the rest start
// chains of their own.
std::vector<Chain> Link(const std::vector<std::vector<ColumnPeak>>& peaks) {
    std::vector<Chain> chains;
    for (int position = 0; position < int(peaks.size()); ++position) {
        struct Pair {
            bool established; // a chain long enough to be a trace takes its peak first
            double distance;
            int chain;
            int peak;
        };
        std::vector<Pair> pairs;
        const std::vector<ColumnPeak>& column = peaks[position];
        for (int c = 0; c < int(chains.size()); ++c) {
            if (chains[c].back().position < position - 1 - kLargestGap) {
                continue;
            }
            double expected = 0;
            double tolerance = 0;
            Expect(chains[c], position, &expected, &tolerance);
            for (int p = 0; p < int(column.size()); ++p) {
                const double distance = std::abs(column[p].delayMs - expected);
                if (distance <= tolerance) {
                    pairs.push_back({int(chains[c].size()) >= kMinColumns, distance, c, p});
                }
            }
        }
        std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) {
            return a.established != b.established ? a.established : a.distance < b.distance;
        });
        std::vector<bool> chainTaken(chains.size(), false);
        std::vector<bool> peakTaken(column.size(), false);
        for (const Pair& pair : pairs) {
            if (!chainTaken[pair.chain] && !peakTaken[pair.peak]) {
                chainTaken[pair.chain] = true;
                peakTaken[pair.peak] = true;
                chains[pair.chain].push_back(
                    {position, column[pair.peak].delayMs, column[pair.peak].snrDb});
            }
        }
        for (int p = 0; p < int(column.size()); ++p) {
            if (!peakTaken[p]) {
                chains.push_back({{position, column[p].delayMs, column[p].snrDb}});
            }
        }
    }
    return chains;
}

// A weak trace sinks into the noise for a few columns now and then: a chain that begins a few
// columns after another ends, where that one points, continues it.
void Stitch(std::vector<Chain>* chains) {
    bool stitched = true;
    while (stitched) {
        stitched = false;
        for (std::size_t a = 0; a < chains->size() && !stitched; ++a) {
            const Chain& before = (*chains)[a];
            int best = -1;
            double bestDistance = 0;
            for (std::size_t b = 0; b < chains->size(); ++b) {
                const Chain& after = (*chains)[b];
                const int gap = after.front().position - before.back().position;
                if (b == a || gap <= 0 || gap > kStitchColumns) {
                    continue;
                }
                double expected = 0;
                double tolerance = 0;
                Expect(before, after.front().position, &expected, &tolerance);
                const double distance = std::abs(after.front().delayMs - expected);
                if (distance <= tolerance && (best < 0 || distance < bestDistance)) {
                    best = int(b);
                    bestDistance = distance;
                }
            }
            if (best >= 0) {
                Chain& target = (*chains)[a];
                target.insert(target.end(), (*chains)[best].begin(), (*chains)[best].end());
                chains->erase(chains->begin() + best);
                stitched = true;
            }
        }
    }
}

// Linked by increasing frequency, a chain may run from one mode's low ray, over its nose, onto a
// longer mode's high ray coming down at nearly that delay: where its peaks fall (see kFallMs)
// from a point on to its end, after at least kMinColumns before it that do not, it is cut there,
// the piece that falls a chain of its own.
void SplitFallingEnds(std::vector<Chain>* chains, const std::vector<double>& khz) {
    const std::size_t count = chains->size();
    for (std::size_t c = 0; c < count; ++c) {
        Chain& chain = (*chains)[c];
        std::vector<double> x;
        std::vector<double> y;
        std::size_t cut = 0;
        double steepest = kFallMs;
        for (std::size_t i = chain.size(); i-- > std::size_t(kMinColumns);) {
            x.push_back(khz[chain[i].position]);
            y.push_back(chain[i].delayMs);
            const double span = khz[chain.back().position] - x.back();
            const double fall = -FitLine(x, y).slope * span;
            if (int(x.size()) < kFallPoints || span < kFallFromKhz || fall < steepest) {
                continue;
            }
            // (... where what comes before does not fall so: a high ray's pieces stay one.)
            std::vector<double> headX;
            std::vector<double> headY;
            for (std::size_t h = 0; h < i; ++h) {
                headX.push_back(khz[chain[h].position]);
                headY.push_back(chain[h].delayMs);
            }
            if (FitLine(headX, headY).slope * (headX.back() - headX.front()) > -kFallMs) {
                steepest = fall;
                cut = i;
            }
        }
        if (cut > 0) {
            Chain rest(chain.begin() + std::ptrdiff_t(cut), chain.end());
            chain.resize(cut);
            chains->push_back(std::move(rest));
        }
    }
}

// A chain's ends are where noise that the trace pointed at gets linked: a peak beyond a bridged
// gap with no neighbour of its own, or a peak far weaker than the trace it ends (a strong
// trace ends abruptly at its MOF). The chain's ends must be two neighbouring columns, neither
// kEndDropDb under the chain's median SNR. Where keepStrong (a curve's cells, whose nose the fit
// put where it is), an end beyond a faded column stays if it is as strong as the trace's median
// or stands kKeptEndDb over the noise: noise the trace points at is neither. (A nose a strong
// low ray rises into is often far weaker than the low ray.)
void TrimEnds(Chain* chain, bool keepStrong = false) {
    std::vector<double> snr;
    for (const Point& point : *chain) {
        snr.push_back(point.snrDb);
    }
    const double median = Median(snr);
    const double floor = median - kEndDropDb;
    auto lone = [&](const Point& end, const Point& next) {
        return std::abs(end.position - next.position) > 1 &&
               !(keepStrong && end.snrDb >= std::min(median, kKeptEndDb));
    };
    while (chain->size() >= 2 &&
           (lone(chain->back(), (*chain)[chain->size() - 2]) || chain->back().snrDb < floor)) {
        chain->pop_back();
    }
    while (chain->size() >= 2 &&
           (lone(chain->front(), (*chain)[1]) || chain->front().snrDb < floor)) {
        chain->erase(chain->begin());
    }
}

// The chain's delay at (or nearest before) position.
double DelayNear(const Chain& chain, int position) {
    const Point* best = &chain.front();
    for (const Point& point : chain) {
        if (point.position <= position) {
            best = &point;
        }
    }
    return best->delayMs;
}

// The slope of the chain's last few peaks, ms per column.
double Slope(const Chain& chain) {
    std::vector<double> x;
    std::vector<double> y;
    for (std::size_t i = chain.size() - std::min<std::size_t>(chain.size(), kSlopePoints);
         i < chain.size(); ++i) {
        x.push_back(chain[i].position);
        y.push_back(chain[i].delayMs);
    }
    return FitLine(x, y).slope;
}

// The low and high ray of one mode meet at its nose: chains ending within a few columns of each
// other at nearly the same delay become one.
void JoinAtNoses(std::vector<Chain>* chains) {
    bool joined = true;
    while (joined) {
        joined = false;
        for (std::size_t a = 0; a < chains->size() && !joined; ++a) {
            for (std::size_t b = 0; b < chains->size() && !joined; ++b) {
                Chain& first = (*chains)[a];
                Chain& second = (*chains)[b];
                if (a == b || first.size() < 2 || second.size() < 2) {
                    continue;
                }
                const int endA = first.back().position;
                const int endB = second.back().position;
                if (endB > endA || first.front().position > endB) {
                    continue;
                }
                const double below = DelayNear(first, endB);
                const double apart = second.back().delayMs - below;
                // Both rays end together at the nose; or the high ray comes down onto the low
                // one and the two are one peak from there on.
                // (Two rays ending together a full resolution apart meet only if the upper one
                // comes down: two modes' pieces cut by a silent band end together too.)
                const Chain& upper = apart > 0 ? second : first;
                const bool together =
                    endA - endB <= kNoseColumns && std::abs(apart) <= kNoseMs &&
                    (std::abs(apart) <= kJoinAboveMs || Slope(upper) < -kDescendingMsPerColumn);
                const bool descends =
                    apart > 0 && apart <= kNoseMs && Slope(second) < -kDescendingMsPerColumn;
                if (!together && !descends) {
                    continue;
                }
                first.insert(first.end(), second.begin(), second.end());
                std::stable_sort(first.begin(), first.end(), [](const Point& x, const Point& y) {
                    return x.position < y.position;
                });
                chains->erase(chains->begin() + std::ptrdiff_t(b));
                joined = true;
            }
        }
    }
}

// The median of the lowest delays of the chain's first (or last) few positions: where its low
// ray begins (or ends), whatever high ray runs beside it.
double EndLowDelay(const Chain& chain, bool last) {
    std::vector<double> lowest;
    int at = -1;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const Point& point = last ? chain[chain.size() - 1 - i] : chain[i];
        if (point.position != at) {
            if (int(lowest.size()) == kJoinPoints) {
                break;
            }
            at = point.position;
            lowest.push_back(point.delayMs);
        }
        lowest.back() = std::min(lowest.back(), point.delayMs);
    }
    return Median(lowest);
}

int Spanned(const Chain& chain) {
    int spanned = 0;
    for (std::size_t i = 0; i < chain.size(); ++i) {
        spanned += i == 0 || chain[i].position != chain[i - 1].position;
    }
    return spanned;
}

double PeakSnr(const Chain& chain) {
    double peak = -INFINITY;
    for (const Point& point : chain) {
        peak = std::max(peak, point.snrDb);
    }
    return peak;
}

bool IsTrace(const Chain& chain) {
    return Spanned(chain) >= kMinColumns && PeakSnr(chain) >= kTraceDb;
}

// Whether the chain comes down from longer delays as a high ray does.
bool Descends(const Chain& chain) {
    return chain.size() >= 2 && Spanned(chain) >= 2 &&
           EndLowDelay(chain, false) - EndLowDelay(chain, true) > kJoinAboveMs;
}

// Whether the chain's course falls at all over its length, as a high ray's does (a low ray's
// rises towards its nose).
bool Falls(const Chain& chain) {
    std::vector<double> x;
    std::vector<double> y;
    for (const Point& point : chain) {
        x.push_back(point.position);
        y.push_back(point.delayMs);
    }
    return FitLine(x, y).slope < 0;
}

// Whether the chain ends rising into a nose, beyond which its mode is not heard: its last peaks
// stand clearly above where it ran before (a thick trace's peaks wander by a quarter of a ms).
bool EndsInNose(const Chain& chain) {
    if (int(chain.size()) < 2 * kNoseRunPoints) {
        return false;
    }
    std::vector<double> before;
    for (std::size_t i = chain.size() - 2 * kNoseRunPoints; i + 2 < chain.size(); ++i) {
        before.push_back(chain[i].delayMs);
    }
    return Median({chain[chain.size() - 2].delayMs, chain.back().delayMs}) - Median(before) >
           kNoseRiseMs;
}

// Pieces of one low ray split by a long fade: a piece that begins after a trace ends, at nearly
// the delay where the trace ended, continues it. One of the two must be a trace on its own and
// the other long or strong enough not to be noise; the nearest such piece is joined first.
void JoinAcrossGaps(std::vector<Chain>* chains) {
    bool joined = true;
    while (joined) {
        joined = false;
        int bestA = -1;
        int bestB = -1;
        int bestGap = 0;
        std::vector<bool> trace(chains->size());
        std::vector<bool> piece(chains->size());
        for (std::size_t i = 0; i < chains->size(); ++i) {
            const Chain& chain = (*chains)[i];
            trace[i] = IsTrace(chain);
            piece[i] = trace[i] || Spanned(chain) >= kPieceColumns ||
                       (chain.size() >= 2 && PeakSnr(chain) >= kTraceDb);
        }
        for (std::size_t a = 0; a < chains->size(); ++a) {
            if (!piece[a]) {
                continue;
            }
            const Chain& before = (*chains)[a];
            const double tail = EndLowDelay(before, true);
            for (std::size_t b = 0; b < chains->size(); ++b) {
                const Chain& after = (*chains)[b];
                const int gap = after.front().position - before.back().position;
                if (b == a || !piece[b] || !(trace[a] || trace[b]) || gap <= 0 ||
                    gap > kJoinColumns || (bestA >= 0 && gap >= bestGap)) {
                    continue;
                }
                // Across the gap the low ray runs on as it was, and never onto a high ray.
                const double rise = EndLowDelay(after, false) - tail;
                if (rise >= -kJoinBelowMs && rise <= kJoinAboveMs && !Descends(after) &&
                    !EndsInNose(before)) {
                    bestA = int(a);
                    bestB = int(b);
                    bestGap = gap;
                }
            }
        }
        if (bestA >= 0) {
            Chain& target = (*chains)[bestA];
            target.insert(target.end(), (*chains)[bestB].begin(), (*chains)[bestB].end());
            chains->erase(chains->begin() + bestB);
            joined = true;
        }
    }
}

// Moves chain `from` into chain `into`, keeping that by position.
void MoveInto(std::vector<Chain>* chains, std::size_t from, std::size_t into) {
    Chain& target = (*chains)[into];
    target.insert(target.end(), (*chains)[from].begin(), (*chains)[from].end());
    std::stable_sort(target.begin(), target.end(),
                     [](const Point& x, const Point& y) { return x.position < y.position; });
    chains->erase(chains->begin() + std::ptrdiff_t(from));
}

// A piece of a high ray that fades before it meets its low ray (or the steep upper part of one,
// cut from the rest where it fades) comes down from longer delays over a trace that runs on at
// least as far: it belongs to the nearest such trace under it.
void MergeHighRays(std::vector<Chain>* chains) {
    for (std::size_t h = 0; h < chains->size();) {
        const Chain& high = (*chains)[h];
        const bool descends = Descends(high);
        int below = -1;
        double nearest = 0;
        for (std::size_t l = 0; descends && l < chains->size(); ++l) {
            const Chain& low = (*chains)[l];
            if (l == h || !IsTrace(low) || low.front().position > high.back().position ||
                low.back().position + kNoseColumns < high.back().position) {
                continue;
            }
            const double apart = high.back().delayMs - DelayNear(low, high.back().position);
            if (apart > 0 && (below < 0 || apart < nearest)) {
                below = int(l);
                nearest = apart;
            }
        }
        if (below < 0) {
            ++h;
            continue;
        }
        MoveInto(chains, h, below);
    }
}

// The least delay along the trace: per column the lowest peak, smoothed by a running median to
// find where the trace is least; then a line fitted to the peaks of the stretch around it that
// lies within kFlatMs of the least, read there. Over a flat stretch that is the mean of many
// peaks; where the trace slopes, the line's end.
void LeastDelay(const Chain& chain, const std::vector<double>& khz, ScaledTrace* trace) {
    std::vector<int> positions;
    std::vector<double> lowest;
    for (const Point& point : chain) {
        if (!positions.empty() && positions.back() == point.position) {
            lowest.back() = std::min(lowest.back(), point.delayMs);
        } else {
            positions.push_back(point.position);
            lowest.push_back(point.delayMs);
        }
    }
    const int count = int(lowest.size());
    std::vector<double> smooth(count);
    for (int i = 0; i < count; ++i) {
        const int from = std::max(0, i - kSmoothing);
        const int to = std::min(count, i + kSmoothing + 1);
        smooth[i] = Median(std::vector<double>(lowest.begin() + from, lowest.begin() + to));
    }
    const int least = int(std::min_element(smooth.begin(), smooth.end()) - smooth.begin());
    int from = least;
    int to = least;
    while (from > 0 && smooth[from - 1] <= smooth[least] + kFlatMs) {
        --from;
    }
    while (to + 1 < count && smooth[to + 1] <= smooth[least] + kFlatMs) {
        ++to;
    }
    const Line line =
        FitLine(std::vector<double>(positions.begin() + from, positions.begin() + to + 1),
                std::vector<double>(lowest.begin() + from, lowest.begin() + to + 1));
    trace->minDelayMs = line.At(positions[least]);
    trace->minDelayKhz = khz[positions[least]];
}

// The lowest delay of the chain's peaks at the nearest position at or before position.
double LowestNear(const Chain& chain, int position) {
    int at = chain.front().position;
    double lowest = INFINITY;
    for (const Point& point : chain) {
        if (point.position > position) {
            break;
        }
        if (point.position != at) {
            at = point.position;
            lowest = INFINITY;
        }
        lowest = std::min(lowest, point.delayMs);
    }
    return lowest;
}

// The position of the chain's peaks LowestNear reads.
int LowestPosition(const Chain& chain, int position) {
    int at = chain.front().position;
    for (const Point& point : chain) {
        if (point.position > position) {
            break;
        }
        at = point.position;
    }
    return at;
}

double MedianSnr(const Chain& chain) {
    std::vector<double> snr;
    for (const Point& point : chain) {
        snr.push_back(point.snrDb);
    }
    return Median(snr);
}

// Merges into a trace, one pair at a time until none is left, a trace no longer than it for which
// same(trace, other) holds: other's peaks at positions the trace has none of join it.
void MergePairs(std::vector<Chain>* chains,
                const std::function<bool(const Chain&, const Chain&)>& same) {
    bool merged = true;
    while (merged) {
        merged = false;
        for (std::size_t a = 0; a < chains->size() && !merged; ++a) {
            for (std::size_t b = 0; b < chains->size() && !merged; ++b) {
                const Chain& trace = (*chains)[a];
                const Chain& other = (*chains)[b];
                if (a == b || !IsTrace(trace) || !IsTrace(other) ||
                    Spanned(other) > Spanned(trace) || !same(trace, other)) {
                    continue;
                }
                Chain& target = (*chains)[a];
                std::vector<bool> held(target.back().position + 1, false);
                for (const Point& point : target) {
                    held[point.position] = true;
                }
                for (const Point& point : other) {
                    if (point.position >= int(held.size()) || !held[point.position]) {
                        target.push_back(point);
                    }
                }
                std::stable_sort(target.begin(), target.end(), [](const Point& x, const Point& y) {
                    return x.position < y.position;
                });
                chains->erase(chains->begin() + std::ptrdiff_t(b));
                merged = true;
            }
        }
    }
}

// What looks like a second trace over the span of a longer one, at nearly its delay, is that
// trace again: pieces of a weak trace that linked through different noisy peaks, or a weak piece
// just above a strong trace (its high ray near the nose, or the dechirp's sidelobe, which lies
// 20 dB under it). Such a shadow adds nothing where the trace already is; beyond its ends it
// continues the trace.
void MergeShadows(std::vector<Chain>* chains) {
    MergePairs(chains, [](const Chain& trace, const Chain& shadow) {
        std::vector<double> apart;
        int within = 0;
        for (const Point& point : shadow) {
            if (point.position >= trace.front().position &&
                point.position <= trace.back().position) {
                ++within;
                // Only where the trace is heard nearby: across its gaps it may have
                // risen or wandered.
                const double at = LowestNear(trace, point.position);
                if (std::abs(LowestPosition(trace, point.position) - point.position) <=
                    kLargestGap) {
                    apart.push_back(point.delayMs - at);
                }
            }
        }
        const bool continues = int(shadow.size()) - within > within;
        if (int(apart.size()) < kShadowPoints) {
            return false;
        }
        // A weaker mode running just above is no shadow: only a high ray coming down (however
        // slowly, far from its nose) or what lies near a sidelobe's level under the trace is; and a
        // piece at nearly the trace's delay that runs on mostly beyond the trace continues it.
        const double offset = Median(apart);
        const bool again =
            offset >= -kJoinAboveMs && offset <= (continues ? kJoinAboveMs : kAgainMs);
        const bool above = offset > 0 && offset <= kShadowMs &&
                           (Falls(shadow) || MedianSnr(shadow) <= MedianSnr(trace) - kShadowDb);
        return again || above;
    });
}

using Taken = std::vector<std::vector<bool>>; // per position, per peak

// Marks the column's peak at the point's delay as taken.
void Take(const Point& point, const std::vector<std::vector<ColumnPeak>>& peaks, Taken* taken) {
    const std::vector<ColumnPeak>& column = peaks[point.position];
    for (std::size_t p = 0; p < column.size(); ++p) {
        (*taken)[point.position][p] =
            (*taken)[point.position][p] || column[p].delayMs == point.delayMs;
    }
}

// The peaks the traces among the chains hold.
Taken TakenPeaks(const std::vector<Chain>& chains,
                 const std::vector<std::vector<ColumnPeak>>& peaks) {
    Taken taken(peaks.size());
    for (std::size_t position = 0; position < peaks.size(); ++position) {
        taken[position].assign(peaks[position].size(), false);
    }
    for (const Chain& chain : chains) {
        if (IsTrace(chain)) {
            for (const Point& point : chain) {
                Take(point, peaks, &taken);
            }
        }
    }
    return taken;
}

// Towards its nose the low ray's delay rises ever faster, and in the last column before the MOF
// the low and high ray are one peak, up to kNoseMs above where the trace last was: faster than
// the trace's course lets it link. A trace takes that peak when it is not another trace's and
// not far weaker than the trace's end.
void ExtendToNoses(std::vector<Chain>* chains, const std::vector<std::vector<ColumnPeak>>& peaks) {
    Taken taken = TakenPeaks(*chains, peaks);
    for (Chain& chain : *chains) {
        const int next = chain.back().position + 1;
        if (!IsTrace(chain) || next >= int(peaks.size())) {
            continue;
        }
        double lowest = INFINITY;
        std::vector<double> snr;
        for (auto point = chain.rbegin(); point != chain.rend() && int(snr.size()) < kJoinPoints;
             ++point) {
            if (point->position == next - 1) {
                lowest = std::min(lowest, point->delayMs);
            }
            snr.push_back(point->snrDb);
        }
        const double floor = Median(snr) - kNoseDropDb;
        int best = -1;
        for (int p = 0; p < int(peaks[next].size()); ++p) {
            const ColumnPeak& peak = peaks[next][p];
            const double rise = peak.delayMs - lowest;
            if (!taken[next][p] && rise >= -kLinkMs && rise <= kNoseMs && peak.snrDb >= floor &&
                (best < 0 || peak.snrDb > peaks[next][best].snrDb)) {
                best = p;
            }
        }
        if (best >= 0) {
            taken[next][best] = true;
            chain.push_back({next, peaks[next][best].delayMs, peaks[next][best].snrDb});
        }
    }
}

// A weak trace's last columns before its MOF often stay under kCellDb. Once the trace is sure, a
// column after its end continues it where its best cell within kHoldMs of where the trace points
// reaches kHoldDb and is not far weaker than the trace's end: a lower level along a known track.
void HoldWeakEnds(std::vector<Chain>* chains, const std::vector<const std::vector<float>*>& rows,
                  double delayFromMs) {
    for (Chain& chain : *chains) {
        if (!IsTrace(chain)) {
            continue;
        }
        for (int held = 0; held < kHoldColumns; ++held) {
            const int next = chain.back().position + 1;
            if (next >= int(rows.size()) || rows[next] == nullptr) {
                break;
            }
            std::vector<double> snr;
            for (auto point = chain.rbegin();
                 point != chain.rend() && int(snr.size()) < kJoinPoints; ++point) {
                snr.push_back(point->snrDb);
            }
            const double floor = std::max(kHoldDb, Median(snr) - kNoseDropDb);
            double expected = 0;
            double tolerance = 0;
            Expect(chain, next, &expected, &tolerance);
            const std::vector<float>& row = *rows[next];
            int best = -1;
            for (int i = 0; i < int(row.size()); ++i) {
                const double delay = delayFromMs + i * kDelayGridMs;
                if (std::abs(delay - expected) <= kHoldMs && (best < 0 || row[i] > row[best])) {
                    best = i;
                }
            }
            if (best < 0 || !(row[best] >= floor)) {
                break;
            }
            chain.push_back({next, delayFromMs + best * kDelayGridMs, row[best]});
        }
    }
}
// Beyond the O nose the X trace runs on at nearly the low ray's delay, often weak and faded for a
// few columns. Peaks that no trace holds, each within kTipMs of where the trace's low ray ended
// or of the tip's peak before it, in
// columns after a gap of up to kTipGapColumns and no further than kSplitToKhz beyond its end,
// continue it: at least kTipPoints of them, two with one of kTraceDb, or one nose (noise seldom
// lines up so along a known delay). The tip of each chain (empty where none); the trace's end
// before it is then its O nose, where none was resolved.
std::vector<Chain> Tips(const std::vector<Chain>& chains, std::vector<int>* oNoses,
                        const std::vector<double>& khz, const std::vector<double>& nextKhz,
                        const std::vector<std::vector<ColumnPeak>>& peaks) {
    Taken taken = TakenPeaks(chains, peaks);
    std::vector<Chain> tips(chains.size());
    for (std::size_t c = 0; c < chains.size(); ++c) {
        const Chain& chain = chains[c];
        if (!IsTrace(chain)) {
            continue;
        }
        const int end = chain.back().position;
        // The X low ray runs on where the O trace's rose into its nose: the least of the last
        // few columns' low delays.
        double endMs = INFINITY;
        for (auto point = chain.rbegin();
             point != chain.rend() && end - point->position < kJoinPoints; ++point) {
            endMs = std::min(endMs, point->delayMs);
        }
        Chain tip;
        for (int q = end + 1; q < int(peaks.size()) && khz[q] - nextKhz[end] <= kSplitToKhz &&
                              q - (tip.empty() ? end : tip.back().position) <= kTipGapColumns + 1;
             ++q) {
            int best = -1;
            for (int p = 0; p < int(peaks[q].size()); ++p) {
                const double from = tip.empty() ? endMs : tip.back().delayMs;
                if (!taken[q][p] && std::abs(peaks[q][p].delayMs - from) <= kTipMs &&
                    (best < 0 || peaks[q][p].snrDb > peaks[q][best].snrDb)) {
                    best = p;
                }
            }
            if (best >= 0) {
                tip.push_back({q, peaks[q][best].delayMs, peaks[q][best].snrDb});
            }
        }
        // Only a run of the tip's peaks counts, each within kTipRunColumns of the next (the X
        // trace beyond the O nose is weak and fades as the low ray does).
        while (tip.size() >= 2 && tip[1].position - tip[0].position > kTipRunColumns) {
            tip.erase(tip.begin());
        }
        for (std::size_t i = 1; i < tip.size(); ++i) {
            if (tip[i].position - tip[i - 1].position > kTipRunColumns) {
                tip.resize(i);
                break;
            }
        }
        // ... and it ends, as a trace does, in two neighbouring columns, or in two peaks of
        // kTraceDb.
        while (tip.size() >= 2 && tip.back().position - tip[tip.size() - 2].position > 1 &&
               std::min(tip.back().snrDb, tip[tip.size() - 2].snrDb) < kTraceDb) {
            tip.pop_back();
        }
        // (A lone peak counts where it stands as a nose does, at the trace's very delay, where
        // the X nose lies: the X trace's last columns faded, its nose heard.)
        const bool lone = tip.size() == 1 && tip[0].snrDb >= kNoseDb &&
                          std::abs(tip[0].delayMs - endMs) <= kSameMs &&
                          nextKhz[tip[0].position] - nextKhz[end] >= kSplitFromKhz;
        if (int(tip.size()) < kTipPoints && !(tip.size() >= 2 && PeakSnr(tip) >= kTraceDb) &&
            !lone) {
            continue;
        }
        for (const Point& point : tip) {
            Take(point, peaks, &taken);
        }
        const double split = nextKhz[tip.back().position] - nextKhz[end];
        if ((*oNoses)[c] < 0 && split >= kSplitFromKhz) {
            (*oNoses)[c] = end;
        }
        tips[c] = tip;
    }
    return tips;
}

// The chain's low ray: per position its lowest peak, smoothed by a running median over
// kSmoothing positions either side (a thick trace's peak wanders within it).
std::vector<std::pair<int, double>> LowRay(const Chain& chain) {
    std::vector<std::pair<int, double>> lowest;
    for (const Point& point : chain) {
        if (!lowest.empty() && lowest.back().first == point.position) {
            lowest.back().second = std::min(lowest.back().second, point.delayMs);
        } else {
            lowest.emplace_back(point.position, point.delayMs);
        }
    }
    std::vector<std::pair<int, double>> smooth = lowest;
    for (int i = 0; i < int(lowest.size()); ++i) {
        std::vector<double> around;
        for (int j = std::max(0, i - kSmoothing);
             j <= std::min(int(lowest.size()) - 1, i + kSmoothing); ++j) {
            around.push_back(lowest[j].second);
        }
        smooth[i].second = Median(around);
    }
    return smooth;
}

// The low ray's delay at position, between its neighbouring positions; NaN outside its span.
double LowRayAt(const std::vector<std::pair<int, double>>& ray, int position) {
    if (ray.empty() || position < ray.front().first || position > ray.back().first) {
        return NAN;
    }
    const auto after =
        std::lower_bound(ray.begin(), ray.end(), std::make_pair(position, -double(INFINITY)));
    if (after->first == position || after == ray.begin()) {
        return after->second;
    }
    const auto before = after - 1;
    return before->second + (after->second - before->second) * (position - before->first) /
                                double(after->first - before->first);
}

// How far chain's low ray lies above under's, at each of chain's positions within under's span.
std::vector<double> LowRayAbove(const Chain& chain, const Chain& under) {
    const auto ray = LowRay(under);
    std::vector<double> above;
    for (const auto& [position, delay] : LowRay(chain)) {
        const double at = LowRayAt(ray, position);
        if (!std::isnan(at)) {
            above.push_back(delay - at);
        }
    }
    return above;
}

// Fading cuts a thick trace into pieces that interleave along one delay: traces whose low rays
// run at one delay (within kSameMs, by their medians where both are heard) are one. Another
// mode's low ray keeps its own delay, kSameMs or more away.
void MergeOneDelay(std::vector<Chain>* chains) {
    MergePairs(chains, [](const Chain& trace, const Chain& other) {
        const std::vector<double> apart = LowRayAbove(other, trace);
        return int(apart.size()) >= kJoinPoints && std::abs(Median(apart)) <= kSameMs;
    });
}

// An O/X pair: the O trace runs with the X trace's low ray where the two merge, far below the
// noses, and ends kSplitFromKhz to kSplitToKhz before the X trace's nose. It joins the X trace,
// and its end is kept as the O nose (the position, per chain; -1 where none is resolved).
std::vector<int> PairMagnetoionic(std::vector<Chain>* chains, const std::vector<double>& khz,
                                  const std::vector<double>& nextKhz) {
    std::vector<int> oEnds(chains->size(), -1);
    bool paired = true;
    while (paired) {
        paired = false;
        for (std::size_t x = 0; x < chains->size() && !paired; ++x) {
            for (std::size_t o = 0; o < chains->size() && !paired; ++o) {
                const Chain& xChain = (*chains)[x];
                const Chain& oChain = (*chains)[o];
                if (o == x || oEnds[o] >= 0 || !IsTrace(xChain) || !IsTrace(oChain) ||
                    Descends(oChain) || oChain.front().position < xChain.front().position) {
                    continue;
                }
                const double split =
                    nextKhz[xChain.back().position] - nextKhz[oChain.back().position];
                if (split < kSplitFromKhz || split > kSplitToKhz) {
                    continue;
                }
                std::vector<double> apart;
                for (std::size_t i = 0; i < oChain.size() && int(apart.size()) < kJoinPoints; ++i) {
                    apart.push_back(oChain[i].delayMs - LowestNear(xChain, oChain[i].position));
                }
                if (std::abs(Median(apart)) > kLinkMs) {
                    continue;
                }
                const int oEnd = oChain.back().position;
                Chain& target = (*chains)[x];
                target.insert(target.end(), oChain.begin(), oChain.end());
                std::stable_sort(target.begin(), target.end(), [](const Point& a, const Point& b) {
                    return a.position < b.position;
                });
                oEnds[x] = oEnd;
                chains->erase(chains->begin() + std::ptrdiff_t(o));
                oEnds.erase(oEnds.begin() + std::ptrdiff_t(o));
                paired = true;
            }
        }
    }
    (void)khz;
    return oEnds;
}

// Where the O trace's low ray runs within the X trace's peaks until near its nose, the O nose
// shows in the X trace as a second ray (the O trace's nose and high ray) that ends kSplitFromKhz
// to kSplitToKhz under the X nose, with no second ray in the next kNoseColumns - 1 columns: its
// position, or -1.
int ONoseWithin(const Chain& chain, const std::vector<double>& nextKhz) {
    const double mof = nextKhz[chain.back().position];
    std::vector<int> doubled;
    for (std::size_t i = 1; i < chain.size(); ++i) {
        if (chain[i].position == chain[i - 1].position) {
            doubled.push_back(chain[i].position);
        }
    }
    for (auto at = doubled.rbegin(); at != doubled.rend(); ++at) {
        const double split = mof - nextKhz[*at];
        const bool alone = at == doubled.rbegin() || *(at - 1) - *at >= kNoseColumns;
        // A high ray that merges with its own low ray's nose is no O nose: the low ray has come
        // up to it a few columns on; the X low ray stays well under the O nose.
        double second = -INFINITY;
        for (const Point& point : chain) {
            if (point.position == *at) {
                second = std::max(second, point.delayMs);
            }
        }
        const double under = second - LowestNear(chain, *at + kNoseColumns);
        if (split >= kSplitFromKhz && split <= kSplitToKhz && alone && under >= kResolutionMs) {
            return *at;
        }
    }
    return -1;
}

// Sporadic E: a trace with no high ray whose delay does not rise towards its top.
bool Flat(const Chain& chain) {
    std::vector<double> lowest;
    for (const Point& point : chain) {
        if (!lowest.empty() && point.position == chain[&point - chain.data() - 1].position) {
            return false; // a second ray
        }
        lowest.push_back(point.delayMs);
    }
    const std::vector<double> top(lowest.end() - std::min<std::size_t>(lowest.size(), kJoinPoints),
                                  lowest.end());
    return Median(top) - Median(lowest) <= kFlatMs;
}

// Sporadic E blankets the F modes under its top frequency: they are heard only above it, where
// 1F's low ray takes over at nearly the Es delay (multi-hop Es comes back as late as 1F or a
// little later) and the two read as one trace. Where a single trace runs below the column at
// which every other trace begins, flat, without a high ray and across more than a megahertz,
// and its delay falls there (one mode's low ray only rises towards its nose), that trace is
// sporadic E up to there and the F mode beyond. Without the fall it stays one trace: 2F is
// often heard only from a few MHz up, where absorption lets it through.
constexpr int kEsColumns = 12;
constexpr double kEsLaterMs = 0.08;
void SplitSporadicE(std::vector<Chain>* chains, std::vector<Chain>* tips,
                    std::vector<int>* oNoses) {
    int below = -1;
    // The trace that starts lowest, and the lowest start of all the others.
    int first = INT_MAX;
    int others = INT_MAX;
    for (std::size_t c = 0; c < chains->size(); ++c) {
        const Chain& chain = (*chains)[c];
        if (!IsTrace(chain)) {
            continue;
        }
        const int start = chain.front().position;
        if (start < first) {
            others = first;
            first = start;
            below = int(c);
        } else {
            others = std::min(others, start);
        }
    }
    if (below < 0 || others == INT_MAX) {
        return;
    }
    Chain& chain = (*chains)[std::size_t(below)];
    Chain es;
    Chain f;
    for (const Point& point : chain) {
        (point.position < others ? es : f).push_back(point);
    }
    if (Spanned(es) < kEsColumns || Spanned(f) < kMinColumns || !Flat(es) || !IsTrace(f)) {
        return;
    }
    if (EndLowDelay(es, true) < EndLowDelay(f, false) + kEsLaterMs) {
        return;
    }
    chain = f;
    chains->push_back(es);
    tips->push_back({});
    oNoses->push_back(-1);
}

// ---- Whole curves ------------------------------------------------------------------------------
// A mode's trace is one curve of a known family: over a flat earth a parabolic layer's oblique
// trace (the secant law and Martyn's theorem) has, with lengths counted in half hops, a shape
// set by the layer's base height and semi-thickness alone; its frequencies scale with the MOF
// and its delays with the path. Anchored at a nose (the MOF's column and the delay there), a
// shape gives the low ray's and the high ray's delay at every lower frequency, and the peaks
// along them are its evidence: modes are read as whole curves, strongest first, so that a
// weaker mode close above a stronger one keeps its own nose and cells.

constexpr int kShapeSamples = 400;        // the curve's delay by f / MOF, sampled evenly
constexpr int kBaseShapes = 18;           // base height over half hop, log-spaced ...
constexpr double kLeastBase = 0.04;       // ... from here
constexpr double kMostBase = 6;           // ... to here
constexpr int kThicknessShapes = 7;       // semi-thickness over base height, log-spaced ...
constexpr double kLeastThickness = 0.025; // ... from here
constexpr double kMostThickness = 1;      // ... to here
constexpr int kLayerSamples = 2000;       // along u = ln((1 + x) / (1 - x)), x = f_v / f_c
constexpr double kLeastU = 1e-3;
constexpr double kMostU = 1e5;
constexpr double kCurveMs = 0.25; // a peak within this of the curve lies on it
constexpr int kNoseSupport = 2;   // of the kNoseSupportOf positions under the nose, on the curve
constexpr int kNoseSupportOf = 4;
constexpr double kSupportShare = 0.15; // a mode's curve holds peaks in this share of its columns
// ... and is not heard at all over no more columns in a row than a silent band takes.
constexpr int kCurveGapColumns = 35;
constexpr int kNosePlaces = 5;      // the MOF is tried at these fifths of its column's step
constexpr double kSpreadMs = 0.5;   // a thick trace's paths spread over this at most
constexpr int kHighOnlyColumns = 8; // see Holds
// A high ray fades as it rises (it is defocused, and absorbed over its longer path): it is not
// sought further than this above its low ray.
constexpr double kHighRiseMs = 3;
constexpr double kNoseHighMs = 2; // see Shadows
// A high ray is defocused: far under its nose it is never much stronger than its low ray in the
// same column. A peak on its course this far stronger is another mode's low ray crossing it.
constexpr double kHighOverLowDb = 3;
constexpr double kTraceCostDb = 120;
// A curve is a mode only where it explains this much of the cells that no stronger one took (a
// thick trace's shadow or a stray run of noise peaks explains less), or this much a column over
// its span where that is less (a short trace of a low MOF).
constexpr double kOwnCellsDb = 110;
constexpr double kOwnCellsDbPerColumn = 2.5;

struct CurveShape {
    std::vector<float> low;  // the low ray's delay over the nose's, by f / MOF
    std::vector<float> high; // the high ray's, INFINITY where there is none
    double mofOverFc = 0;    // the MOF over the layer's critical frequency
    double noseDelay = 0;    // the nose's group path over the path's length
};

// The shape of a layer whose base lies `base` half hops high, its semi-thickness `thickness`
// times its base height.
CurveShape MakeShape(double base, double thickness) {
    std::vector<double> f(kLayerSamples);
    std::vector<double> delay(kLayerSamples);
    int nose = 0;
    for (int i = 0; i < kLayerSamples; ++i) {
        const double u = kLeastU * std::pow(kMostU / kLeastU, double(i) / (kLayerSamples - 1));
        const double x = std::tanh(u / 2);
        const double height = base + base * thickness / 2 * x * u;
        delay[i] = std::hypot(height, 1.0);
        f[i] = x * delay[i] / height;
        nose = f[i] > f[nose] ? i : nose;
    }
    CurveShape shape{std::vector<float>(kShapeSamples + 1, INFINITY),
                     std::vector<float>(kShapeSamples + 1, INFINITY)};
    // Each ray's delay at evenly spaced f / MOF, by linear interpolation along its branch.
    auto fill = [&](std::vector<float>* out, int from, int to, int step) {
        for (int i = from; i != to; i += step) {
            const double r0 = f[i] / f[nose];
            const double r1 = f[i + step] / f[nose];
            const double lo = std::min(r0, r1);
            const double hi = std::max(r0, r1);
            for (int k = int(std::ceil(lo * kShapeSamples)); k <= int(hi * kShapeSamples); ++k) {
                const double r = double(k) / kShapeSamples;
                const double t = hi > lo ? (r - r0) / (r1 - r0) : 0;
                const double d = (delay[i] + t * (delay[i + step] - delay[i])) / delay[nose];
                if (k >= 0 && k <= kShapeSamples && !(d >= (*out)[k])) {
                    (*out)[k] = float(d);
                }
            }
        }
    };
    fill(&shape.low, 0, nose, 1);
    fill(&shape.high, kLayerSamples - 1, nose, -1);
    shape.high[kShapeSamples] = shape.low[kShapeSamples] = 1;
    shape.mofOverFc = f[nose];
    shape.noseDelay = delay[nose];
    return shape;
}

// The shapes at kFine places per step of the grids of base heights and thicknesses; made once.
constexpr int kFine = 4;
constexpr int kFineBases = (kBaseShapes - 1) * kFine + 1;
constexpr int kFineThicknesses = (kThicknessShapes - 1) * kFine + 1;

const std::vector<CurveShape>& Shapes() {
    static const std::vector<CurveShape> shapes = [] {
        std::vector<CurveShape> made;
        for (int a = 0; a < kFineBases; ++a) {
            for (int b = 0; b < kFineThicknesses; ++b) {
                made.push_back(MakeShape(
                    kLeastBase * std::pow(kMostBase / kLeastBase, double(a) / (kFineBases - 1)),
                    kLeastThickness * std::pow(kMostThickness / kLeastThickness,
                                               double(b) / (kFineThicknesses - 1))));
            }
        }
        return made;
    }();
    return shapes;
}

// A mode read as a curve: its nose (position, MOF, delay) and shape.
struct CurveMode {
    int nose = 0;        // the position of the nose's column ...
    double anchorMs = 0; // ... and the delay of its peak there, on the low ray
    double mofKhz = 0;   // within that column's step
    double noseMs = 0;   // where the curve puts the nose
    int shape = 0;       // in Shapes()
    double score = 0;
    int oNose = -1;      // its O trace's nose, where resolved
    bool placed = false; // read where its layer puts it (see ReadHop): its nose stands
};

// The mode with its nose's delay set so that the low ray passes through the anchor.
CurveMode Placed(CurveMode mode, double anchorKhz) {
    const CurveShape& shape = Shapes()[mode.shape];
    const double r = std::clamp(anchorKhz / mode.mofKhz, 0.0, 1.0);
    const double ratio = shape.low[int(std::lround(r * kShapeSamples))];
    mode.noseMs = ratio > 0 && std::isfinite(ratio) ? mode.anchorMs / ratio : mode.anchorMs;
    return mode;
}

// A ray's delay at `at` samples of its shape (f / MOF times kShapeSamples); NaN where it has none.
// (The sample nearest `at`, -1 beyond the shape; the ray's delay at a sample.)
int SampleOf(double at) {
    return at < 0 || at > kShapeSamples ? -1 : int(at + kHalf);
}

double RayAt(const std::vector<float>& ray, double noseMs, int sample) {
    const double d = sample < 0 ? INFINITY : ray[std::size_t(sample)];
    return std::isinf(d) ? NAN : noseMs * d;
}

double RayDelay(const std::vector<float>& ray, double noseMs, double at) {
    return RayAt(ray, noseMs, SampleOf(at));
}

// The curve's low (or high) ray delay at khz; NaN where it has none.
double CurveDelay(const CurveMode& mode, double khz, bool high) {
    const CurveShape& shape = Shapes()[mode.shape];
    return RayDelay(high ? shape.high : shape.low, mode.noseMs,
                    khz * (kShapeSamples / mode.mofKhz));
}

// The peaks of each column set aside for a mode read already, per position and peak. (Bytes,
// not std::vector<bool>'s bits: the fit reads these flags millions of times a sweep.)
using Used = std::vector<std::vector<char>>;

// The peak of the column nearest delayMs within kCurveMs that is still free, or -1; none within
// kResolutionMs of the peak `other` (the low ray's, which a high ray near the nose cannot take
// again in a thick trace's later path). Inlined: it is the fit's inner loop.
[[gnu::always_inline]] inline int PeakOnCurve(const std::vector<ColumnPeak>& column,
                                              const std::vector<char>& used, double delayMs,
                                              int other = -1) {
    const double otherMs = other >= 0 ? column[other].delayMs : INFINITY;
    int best = -1;
    double nearest = kCurveMs;
    for (int p = 0; p < int(column.size()); ++p) {
        const double apart = std::abs(column[p].delayMs - delayMs);
        if (apart <= nearest && (best < 0 || apart < nearest) && !used[p] &&
            !(std::abs(column[p].delayMs - otherMs) < kResolutionMs)) {
            best = p;
            nearest = apart;
        }
    }
    return best;
}

// Whether a column's peak `high` on a high ray's course, columns under its nose, is another
// mode's low ray crossing it (see kHighOverLowDb) rather than the ray whose low ray is `low`.
bool Crossing(const std::vector<ColumnPeak>& column, int high, int low, int columns) {
    return high >= 0 && low >= 0 && columns > kNoseSupportOf &&
           column[high].snrDb > column[low].snrDb + kHighOverLowDb;
}

struct CurveEvidence {
    double score = 0;
    int positions = 0; // under the nose, with a peak on the curve
    int span = 0;      // from the lowest such position to the nose
    int nearNose = 0;  // of the kNoseSupportOf positions under the nose
    int widestGap = 0; // positions in a row without a peak on the curve
    int highOnly = 0;  // positions with a peak on the high ray but none on the low ray
};

// The shape's sample at each column under a MOF (see RayDelay), -1 beyond the shape: the same
// for every shape the fit tries at one MOF.
std::vector<int> SamplesAt(double mofKhz, int nose, const std::vector<double>& khz) {
    std::vector<int> samples(std::size_t(nose) + 1);
    const double perKhz = kShapeSamples / mofKhz;
    for (int q = 0; q <= nose; ++q) {
        samples[std::size_t(q)] = SampleOf(khz[q] * perKhz);
    }
    return samples;
}

CurveEvidence EvidenceAt(const CurveMode& mode, const std::vector<int>& samples,
                         const std::vector<std::vector<ColumnPeak>>& peaks, const Used& used) {
    CurveEvidence evidence;
    const CurveShape& shape = Shapes()[mode.shape];
    auto delayAt = [&](int q, const std::vector<float>& ray) {
        return RayAt(ray, mode.noseMs, samples[std::size_t(q)]);
    };
    int lowest = mode.nose;
    // Columns since the high ray's last peak, going down from the nose, where its low ray was
    // heard (where the mode is not heard at all, in a silent band, the high ray cannot be).
    int missed = 0;
    for (int q = mode.nose; q >= 0; --q) {
        bool held = false;
        const double lowMs = delayAt(q, shape.low);
        int low = -1; // the low ray's peak, which the high ray cannot count again
        if (!std::isnan(lowMs)) {
            low = PeakOnCurve(peaks[q], used[q], lowMs);
            if (low >= 0) {
                evidence.score += peaks[q][low].snrDb - kCellDb + 1;
                held = true;
            }
        }
        // A high ray is heard from its nose down, fading out as it rises: what lies on its
        // course further on is another trace's. (Near the nose, within the resolution of its
        // low ray, the two are one peak.)
        if (q < mode.nose && missed <= kNoseColumns) {
            const double highMs = delayAt(q, shape.high);
            const bool one = mode.nose - q <= kNoseSupportOf && highMs - lowMs < kResolutionMs;
            const int p = std::isnan(highMs) || highMs - lowMs > kHighRiseMs
                              ? -1
                              : PeakOnCurve(peaks[q], used[q], highMs, low);
            const bool crossing = Crossing(peaks[q], p, low, mode.nose - q);
            if (p >= 0 && !crossing) {
                evidence.score += peaks[q][p].snrDb - kCellDb + 1;
                evidence.highOnly += low < 0;
                held = true;
            }
            missed = (p >= 0 && !crossing) || one ? 0 : missed + (low >= 0);
        }
        if (held) {
            ++evidence.positions;
            evidence.widestGap = std::max(evidence.widestGap, lowest - q - 1);
            lowest = q;
            evidence.nearNose += q < mode.nose && q >= mode.nose - kNoseSupportOf;
        }
    }
    // A nose ends the mode: its low ray running on above it, at its delay, is evidence against.
    for (int q = mode.nose + 1; q < int(peaks.size()) && q <= mode.nose + kNoseColumns; ++q) {
        const int p = PeakOnCurve(peaks[q], used[q], mode.anchorMs);
        if (p >= 0) {
            evidence.score -= peaks[q][p].snrDb - kCellDb + 1;
        }
    }
    evidence.span = mode.nose - lowest + 1;
    return evidence;
}

CurveEvidence Evidence(const CurveMode& mode, const std::vector<double>& khz,
                       const std::vector<std::vector<ColumnPeak>>& peaks, const Used& used) {
    return EvidenceAt(mode, SamplesAt(mode.mofKhz, mode.nose, khz), peaks, used);
}

// Tries the shapes at `count` places `step` apart from `from` places (in steps) off the best's,
// on each grid, keeping the best: over the whole grid where from is 0 and the best's shape too.
void TryShapes(CurveMode* best, int step, int fromBase, int fromThickness, int bases,
               int thicknesses, const std::vector<double>& khz,
               const std::vector<std::vector<ColumnPeak>>& peaks, const Used& used) {
    const bool around = fromBase != 0;
    const int base = around ? best->shape / kFineThicknesses : 0;
    const int thickness = around ? best->shape % kFineThicknesses : 0;
    const CurveMode start = *best;
    const std::vector<int> samples = SamplesAt(start.mofKhz, start.nose, khz);
    for (int a = 0; a < bases; ++a) {
        for (int b = 0; b < thicknesses; ++b) {
            const int atBase = base + (fromBase + a) * step;
            const int atThickness = thickness + (fromThickness + b) * step;
            // (The best's own shape around it is scored already, over the same cells.)
            const bool own = around && fromBase + a == 0 && fromThickness + b == 0;
            if (own || atBase < 0 || atBase >= kFineBases || atThickness < 0 ||
                atThickness >= kFineThicknesses) {
                continue;
            }
            CurveMode mode = start;
            mode.shape = atBase * kFineThicknesses + atThickness;
            mode = Placed(mode, khz[mode.nose]);
            mode.score = EvidenceAt(mode, samples, peaks, used).score;
            if (mode.score > best->score) {
                *best = mode;
            }
        }
    }
}

// The best shape for a nose, by its evidence.
CurveMode FitNose(int nose, double mofKhz, double anchorMs, const std::vector<double>& khz,
                  const std::vector<std::vector<ColumnPeak>>& peaks, const Used& used) {
    CurveMode best{nose, anchorMs, mofKhz, anchorMs, 0, -1, -1};
    TryShapes(&best, kFine * 2, 0, 0, (kFineBases - 1) / (kFine * 2) + 1,
              (kFineThicknesses - 1) / (kFine * 2) + 1, khz, peaks, used);
    TryShapes(&best, kFine, -1, -1, 3, 3, khz, peaks, used);
    return best;
}

// A mode's shape refined between the grid's places, and its MOF's place within its column's
// step (near a sharp nose it matters), so that its high ray and nose lie on the curve.
CurveMode Refine(CurveMode mode, const std::vector<double>& khz, const std::vector<double>& nextKhz,
                 const std::vector<std::vector<ColumnPeak>>& peaks, const Used& used) {
    const double stepKhz = nextKhz[mode.nose] - khz[mode.nose];
    for (int place = 1; place < kNosePlaces; ++place) {
        CurveMode tried = mode;
        tried.mofKhz = khz[mode.nose] + stepKhz * place / kNosePlaces;
        tried = Placed(tried, khz[mode.nose]);
        tried.score = Evidence(tried, khz, peaks, used).score;
        if (tried.score > mode.score) {
            mode = tried;
        }
    }
    for (int step = kFine / 2; step >= 1; step /= 2) {
        TryShapes(&mode, step, -1, -1, 3, 3, khz, peaks, used);
    }
    return mode;
}

// A curve whose low ray takes, over its top, peaks that fall (see kFallMs) has run past its nose
// onto a longer mode's high ray: the position where that fall begins (its own nose), or -1.
int FallingTop(const CurveMode& mode, const std::vector<double>& khz,
               const std::vector<std::vector<ColumnPeak>>& peaks, const Used& used) {
    std::vector<double> x;
    std::vector<double> y;
    int from = -1;
    double steepest = kCurveFallMs;
    for (int q = mode.nose; q >= 0 && khz[mode.nose] - khz[q] <= kFallSpanKhz; --q) {
        const double lowMs = CurveDelay(mode, khz[q], false);
        const int p = std::isnan(lowMs) ? -1 : PeakOnCurve(peaks[q], used[q], lowMs);
        if (p < 0) {
            continue;
        }
        x.push_back(khz[q]);
        y.push_back(peaks[q][p].delayMs);
        const double span = khz[mode.nose] - khz[q];
        const double fall = -FitLine(x, y).slope * span;
        if (int(x.size()) >= kFallPoints && span >= kFallFromKhz && fall >= steepest) {
            steepest = fall;
            from = q;
        }
    }
    return from;
}

// Whether a fitted curve is a mode: a trace's worth of peaks, some near its nose; and where its
// high ray is heard, so is its low ray, the stronger of the two, but for a fade now and then (a
// curve that holds one mode's low ray and another's high ray above where that one ends is no mode).
bool Holds(const CurveEvidence& evidence) {
    return evidence.positions >= kMinColumns && evidence.nearNose >= kNoseSupport &&
           evidence.highOnly < kHighOnlyColumns &&
           evidence.positions >= kSupportShare * evidence.span &&
           evidence.widestGap <= kCurveGapColumns;
}

// Whether the O nose of an O/X pair: kSplitFromKhz to kSplitToKhz under the X nose, where the X
// trace's low ray runs at most kNoseMs under it (the O trace's low ray runs with the X's far
// below and rises into its nose first).
bool ONoseOf(const CurveMode& o, const CurveMode& x, const std::vector<double>& khz) {
    const double split = x.mofKhz - o.mofKhz;
    const double over = o.anchorMs - CurveDelay(x, khz[o.nose], false);
    return split >= kSplitFromKhz && split <= kSplitToKhz && over >= -kCurveMs && over <= kNoseMs;
}

// The peaks along the curve, by position.
Chain CurvePoints(const CurveMode& mode, const std::vector<double>& khz,
                  const std::vector<std::vector<ColumnPeak>>& peaks) {
    Chain points;
    for (int q = 0; q <= mode.nose; ++q) {
        for (bool high : {false, true}) {
            const double delay = CurveDelay(mode, khz[q], high);
            for (const ColumnPeak& peak : peaks[q]) {
                if (std::abs(peak.delayMs - delay) <= kCurveMs) {
                    points.push_back({q, peak.delayMs, peak.snrDb});
                }
            }
        }
    }
    return points;
}

// A thick trace's later paths run as a flat curve a fraction of a millisecond above its first,
// as far as the trace: a curve over a stronger mode's, within kSpreadMs of it where both run,
// is such a path unless it rises into a nose of its own or shows a high ray.
bool Shadows(const CurveMode& mode, const std::vector<CurveMode>& stronger,
             const std::vector<double>& khz, const std::vector<std::vector<ColumnPeak>>& peaks) {
    const double far = mode.mofKhz * kHalf;
    const double rise = mode.noseMs - CurveDelay(mode, far, false);
    int highRay = 0;
    for (int q = mode.nose - 1; q >= std::max(0, mode.nose - kNoseSupportOf); --q) {
        const double delay = CurveDelay(mode, khz[q], true);
        highRay += !std::isnan(delay) && delay - CurveDelay(mode, khz[q], false) >= kResolutionMs &&
                   std::any_of(peaks[q].begin(), peaks[q].end(), [&](const ColumnPeak& peak) {
                       return std::abs(peak.delayMs - delay) <= kCurveMs;
                   });
    }
    std::vector<double> x;
    std::vector<double> y;
    for (const Point& point : CurvePoints(mode, khz, peaks)) {
        x.push_back(point.position);
        y.push_back(point.delayMs);
    }
    const bool falls = FitLine(x, y).slope < -kDescendingMsPerColumn;
    return std::any_of(stronger.begin(), stronger.end(), [&](const CurveMode& other) {
        // A nose just under a stronger one may be its O nose (see PairCurves).
        const double split = other.mofKhz - mode.mofKhz;
        const double apart = CurveDelay(mode, far, false) - CurveDelay(other, far, false);
        // (An O nose rises into its nose off the X trace's low ray; a high ray's piece only
        // comes down.)
        bool risesInto = false;
        for (int q = std::max(0, mode.nose - kNoseSupport); q < mode.nose; ++q) {
            for (const ColumnPeak& peak : peaks[q]) {
                const double rise = mode.anchorMs - peak.delayMs;
                const double offLow = peak.delayMs - CurveDelay(other, khz[q], false);
                risesInto =
                    risesInto || (rise >= kCurveMs / 2 && rise <= kNoseMs && offLow > kCurveMs / 2);
            }
        }
        const bool oNose = ONoseOf(mode, other, khz) && risesInto;
        // A piece that comes down onto a stronger mode running on beyond it is its high ray.
        const double over = mode.anchorMs - CurveDelay(other, khz[mode.nose], false);
        // (A weaker mode's own low ray runs apart from the stronger's.)
        int ownLow = 0;
        for (int q = 0; q < mode.nose; ++q) {
            const double delay = CurveDelay(mode, khz[q], false);
            const bool apart = delay - CurveDelay(other, khz[q], false) > kCurveMs / 2;
            ownLow +=
                apart && std::any_of(peaks[q].begin(), peaks[q].end(), [&](const ColumnPeak& p) {
                    return std::abs(p.delayMs - delay) <= kCurveMs / 2;
                });
        }
        if (falls && over > 0 && other.nose >= mode.nose && !oNose && ownLow < kMinColumns) {
            return true;
        }
        // A nose on a stronger mode's low ray, where that runs on, is where it faded; one on
        // its high ray is a piece of it, cut where it faded.
        const double onHigh = mode.anchorMs - CurveDelay(other, khz[mode.nose], true);
        // Two noses in one column, or two apart, are one mode's, its high ray or a thick
        // trace's later path just above its nose (modes whose noses coincide within a step are
        // read as one). A sharp nose's high ray lies over a millisecond above its low ray one
        // step under the MOF. (Where the weaker's nose lies beyond the stronger's MOF, it lies
        // over the stronger's nose.)
        const double overNose = mode.nose > other.nose ? mode.anchorMs - other.noseMs : over;
        if (std::abs(other.nose - mode.nose) < kNoseColumns && overNose > 0 &&
            overNose <= kNoseHighMs) {
            return true;
        }
        if ((split > kSplitToKhz && std::abs(over) <= kCurveMs) ||
            (std::abs(onHigh) <= kCurveMs && !oNose)) {
            return true;
        }
        return rise < kNoseRiseMs / 2 && highRay < kNoseSupport && split >= -kSplitToKhz &&
               apart >= 0 && apart <= kSpreadMs;
    });
}

// A weaker tip (the X trace beyond the O nose, a nose under kNoseDb) runs on from a nose at
// nearly its delay, not far weaker: the nose moves onto it, column by column, and the curve is
// refitted.
CurveMode ExtendNose(CurveMode mode, const std::vector<double>& khz,
                     const std::vector<double>& nextKhz,
                     const std::vector<std::vector<ColumnPeak>>& peaks, const Used& used) {
    // (Never far under the highest it reached: a piece that falls away is a high ray's.)
    double highestMs = mode.anchorMs;
    for (int q = mode.nose + 1; q < int(peaks.size()); ++q) {
        highestMs = std::max(highestMs, mode.anchorMs);
        const int p = PeakOnCurve(peaks[q], used[q], mode.anchorMs);
        const int at = PeakOnCurve(peaks[mode.nose], used[mode.nose], mode.anchorMs);
        if (p < 0 || at < 0 || peaks[q][p].delayMs < highestMs - kCurveMs / 2 ||
            peaks[q][p].snrDb < peaks[mode.nose][at].snrDb - kNoseDropDb) {
            break;
        }
        mode = FitNose(q, (khz[q] + nextKhz[q]) * kHalf, peaks[q][p].delayMs, khz, peaks, used);
    }
    return mode;
}

// Sets aside the peaks along a mode's curve: its low ray's, its high ray's (but for another
// mode's low ray crossing it), or both.
void Take(const CurveMode& mode, bool lowRay, bool highRay, const std::vector<double>& khz,
          const std::vector<std::vector<ColumnPeak>>& peaks, Used* used) {
    for (int q = mode.nose; q >= 0; --q) {
        const std::vector<char> none(peaks[q].size(), false);
        int low = -1;
        for (bool high : {false, true}) {
            const double delay = CurveDelay(mode, khz[q], high);
            if (std::isnan(delay) || (high ? !highRay : !lowRay && !highRay)) {
                continue;
            }
            // (Where the low ray is set aside already, its peak still tells a crossing.)
            const int p = PeakOnCurve(peaks[q], high || lowRay ? (*used)[q] : none, delay);
            if (p < 0) {
                continue;
            }
            if (!high) {
                low = p;
                (*used)[q][p] = (*used)[q][p] || lowRay;
            } else if (!Crossing(peaks[q], p, low, mode.nose - q)) {
                (*used)[q][p] = true;
            }
        }
    }
}

// ---- The hops of one layer ---------------------------------------------------------------------
// On a long path the F modes are the one-, two- and three-hop traces of one layer, their low rays
// a fraction of a millisecond to a millisecond apart. 1F's low ray runs nearly flat from far
// under its nose, so that many layer shapes fit it alike; but each shape puts the layer's 2F and
// 3F noses in a place of its own (its base height over the half hop doubles and triples, its
// thickness and critical frequency stay, the delays scale with the path), and their cells tell
// which. They are read there, before the strongest-first reading goes on: 1F's high ray comes
// down through their noses and runs on beyond them at nearly their delay, and a weaker mode read
// on its own is read along it, past its nose. (Only the shape is the layer's: each hop's nose and
// shape are fitted to its own cells, within kHopNoseShare of the MOF and kHopNoseMs of the delay
// the layer gives it, since its reflections lie elsewhere on the path, where foF2 differs by a
// few per cent: the MOF a few per cent more, the M factor changing with the peak's height.)
constexpr double kLongPathMs = 6.7; // 2000 km
// The hops' noses within this of the first's (over 3000 km under a layer peaking at 350 km, 3F's
// nose lies 2.2-2.5 ms after 1F's).
constexpr double kHopsApartMs = 3.0;
constexpr int kMostHops = 3;
constexpr double kHopLowKept = 0.97; // the shapes that hold the first's low ray this well
constexpr double kHopNoseShare = 0.10;
constexpr double kHopNoseMs = 0.4;

// The low ray's share of a curve's evidence, over its MOF's shape samples (see SamplesAt). Given
// the most the columns from each on down could add (`within`), it stops short, under `need`, once
// they could no longer bring it there.
double LowRayScore(const CurveMode& mode, const std::vector<int>& samples,
                   const std::vector<std::vector<ColumnPeak>>& peaks, const Used& used,
                   const std::vector<double>& within = {}, double need = -INFINITY) {
    const std::vector<float>& low = Shapes()[mode.shape].low;
    double score = 0;
    for (int q = mode.nose; q >= 0; --q) {
        if (!within.empty() && score + within[std::size_t(q)] < need) {
            return score + within[std::size_t(q)];
        }
        const int p =
            PeakOnCurve(peaks[q], used[q], RayAt(low, mode.noseMs, samples[std::size_t(q)]));
        score += p >= 0 ? peaks[q][p].snrDb - kCellDb + 1 : 0;
    }
    return score;
}

// The last column at or under khz (a MOF's nose column), or -1.
int ColumnAtOrUnder(const std::vector<double>& columnsKhz, double khz) {
    int last = -1;
    for (int q = 0; q < int(columnsKhz.size()) && columnsKhz[q] <= khz; ++q) {
        last = q;
    }
    return last;
}

// The same layer's `hops`-hop curve, from a one-hop curve; none beyond the shapes or the columns.
std::optional<CurveMode> Hop(const CurveMode& first, int hops, const std::vector<double>& khz) {
    const int base = first.shape / kFineThicknesses;
    const int thickness = first.shape % kFineThicknesses;
    const int higher = base + int(std::lround((kFineBases - 1) * std::log(double(hops)) /
                                              std::log(kMostBase / kLeastBase)));
    if (higher >= kFineBases) {
        return std::nullopt;
    }
    const CurveShape& one = Shapes()[first.shape];
    CurveMode mode;
    mode.shape = higher * kFineThicknesses + thickness;
    const CurveShape& many = Shapes()[mode.shape];
    // The layer's critical frequency scales to each hop's O nose; the X nose lies the same half
    // gyrofrequency above it on every hop.
    mode.mofKhz = (first.mofKhz - kXSplitKhz) / one.mofOverFc * many.mofOverFc + kXSplitKhz;
    mode.noseMs = first.noseMs * many.noseDelay / one.noseDelay;
    mode.nose = ColumnAtOrUnder(khz, mode.mofKhz);
    if (mode.nose < 0) {
        return std::nullopt;
    }
    mode.anchorMs = CurveDelay(mode, khz[mode.nose], false);
    return mode;
}

// The first mode's shape: of those that hold its low ray as well (kHopLowKept), the one whose
// hops' curves hold most.
CurveMode HopsShape(const CurveMode& first, const std::vector<double>& khz,
                    const std::vector<std::vector<ColumnPeak>>& peaks, const Used& used) {
    // (Its own low ray's peaks are set aside: counted as they were.)
    Used none(peaks.size());
    for (std::size_t q = 0; q < peaks.size(); ++q) {
        none[q].assign(peaks[q].size(), false);
    }
    // Every shape is tried at the first's MOF, so at the same samples; most shapes fall short of
    // its low ray well before its lowest column.
    const std::vector<int> samples = SamplesAt(first.mofKhz, first.nose, khz);
    std::vector<double> within(std::size_t(first.nose) + 1);
    for (int q = 0; q <= first.nose; ++q) {
        double most = 0;
        for (const ColumnPeak& peak : peaks[q]) {
            most = std::max(most, peak.snrDb - kCellDb + 1);
        }
        within[std::size_t(q)] = (q > 0 ? within[std::size_t(q) - 1] : 0) + most;
    }
    const double held = LowRayScore(first, samples, peaks, none);
    CurveMode best = first;
    double most = -1;
    for (int shape = 0; shape < int(Shapes().size()); ++shape) {
        CurveMode tried = first;
        tried.shape = shape;
        tried = Placed(tried, khz[first.nose]);
        if (LowRayScore(tried, samples, peaks, none, within, kHopLowKept * held) <
            kHopLowKept * held) {
            continue;
        }
        double hopsHold = 0;
        for (int hops = 2; hops <= kMostHops; ++hops) {
            if (const std::optional<CurveMode> hop = Hop(tried, hops, khz)) {
                hopsHold += std::max(0.0, Evidence(*hop, khz, peaks, used).score);
            }
        }
        if (hopsHold > most) {
            most = hopsHold;
            best = tried;
        }
    }
    return best;
}

// How well a curve read near where the layer puts a hop's nose stands for it: its evidence, less
// the further its MOF lies from the hop's (the layer's other reflections put it within a few per
// cent; beyond its nose the first mode's high ray runs on at nearly its delay, and a curve read
// along it holds more).
double Placement(const CurveMode& curve, const CurveMode& hop) {
    const double apart = (curve.mofKhz - hop.mofKhz) / (kHopNoseShare / 2 * hop.mofKhz);
    return curve.score * std::exp(-apart * apart);
}

// The mode whose nose lies nearest where the layer puts a hop's: the best fitted to a peak of
// kNoseDb within kHopNoseShare of its MOF and kHopNoseMs of its delay, if it is a mode. (Its high
// ray runs with the first mode's, not set aside yet, and its nose is where the layer puts it:
// neither is asked of it.)
std::optional<CurveMode> ReadHop(const CurveMode& hop, const std::vector<double>& khz,
                                 const std::vector<double>& nextKhz,
                                 const std::vector<std::vector<ColumnPeak>>& peaks,
                                 const Used& used) {
    std::optional<CurveMode> best;
    for (int q = 0; q < int(peaks.size()); ++q) {
        if (std::abs(khz[q] - hop.mofKhz) > kHopNoseShare * hop.mofKhz &&
            std::abs(q - hop.nose) > kNoseSupport) {
            continue;
        }
        for (int p = 0; p < int(peaks[q].size()); ++p) {
            if (used[q][p] || std::abs(peaks[q][p].delayMs - hop.noseMs) > kHopNoseMs ||
                peaks[q][p].snrDb < kNoseDb) {
                continue;
            }
            const CurveMode tried =
                FitNose(q, (khz[q] + nextKhz[q]) * kHalf, peaks[q][p].delayMs, khz, peaks, used);
            if (!best || Placement(tried, hop) > Placement(*best, hop)) {
                best = tried;
            }
        }
    }
    if (!best) {
        return std::nullopt;
    }
    const CurveMode mode = Refine(*best, khz, nextKhz, peaks, used);
    CurveEvidence evidence = Evidence(mode, khz, peaks, used);
    evidence.highOnly = 0;
    evidence.nearNose = kNoseSupport;
    if (!Holds(evidence) ||
        mode.score < std::min(kOwnCellsDb, kOwnCellsDbPerColumn * evidence.span)) {
        return std::nullopt;
    }
    CurveMode placed = mode;
    placed.placed = true;
    return placed;
}

// Whether a curve runs along a mode read where its layer puts it (see ReadHop), within kCurveMs
// over most of that mode's low ray, and on past its nose: the first mode's high ray beyond that
// nose, strung onto what is left of the mode's own cells.
bool AlongPlaced(const CurveMode& curve, const std::vector<CurveMode>& modes,
                 const std::vector<double>& khz) {
    return std::any_of(modes.begin(), modes.end(), [&](const CurveMode& placed) {
        if (!placed.placed || curve.nose <= placed.nose) {
            return false;
        }
        int along = 0;
        for (int q = 0; q <= placed.nose; ++q) {
            along += std::abs(CurveDelay(curve, khz[q], false) -
                              CurveDelay(placed, khz[q], false)) <= kCurveMs;
        }
        return along > kHalf * (placed.nose + 1);
    });
}

// Reads the modes as curves, strongest first: each nose candidate (a peak of at least kNoseDb)
// fitted, the best taken, its peaks set aside, the rest refitted as needed.
std::vector<CurveMode> ReadCurves(const std::vector<double>& khz,
                                  const std::vector<double>& nextKhz,
                                  const std::vector<std::vector<ColumnPeak>>& peaks) {
    Used used(peaks.size());
    for (std::size_t q = 0; q < peaks.size(); ++q) {
        used[q].assign(peaks[q].size(), false);
    }
    std::vector<CurveMode> candidates;
    for (int q = 0; q < int(peaks.size()); ++q) {
        for (const ColumnPeak& peak : peaks[q]) {
            // A nose ends its trace: nothing runs on at its delay in the next column.
            // (A stronger trace's later paths may run on a little under it; a peak kFaintDb
            // or more under the nose is noise or another mode's faded cell. A trace's own last
            // column before its MOF may well lie 10 dB under the one before.)
            bool runsOn = false;
            for (int next = q + 1; next < int(peaks.size()) && next <= q + 1 + kLargestGap;
                 ++next) {
                runsOn =
                    runsOn ||
                    std::any_of(peaks[next].begin(), peaks[next].end(), [&](const ColumnPeak& on) {
                        const double rise = on.delayMs - peak.delayMs;
                        return rise >= -kCurveMs / 2 && rise <= kCurveMs &&
                               on.snrDb >= peak.snrDb - kFaintDb;
                    });
            }
            // ... and the trace leads up to it.
            bool ledTo = false;
            for (int back = std::max(0, q - kNoseSupport); back < q; ++back) {
                ledTo = ledTo ||
                        std::any_of(peaks[back].begin(), peaks[back].end(),
                                    [&](const ColumnPeak& before) {
                                        return std::abs(before.delayMs - peak.delayMs) <= kNoseMs;
                                    });
            }
            if (peak.snrDb >= kNoseDb && !runsOn && ledTo) {
                candidates.push_back(
                    FitNose(q, (khz[q] + nextKhz[q]) * kHalf, peak.delayMs, khz, peaks, used));
            }
        }
    }
    std::vector<CurveMode> modes;
    std::vector<int> fellTo; // the noses where curves that ran past them were cut back
    // Each candidate's fit holds while no mode has been taken since: modes.size() when fitted.
    std::vector<std::size_t> fittedAt(candidates.size(), 0);
    while (!candidates.empty()) {
        auto best = std::max_element(
            candidates.begin(), candidates.end(),
            [](const CurveMode& a, const CurveMode& b) { return a.score < b.score; });
        if (best->score <= 0) {
            break;
        }
        // Its score may have fallen since it was fitted: refit, and take it only if it still
        // leads. (Fitted since the last mode was taken, it stands as fitted.)
        if (std::size_t& at = fittedAt[std::size_t(best - candidates.begin())];
            at != modes.size()) {
            at = modes.size();
            const double was = best->score;
            *best = FitNose(best->nose, best->mofKhz, best->anchorMs, khz, peaks, used);
            const bool leads =
                std::all_of(candidates.begin(), candidates.end(), [&](const CurveMode& c) {
                    return &c == &*best || c.score <= best->score;
                });
            if (best->score < was && !leads) {
                continue;
            }
        }
        CurveMode mode = Refine(*best, khz, nextKhz, peaks, used);
        fittedAt.erase(fittedAt.begin() + (best - candidates.begin()));
        candidates.erase(best);
        if (const int nose = FallingTop(mode, khz, peaks, used); nose >= 0) {
            if (std::find(fellTo.begin(), fellTo.end(), nose) != fellTo.end()) {
                continue;
            }
            fellTo.push_back(nose);
            const int p = PeakOnCurve(peaks[nose], used[nose], CurveDelay(mode, khz[nose], false));
            candidates.push_back(FitNose(nose, (khz[nose] + nextKhz[nose]) * kHalf,
                                         peaks[nose][p].delayMs, khz, peaks, used));
            fittedAt.push_back(modes.size());
            continue;
        }
        const CurveEvidence evidence = Evidence(mode, khz, peaks, used);
        if (!Holds(evidence) ||
            mode.score < std::min(kOwnCellsDb, kOwnCellsDbPerColumn * evidence.span) ||
            Shadows(mode, modes, khz, peaks) || AlongPlaced(mode, modes, khz)) {
            continue;
        }
        if (const CurveMode longer = ExtendNose(mode, khz, nextKhz, peaks, used);
            longer.nose != mode.nose) {
            mode = Refine(longer, khz, nextKhz, peaks, used);
        }
        modes.push_back(mode);
        if (modes.size() > 1 || mode.noseMs < kLongPathMs) {
            Take(mode, true, true, khz, peaks, &used);
            continue;
        }
        // The first mode of a long path: its low ray's cells aside, its hops read where the
        // layer puts them, then its high ray's cells aside. Far under its nose a long path's
        // high ray runs only a few tenths of a millisecond over its low ray, rising slowly:
        // where the low ray, nearly flat, left the fit free to put it, the layer's shape (the
        // one the hops' noses chose) puts it too, and the cells along either are this mode's.
        Take(mode, true, false, khz, peaks, &used);
        const CurveMode layer = HopsShape(mode, khz, peaks, used);
        for (int hops = 2; hops <= kMostHops; ++hops) {
            const std::optional<CurveMode> hop = Hop(layer, hops, khz);
            if (!hop || hop->noseMs - mode.noseMs > kHopsApartMs) {
                continue;
            }
            if (const std::optional<CurveMode> read = ReadHop(*hop, khz, nextKhz, peaks, used)) {
                modes.push_back(*read);
                Take(*read, true, true, khz, peaks, &used);
            }
        }
        Take(mode, false, true, khz, peaks, &used);
        Take(layer, false, true, khz, peaks, &used);
    }
    return modes;
}

// An O/X pair is one mode: a curve whose nose lies kSplitFromKhz to kSplitToKhz under another's
// and whose low ray runs with that one's far under both noses is the other's O trace. Sets each
// O curve's owner to its X curve (the rest own themselves) and the X curve's oNose.
std::vector<int> PairCurves(std::vector<CurveMode>* modes, const std::vector<double>& khz) {
    std::sort(modes->begin(), modes->end(),
              [](const CurveMode& a, const CurveMode& b) { return a.mofKhz > b.mofKhz; });
    std::vector<int> owner(modes->size());
    std::iota(owner.begin(), owner.end(), 0);
    for (std::size_t x = 0; x < modes->size(); ++x) {
        for (std::size_t o = x + 1; o < modes->size() && owner[x] == int(x); ++o) {
            CurveMode& xMode = (*modes)[x];
            const CurveMode& oMode = (*modes)[o];
            if (owner[o] != int(o) || xMode.oNose >= 0 || !ONoseOf(oMode, xMode, khz)) {
                continue;
            }
            xMode.oNose = oMode.nose;
            owner[o] = int(x);
        }
    }
    return owner;
}

// Each peak goes to the curve it lies nearest (within kCurveMs), and through it to its mode, the
// nearest alone of those on one ray of a column (a thick trace's later paths are not its rays):
// one chain per mode, by position.
std::vector<Chain> AssignToCurves(const std::vector<CurveMode>& modes,
                                  const std::vector<int>& owner, const std::vector<double>& khz,
                                  const std::vector<std::vector<ColumnPeak>>& peaks) {
    std::vector<Chain> chains(modes.size());
    for (int q = 0; q < int(peaks.size()); ++q) {
        // By curve and ray: the nearest peak's index and how far it lies.
        std::vector<std::pair<int, double>> nearestOn(modes.size() * 2, {-1, kCurveMs});
        for (int p = 0; p < int(peaks[q].size()); ++p) {
            int best = -1;
            double nearest = kCurveMs;
            for (int m = 0; m < int(modes.size()); ++m) {
                for (int high : {0, 1}) {
                    const double apart =
                        std::abs(CurveDelay(modes[m], khz[q], high != 0) - peaks[q][p].delayMs);
                    if (q <= modes[m].nose && apart <= nearest) {
                        best = m * 2 + high;
                        nearest = apart;
                    }
                }
            }
            if (best >= 0 && nearest <= nearestOn[best].second) {
                nearestOn[best] = {p, nearest};
            }
        }
        for (int m = 0; m < int(modes.size()); ++m) {
            for (int high : {0, 1}) {
                if (const int p = nearestOn[m * 2 + high].first; p >= 0) {
                    chains[owner[m]].push_back({q, peaks[q][p].delayMs, peaks[q][p].snrDb});
                }
            }
        }
    }
    return chains;
}

// On a long path, an X curve whose O trace was not read as a curve of its own: the O trace runs
// the same curve kXSplitKhz lower, a little under it near the nose, and its cells are the mode's
// too. Adds that curve, owned by the X's mode, so that its cells are counted with the mode's.
void AddOTraces(const std::vector<double>& khz, std::vector<CurveMode>* modes,
                std::vector<int>* owner) {
    const std::size_t read = modes->size();
    for (std::size_t m = 0; m < read; ++m) {
        CurveMode o = (*modes)[m]; // (a copy: the list grows below)
        if ((*owner)[m] != int(m) || o.oNose >= 0 || o.noseMs < kLongPathMs) {
            continue;
        }
        o.mofKhz -= kXSplitKhz;
        o.nose = ColumnAtOrUnder(khz, o.mofKhz);
        if (o.nose >= 0) {
            modes->push_back(o);
            owner->push_back(int(m));
        }
    }
}

// On a long path a high ray lies milliseconds above its low ray far under the nose, and fades
// there in pieces that neither reading ties to their mode. Modes' low rays lie a fraction of a
// millisecond apart, within kNoseMs of the next mode under them: a piece lying further than
// kHighPieceMs above every trace running under it, falling as a high ray does (a low ray rises)
// and ending before them without rising into a nose, is a high ray's. It joins the trace under it
// that reaches highest (whose nose lies furthest above, and so its high ray furthest above its low
// ray).
void MergeHighPieces(std::vector<Chain>* chains, std::vector<int>* oNoses) {
    for (std::size_t h = 0; h < chains->size();) {
        const Chain& piece = (*chains)[h];
        int into = -1;
        bool near = false;
        for (std::size_t t = 0;
             t < chains->size() && IsTrace(piece) && Falls(piece) && !EndsInNose(piece); ++t) {
            const Chain& trace = (*chains)[t];
            if (t == h || !IsTrace(trace) || trace.front().position > piece.front().position ||
                trace.back().position < piece.back().position + kNoseColumns) {
                continue;
            }
            const std::vector<double> above = LowRayAbove(piece, trace);
            if (above.empty() || Median(above) < 0) {
                continue;
            }
            if (Median(above) <= kHighPieceMs) {
                near = true;
            } else if (into < 0 || trace.back().position > (*chains)[into].back().position) {
                into = int(t);
            }
        }
        if (into < 0 || near) {
            ++h;
            continue;
        }
        MoveInto(chains, h, std::size_t(into));
        oNoses->erase(oNoses->begin() + std::ptrdiff_t(h));
        h = 0;
    }
}

// Far under its nose a high ray rises so steeply towards lower frequencies that its peaks lie
// further apart from column to column than linking (by increasing frequency) lets a new chain
// follow: they stay single, or a chain of noise takes the nearest. Each trace's high ray is
// followed down in frequency along the line of its lowest peaks; the peaks on that line join it,
// also from chains that took them, until kMissedColumns columns in a row show none.
void ExtendHighRays(std::vector<Chain>* chains, const std::vector<std::vector<ColumnPeak>>& peaks) {
    for (std::size_t t = 0; t < chains->size(); ++t) {
        Chain& trace = (*chains)[t];
        if (!IsTrace(trace)) {
            continue;
        }
        // The high ray: where a column holds two peaks, the later, clear of the lower. Its lowest
        // run of kSlopePoints peaks on a steep line (a noise peak beside the low ray is not).
        Chain high;
        for (std::size_t i = 0; i < trace.size();) {
            std::size_t end = i;
            const Point* lowest = &trace[i];
            const Point* latest = &trace[i];
            for (; end < trace.size() && trace[end].position == trace[i].position; ++end) {
                lowest = trace[end].delayMs < lowest->delayMs ? &trace[end] : lowest;
                latest = trace[end].delayMs > latest->delayMs ? &trace[end] : latest;
            }
            if (latest->delayMs - lowest->delayMs > kJoinAboveMs) {
                high.push_back(*latest);
            }
            i = end;
        }
        std::vector<double> x;
        std::vector<double> y;
        Line line;
        bool found = false;
        for (std::size_t w = 0; w + kSlopePoints <= high.size() && !found; ++w) {
            x.clear();
            y.clear();
            for (std::size_t i = w; i < w + kSlopePoints; ++i) {
                x.push_back(high[i].position);
                y.push_back(high[i].delayMs);
            }
            line = FitLine(x, y);
            found = x.back() - x.front() <= 2 * kSlopePoints && line.slope <= -kHalf * kLinkMs;
            for (std::size_t i = 0; i < x.size() && found; ++i) {
                found = std::abs(line.At(x[i]) - y[i]) <= kHalf * kLinkMs;
            }
        }
        if (!found) {
            continue;
        }
        int missed = 0;
        for (int q = int(x.front()) - 1; q >= 0 && missed < kMissedColumns; --q) {
            const double expected = line.At(q);
            const ColumnPeak* best = nullptr;
            for (const ColumnPeak& peak : peaks[q]) {
                if (std::abs(peak.delayMs - expected) <= kLinkMs &&
                    (best == nullptr ||
                     std::abs(peak.delayMs - expected) < std::abs(best->delayMs - expected))) {
                    best = &peak;
                }
            }
            if (best == nullptr) {
                ++missed;
                continue;
            }
            missed = 0;
            const Point point{q, best->delayMs, best->snrDb};
            for (std::size_t c = 0; c < chains->size(); ++c) {
                std::erase_if((*chains)[c], [&point](const Point& p) {
                    return p.position == point.position && p.delayMs == point.delayMs;
                });
            }
            trace.insert(std::lower_bound(trace.begin(), trace.end(), point,
                                          [](const Point& a, const Point& b) {
                                              return a.position < b.position;
                                          }),
                         point);
            x.insert(x.begin(), q);
            y.insert(y.begin(), point.delayMs);
            x.resize(kSlopePoints);
            y.resize(kSlopePoints);
            line = FitLine(x, y);
        }
    }
}

// Whether a trace ends only at a flood's edge: programme audio drowns every trace in a
// broadcast band's columns (and under the column's own median they look like noise). A trace that
// ends with no rise of its own into that end (a low ray's delay rises ever faster towards its
// nose), over a stronger trace heard there that falls silent within kFloodEdgeKhz above the end
// for kFloodColumns or more of the sweep's columns (allKhz) and runs on beyond, ends where the
// flood begins. It is another's later path or high ray, or a weaker mode whose nose the flood
// hides: its MOF is not known.
bool EndsAtFloodEdge(const Chain& chain, int last, const std::vector<Chain>& chains,
                     const std::vector<double>& khz, const std::vector<double>& allKhz) {
    const auto ray = LowRay(chain);
    if (int(ray.size()) < 2 * kNoseRunPoints) {
        return false;
    }
    // It rises in its last two positions over the few before; or, where its last peaks are noise
    // the trace pointed at, along its smoothed low ray from its least to its end.
    std::vector<double> before;
    for (std::size_t i = ray.size() - 2 * kNoseRunPoints; i + 2 < ray.size(); ++i) {
        before.push_back(ray[i].second);
    }
    const double end =
        std::max(LowestNear(chain, ray[ray.size() - 2].first), LowestNear(chain, ray.back().first));
    double least = INFINITY;
    double top = -INFINITY;
    for (std::size_t i = 0; i < ray.size(); ++i) {
        least = std::min(least, ray[i].second);
        if (i + 2 * kNoseRunPoints >= ray.size()) {
            top = std::max(top, ray[i].second);
        }
    }
    if (end - Median(before) > kNoseRiseMs / 2 || top - least > kNoseRiseMs) {
        return false;
    }
    const double endMs = EndLowDelay(chain, true);
    auto columnsBetween = [&](double fromKhz, double toKhz) {
        return std::lower_bound(allKhz.begin(), allKhz.end(), toKhz) -
               std::upper_bound(allKhz.begin(), allKhz.end(), fromKhz);
    };
    return std::any_of(chains.begin(), chains.end(), [&](const Chain& other) {
        if (&other == &chain || !IsTrace(other) || other.front().position > last ||
            LowestNear(other, last) >= endMs || MedianSnr(other) <= MedianSnr(chain)) {
            return false;
        }
        // The stronger trace's last position within reach of the end, and its next.
        int heard = -1;
        for (const Point& point : other) {
            if (point.position > last && khz[point.position] > khz[last] + kFloodEdgeKhz) {
                return heard >= last - kNoseColumns &&
                       columnsBetween(khz[std::max(heard, last)], khz[point.position]) >=
                           kFloodColumns;
            }
            heard = point.position;
        }
        return false;
    });
}

// How much of the sweep a reading explains: the cells of its traces over the level at which a
// peak counts, less kTraceCostDb for each trace it reports (a trace is worth having where it
// explains more than a few cells).
double Explained(const std::vector<Chain>& chains) {
    double explained = 0;
    for (const Chain& chain : chains) {
        if (IsTrace(chain)) {
            explained -= kTraceCostDb;
            for (const Point& point : chain) {
                explained += point.snrDb - kCellDb + 1;
            }
        }
    }
    return explained;
}

} // namespace

bool ColumnFlooded(const std::vector<float>& snrDb) {
    const double cells = double(snrDb.size());
    int marked = 0;
    int run = 0;
    int widest = 0;
    for (float value : snrDb) {
        run = value >= kCellDb ? run + 1 : 0;
        marked += value >= kCellDb;
        widest = std::max(widest, run);
    }
    return marked > kFloodShare * cells || widest * kDelayGridMs > kWidestTraceMs;
}

namespace {

// The column's peaks (see ColumnPeaks), lesser ones dropped within resolutionMs of a stronger.
std::vector<ColumnPeak> PeaksResolved(const std::vector<float>& snrDb, double delayFromMs,
                                      double resolutionMs) {
    const int cells = int(snrDb.size());
    std::vector<ColumnPeak> candidates;
    for (int i = 0; i < cells; ++i) {
        const double value = snrDb[i];
        const double before = i > 0 ? snrDb[i - 1] : -INFINITY;
        const double after = i + 1 < cells ? snrDb[i + 1] : -INFINITY;
        if (value < kCellDb || value < before || value <= after) {
            continue;
        }
        double offset = 0; // a parabola through the peak and its neighbours
        const double curvature = before - 2 * value + after;
        if (i > 0 && i + 1 < cells && curvature < 0) {
            offset = std::clamp(kHalf * (before - after) / curvature, -kHalf, kHalf);
        }
        candidates.push_back({delayFromMs + (i + offset) * kDelayGridMs, value});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const ColumnPeak& a, const ColumnPeak& b) { return a.snrDb > b.snrDb; });
    std::vector<ColumnPeak> peaks;
    for (const ColumnPeak& candidate : candidates) {
        const bool shadowed = std::any_of(peaks.begin(), peaks.end(), [&](const ColumnPeak& p) {
            const double apart = std::abs(p.delayMs - candidate.delayMs);
            return apart < resolutionMs ||
                   (apart < kSidelobeSpanMs && p.snrDb - candidate.snrDb > kSidelobeDb);
        });
        if (!shadowed) {
            peaks.push_back(candidate);
        }
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const ColumnPeak& a, const ColumnPeak& b) { return a.delayMs < b.delayMs; });
    return peaks;
}

} // namespace

std::vector<ColumnPeak> ColumnPeaks(const std::vector<float>& snrDb, double delayFromMs) {
    return PeaksResolved(snrDb, delayFromMs, kResolutionMs);
}

ScaledSweep ScaleSweep(const IonogramSweep& sweep) {
    const int columns = int(std::min(sweep.frequenciesKhz.size(), sweep.snrDb.size()));
    std::vector<int> order(columns);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return sweep.frequenciesKhz[a] < sweep.frequenciesKhz[b];
    });
    std::vector<double> allKhz(columns);
    // The usable columns alone, by frequency: a flooded or missing column is not there at all,
    // so a trace runs on across it where its own cells continue it.
    std::vector<double> khz;
    std::vector<double> nextKhz; // the sweep's next column, usable or not
    std::vector<std::vector<ColumnPeak>> peaks;
    std::vector<std::vector<ColumnPeak>> finePeaks; // for the whole curves
    std::vector<const std::vector<float>*> rows;
    for (int position = 0; position < columns; ++position) {
        allKhz[position] = sweep.frequenciesKhz[order[position]];
    }
    for (int position = 0; position < columns; ++position) {
        const std::vector<float>& row = sweep.snrDb[order[position]];
        if (IonogramSweep::Usable(row) && !ColumnFlooded(row)) {
            // Half a step beyond the column, the step being this column's own.
            const double step = position + 1 < columns ? allKhz[position + 1] - allKhz[position]
                                : position > 0         ? allKhz[position] - allKhz[position - 1]
                                                       : 0;
            khz.push_back(allKhz[position]);
            nextKhz.push_back(allKhz[position] + step);
            peaks.push_back(ColumnPeaks(row, sweep.delayFromMs));
            finePeaks.push_back(PeaksResolved(row, sweep.delayFromMs, kFineResolutionMs));
            rows.push_back(&row);
        }
    }
    // Two readings: peaks linked column by column, and whole curves. The one that explains
    // more of the cells for the traces it reports is taken.
    std::vector<Chain> linked = Link(peaks);
    Stitch(&linked);
    SplitFallingEnds(&linked, khz);
    for (Chain& chain : linked) {
        TrimEnds(&chain);
    }
    JoinAtNoses(&linked);
    JoinAcrossGaps(&linked);
    MergeHighRays(&linked);
    MergeShadows(&linked);
    ExtendToNoses(&linked, peaks);
    HoldWeakEnds(&linked, rows, sweep.delayFromMs);
    MergeHighRays(&linked); // again, for what the joins above left of high rays
    MergeOneDelay(&linked);
    std::vector<int> linkedONoses = PairMagnetoionic(&linked, khz, nextKhz);
    for (std::size_t c = 0; c < linked.size(); ++c) {
        if (linkedONoses[c] < 0 && !linked[c].empty()) {
            linkedONoses[c] = ONoseWithin(linked[c], nextKhz);
        }
    }

    // The curves read the cells closer: two modes, or a thick trace's paths, 0.2 to 0.4 ms apart
    // are two peaks there.
    std::vector<CurveMode> modes = ReadCurves(khz, nextKhz, finePeaks);
    const std::vector<int> owner = PairCurves(&modes, khz);
    std::vector<Chain> curves;
    std::vector<int> curveONoses;
    std::vector<bool> placedCurves;
    std::vector<CurveMode> withO = modes;
    std::vector<int> ownerWithO = owner;
    AddOTraces(khz, &withO, &ownerWithO);
    const std::vector<Chain> assigned = AssignToCurves(withO, ownerWithO, khz, finePeaks);
    for (std::size_t c = 0; c < modes.size(); ++c) { // (the O traces' cells are their X's)
        if (!assigned[c].empty()) {
            curves.push_back(assigned[c]);
            curveONoses.push_back(modes[c].oNose);
            placedCurves.push_back(modes[c].placed);
        }
    }
    // The curve's ends as the cells have them: noise beyond a trace's end let go, a nose peak
    // above the curve's and a weak end along it taken.
    // (Not where a mode was read at the nose its layer gives it: beyond that nose the first
    // mode's high ray runs on at nearly its delay.)
    std::vector<Chain> open;
    for (std::size_t c = 0; c < curves.size(); ++c) {
        TrimEnds(&curves[c], true);
        if (!placedCurves[c]) {
            open.push_back(std::move(curves[c]));
        }
    }
    ExtendToNoses(&open, peaks);
    HoldWeakEnds(&open, rows, sweep.delayFromMs);
    for (std::size_t c = 0, o = 0; c < curves.size(); ++c) {
        if (!placedCurves[c]) {
            curves[c] = std::move(open[o++]);
        }
    }

    const bool byCurves = Explained(curves) > Explained(linked);
    std::vector<Chain>& chains = byCurves ? curves : linked;
    std::vector<int>& oNoses = byCurves ? curveONoses : linkedONoses;
    // (The ends of the modes read where their layer puts them: no X tip runs on from those
    // noses, where the first mode's high ray runs on at nearly their delay.)
    std::vector<Point> placedEnds;
    for (std::size_t c = 0; byCurves && c < curves.size(); ++c) {
        if (placedCurves[c] && !curves[c].empty()) {
            placedEnds.push_back(curves[c].back());
        }
    }
    MergeHighPieces(&chains, &oNoses);
    ExtendHighRays(&chains, peaks);
    std::vector<Chain> tips = Tips(chains, &oNoses, khz, nextKhz, peaks);
    for (std::size_t c = 0; c < chains.size(); ++c) {
        const bool placed =
            !chains[c].empty() &&
            std::any_of(placedEnds.begin(), placedEnds.end(), [&](const Point& end) {
                return end.position == chains[c].back().position &&
                       end.delayMs == chains[c].back().delayMs;
            });
        if (placed && !tips[c].empty()) {
            tips[c].clear();
            oNoses[c] = oNoses[c] == chains[c].back().position ? -1 : oNoses[c];
        }
    }
    SplitSporadicE(&chains, &tips, &oNoses);
    ScaledSweep scaled;
    for (std::size_t c = 0; c < chains.size(); ++c) {
        Chain chain = chains[c];
        if (!IsTrace(chain)) {
            continue;
        }
        const int first = chain.front().position;
        // A tip that runs on to a flood's edge is let go (noise and other modes' pieces line up
        // there as readily as an X trace); the trace ends at its own end then, and that is
        // judged as any.
        Chain tip = tips[c];
        if (!tip.empty()) {
            Chain whole = chains[c];
            whole.insert(whole.end(), tip.begin(), tip.end());
            if (EndsAtFloodEdge(whole, tip.back().position, chains, khz, allKhz)) {
                tip.clear();
                if (oNoses[c] == chains[c].back().position) {
                    oNoses[c] = -1; // (Tips took the trace's end for the O nose)
                }
            }
        }
        const int last = tip.empty() ? chain.back().position : tip.back().position;
        if (tip.empty() && EndsAtFloodEdge(chains[c], last, chains, khz, allKhz)) {
            continue;
        }
        const double peak = PeakSnr(chain);
        ScaledTrace trace;
        trace.lofKhz = khz[first];
        trace.mofKhz = (khz[last] + nextKhz[last]) * kHalf;
        const int oEnd = oNoses[c];
        if (oEnd >= 0) {
            trace.oMofKhz = (khz[oEnd] + nextKhz[oEnd]) * kHalf;
        }
        trace.flat = Flat(chain);
        trace.peakSnrDb = peak;
        LeastDelay(chain, khz, &trace);
        chain.insert(chain.end(), tip.begin(), tip.end());
        std::vector<TracePoint>& points = trace.points;
        for (const Point& point : chain) {
            points.push_back({khz[point.position], point.delayMs, point.snrDb, false});
        }
        std::sort(points.begin(), points.end(), [](const TracePoint& a, const TracePoint& b) {
            return a.khz != b.khz ? a.khz < b.khz : a.delayMs < b.delayMs;
        });
        for (std::size_t i = 1; i < points.size(); ++i) {
            points[i].high = points[i].khz == points[i - 1].khz;
        }
        scaled.traces.push_back(trace);
    }
    std::sort(
        scaled.traces.begin(), scaled.traces.end(),
        [](const ScaledTrace& a, const ScaledTrace& b) { return a.minDelayMs < b.minDelayMs; });
    for (std::size_t i = 0; i < scaled.traces.size(); ++i) {
        scaled.traces[i].number = int(i) + 1;
    }
    return scaled;
}

} // namespace ionogram
