#pragma once

// An oblique path reflected by one parabolic layer, flat earth: the secant law f = f_v·sec φ and
// Martyn's theorem (the oblique ray's virtual height is the vertical one at f_v). Below the
// layer's critical frequency one ray (the low ray); above it a second, the high ray, coming down
// from long delays to meet the low ray at the nose, the maximum observed frequency (MOF), above
// which the layer lets the signal through. The simulated ionosphere draws its traces from this;
// a layer marked `sphere` is ray-traced over a curved earth instead.

#include <vector>

namespace ionogram {

struct IonosphericLayer {
    double criticalKhz = 0;     // f_c, the layer's vertical critical frequency
    double peakKm = 0;          // height of the peak electron density
    double semiThicknessKm = 0; // y_m: the layer's base lies y_m below its peak
    double groundRangeKm = 0;   // D, the whole path along the ground
    int hops = 1;               // reflections on the way (each hop covers D / hops)
    double amplitude = 0;       // peak amplitude of the low ray's tone (1 = full scale)
    // Rays traced through a spherical quasi-parabolic layer of the same critical frequency, peak
    // and semi-thickness over a curved earth (raytrace.h), instead of the flat earth's secant law.
    bool sphere = false;
};

struct LayerRay {
    double delayMs = 0;
    double amplitude = 0;
    bool high = false;
};

// The high ray is defocused by the layer: this share of the low ray's amplitude (-6 dB).
constexpr double kHighRayShare = 0.5;

// Vertical virtual height h'(f_v) of a parabolic layer, for 0 <= f_v < f_c (km).
double VirtualHeightKm(const IonosphericLayer& layer, double verticalKhz);

// The rays at frequencyKhz, low ray first; none above the MOF or for a layer without ionisation.
std::vector<LayerRay> LayerRays(const IonosphericLayer& layer, double frequencyKhz);

// The maximum observed frequency of the path (kHz), where low and high ray meet.
double LayerMofKhz(const IonosphericLayer& layer);

// The least delay of the path (ms): the low ray's at the lowest frequencies, where the signal
// turns at the layer's base.
double LayerLeastDelayMs(const IonosphericLayer& layer);

} // namespace ionogram
