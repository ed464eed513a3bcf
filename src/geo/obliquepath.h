#pragma once

// The oblique path through one ionospheric layer on a curved earth, without the magnetic field
// (O-mode). The equivalent path (Breit–Tuve and Martyn's theorem) places each point of a trace:
// a hop of ground range d reflects frequency f where the layer's vertical virtual height h' at
// f_v = f·cos φ equals the apex height of the equivalent triangle, with θ = d / 2R, slant
// a = √(R² + (R+h')² − 2R(R+h')cos θ), sin φ = R·sin θ / a and a group delay of 2a/c per hop.
// On a curved earth that puts the MOF up to 9 % low on long hops, and a long single hop's trace
// nearer a two-hop alias's than its own; so the trace is the exact ray's: the equivalent
// triangle gives each point's launch elevation, and the frequency whose ray launched there lands
// the hop, and its group path, come from the layer's closed-form ray. Beside it the ITU-R P.533
// relations that give F2(D)MUF from foF2 and M(3000)F2 without a profile. Pure functions of
// plain values.

#include <vector>

namespace geo {

constexpr double kLightKmPerMs = 299.792458;

// A quasi-parabolic layer: N(r) = N_m·(1 − ((r − r_m)/y_m)²·(r_b/r)²) between its base
// r_b = r_m − y_m and its top, which makes r²μ² a quadratic in r and its integrals closed forms.
struct Layer {
    double criticalKhz = 0;
    double peakKm = 0;          // above the ground
    double semiThicknessKm = 0; // y_m
};

// Vertical virtual height h'(f) of the layer (km) for 0 < f < f_c; NaN outside.
double VerticalVirtualHeightKm(const Layer& layer, double khz);

// The equivalent triangle of one hop of ground range hopKm with its apex apexKm high.
double SlantKm(double hopKm, double apexKm);
double IncidenceCos(double hopKm, double apexKm); // cos φ at the apex
// The apex height whose hops take delayMs over groundKm; NaN when the delay is shorter than
// the ground itself allows.
double ApexHeightKm(double delayMs, int hops, double groundKm);

// One hop of the exact ray at khz launched elevationDeg above the horizon, through the
// spherically stratified layer: Bouguer's law r·μ·cos β = R·cos β₀ holds along it, and for this
// layer r²μ² is a quadratic in r, so its ground range and group path are closed forms (Croft
// and Hoogasian). Both infinite for a ray that goes through the layer.
struct RayHop {
    double groundKm = 0;
    double groupKm = 0;
};
RayHop TraceHop(const Layer& layer, double khz, double elevationDeg);

// The frequency (kHz) whose ray launched elevationDeg up lands hopKm away: the ground range grows
// with the frequency, from the base's reflection up to the ray that goes through. guessKhz
// starts the search; NaN where no frequency lands there (within 0.1 km).
double LandingKhz(const Layer& layer, double hopKm, double elevationDeg, double guessKhz);

struct ObliquePoint {
    double khz = 0;
    double delayMs = 0;
    bool high = false; // on the high ray, at or past the nose
};

// The path's oblique trace over `hops` equal hops of groundKm in all: the low ray from low
// frequencies up to the nose (the MOF), then the high ray back down to long delays. Empty when
// the layer cannot reflect.
std::vector<ObliquePoint> ObliqueTrace(const Layer& layer, int hops, double groundKm);

// The maximum observed frequency of that trace (kHz); 0 when none.
double ObliqueMofKhz(const Layer& layer, int hops, double groundKm);

// ITU-R P.533's relations (P.1240's basic MUF): F2(D)MUF of one hop of hopKm (up to its d_max,
// 4000 km at most) from foF2 and M(3000)F2. foE (0 when unknown: then foF2/foE is taken as 3)
// sets the shape; gyroKhz adds P.533's f_H/2 term (0 without the magnetic field).
struct P533Sky {
    double foF2Khz = 0;
    double m3000 = 0;
    double foEKhz = 0;
    double gyroKhz = 0;
};
double P533F2MufKhz(const P533Sky& sky, double hopKm);
// foF2 whose F2(D)MUF over hopKm is mufKhz, the rest of the sky as given.
double P533FoF2Khz(P533Sky sky, double hopKm, double mufKhz);
// M(3000)F2 and the peak height as P.533 ties them: h = 1490 / M(3000)F2 − 176 km.
double P533M3000(double peakKm);
double P533PeakKm(double m3000);

} // namespace geo
