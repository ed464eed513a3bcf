#include "simulation/ionolayer.h"

#include "ionogram/sounder.h"
#include "simulation/raytrace.h"

#include <cmath>

namespace ionogram {

namespace {

constexpr int kSearchSteps = 200; // golden-section and bisection iterations
constexpr double kGolden = 0.6180339887498949;
// Rays are searched along u = ln((1 + x) / (1 - x)), x = f_v / f_c, so that f_v can come as
// close to f_c as the high ray's long delays need (1 - x below 1e-20 for 20 ms) and h' stays
// linear in u there. This u puts h' beyond any delay the ionogram shows.
constexpr double kLargestU = 1e6;

double HeightAtU(const IonosphericLayer& layer, double u) {
    const double base = layer.peakKm - layer.semiThicknessKm;
    return base + layer.semiThicknessKm / 2 * std::tanh(u / 2) * u;
}

// The oblique frequency whose ray turns where the vertical frequency of u would.
double ObliqueKhz(const IonosphericLayer& layer, double u) {
    const double height = HeightAtU(layer, u);
    const double halfHop = layer.groundRangeKm / (2.0 * layer.hops);
    return layer.criticalKhz * std::tanh(u / 2) * std::hypot(height, halfHop) / height;
}

double DelayMs(const IonosphericLayer& layer, double u) {
    const double halfHop = layer.groundRangeKm / (2.0 * layer.hops);
    const double hop = 2 * std::hypot(HeightAtU(layer, u), halfHop);
    return layer.hops * hop / kKmPerMs;
}

// The u of the nose, where ObliqueKhz peaks.
double NoseU(const IonosphericLayer& layer) {
    double low = 0;
    double high = kLargestU;
    for (int i = 0; i < kSearchSteps; ++i) {
        const double a = high - kGolden * (high - low);
        const double b = low + kGolden * (high - low);
        if (ObliqueKhz(layer, a) < ObliqueKhz(layer, b)) {
            low = a;
        } else {
            high = b;
        }
    }
    return (low + high) / 2;
}

// The u in [from, to] whose oblique frequency is targetKhz, ObliqueKhz rising (or falling)
// monotonically over it.
double SolveU(const IonosphericLayer& layer, double targetKhz, double from, double to,
              bool rising) {
    for (int i = 0; i < kSearchSteps; ++i) {
        const double middle = (from + to) / 2;
        if ((ObliqueKhz(layer, middle) < targetKhz) == rising) {
            from = middle;
        } else {
            to = middle;
        }
    }
    return (from + to) / 2;
}

bool Valid(const IonosphericLayer& layer) {
    return layer.criticalKhz > 0 && layer.semiThicknessKm > 0 &&
           layer.peakKm > layer.semiThicknessKm && layer.groundRangeKm > 0 && layer.hops > 0;
}

// The frequency, as a share of the critical one, that turns at the layer's base.
constexpr double kLowestShare = 0.01;

SphericalPath Spherical(const IonosphericLayer& layer) {
    return {
        {layer.criticalKhz, layer.peakKm, layer.semiThicknessKm}, layer.groundRangeKm, layer.hops};
}

} // namespace

double VirtualHeightKm(const IonosphericLayer& layer, double verticalKhz) {
    const double x = verticalKhz / layer.criticalKhz;
    const double base = layer.peakKm - layer.semiThicknessKm;
    if (x <= 0) {
        return base;
    }
    return base + layer.semiThicknessKm / 2 * x * std::log((1 + x) / (1 - x));
}

std::vector<LayerRay> LayerRays(const IonosphericLayer& layer, double frequencyKhz) {
    if (!Valid(layer) || frequencyKhz <= 0) {
        return {};
    }
    if (layer.sphere) {
        std::vector<LayerRay> rays;
        for (const TracedRay& ray : TraceRays(Spherical(layer), frequencyKhz)) {
            rays.push_back(
                {ray.delayMs, layer.amplitude * (ray.high ? kHighRayShare : 1.0), ray.high});
        }
        return rays;
    }
    const double nose = NoseU(layer);
    if (frequencyKhz > ObliqueKhz(layer, nose)) {
        return {};
    }
    std::vector<LayerRay> rays;
    const double low = SolveU(layer, frequencyKhz, 0, nose, true);
    rays.push_back({DelayMs(layer, low), layer.amplitude, false});
    if (frequencyKhz > ObliqueKhz(layer, kLargestU)) {
        const double high = SolveU(layer, frequencyKhz, nose, kLargestU, false);
        rays.push_back({DelayMs(layer, high), layer.amplitude * kHighRayShare, true});
    }
    return rays;
}

double LayerMofKhz(const IonosphericLayer& layer) {
    if (Valid(layer) && layer.sphere) {
        return TracedMofKhz(Spherical(layer));
    }
    return Valid(layer) ? ObliqueKhz(layer, NoseU(layer)) : 0;
}

double LayerLeastDelayMs(const IonosphericLayer& layer) {
    if (Valid(layer) && layer.sphere) {
        // The lowest frequencies turn at the layer's base, as on a flat earth.
        const std::vector<TracedRay> rays =
            TraceRays(Spherical(layer), layer.criticalKhz * kLowestShare);
        return rays.empty() ? 0 : rays.front().delayMs;
    }
    return Valid(layer) ? DelayMs(layer, 0) : 0;
}

} // namespace ionogram
