#include "ionogram/sampleplacer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace ionogram {

namespace {

constexpr std::size_t kMinHistory = 2;
constexpr std::size_t kMaxLines = 8; // stretches kept for samples still wanted after breaks
constexpr double kPerMillion = 1e-6;
constexpr double kChordFrom = 0.25; // of the history's span
constexpr double kChordTo = 0.75;

} // namespace

SamplePlacer::SamplePlacer(double sampleRate) : SamplePlacer(sampleRate, Settings{}) {}

SamplePlacer::SamplePlacer(double sampleRate, const Settings& placerSettings)
    : rate(sampleRate), settings(placerSettings) {}

double SamplePlacer::Excess(const Point& point) const {
    const Line& line = lines.back();
    return point.arrival - (line.refTime + double(point.last - line.first) * line.interval);
}

void SamplePlacer::AddBlock(double arrival, std::int64_t count) {
    if (count <= 0 || !std::isfinite(arrival)) {
        return;
    }
    received += count;
    const Point point{received - 1, arrival};
    if (lines.empty()) {
        Line line;
        line.first = received - count;
        line.placedFrom = line.first;
        line.startArrival = arrival;
        lines.push_back(line);
        history.push_back(point);
        Fit();
        return;
    }
    const Line& current = lines.back();
    const bool settled = current.lastArrival - current.startArrival >= settings.settleSeconds;
    const double excess = Excess(point);
    if (settled && excess < -settings.earlySeconds) {
        // More samples than time has passed: the clock stepped. Start afresh after this block.
        history.clear();
        history.push_back(point);
        Break(point.last + 1, 0);
        return;
    }
    history.push_back(point);
    if (excess > settings.gapSeconds) {
        if (!elevatedFrom) {
            elevatedFrom = history.size() - 1;
        }
        const Point& firstLate = history[*elevatedFrom];
        if (arrival - firstLate.arrival >= settings.gapPersistSeconds &&
            *elevatedFrom + 1 < history.size()) {
            // Late to stay: samples were lost somewhere before the first late block ended.
            // The new stretch is fitted on the blocks after it.
            Break(firstLate.last + 1, *elevatedFrom + 1);
            return;
        }
    } else {
        elevatedFrom.reset();
        lines.back().confirmed = point.last;
    }
    while (history.size() > kMinHistory &&
           history.front().arrival < arrival - settings.historySeconds &&
           (!elevatedFrom || *elevatedFrom > 0)) {
        history.pop_front();
        if (elevatedFrom) {
            --*elevatedFrom;
        }
    }
    lines.back().lastArrival = arrival;
    Fit();
}

void SamplePlacer::Break(std::int64_t placedFrom, std::size_t keepFrom) {
    ++breaks;
    history.erase(history.begin(), history.begin() + std::ptrdiff_t(keepFrom));
    elevatedFrom.reset();
    Line line;
    line.first = placedFrom;
    line.placedFrom = placedFrom;
    line.startArrival = history.front().arrival;
    line.lastArrival = history.back().arrival;
    line.confirmed = history.back().last;
    lines.push_back(line);
    if (lines.size() > kMaxLines) {
        lines.pop_front();
    }
    Fit();
}

// The lower envelope of the arrivals (their lower convex hull) gives the slope, held within the
// card's possible skew; the line is then lowered until it touches the envelope.
void SamplePlacer::Fit() {
    Line& line = lines.back();
    struct XY {
        double x;
        double y;
    };
    std::vector<XY> hull;
    for (const Point& point : history) {
        const double x = double(point.last - line.first);
        const XY p{x, point.arrival - line.startArrival - x / rate};
        while (hull.size() >= 2) {
            const XY& a = hull[hull.size() - 2];
            const XY& b = hull.back();
            if ((b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x) > 0) {
                break;
            }
            hull.pop_back();
        }
        hull.push_back(p);
    }
    // A hull edge steeper than any card's skew is lateness changing, not the card's clock: at
    // the start, the audio that waited while the program started, read in one burst (its
    // lateness falls a second per second); at the end, a newest arrival still late. Such edges
    // are left out of the slope.
    const double maxSlope = settings.maxSkewPpm * kPerMillion / rate;
    auto edgeSlope = [&hull](std::size_t i) {
        return (hull[i + 1].y - hull[i].y) / (hull[i + 1].x - hull[i].x);
    };
    std::size_t from = 0;
    std::size_t to = hull.empty() ? 0 : hull.size() - 1;
    while (to - from > 1 && edgeSlope(from) < -maxSlope) {
        ++from;
    }
    while (to - from > 1 && edgeSlope(to - 1) > maxSlope) {
        --to;
    }
    // The chord of the hull across the middle half of what is left: it averages the hull's
    // edges there, where a single edge between two close arrivals would give a noisy slope.
    auto hullAt = [&hull, from, to](double x) {
        std::size_t i = from + 1;
        while (i < to && hull[i].x < x) {
            ++i;
        }
        const XY& a = hull[i - 1];
        const XY& b = hull[i];
        return a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x);
    };
    double slope = 0;
    if (to > from) {
        const double span = hull[to].x - hull[from].x;
        const double x1 = hull[from].x + kChordFrom * span;
        const double x2 = hull[from].x + kChordTo * span;
        slope = (hullAt(x2) - hullAt(x1)) / (x2 - x1);
    }
    slope = std::clamp(slope, -maxSlope, maxSlope);
    double intercept = std::numeric_limits<double>::infinity();
    for (const XY& p : hull) {
        intercept = std::min(intercept, p.y - slope * p.x);
    }
    line.refTime = line.startArrival + intercept;
    line.interval = 1 / rate + slope;
}

const SamplePlacer::Line* SamplePlacer::LineFor(std::int64_t index) const {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (index >= line->placedFrom) {
            return &*line;
        }
    }
    return nullptr;
}

bool SamplePlacer::Placeable(std::int64_t first, std::int64_t last) const {
    const Line* line = LineFor(first);
    return line != nullptr && first <= last && line == LineFor(last) && last <= line->confirmed &&
           line->lastArrival - line->startArrival >= settings.settleSeconds;
}

SamplePlacer::Run SamplePlacer::PlaceableRun(std::int64_t index) const {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        const bool newest = i + 1 == lines.size();
        const std::int64_t end = newest ? received : lines[i + 1].placedFrom;
        if (index >= end) {
            continue;
        }
        const std::int64_t first = std::max(index, line.placedFrom);
        const bool settled = line.lastArrival - line.startArrival >= settings.settleSeconds;
        const std::int64_t last = settled ? std::min(line.confirmed, end - 1) : first - 1;
        const int stretch = breaks - int(lines.size() - 1 - i);
        if (last >= first || newest) {
            return Run{first, last, stretch};
        }
        // Nothing more will be confirmed on an older stretch: what is left of it is lost.
    }
    return Run{std::max(index, received), std::max(index, received) - 1, breaks};
}

std::optional<double> SamplePlacer::TimeOf(std::int64_t index) const {
    if (!Placeable(index, index)) {
        return std::nullopt;
    }
    const Line* line = LineFor(index);
    return line->refTime + double(index - line->first) * line->interval;
}

double SamplePlacer::IntervalAt(std::int64_t index) const {
    const Line* line = LineFor(index);
    return line != nullptr ? line->interval : 1 / rate;
}

std::optional<std::int64_t> SamplePlacer::IndexAt(double t) const {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        const auto index =
            line->first + std::int64_t(std::ceil((t - line->refTime) / line->interval));
        if (index >= line->placedFrom || std::next(line) == lines.rend()) {
            return index;
        }
    }
    return std::nullopt;
}

} // namespace ionogram
