#pragma once

// The collector's picture of a day: a world map on an equirectangular projection (Natural
// Earth's land from world-atlas, drawn with QPainter into a QImage) with the path of each sweep
// of the last hour drawn from the sounder to the station and its midpoint coloured by foF2, a
// colour scale, and the table of the stations heard from that day.

#include "geo/position.h"
#include "network/payload.h"

#include <QDate>
#include <QImage>
#include <QJsonObject>
#include <QPointF>
#include <QPolygonF>
#include <map>
#include <vector>

namespace network {

constexpr int kMapWidth = 1440; // 4 pixels a degree
constexpr int kMapHeight = 720;
constexpr double kFof2LowMhz = 2; // the colour scale's ends
constexpr double kFof2HighMhz = 14;

// The land's rings (longitude, latitude in degrees) decoded from TopoJSON text; none when the
// text is not a topology with an object "land".
std::vector<QPolygonF> LandRings(const QByteArray& topoJson);

// A position's pixel on the map of the given size: longitude -180..180 left to right, latitude
// 90..-90 top to bottom.
QPointF MapPoint(double latitude, double longitude, int width = kMapWidth, int height = kMapHeight);

// foF2's colour on the scale from kFof2LowMhz (blue) to kFof2HighMhz (red).
QColor Fof2Colour(double fof2Mhz);

struct StationTally {
    QString locator;
    int sweeps = 0;
    QDateTime last;
};

// What the map of a day shows, gathered sweep by sweep so that the collector never reads its day
// file back to draw: each path's latest sweep with a trace, and the stations heard from.
struct NetworkPicture {
    QDate day;
    QDateTime latest;                         // the latest sweep start: the hour drawn ends here
    std::map<QString, ScaledRecord> paths;    // by station and sounder
    std::map<QString, StationTally> stations; // by callsign
};

// Adds a sweep (all its traces), or a row of a day file (a row of trace 2 or more adds nothing:
// its sweep came with trace 1).
void AddSweep(NetworkPicture& picture, const ScaledRecord& record);
NetworkPicture PictureOf(const std::vector<ScaledRecord>& rows, const QDate& dayUtc);

// A sweep's path as drawn: the great circle from the station to the sounder (the sounder where
// the message gives its position, else the station reflected through the midpoint), a point
// about every two degrees; none when the station's locator or the midpoint is not known.
std::vector<geo::Position> PathLine(const ScaledRecord& record);

struct DrawnPath {
    const ScaledRecord* record; // in the picture
    std::vector<geo::Position> line;
};
// The paths a map shows: each path's latest sweep with a trace, started within the hour before
// the picture's latest sweep, whose line is known.
std::vector<DrawnPath> RecentPaths(const NetworkPicture& picture);

QImage DrawNetworkMap(const NetworkPicture& picture);

// The map as the web view serves it (docs/api.md, GET /api/network): the recent paths, each with
// its line, its midpoint's foF2 and MOF and its age at nowUtc, and the stations heard from.
QJsonObject NetworkMapJson(const NetworkPicture& picture, const QDateTime& nowUtc);
// The land under the map as {"rings": [[[lon, lat], ...], ...]}, to a hundredth of a degree;
// made once.
QByteArray LandJson();

} // namespace network
