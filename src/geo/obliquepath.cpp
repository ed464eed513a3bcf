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
constexpr int kNoseSteps = 24; // golden-section steps that place the nose
// The landing frequency is searched from the equivalent path's, in steps of this share, until
// its ray lands this near the hop's end, or the frequency is known to this share of itself (on
// the high ray near the peak the ground range grows steeply with the frequency).
constexpr double kLandingStep = 0.02;
constexpr double kLandedKm = 0.01;
constexpr double kLandingPrecision = 1e-15;
constexpr int kLandingSteps = 100;
// A ray that would have to graze the peak for long lands beyond what double precision resolves
// (and beyond any real layer's smoothness): one that lands farther than this off the hop is none.
constexpr double kLandingKm = 0.1;

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

// The point of the trace at p: the equivalent triangle of f_v's virtual height gives the launch
// elevation, the exact ray its frequency and delay. Where the triangle would leave below the
// horizon, which no sounder does, the ray leaves along it: the low ray of a long hop begins
// there. Its frequency is 0 where no ray lands the hop.
ObliquePoint PointAt(const Layer& layer, int hops, double hopKm, double p) {
    const double verticalKhz = layer.criticalKhz * VerticalShareAt(p);
    const double apex = VerticalVirtualHeightKm(layer, verticalKhz);
    const double cosine = IncidenceCos(hopKm, apex);
    const double elevation =
        std::numbers::pi / 2 - std::acos(cosine) - hopKm / (2 * kEarthRadiusKm);
    const double elevationDeg = std::max(0.0, elevation * 180 / std::numbers::pi);
    const double khz =
        std::isnan(elevation) ? kNaN : LandingKhz(layer, hopKm, elevationDeg, verticalKhz / cosine);
    if (!(khz > 0)) {
        return {0, 0, false};
    }
    return {khz, hops * TraceHop(layer, khz, elevationDeg).groupKm / kLightKmPerMs, false};
}

// The frequency above which a ray launched elevationDeg up goes through the layer: where the
// quadratic r²μ² − K² loses its roots, a quadratic in F = (f_c / f)² (∞ where it never does).
double PenetrationKhz(const Layer& layer, double elevationDeg) {
    const double k = kEarthRadiusKm * std::cos(elevationDeg * std::numbers::pi / 180);
    const double rm = kEarthRadiusKm + layer.peakKm;
    const double u = std::pow((rm - layer.semiThicknessKm) / layer.semiThicknessKm, 2);
    const double a = u * rm * rm;
    const double b = -(u * rm * rm - (u - 1) * k * k);
    const double disc = b * b - 4 * a * k * k;
    if (disc < 0) {
        return std::numeric_limits<double>::infinity();
    }
    return layer.criticalKhz / std::sqrt((-b + std::sqrt(disc)) / (2 * a));
}

bool Reflects(const Layer& layer, int hops, double groundKm) {
    return layer.criticalKhz > 0 && layer.semiThicknessKm > 0 &&
           layer.peakKm > layer.semiThicknessKm && hops > 0 && groundKm >= 0;
}

// The trace's samples at kTracePoints even steps of p, and the p of its nose: the oblique
// frequency's maximum, from the largest sample refined by golden section.
struct Sampled {
    std::vector<ObliquePoint> points;
    double noseP = 0;
    ObliquePoint nose;
};

