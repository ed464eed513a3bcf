#pragma once

// The chirp sounders whose positions are known, for the user to pick from when saving one: the
// name a ham knows them by, where they stand, and where that position comes from.

#include "geo/position.h"

#include <vector>

namespace geo {

struct KnownSite {
    const char* name;
    Position position;
    const char* source;
};

const std::vector<KnownSite>& KnownSounderSites();

} // namespace geo
