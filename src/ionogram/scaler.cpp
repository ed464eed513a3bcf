#include "ionogram/scaler.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

namespace ionogram {

namespace {

constexpr double kResolutionMs = 0.4; // two peaks closer than this are one
constexpr int kLargestGap = 1;        // columns a trace may skip
constexpr int kNoseColumns = 3;       // the low and high ray of a mode end this close together
constexpr double kNoseMs = 1.0;       // ... this close in delay
constexpr double kEndDropDb = 10;     // see TrimEnds
constexpr double kNoseDropDb = 8;     // see ExtendToNoses
constexpr int kHoldColumns = 2;       // see HoldWeakEnds
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
// A high ray comes down onto its low ray at least this fast (ms per column).
constexpr double kDescendingMsPerColumn = 0.01;
constexpr int kSmoothing = 2;    // columns either side in the least delay's running median
constexpr double kFlatMs = 0.15; // the least delay is taken over columns this near the least
constexpr double kHalf = 0.5;
constexpr int kSlopePoints = 4;              // peaks a trace's course is fitted to
constexpr double kSteepestMsPerColumn = 1.5; // a high ray far from its nose falls this fast
constexpr int kStitchColumns = 4;            // columns between two chains that may be one trace
// A weak low ray sinks into the noise for longer stretches: a later piece at nearly its delay
// (the low ray rises a little towards its nose) continues a trace across this many columns.
constexpr int kJoinColumns = 60;
constexpr double kJoinBelowMs = 0.25;
constexpr double kJoinAboveMs = 0.5;
constexpr int kJoinPoints = 3;   // peaks at a piece's end whose median delay stands for it
constexpr int kPieceColumns = 3; // a piece this long, or with a peak over kTraceDb, may be joined

struct Point {
    int position = 0; // the column's place in the sweep, by frequency
    double delayMs = 0;
    double snrDb = 0;
};

using Chain = std::vector<Point>;

double Median(std::vector<double> values) {
    const auto middle = values.begin() + values.size() / 2;
    std::nth_element(values.begin(), middle, values.end());
    if (values.size() % 2 == 1) {
        return *middle;
    }
    return (*middle + *std::max_element(values.begin(), middle)) / 2;
}

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

// A chain's ends are where noise that the trace pointed at gets linked: a peak beyond a bridged
// gap with no neighbour of its own, or a peak far weaker than the trace it ends (a strong
// trace ends abruptly at its MOF). The chain's ends must be two neighbouring columns, neither
// kEndDropDb under the chain's median SNR.
void TrimEnds(Chain* chain) {
    std::vector<double> snr;
    for (const Point& point : *chain) {
        snr.push_back(point.snrDb);
    }
    const double floor = Median(snr) - kEndDropDb;
    while (chain->size() >= 2 &&
           (chain->back().position - (*chain)[chain->size() - 2].position > 1 ||
            chain->back().snrDb < floor)) {
        chain->pop_back();
    }
    while (chain->size() >= 2 &&
           ((*chain)[1].position - chain->front().position > 1 || chain->front().snrDb < floor)) {
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
        Chain& low = (*chains)[below];
        low.insert(low.end(), high.begin(), high.end());
        std::stable_sort(low.begin(), low.end(),
                         [](const Point& x, const Point& y) { return x.position < y.position; });
        chains->erase(chains->begin() + std::ptrdiff_t(h));
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

// Towards its nose the low ray's delay rises ever faster, and in the last column before the MOF
// the low and high ray are one peak, up to kNoseMs above where the trace last was: faster than
// the trace's course lets it link. A trace takes that peak when it is not another trace's and
// not far weaker than the trace's end.
void ExtendToNoses(std::vector<Chain>* chains, const std::vector<std::vector<ColumnPeak>>& peaks) {
    std::vector<std::vector<bool>> taken(peaks.size());
    for (std::size_t position = 0; position < peaks.size(); ++position) {
        taken[position].assign(peaks[position].size(), false);
    }
    auto mark = [&](const Point& point) {
        const std::vector<ColumnPeak>& column = peaks[point.position];
        for (std::size_t p = 0; p < column.size(); ++p) {
            taken[point.position][p] =
                taken[point.position][p] || column[p].delayMs == point.delayMs;
        }
    };
    for (const Chain& chain : *chains) {
        if (IsTrace(chain)) {
            std::for_each(chain.begin(), chain.end(), mark);
        }
    }
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

// Fading cuts a thick trace into pieces that interleave along one delay: traces whose low rays
// run at one delay (within kSameMs, by their medians where both are heard) are one. Another
// mode's low ray keeps its own delay, kSameMs or more away.
void MergeOneDelay(std::vector<Chain>* chains) {
    MergePairs(chains, [](const Chain& trace, const Chain& other) {
        const auto ray = LowRay(trace);
        std::vector<double> apart;
        for (const auto& [position, delay] : LowRay(other)) {
            const double at = LowRayAt(ray, position);
            if (!std::isnan(at)) {
                apart.push_back(delay - at);
            }
        }
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

std::vector<ColumnPeak> ColumnPeaks(const std::vector<float>& snrDb, double delayFromMs) {
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
            return apart < kResolutionMs ||
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
            rows.push_back(&row);
        }
    }
    std::vector<Chain> chains = Link(peaks);
    Stitch(&chains);
    for (Chain& chain : chains) {
        TrimEnds(&chain);
    }
    JoinAtNoses(&chains);
    JoinAcrossGaps(&chains);
    MergeHighRays(&chains);
    MergeShadows(&chains);
    ExtendToNoses(&chains, peaks);
    HoldWeakEnds(&chains, rows, sweep.delayFromMs);
    MergeHighRays(&chains); // again, for what the joins above left of high rays
    MergeOneDelay(&chains);
    const std::vector<int> oEnds = PairMagnetoionic(&chains, khz, nextKhz);

    ScaledSweep scaled;
    for (std::size_t c = 0; c < chains.size(); ++c) {
        const Chain& chain = chains[c];
        const int first = chain.front().position;
        const int last = chain.back().position;
        if (!IsTrace(chain)) {
            continue;
        }
        const double peak = PeakSnr(chain);
        ScaledTrace trace;
        trace.lofKhz = khz[first];
        trace.mofKhz = (khz[last] + nextKhz[last]) * kHalf;
        const int oEnd = oEnds[c] >= 0 ? oEnds[c] : ONoseWithin(chain, nextKhz);
        if (oEnd >= 0) {
            trace.oMofKhz = (khz[oEnd] + nextKhz[oEnd]) * kHalf;
        }
        trace.flat = Flat(chain);
        trace.peakSnrDb = peak;
        LeastDelay(chain, khz, &trace);
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
