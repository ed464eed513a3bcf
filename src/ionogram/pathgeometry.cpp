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
    if (!traces.empty()) {
        geometry.layers = geo::FitSweep(traces, geometry.path.distanceKm);
    }
    return geometry;
}

} // namespace ionogram
