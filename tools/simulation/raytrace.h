#pragma once

// Exact rays through a spherically stratified quasi-parabolic layer, without the magnetic field,
// hop by hop as geo::TraceHop gives them. For a path of a given ground distance in 1 to 3 (or
// more) equal hops this finds, at each frequency, the launch elevations whose hops land there by
// scanning them all: the low ray and the high ray, and the maximum observed frequency where they
// meet. The simulated sky's rays and the benchmark's truth, found independently of the fit's
// trace in src/geo, which starts from the equivalent path.

#include "geo/layerfit.h"
#include "geo/obliquepath.h"

#include <vector>

namespace ionogram {

struct SphericalPath {
    geo::Layer layer;
    double groundKm = 0;
    int hops = 1;
};

struct TracedRay {
    double delayMs = 0;      // the whole path's group delay
    double elevationDeg = 0; // at the ground
    bool high = false;       // launched above the skip distance's elevation
};

// One hop's ground range and group path for a ray launched at elevationDeg (ground range
// infinite for a ray that goes through the layer): the layer's own closed form.
using TracedHop = geo::RayHop;
using geo::TraceHop;

// The rays of the path at khz, least delay first; none above its MOF. On a long hop the low
// ray may be missing (it would have to leave below the horizon) and the high ray alone.
std::vector<TracedRay> TraceRays(const SphericalPath& path, double khz);

// The path's maximum observed frequency (kHz): the highest at which some elevation lands a hop
// of groundKm / hops.
double TracedMofKhz(const SphericalPath& path);

// The path's trace as an ionogram's columns would show it, every stepKhz from fromKhz to the
// MOF: each column's rays, low and high.
std::vector<geo::TracePoint> TracedTrace(const SphericalPath& path, double fromKhz, double stepKhz);

} // namespace ionogram
