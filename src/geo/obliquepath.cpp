#include "geo/obliquepath.h"

#include "geo/position.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace geo {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The trace is drawn over a parameter p in [0, 1]: its first half runs f_v / f_c linearly from
// kLowestShare to kLinearShare (the low ray), its second half q = √(1 − f_v²/f_c²) down
// geometrically to kSmallestQ, where h' has grown far past any delay shown (it grows as
// −y_m·ln q / 2 near the peak): the high ray.
constexpr double kLowestShare = 0.02;
constexpr double kLinearShare = 0.95;
constexpr double kSmallestQ = 1e-9;
constexpr int kTracePoints = 81;
constexpr int kNoseSteps = 40; // golden-section steps that place the nose
// The angle at the turning height overstates the bending: the ray meets the layer's lower parts
// more obliquely still, where it slows most. With this share of the factor's excess the MOF
// matches exact ray traces through spherical quasi-parabolic F layers (peaks 250–350 km,
// semi-thicknesses 60–120 km, hops 300–3800 km) within 1.5 %, where the whole factor makes it
// up to 4 % high and none up to 12 % low; an E layer's hop beyond 2000 km, launched near the
// horizon, stays up to 8 % low.
constexpr double kCurvatureShare = 0.8;

// P.533's foF2/foE when foE is not known (a day-time F2 layer over an E layer), and its floor.
constexpr double kDefaultCriticalRatio = 3;
constexpr double kLeastCriticalRatio = 2;
constexpr double kLongestP533HopKm = 4000;
constexpr double kP533HeightScale = 1490; // h = 1490 / M(3000)F2 − 176
constexpr double kP533HeightOffset = 176;

double VerticalShareAt(double p) {
    if (p <= 0.5) {
        return kLowestShare + (kLinearShare - kLowestShare) * p / 0.5;
    }
    const double q0 = std::sqrt(1 - kLinearShare * kLinearShare);
    const double q = q0 * std::pow(kSmallestQ / q0, (p - 0.5) / 0.5);
    return std::sqrt(1 - q * q);
}

// The point of the trace at p; its frequency is 0 where the hop would need a ray below the
// horizon (θ + φ > 90°), which no sounder launches.
ObliquePoint PointAt(const Layer& layer, int hops, double hopKm, double p) {
    const double verticalKhz = layer.criticalKhz * VerticalShareAt(p);
    const double apex = VerticalVirtualHeightKm(layer, verticalKhz);
    const double cosine = IncidenceCos(hopKm, apex);
    const double delayMs = hops * 2 * SlantKm(hopKm, apex) / kLightKmPerMs;
    if (std::acos(cosine) + hopKm / (2 * kEarthRadiusKm) > std::numbers::pi / 2) {
        return {0, delayMs, false};
    }
    return {CurvatureFactor(hopKm, apex, TrueHeightKm(layer, verticalKhz)) * verticalKhz / cosine,
            delayMs, false};
}

bool Reflects(const Layer& layer, int hops, double groundKm) {
    return layer.criticalKhz > 0 && layer.semiThicknessKm > 0 &&
           layer.peakKm > layer.semiThicknessKm && hops > 0 && groundKm >= 0;
}

// The p of the nose: the oblique frequency's maximum, from the largest sample of the trace.
double NoseP(const Layer& layer, int hops, double hopKm) {
    int best = 0;
    double bestKhz = -1;
    for (int i = 0; i < kTracePoints; ++i) {
        const double khz = PointAt(layer, hops, hopKm, double(i) / (kTracePoints - 1)).khz;
        if (khz > bestKhz) {
            bestKhz = khz;
            best = i;
        }
    }
    double low = std::max(0, best - 1) / double(kTracePoints - 1);
    double high = std::min(kTracePoints - 1, best + 1) / double(kTracePoints - 1);
    constexpr double kGolden = 0.6180339887498949;
    for (int step = 0; step < kNoseSteps; ++step) {
        const double a = high - kGolden * (high - low);
        const double b = low + kGolden * (high - low);
        if (PointAt(layer, hops, hopKm, a).khz > PointAt(layer, hops, hopKm, b).khz) {
            high = b;
        } else {
            low = a;
        }
    }
    return (low + high) / 2;
}

