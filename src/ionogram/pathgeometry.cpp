#include "ionogram/pathgeometry.h"

#include "ionogram/ionogram.h"
#include "ionogram/scaler.h"

#include <algorithm>

namespace ionogram {

namespace {

constexpr double kSameColumnKhz = 1; // columns this near are one frequency

// Whether the sweep heard the column next above topKhz: not when topKhz is the sweep's last, or
// the column above carries no audio or is flooded, so that a trace's nose may lie there unseen.
bool HeardAbove(const IonogramSweep& sweep, double topKhz) {
    const std::size_t columns = std::min(sweep.frequenciesKhz.size(), sweep.snrDb.size());
    std::size_t above = columns;
    for (std::size_t i = 0; i < columns; ++i) {
        const double khz = sweep.frequenciesKhz[i];
        if (khz > topKhz + kSameColumnKhz &&
            (above == columns || khz < sweep.frequenciesKhz[above])) {
            above = i;
        }
    }
    return above < columns && IonogramSweep::Usable(sweep.snrDb[above]) &&
           !ColumnFlooded(sweep.snrDb[above]);
}

} // namespace

SweepGeometry GeometryOf(const IonogramSweep& sweep, const ScaledSweep& scaled,
                         const geo::Position& station, const geo::Position& sounder) {
    SweepGeometry geometry;
    geometry.path = geo::PathBetween(station, sounder);
    std::vector<std::vector<geo::TracePoint>> traces;
    std::vector<bool> open;
    for (const ScaledTrace& trace : scaled.traces) {
        std::vector<geo::TracePoint>& points = traces.emplace_back();
        double topKhz = 0;
        for (const TracePoint& point : trace.points) {
            points.push_back({point.khz, point.delayMs, point.high});
            topKhz = std::max(topKhz, point.khz);
        }
        open.push_back(!HeardAbove(sweep, topKhz));
    }
    if (traces.empty()) {
        return geometry;
    }
    geometry.layers = geo::FitSweep(traces, geometry.path.distanceKm, open);
    // The first two F traces by least delay are taken for 1F and 2F whatever hops the fit gave
    // them: with a wrong audio delay the fit itself may read them as 2F and 3F.
    std::vector<std::size_t> fTraces;
    for (std::size_t i = 0; i < geometry.layers.size() && fTraces.size() < 2; ++i) {
        const geo::PathLayer& layer = geometry.layers[i];
        if (layer.error.empty() && layer.peakKm >= geo::kHighestELayerKm) {
            fTraces.push_back(i);
        }
    }
    if (fTraces.size() == 2) {
        const geo::AudioDelayEstimate estimate = geo::EstimateAudioDelay(
            traces[fTraces[0]], traces[fTraces[1]], geometry.path.distanceKm);
        if (estimate.valid) {
            geometry.audioDelayErrorMs = estimate.delayMs;
        }
    }
    return geometry;
}

} // namespace ionogram
