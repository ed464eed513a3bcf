#include "simulation/raytrace.h"

#include "geo/position.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace ionogram {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr int kElevationSteps = 720; // launch elevations searched between the horizon and zenith
constexpr int kBisectionSteps = 60;
constexpr double kLandingKm = 0.1;      // a ray found lands this near the hop's end
constexpr double kHighestMofShare = 30; // MOFs are searched up to this many critical frequencies

double ElevationAt(int step) {
    return 90.0 * step / kElevationSteps;
}

double HopGround(const geo::Layer& layer, double khz, double elevationDeg) {
    return TraceHop(layer, khz, elevationDeg).groundKm;
}

// The elevation between low and high (degrees) where the hop's ground range crosses hopKm.
double Crossing(const geo::Layer& layer, double khz, double hopKm, double low, double high) {
    const bool lowShort = HopGround(layer, khz, low) < hopKm;
    for (int i = 0; i < kBisectionSteps; ++i) {
        const double middle = (low + high) / 2;
        ((HopGround(layer, khz, middle) < hopKm) == lowShort ? low : high) = middle;
    }
    return (low + high) / 2;
}

// The shortest hop any elevation gives at khz (the skip distance; 0 below the critical
// frequency, where the vertical ray comes back), and that elevation: rays launched above it are
// the high ray, below it the low ray.
struct Skip {
    double km;
    double elevationDeg;
};

Skip SkipAt(const geo::Layer& layer, double khz) {
    int best = 0;
    double shortest = kInfinity;
    for (int step = 0; step <= kElevationSteps; ++step) {
        const double ground = HopGround(layer, khz, ElevationAt(step));
        if (ground < shortest) {
            shortest = ground;
            best = step;
        }
    }
    double low = ElevationAt(std::max(0, best - 1));
    double high = ElevationAt(std::min(kElevationSteps, best + 1));
    constexpr double kGolden = 0.6180339887498949;
    for (int i = 0; i < kBisectionSteps; ++i) {
        const double a = high - kGolden * (high - low);
        const double b = low + kGolden * (high - low);
        (HopGround(layer, khz, a) < HopGround(layer, khz, b) ? high : low) = (a + b) / 2;
    }
    const double refined = HopGround(layer, khz, (low + high) / 2);
    return refined < shortest ? Skip{refined, (low + high) / 2} : Skip{shortest, ElevationAt(best)};
}

} // namespace

std::vector<TracedRay> TraceRays(const SphericalPath& path, double khz) {
    const double hopKm = path.groundKm / path.hops;
    std::vector<TracedRay> rays;
    double previous = HopGround(path.layer, khz, ElevationAt(0));
    for (int step = 1; step <= kElevationSteps; ++step) {
        const double ground = HopGround(path.layer, khz, ElevationAt(step));
        if ((previous < hopKm) != (ground < hopKm)) {
            const double elevation =
                Crossing(path.layer, khz, hopKm, ElevationAt(step - 1), ElevationAt(step));
            const TracedHop hop = TraceHop(path.layer, khz, elevation);
            // A ray that would have to graze the peak for thousands of km lands beyond what
            // double precision resolves (and beyond any real layer's smoothness): none.
            if (std::abs(hop.groundKm - hopKm) < kLandingKm) {
                rays.push_back({path.hops * hop.groupKm / geo::kLightKmPerMs, elevation, true});
            }
        }
        previous = ground;
    }
    const double skipElevation = SkipAt(path.layer, khz).elevationDeg;
    for (TracedRay& ray : rays) {
        ray.high = ray.elevationDeg > skipElevation;
    }
    std::sort(rays.begin(), rays.end(),
              [](const TracedRay& a, const TracedRay& b) { return a.delayMs < b.delayMs; });
    return rays;
}

double TracedMofKhz(const SphericalPath& path) {
    const double hopKm = path.groundKm / path.hops;
    double low = path.layer.criticalKhz / 2;
    double high = path.layer.criticalKhz * kHighestMofShare;
    if (SkipAt(path.layer, low).km > hopKm) {
        return 0;
    }
    for (int i = 0; i < kBisectionSteps; ++i) {
        const double middle = (low + high) / 2;
        (SkipAt(path.layer, middle).km <= hopKm ? low : high) = middle;
    }
    return low;
}

std::vector<geo::TracePoint> TracedTrace(const SphericalPath& path, double fromKhz,
                                         double stepKhz) {
    std::vector<geo::TracePoint> trace;
    const double mof = TracedMofKhz(path);
    for (double khz = fromKhz; khz <= mof; khz += stepKhz) {
        for (const TracedRay& ray : TraceRays(path, khz)) {
            trace.push_back({khz, ray.delayMs, ray.high});
        }
    }
    return trace;
}

} // namespace ionogram
