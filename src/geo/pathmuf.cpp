#include "geo/pathmuf.h"

#include "geo/obliquepath.h"

#include <cmath>

namespace geo {

namespace {

constexpr double kLongestHopKm = 4000;

} // namespace

PathMuf MufForPath(const std::optional<Position>& station, const AskedPath& asked,
                   const std::vector<MidpointReading>& readings) {
    PathMuf muf;
    std::optional<GreatCircle> askedPath;
    if (asked.to) {
        if (!station) {
            return muf;
        }
        askedPath = PathBetween(*station, *asked.to);
        muf.distanceKm = askedPath->distanceKm;
    } else {
        muf.distanceKm = asked.distanceKm;
    }
    for (int i = 0; i < int(readings.size()); ++i) {
        const GreatCircle& path = readings[i].path;
        // A length alone runs along the reading's own great circle, whose midpoint lies
        // half the difference of the two lengths away.
        const double offset = askedPath ? PathBetween(path.midpoint, askedPath->midpoint).distanceKm
                                        : std::abs(muf.distanceKm - path.distanceKm) / 2;
        if (muf.reading < 0 || offset < muf.midpointOffsetKm) {
            muf.reading = i;
            muf.midpointOffsetKm = offset;
        }
    }
    if (muf.reading < 0 || !(muf.distanceKm > 0)) {
        muf.reading = -1;
        return muf;
    }
    const MidpointReading& reading = readings[muf.reading];
    muf.hops = std::max(1, int(std::ceil(muf.distanceKm / kLongestHopKm)));
    muf.mufKhz = P533F2MufKhz({reading.foF2Khz, reading.m3000}, muf.distanceKm / muf.hops);
    muf.applies = muf.midpointOffsetKm <= kFarthestMidpointKm;
    return muf;
}

} // namespace geo
