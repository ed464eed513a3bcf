#pragma once

// Where a station or a sounder stands, and the great circle between two of them: Maidenhead
// locators both ways, the text a user types for a position, and the path's ground distance,
// bearing and midpoint on a spherical earth. Pure functions of plain values.

#include <optional>
#include <string>
#include <vector>

namespace geo {

constexpr double kEarthRadiusKm = 6371.0;

struct Position {
    double latitude = 0;  // degrees, north positive
    double longitude = 0; // degrees, east positive
};

// The position typed as a locator or as "LAT,LON", or why it is not one.
struct PositionText {
    std::optional<Position> position;
    std::string error; // empty when position holds a value
};

// The centre of a locator's cell (2, 4, 6, 8 or 10 characters, any case); none when the text is
// not a locator.
std::optional<Position> LocatorCentre(const std::string& locator);

// The locator of `characters` (2 to 10, even) whose cell holds the position; empty for a position
// off the globe.
std::string LocatorOf(const Position& position, int characters = 6);

// A locator of 4, 6, 8 or 10 characters, or a latitude and longitude in degrees separated by a
// comma ("48.86,2.37"); the error names what is wrong.
PositionText ParsePosition(const std::string& text);

struct GreatCircle {
    double distanceKm = 0;
    double bearingDeg = 0; // initial bearing from the first point, 0 to 360, clockwise from north
    Position midpoint;
    std::string midpointLocator; // 6 characters
};

GreatCircle PathBetween(const Position& from, const Position& to);

// The great circle from `from` to `to` as segments + 1 points equally spaced along it (both ends
// included), by spherical interpolation, longitudes in -180..180: a path across the date line
// goes the short way and its longitude jumps by 360 degrees where it crosses. Between antipodes,
// where every great circle is as short, the one through the longitude of `from` is taken.
std::vector<Position> GreatCirclePoints(const Position& from, const Position& to, int segments);

} // namespace geo