double CriticalRatio(const P533Sky& sky) {
    const double ratio = sky.foEKhz > 0 ? sky.foF2Khz / sky.foEKhz : kDefaultCriticalRatio;
    return std::max(kLeastCriticalRatio, ratio);
}

double DistanceFactor(double hopKm, double longestKm) {
    const double z = 1 - 2 * hopKm / longestKm;
    return 0.74 - 0.591 * z - 0.424 * z * z - 0.090 * std::pow(z, 3) + 0.088 * std::pow(z, 4) +
           0.181 * std::pow(z, 5) + 0.096 * std::pow(z, 6);
}

} // namespace

double VerticalVirtualHeightKm(const Layer& layer, double khz) {
    if (!(khz > 0 && khz < layer.criticalKhz) || !(layer.semiThicknessKm > 0) ||
        !(layer.peakKm > layer.semiThicknessKm)) {
        return kNaN;
    }
    // r²μ² = A r² + B r + C; the virtual height is the base's height plus ∫ r dr / √(r²μ²) from
    // the base to the turning point, in closed form for A > 0 (which a layer thinner than the
    // earth's radius always gives).
    const double f = std::pow(layer.criticalKhz / khz, 2);
    const double ym = layer.semiThicknessKm;
    const double rm = kEarthRadiusKm + layer.peakKm;
    const double rb = rm - ym;
    const double a = 1 - f + f * rb * rb / (ym * ym);
    const double b = -2 * f * rm * rb * rb / (ym * ym);
    const double rootDisc = 2 * std::sqrt(f * (f - 1)) * rb * rm / ym; // √(B² − 4AC)
    const double x = 2 * f * rb * rb / ym + 2 * rb * (f - 1);          // −B − 2A·r_b
    const double y = 2 * std::sqrt(a) * rb;
    return (rb - kEarthRadiusKm) - rb / a +
           -b / (2 * a * std::sqrt(a)) * std::log((x + y) / rootDisc);
}

double SlantKm(double hopKm, double apexKm) {
    const double theta = hopKm / (2 * kEarthRadiusKm);
    const double apexRadius = kEarthRadiusKm + apexKm;
    return std::sqrt(kEarthRadiusKm * kEarthRadiusKm + apexRadius * apexRadius -
                     2 * kEarthRadiusKm * apexRadius * std::cos(theta));
}

double IncidenceCos(double hopKm, double apexKm) {
    const double sine =
        kEarthRadiusKm * std::sin(hopKm / (2 * kEarthRadiusKm)) / SlantKm(hopKm, apexKm);
    return std::sqrt(std::max(0.0, 1 - sine * sine));
}

double ApexHeightKm(double delayMs, int hops, double groundKm) {
    if (hops < 1 || !(delayMs * kLightKmPerMs >= groundKm)) {
        return kNaN;
    }
    const double slant = delayMs * kLightKmPerMs / (2 * hops);
    const double theta = groundKm / hops / (2 * kEarthRadiusKm);
    const double sine = kEarthRadiusKm * std::sin(theta);
    if (slant < sine) {
        return kNaN;
    }
    return kEarthRadiusKm * std::cos(theta) + std::sqrt(slant * slant - sine * sine) -
           kEarthRadiusKm;
}

double TrueHeightKm(const Layer& layer, double khz) {
    const double q = std::sqrt(std::max(0.0, 1 - std::pow(khz / layer.criticalKhz, 2)));
    const double rm = kEarthRadiusKm + layer.peakKm;
    const double rb = rm - layer.semiThicknessKm;
    return rm * rb / (rb + q * layer.semiThicknessKm) - kEarthRadiusKm;
}

