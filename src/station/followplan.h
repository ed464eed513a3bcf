#pragma once

// The sounders the station follows through the listening plan, built from the settings: each
// followed saved sounder with the span of audio its columns take (the dechirp's, with its own
// delays or the ionogram's, and the audio delay), and the plan's settings with the backend's
// command spacing.

#include "settings/stationstore.h"
#include "sweep/listeningplan.h"

#include <vector>

// The ionogram of one saved sounder: the ionogram's choice with the sounder's own delays, where
// it has them.
IonogramChoice SounderIonogram(IonogramChoice choice, const std::optional<DelayRange>& delays);

std::vector<sweep::FollowedSounder> PlanSounders(const StationSettings& settings);
sweep::PlanSettings PlanSettingsFor(const StationSettings& settings);
// Whether the radio can follow the sounders marked Follow (none: nothing to check).
Status CheckFollowed(const StationSettings& settings);
