#pragma once

// The sounders the station follows through the listening plan, built from the settings: each
// followed saved sounder with the span of audio its columns take (the dechirp's, with the
// ionogram's delays and audio delay), and the plan's settings with the backend's command spacing.

#include "settings/stationstore.h"
#include "sweep/listeningplan.h"

#include <vector>

std::vector<sweep::FollowedSounder> PlanSounders(const StationSettings& settings);
sweep::PlanSettings PlanSettingsFor(const StationSettings& settings);
// Whether the radio can follow the sounders marked Follow (none: nothing to check).
Status CheckFollowed(const StationSettings& settings);