double CurvatureFactor(double hopKm, double apexKm, double turningKm) {
    // Bouguer's invariant of the equivalent straight ray, R·cos β₀ = (R + h)·sin φ(h).
    const double invariant = kEarthRadiusKm * std::sin(hopKm / (2 * kEarthRadiusKm)) *
                             (kEarthRadiusKm + apexKm) / SlantKm(hopKm, apexKm);
    const double apexSine = invariant / (kEarthRadiusKm + apexKm);
    const double turningSine = std::min(1.0, invariant / (kEarthRadiusKm + turningKm));
    const double bent =
        std::sqrt(1 - apexSine * apexSine) / std::sqrt(1 - turningSine * turningSine);
    return 1 + kCurvatureShare * (bent - 1);
}

std::vector<ObliquePoint> ObliqueTrace(const Layer& layer, int hops, double groundKm) {
    if (!Reflects(layer, hops, groundKm)) {
        return {};
    }
    const double hopKm = groundKm / hops;
    const double nose = NoseP(layer, hops, hopKm);
    std::vector<ObliquePoint> trace;
    for (int i = 0; i < kTracePoints && double(i) / (kTracePoints - 1) < nose; ++i) {
        const ObliquePoint point = PointAt(layer, hops, hopKm, double(i) / (kTracePoints - 1));
        if (point.khz > 0) {
            trace.push_back(point);
        }
    }
    const ObliquePoint nosePoint = PointAt(layer, hops, hopKm, nose); // ends the low ray
    if (nosePoint.khz <= 0) {
        return {}; // the hop is too long for this layer
    }
    trace.push_back(nosePoint);
    for (int i = 0; i < kTracePoints; ++i) {
        const ObliquePoint point = PointAt(layer, hops, hopKm, double(i) / (kTracePoints - 1));
        if (double(i) / (kTracePoints - 1) > nose && point.khz > 0) {
            trace.push_back({point.khz, point.delayMs, true});
        }
    }
    return trace;
}

double ObliqueMofKhz(const Layer& layer, int hops, double groundKm) {
    if (!Reflects(layer, hops, groundKm)) {
        return 0;
    }
    const double hopKm = groundKm / hops;
    return PointAt(layer, hops, hopKm, NoseP(layer, hops, hopKm)).khz;
}

double P533F2MufKhz(const P533Sky& sky, double hopKm) {
    const double x = CriticalRatio(sky);
    const double m = sky.m3000;
    const double b = m - 0.124 + (m * m - 4) * (0.0215 + 0.005 * std::sin(7.854 / x - 1.9635));
    const double longest =
        std::min(kLongestP533HopKm, 4780 + (12610 + 2140 / std::pow(x, 2) - 49720 / std::pow(x, 4) +
                                            688900 / std::pow(x, 6)) *
                                               (1 / b - 0.303));
    const double d = std::min(hopKm, longest);
    const double ratio = 1 + DistanceFactor(d, longest) / DistanceFactor(3000, longest) * (b - 1);
    return ratio * sky.foF2Khz + sky.gyroKhz / 2 * (1 - d / longest);
}

double P533FoF2Khz(P533Sky sky, double hopKm, double mufKhz) {
    // The MUF grows with foF2 (directly, and through foF2/foE): bisect.
    double low = 0;
    double high = mufKhz;
    for (int i = 0; i < 200 && high - low > 1e-9 * mufKhz; ++i) {
        sky.foF2Khz = (low + high) / 2;
        (P533F2MufKhz(sky, hopKm) > mufKhz ? high : low) = sky.foF2Khz;
    }
    return (low + high) / 2;
}

double P533M3000(double peakKm) {
    return kP533HeightScale / (peakKm + kP533HeightOffset);
}

double P533PeakKm(double m3000) {
    return kP533HeightScale / m3000 - kP533HeightOffset;
}

} // namespace geo