Sampled Sample(const Layer& layer, int hops, double hopKm) {
    Sampled sampled;
    int best = 0;
    for (int i = 0; i < kTracePoints; ++i) {
        sampled.points.push_back(PointAt(layer, hops, hopKm, double(i) / (kTracePoints - 1)));
        if (sampled.points[i].khz > sampled.points[best].khz) {
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
    sampled.noseP = (low + high) / 2;
    sampled.nose = PointAt(layer, hops, hopKm, sampled.noseP);
    if (sampled.points[best].khz > sampled.nose.khz) {
        sampled.noseP = double(best) / (kTracePoints - 1);
        sampled.nose = sampled.points[best];
    }
    return sampled;
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

namespace {

// The rays launched at one elevation through one layer: what does not depend on the frequency
// (the straight path up to the layer's base) is worked out once, as the search for the frequency
// that lands a hop traces many of them.
class Launch {
public:
    Launch(const Layer& layer, double elevationDeg)
        : criticalKhz(layer.criticalKhz), ym(layer.semiThicknessKm),
          rm(kEarthRadiusKm + layer.peakKm), rb(rm - ym) {
        const double beta = elevationDeg * std::numbers::pi / 180;
        k = kEarthRadiusKm * std::cos(beta); // Bouguer's invariant r·μ·cos β
        // Up to the base a straight line.
        baseSine = std::sqrt(rb * rb - k * k); // r_b·sin β at the base
        belowAngle = std::acos(k / rb) - beta;
        belowPath = baseSine - kEarthRadiusKm * std::sin(beta);
    }

    RayHop At(double khz) const {
        constexpr double kInfinity = std::numeric_limits<double>::infinity();
        // In the layer r²μ² − K² = A r² + B r + C; the ray turns at its smaller root.
        const double f = std::pow(criticalKhz / khz, 2);
        const double a = 1 - f + f * rb * rb / (ym * ym);
        const double b = -2 * f * rm * rb * rb / (ym * ym);
        const double c = f * rb * rb * rm * rm / (ym * ym) - k * k;
        const double disc = b * b - 4 * a * c;
        if (disc <= 0) {
            return {kInfinity, kInfinity}; // through the layer
        }
        const double rootDisc = std::sqrt(disc);
        // ∫ r dr / √Q from the base to the turning point.
        const double x = -b - 2 * a * rb;
        const double y = 2 * std::sqrt(a) * baseSine;
        const double layerPath =
            -baseSine / a - b / (2 * a * std::sqrt(a)) * std::log((x + y) / rootDisc);
        // ∫ K dr / (r √Q) over the same span (C > 0 for any frequency below f_c·r_m / y_m).
        const double w = (2 * c + b * rb + 2 * std::sqrt(c) * baseSine) / rb;
        const double layerAngle = k / std::sqrt(c) * std::log(w / rootDisc);
        return {2 * kEarthRadiusKm * (belowAngle + layerAngle), 2 * (belowPath + layerPath)};
    }

private:
    double criticalKhz, ym, rm, rb;
    double k = 0, baseSine = 0, belowAngle = 0, belowPath = 0;
};

} // namespace

RayHop TraceHop(const Layer& layer, double khz, double elevationDeg) {
    return Launch(layer, elevationDeg).At(khz);
}

double LandingKhz(const Layer& layer, double hopKm, double elevationDeg, double guessKhz) {
    const double through = PenetrationKhz(layer, elevationDeg);
    if (!(elevationDeg >= 0 && elevationDeg < 90 && guessKhz > 0 && through > 0) ||
        !Reflects(layer, 1, hopKm)) {
        return kNaN;
    }
    const Launch launch(layer, elevationDeg);
    auto beyond = [&](double khz) { return launch.At(khz).groundKm - hopKm; };
    // A bracket from the guess outwards: the ground range grows with the frequency, from the
    // base's reflection (short of the hop, or no frequency lands it) to the ray that goes
    // through (infinite).
    double a = std::min(guessKhz, through * (1 - kLandingStep));
    double fa = beyond(a);
    double step = kLandingStep * a;
    double b = a;
    double fb = fa;
    for (int i = 0; i < kLandingSteps && (fa < 0) == (fb < 0); ++i) {
        a = b;
        fa = fb;
        b = fa < 0 ? std::min(a + step, (a + through) / 2) : std::max(a - step, a / 2);
        fb = beyond(b);
        step *= 2;
    }
    if ((fa < 0) == (fb < 0) || std::isnan(fa) || std::isnan(fb)) {
        return kNaN;
    }
    // Regula falsi with the Illinois halving, bisecting where an end went through.
    for (int i = 0; i < kLandingSteps && std::abs(b - a) > kLandingPrecision * b &&
                    !(std::min(std::abs(fa), std::abs(fb)) < kLandedKm);
         ++i) {
        const double c =
            std::isfinite(fa) && std::isfinite(fb) ? b - fb * (b - a) / (fb - fa) : (a + b) / 2;
        const double fc = beyond(c);
        if (fc == 0) {
            return c;
        }
        if ((fc < 0) != (fb < 0)) {
            a = b;
            fa = fb;
        } else {
            fa /= 2;
        }
        b = c;
        fb = fc;
    }
    const bool bNearer = std::isfinite(fb) && !(std::abs(fa) < std::abs(fb));
    return std::min(std::abs(fa), std::abs(fb)) < kLandingKm ? (bNearer ? b : a) : kNaN;
}

std::vector<ObliquePoint> ObliqueTrace(const Layer& layer, int hops, double groundKm) {
    if (!Reflects(layer, hops, groundKm)) {
        return {};
    }
    const Sampled sampled = Sample(layer, hops, groundKm / hops);
    if (sampled.nose.khz <= 0) {
        return {}; // the hop is too long for this layer
    }
    std::vector<ObliquePoint> trace;
    for (int i = 0; i < kTracePoints && double(i) / (kTracePoints - 1) < sampled.noseP; ++i) {
        if (sampled.points[i].khz > 0) {
            trace.push_back(sampled.points[i]);
        }
    }
    trace.push_back(sampled.nose); // ends the low ray
    for (int i = 0; i < kTracePoints; ++i) {
        const ObliquePoint& point = sampled.points[i];
        if (double(i) / (kTracePoints - 1) > sampled.noseP && point.khz > 0) {
            trace.push_back({point.khz, point.delayMs, true});
        }
    }
    return trace;
}

double ObliqueMofKhz(const Layer& layer, int hops, double groundKm) {
    if (!Reflects(layer, hops, groundKm)) {
        return 0;
    }
    return std::max(0.0, Sample(layer, hops, groundKm / hops).nose.khz);
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
