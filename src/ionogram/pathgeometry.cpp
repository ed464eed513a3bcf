#include "ionogram/pathgeometry.h"

#include "ionogram/scaler.h"

namespace ionogram {

SweepGeometry GeometryOf(const ScaledSweep& scaled, const geo::Position& station,
                         const geo::Position& sounder) {
    SweepGeometry geometry;
    geometry.path = geo::PathBetween(station, sounder);
    std::vector<std::vector<geo::TracePoint>> traces;
    for (const ScaledTrace& trace : scaled.traces) {
        std::vector<geo::TracePoint>& points = traces.emplace_back();
        for (const TracePoint& point : trace.points) {
            points.push_back({point.khz, point.delayMs, point.high});
        }
    }
    if (traces.empty()) {
        return geometry;
    }
    geometry.layers = geo::FitSweep(traces, geometry.path.distanceKm);
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
