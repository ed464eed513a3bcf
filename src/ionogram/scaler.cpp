#include "ionogram/scaler.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace ionogram {

namespace {

constexpr double kResolutionMs = 0.4; // two peaks closer than this are one
constexpr int kLargestGap = 1;        // columns a trace may skip
constexpr int kNoseColumns = 3;       // the low and high ray of a mode end this close together
constexpr double kNoseMs = 1.0;       // ... this close in delay
constexpr int kSmoothing = 2;         // columns either side in the least delay's running median
constexpr double kFlatMs = 0.1;       // the least delay is taken over columns this near the least
constexpr double kHalf = 0.5;
constexpr int kSlopePoints = 4;   // peaks a trace's course is fitted to
constexpr int kStitchColumns = 4; // columns between two chains that may be one trace

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
    *toleranceMs = kLinkMs + std::abs(line.slope) * (position - chain.back().position);
}

// Links each column's peaks to the chains that point at them, nearest first; the rest start
// chains of their own.
std::vector<Chain> Link(const std::vector<std::vector<ColumnPeak>>& peaks) {
    std::vector<Chain> chains;
    for (int position = 0; position < int(peaks.size()); ++position) {
        struct Pair {
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
                    pairs.push_back({distance, c, p});
                }
            }
        }
        std::sort(pairs.begin(), pairs.end(),
                  [](const Pair& a, const Pair& b) { return a.distance < b.distance; });
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
                if (endB > endA || endA - endB > kNoseColumns) {
                    continue;
                }
                if (std::abs(DelayNear(first, endB) - second.back().delayMs) > kNoseMs) {
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
    std::vector<double> khz(columns);
    std::vector<std::vector<ColumnPeak>> peaks(columns);
    for (int position = 0; position < columns; ++position) {
        const std::vector<float>& row = sweep.snrDb[order[position]];
        khz[position] = sweep.frequenciesKhz[order[position]];
        if (IonogramSweep::Usable(row) && !ColumnFlooded(row)) {
            peaks[position] = ColumnPeaks(row, sweep.delayFromMs);
        }
    }
    std::vector<Chain> chains = Link(peaks);
    Stitch(&chains);
    JoinAtNoses(&chains);

    ScaledSweep scaled;
    for (const Chain& chain : chains) {
        const int first = chain.front().position;
        const int last = chain.back().position;
        int spanned = 0;
        for (std::size_t i = 0; i < chain.size(); ++i) {
            spanned += i == 0 || chain[i].position != chain[i - 1].position;
        }
        double peak = -INFINITY;
        for (const Point& point : chain) {
            peak = std::max(peak, point.snrDb);
        }
        if (spanned < kMinColumns || peak < kTraceDb) {
            continue;
        }
        ScaledTrace trace;
        trace.lofKhz = khz[first];
        // Half a step beyond the last column, the step being this column's own.
        const double step = last + 1 < columns ? khz[last + 1] - khz[last]
                            : last > 0         ? khz[last] - khz[last - 1]
                                               : 0;
        trace.mofKhz = khz[last] + kHalf * step;
        trace.peakSnrDb = peak;
        LeastDelay(chain, khz, &trace);
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
