#pragma once

// What a scaled sweep says of the ionosphere over its path's midpoint, where both ends of the
// path are known: the great circle from the station to the sounder, and for each trace the layer
// and hop count behind it (mode, foF2, hmF2, MUF(3000)F2). The traces' delays have the audio
// delay setting already taken off, as everything the ionogram measures.

#include "geo/layerfit.h"
#include "geo/position.h"

#include <optional>
#include <vector>

namespace ionogram {

struct IonogramSweep;
struct ScaledSweep;

struct SweepGeometry {
    geo::GreatCircle path;              // from the station; the bearing is the station's
    std::vector<geo::PathLayer> layers; // one per trace, in the traces' order
    // Where the sweep shows 1F and 2F of one layer (its first two F traces): the delay both still
    // hold beyond the audio delay setting taken off (the setting's error: add it to the setting).
    std::optional<double> audioDelayErrorMs;
};

// The scaled sweep's geometry; the traces are fitted together, so modes of one layer agree. The
// sweep's columns tell which traces run into its top or a column not heard (their noses unseen).
SweepGeometry GeometryOf(const IonogramSweep& sweep, const ScaledSweep& scaled,
                         const geo::Position& station, const geo::Position& sounder);

} // namespace ionogram
