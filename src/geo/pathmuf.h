#pragma once

// The MUF of a path no sounder covers, from the ionosphere read over the midpoint of one that
// does: the latest foF2 and M(3000)F2 over the nearest such midpoint, through P.533's F2(D)MUF
// for the asked distance. The F2 layer changes over a few hundred kilometres, so a midpoint more
// than 1000 km from the asked path's own says nothing of it. Pure functions of plain values.

#include "geo/position.h"

#include <optional>
#include <vector>

namespace geo {

constexpr double kFarthestMidpointKm = 1000;

// The layer read over one path's midpoint (its latest sweep's).
struct MidpointReading {
    GreatCircle path; // from the station
    double foF2Khz = 0;
    double m3000 = 0;
};

// The path asked about, from the station: to a place (then the station's position is needed),
// or of a length alone, taken along each reading's own bearing.
struct AskedPath {
    std::optional<Position> to;
    double distanceKm = 0; // when `to` is empty
};

struct PathMuf {
    int reading = -1;      // the reading used; -1 when none serves (no reading, no station)
    double distanceKm = 0; // the asked path's
    int hops = 0;          // the fewest P.533 allows (hops of 4000 km at most)
    double mufKhz = 0;
    double midpointOffsetKm = 0; // from the reading's midpoint to the asked path's
    bool applies = false;        // that offset within kFarthestMidpointKm
};

PathMuf MufForPath(const std::optional<Position>& station, const AskedPath& asked,
                   const std::vector<MidpointReading>& readings);

} // namespace geo
