#include "geo/position.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace geo {

namespace {

// A locator is pairs of characters, longitude first: letters A-R (fields of 20° by 10°),
// digits (tenths of that), letters A-X (24ths), digits, letters A-X.
struct LocatorPair {
    char first;
    int count;
};
constexpr LocatorPair kPairs[] = {{'A', 18}, {'0', 10}, {'A', 24}, {'0', 10}, {'A', 24}};
constexpr int kLongestLocator = 10;

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180;
}

double Degrees(double radians) {
    return radians * 180 / std::numbers::pi;
}

bool OnGlobe(const Position& position) {
    return std::isfinite(position.latitude) && std::isfinite(position.longitude) &&
           std::abs(position.latitude) <= 90 && std::abs(position.longitude) <= 180;
}

// Parses the whole text as a decimal number.
std::optional<double> Number(const std::string& text) {
    const char* begin = text.c_str();
    while (std::isspace(static_cast<unsigned char>(*begin))) {
        ++begin;
    }
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end == begin) {
        return std::nullopt;
    }
    while (std::isspace(static_cast<unsigned char>(*end))) {
        ++end;
    }
    if (*end != '\0' || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<Position> LocatorCentre(const std::string& locator) {
    if (locator.empty() || locator.size() % 2 != 0 || locator.size() > kLongestLocator) {
        return std::nullopt;
    }
    double lonSize = 360;
    double latSize = 180;
    Position corner{-90, -180};
    for (std::size_t pair = 0; pair < locator.size() / 2; ++pair) {
        const auto [first, count] = kPairs[pair];
        const int lon = std::toupper(static_cast<unsigned char>(locator[2 * pair])) - first;
        const int lat = std::toupper(static_cast<unsigned char>(locator[2 * pair + 1])) - first;
        if (lon < 0 || lon >= count || lat < 0 || lat >= count) {
            return std::nullopt;
        }
        lonSize /= count;
        latSize /= count;
        corner.longitude += lon * lonSize;
        corner.latitude += lat * latSize;
    }
    return Position{corner.latitude + latSize / 2, corner.longitude + lonSize / 2};
}

std::string LocatorOf(const Position& position, int characters) {
    if (!OnGlobe(position) || characters < 2 || characters > kLongestLocator ||
        characters % 2 != 0) {
        return {};
    }
    // The north pole and the date line belong to the last cell.
    double lon = std::min(position.longitude + 180, 360 - 1e-9);
    double lat = std::min(position.latitude + 90, 180 - 1e-9);
    double lonSize = 360;
    double latSize = 180;
    std::string locator;
    for (int pair = 0; pair < characters / 2; ++pair) {
        const auto [first, count] = kPairs[pair];
        lonSize /= count;
        latSize /= count;
        const int lonIndex = std::min(count - 1, static_cast<int>(lon / lonSize));
        const int latIndex = std::min(count - 1, static_cast<int>(lat / latSize));
        lon -= lonIndex * lonSize;
        lat -= latIndex * latSize;
        const bool lower = pair >= 2 && first == 'A'; // subsquares are written in lower case
        locator += static_cast<char>((lower ? 'a' : first) + lonIndex);
        locator += static_cast<char>((lower ? 'a' : first) + latIndex);
    }
    return locator;
}

PositionText ParsePosition(const std::string& text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos) {
        const std::size_t length = text.size();
        if (length != 4 && length != 6 && length != 8 && length != 10) {
            return {std::nullopt, "\"" + text +
                                      "\" is neither a locator of 4, 6, 8 or 10 characters nor "
                                      "a latitude and longitude such as 48.86,2.37"};
        }
        const auto centre = LocatorCentre(text);
        if (!centre) {
            return {std::nullopt, "\"" + text +
                                      "\" is not a Maidenhead locator (letters A-R, digits, "
                                      "letters A-X, digits, letters A-X)"};
        }
        return {centre, {}};
    }
    const auto latitude = Number(text.substr(0, comma));
    const auto longitude = Number(text.substr(comma + 1));
    if (!latitude || !longitude) {
        return {std::nullopt, "\"" + text + "\" is not a latitude and longitude in degrees such " +
                                  "as 48.86,2.37"};
    }
    if (std::abs(*latitude) > 90) {
        return {std::nullopt,
                "latitude " + text.substr(0, comma) + " lies outside -90 to 90 degrees"};
    }
    if (std::abs(*longitude) > 180) {
        return {std::nullopt,
                "longitude " + text.substr(comma + 1) + " lies outside -180 to 180 degrees"};
    }
    return {Position{*latitude, *longitude}, {}};
}

GreatCircle PathBetween(const Position& from, const Position& to) {
    const double lat1 = Radians(from.latitude);
    const double lat2 = Radians(to.latitude);
    const double dLon = Radians(to.longitude - from.longitude);
    const double dLat = lat2 - lat1;
    // Haversine: well conditioned for short paths as for long ones.
    const double h = std::pow(std::sin(dLat / 2), 2) +
                     std::cos(lat1) * std::cos(lat2) * std::pow(std::sin(dLon / 2), 2);
    GreatCircle path;
    path.distanceKm = 2 * kEarthRadiusKm * std::asin(std::min(1.0, std::sqrt(h)));
    const double bearing = Degrees(std::atan2(
        std::sin(dLon) * std::cos(lat2),
        std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLon)));
    path.bearingDeg = std::fmod(bearing + 360, 360);
    const double bx = std::cos(lat2) * std::cos(dLon);
    const double by = std::cos(lat2) * std::sin(dLon);
    const double midLat =
        std::atan2(std::sin(lat1) + std::sin(lat2), std::hypot(std::cos(lat1) + bx, by));
    const double midLon = Radians(from.longitude) + std::atan2(by, std::cos(lat1) + bx);
    path.midpoint = {Degrees(midLat), std::remainder(Degrees(midLon), 360.0)};
    path.midpointLocator = LocatorOf(path.midpoint, 6);
    return path;
}

std::vector<Position> GreatCirclePoints(const Position& from, const Position& to, int segments) {
    struct Vector {
        double x, y, z;
    };
    const auto unit = [](const Position& p) {
        const double lat = Radians(p.latitude);
        const double lon = Radians(p.longitude);
        return Vector{std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
    };
    const Vector a = unit(from);
    const Vector b = unit(to);
    const double dot = std::clamp(a.x * b.x + a.y * b.y + a.z * b.z, -1.0, 1.0);
    const double angle = std::acos(dot);
    // The unit vector at right angles to a in the plane of the path; between antipodes the plane
    // is not fixed by the ends, and the meridian of `from` is taken.
    Vector normal{b.x - dot * a.x, b.y - dot * a.y, b.z - dot * a.z};
    double length = std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
    constexpr double kParallel = 1e-12;
    if (length < kParallel && dot < 0) {
        const double lat = Radians(from.latitude);
        const double lon = Radians(from.longitude);
        normal = {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)};
        length = 1;
    }
    std::vector<Position> points;
    const int count = std::max(1, segments);
    points.reserve(count + 1);
    for (int i = 0; i <= count; ++i) {
        const double along = angle * i / count;
        const double c = std::cos(along);
        const double s = length < kParallel ? 0 : std::sin(along) / length;
        const Vector p{c * a.x + s * normal.x, c * a.y + s * normal.y, c * a.z + s * normal.z};
        points.push_back(
            {Degrees(std::atan2(p.z, std::hypot(p.x, p.y))), Degrees(std::atan2(p.y, p.x))});
    }
    // The ends exactly as given (a longitude of 180 stays 180, not -180).
    points.front() = from;
    points.back() = to;
    return points;
}

} // namespace geo
