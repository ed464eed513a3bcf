#include "network/networkmap.h"

#include "geo/position.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QPainterPath>
#include <array>
#include <cmath>
#include <map>

static void LoadMapResources() {
    Q_INIT_RESOURCE(network);
}

namespace network {

namespace {

constexpr int kTableHeight = 260;
constexpr int kMargin = 12;
constexpr double kDegreesPerSegment = 2; // a path's line has a point about every two degrees
constexpr double kDegree = M_PI / 180;
constexpr int kLastHourS = 3600;
constexpr double kHalfTurn = 180;
constexpr int kTableColumns = 4;
constexpr int kLineHeight = 18;
constexpr int kDotRadius = 5;
constexpr int kScaleWidth = 300;
constexpr int kScaleHeight = 14;

// The sounder's end of a path whose sounder position is not known (a day file's row): the station
// reflected through the midpoint on the great circle.
geo::Position FarEnd(const geo::Position& station, const geo::Position& midpoint) {
    const auto unit = [](const geo::Position& p) {
        return std::array{std::cos(p.latitude * kDegree) * std::cos(p.longitude * kDegree),
                          std::cos(p.latitude * kDegree) * std::sin(p.longitude * kDegree),
                          std::sin(p.latitude * kDegree)};
    };
    const auto s = unit(station);
    const auto m = unit(midpoint);
    const double dot = s[0] * m[0] + s[1] * m[1] + s[2] * m[2];
    const std::array far{2 * dot * m[0] - s[0], 2 * dot * m[1] - s[1], 2 * dot * m[2] - s[2]};
    return {std::atan2(far[2], std::hypot(far[0], far[1])) / kDegree,
            std::atan2(far[1], far[0]) / kDegree};
}

// Draws a line of positions, broken where it crosses the map's edge.
void DrawGeoLine(QPainter& painter, const std::vector<geo::Position>& line, int width, int height) {
    QPolygonF part;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (i > 0 && std::abs(line[i].longitude - line[i - 1].longitude) > kHalfTurn) {
            painter.drawPolyline(part);
            part.clear();
        }
        part << MapPoint(line[i].latitude, line[i].longitude, width, height);
    }
    painter.drawPolyline(part);
}

// Natural Earth's land at 1:110 million, decoded once.
const std::vector<QPolygonF>& Land() {
    static const std::vector<QPolygonF> land = [] {
        LoadMapResources();
        QFile file(QStringLiteral(":/network/land-110m.json"));
        return file.open(QIODevice::ReadOnly) ? LandRings(file.readAll())
                                              : std::vector<QPolygonF>();
    }();
    return land;
}

// A coordinate to a hundredth of a degree (about a kilometre), so that the JSON stays small.
double Hundredths(double degrees) {
    constexpr double kHundred = 100;
    return std::round(degrees * kHundred) / kHundred;
}

// A measured value, or null when the sweep did not give it.
QJsonValue Measured(double value) {
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

} // namespace

std::vector<QPolygonF> LandRings(const QByteArray& topoJson) {
    const QJsonObject topology = QJsonDocument::fromJson(topoJson).object();
    const QJsonArray scale = topology.value(QLatin1String("transform"))
                                 .toObject()
                                 .value(QLatin1String("scale"))
                                 .toArray();
    const QJsonArray translate = topology.value(QLatin1String("transform"))
                                     .toObject()
                                     .value(QLatin1String("translate"))
                                     .toArray();
    const bool quantized = scale.size() == 2 && translate.size() == 2;
    std::vector<QPolygonF> arcs;
    for (const QJsonValue& arcValue : topology.value(QLatin1String("arcs")).toArray()) {
        QPolygonF arc;
        double x = 0;
        double y = 0;
        for (const QJsonValue& pointValue : arcValue.toArray()) {
            const QJsonArray point = pointValue.toArray();
            if (quantized) {
                x += point.at(0).toDouble();
                y += point.at(1).toDouble();
                arc << QPointF(x * scale.at(0).toDouble() + translate.at(0).toDouble(),
                               y * scale.at(1).toDouble() + translate.at(1).toDouble());
            } else {
                arc << QPointF(point.at(0).toDouble(), point.at(1).toDouble());
            }
        }
        arcs.push_back(arc);
    }
    std::vector<QPolygonF> rings;
    const QJsonObject land =
        topology.value(QLatin1String("objects")).toObject().value(QLatin1String("land")).toObject();
    const auto addRing = [&](const QJsonArray& indices) {
        QPolygonF ring;
        for (const QJsonValue& indexValue : indices) {
            const int index = indexValue.toInt();
            const int arcIndex = index < 0 ? ~index : index;
            if (arcIndex >= static_cast<int>(arcs.size())) {
                continue;
            }
            QPolygonF arc = arcs[arcIndex];
            if (index < 0) {
                std::reverse(arc.begin(), arc.end());
            }
            ring += ring.isEmpty() ? arc : arc.mid(1);
        }
        rings.push_back(ring);
    };
    const auto addGeometry = [&](const QJsonObject& geometry) {
        const QString type = geometry.value(QLatin1String("type")).toString();
        const QJsonArray polygons = geometry.value(QLatin1String("arcs")).toArray();
        if (type == QLatin1String("Polygon")) {
            for (const QJsonValue& ring : polygons) {
                addRing(ring.toArray());
            }
        } else if (type == QLatin1String("MultiPolygon")) {
            for (const QJsonValue& polygon : polygons) {
                for (const QJsonValue& ring : polygon.toArray()) {
                    addRing(ring.toArray());
                }
            }
        }
    };
    if (land.value(QLatin1String("type")).toString() == QLatin1String("GeometryCollection")) {
        for (const QJsonValue& geometry : land.value(QLatin1String("geometries")).toArray()) {
            addGeometry(geometry.toObject());
        }
    } else {
        addGeometry(land);
    }
    return rings;
}

QPointF MapPoint(double latitude, double longitude, int width, int height) {
    return {(longitude + kHalfTurn) / (2 * kHalfTurn) * width,
            (kHalfTurn / 2 - latitude) / kHalfTurn * height};
}

QColor Fof2Colour(double fof2Mhz) {
    const double share =
        std::clamp((fof2Mhz - kFof2LowMhz) / (kFof2HighMhz - kFof2LowMhz), 0.0, 1.0);
    // Blue through green and yellow to red.
    constexpr double kBlueHue = 240;
    return QColor::fromHsvF(static_cast<float>((1 - share) * kBlueHue / 360), 0.9f, 0.95f);
}

void AddSweep(NetworkPicture& picture, const ScaledRecord& record) {
    const bool first = record.traces.empty() || record.traces.front().trace <= 1;
    if (!first) {
        return; // a later trace's row of a sweep already counted
    }
    picture.latest = std::max(picture.latest, record.sweepStartUtc);
    StationTally& tally = picture.stations[record.station];
    tally.locator = record.locator;
    tally.last = std::max(tally.last, record.sweepStartUtc);
    ++tally.sweeps;
    if (record.traces.empty()) {
        return;
    }
    const QString path = record.station + u'\n' + record.sounder;
    const auto kept = picture.paths.find(path);
    if (kept == picture.paths.end()) {
        picture.paths.emplace(path, record);
    } else if (kept->second.sweepStartUtc < record.sweepStartUtc) {
        kept->second = record;
    }
}

NetworkPicture PictureOf(const std::vector<ScaledRecord>& rows, const QDate& dayUtc) {
    NetworkPicture picture;
    picture.day = dayUtc;
    for (const ScaledRecord& row : rows) {
        AddSweep(picture, row);
    }
    return picture;
}

std::vector<geo::Position> PathLine(const ScaledRecord& record) {
    const auto station = geo::LocatorCentre(record.locator.toStdString());
    if (!station || record.traces.empty() || !std::isfinite(record.traces.front().midpointLat) ||
        !std::isfinite(record.traces.front().midpointLon)) {
        return {};
    }
    const geo::Position midpoint{record.traces.front().midpointLat,
                                 record.traces.front().midpointLon};
    const geo::Position sounder =
        std::isfinite(record.sounderLat) && std::isfinite(record.sounderLon)
            ? geo::Position{record.sounderLat, record.sounderLon}
            : FarEnd(*station, midpoint);
    const double lengthDeg =
        geo::PathBetween(*station, sounder).distanceKm / (geo::kEarthRadiusKm * kDegree);
    return geo::GreatCirclePoints(
        *station, sounder,
        std::max(1, static_cast<int>(std::ceil(lengthDeg / kDegreesPerSegment))));
}

std::vector<DrawnPath> RecentPaths(const NetworkPicture& picture) {
    std::vector<DrawnPath> paths;
    for (const auto& [key, row] : picture.paths) {
        if (row.sweepStartUtc.secsTo(picture.latest) > kLastHourS) {
            continue;
        }
        std::vector<geo::Position> line = PathLine(row);
        if (!line.empty()) {
            paths.push_back({&row, std::move(line)});
        }
    }
    return paths;
}

QImage DrawNetworkMap(const NetworkPicture& picture) {
    const std::vector<QPolygonF>& land = Land();
    QImage image(kMapWidth, kMapHeight + kTableHeight, QImage::Format_RGB32);
    image.fill(QColor(0xf4, 0xf6, 0xf8));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRect(0, 0, kMapWidth, kMapHeight), QColor(0xdd, 0xe8, 0xf2));
    painter.setPen(QPen(QColor(0x8a, 0x9a, 0x8a), 0.8));
    painter.setBrush(QColor(0xee, 0xec, 0xe2));
    for (const QPolygonF& ring : land) {
        // A ring that crosses the antimeridian (±180°) is unwrapped and drawn once on each side.
        QPolygonF unwrapped;
        double shift = 0;
        for (int i = 0; i < ring.size(); ++i) {
            if (i > 0) {
                const double step = ring[i].x() - ring[i - 1].x();
                shift += step > kHalfTurn ? -2 * kHalfTurn : step < -kHalfTurn ? 2 * kHalfTurn : 0;
            }
            unwrapped << QPointF(ring[i].x() + shift, ring[i].y());
        }
        for (const double offset : {-2 * kHalfTurn, 0.0, 2 * kHalfTurn}) {
            QPolygonF pixels;
            for (const QPointF& point : unwrapped) {
                pixels << MapPoint(point.y(), point.x() + offset);
            }
            painter.drawPolygon(pixels);
        }
    }
    // Graticule every 30°.
    painter.setPen(QPen(QColor(0xb8, 0xc4, 0xd0), 0.5, Qt::DotLine));
    constexpr int kGraticuleDeg = 30;
    for (int lon = -180; lon <= 180; lon += kGraticuleDeg) {
        painter.drawLine(MapPoint(90, lon), MapPoint(-90, lon));
    }
    for (int lat = -60; lat <= 60; lat += kGraticuleDeg) {
        painter.drawLine(MapPoint(lat, -180), MapPoint(lat, 180));
    }

    const QDateTime& latest = picture.latest;
    const QDate& dayUtc = picture.day;
    const std::map<QString, StationTally>& stations = picture.stations;
    // The paths first, their midpoints over them.
    std::vector<std::pair<QPointF, double>> midpoints;
    painter.setBrush(Qt::NoBrush);
    for (const DrawnPath& path : RecentPaths(picture)) {
        const TraceRecord& trace = path.record->traces.front();
        if (!std::isfinite(trace.fof2Mhz)) {
            continue;
        }
        QColor colour = Fof2Colour(trace.fof2Mhz);
        colour.setAlpha(90);
        painter.setPen(QPen(colour, 1.0));
        DrawGeoLine(painter, path.line, kMapWidth, kMapHeight);
        midpoints.emplace_back(MapPoint(trace.midpointLat, trace.midpointLon), trace.fof2Mhz);
    }
    painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 0.6));
    for (const auto& [point, fof2] : midpoints) {
        painter.setBrush(Fof2Colour(fof2));
        painter.drawEllipse(point, kDotRadius, kDotRadius);
    }

    // Title, colour scale and the table of stations.
    painter.setPen(Qt::black);
    QFont font = painter.font();
    font.setPixelSize(14);
    painter.setFont(font);
    const int top = kMapHeight + kMargin;
    painter.drawText(
        QPoint(kMargin, top + kLineHeight - 4),
        QStringLiteral("Tavmirok network %1 UTC: each path's last sweep and foF2 at its "
                       "midpoint in the hour to %2; %3 station(s) heard from")
            .arg(dayUtc.toString(Qt::ISODate), latest.isValid()
                                                   ? latest.toString(QStringLiteral("HH:mm"))
                                                   : QStringLiteral("--:--"))
            .arg(stations.size()));
    constexpr int kScaleLabelRoom = 110;
    const int scaleLeft = kMapWidth - kScaleWidth - kScaleLabelRoom;
    for (int x = 0; x < kScaleWidth; ++x) {
        painter.setPen(
            Fof2Colour(kFof2LowMhz + (kFof2HighMhz - kFof2LowMhz) * x / (kScaleWidth - 1)));
        painter.drawLine(scaleLeft + x, top, scaleLeft + x, top + kScaleHeight);
    }
    painter.setPen(Qt::black);
    painter.drawText(QPoint(scaleLeft - 3 * kMargin, top + kScaleHeight - 2),
                     QString::number(kFof2LowMhz));
    painter.drawText(QPoint(scaleLeft + kScaleWidth + 4, top + kScaleHeight - 2),
                     QStringLiteral("%1 MHz foF2").arg(kFof2HighMhz));
    font.setPixelSize(12);
    painter.setFont(font);
    const int tableTop = top + 2 * kLineHeight + 4;
    const int rowsPerColumn = (kTableHeight - 3 * kLineHeight - kMargin) / kLineHeight;
    const int columnWidth = (kMapWidth - 2 * kMargin) / kTableColumns;
    int index = 0;
    const int room = rowsPerColumn * kTableColumns;
    for (const auto& [name, heard] : stations) {
        if (index == room - 1 && static_cast<int>(stations.size()) > room) {
            painter.drawText(
                QPoint(kMargin + (index / rowsPerColumn) * columnWidth,
                       tableTop + (index % rowsPerColumn) * kLineHeight),
                QStringLiteral("... and %1 more").arg(static_cast<int>(stations.size()) - index));
            break;
        }
        painter.drawText(QPoint(kMargin + (index / rowsPerColumn) * columnWidth,
                                tableTop + (index % rowsPerColumn) * kLineHeight),
                         QStringLiteral("%1  %2  %3 sweeps, last %4")
                             .arg(name, heard.locator)
                             .arg(heard.sweeps)
                             .arg(heard.last.toString(QStringLiteral("HH:mm"))));
        ++index;
    }
    painter.end();
    return image;
}

QJsonObject NetworkMapJson(const NetworkPicture& picture, const QDateTime& nowUtc) {
    QJsonArray paths;
    for (const DrawnPath& path : RecentPaths(picture)) {
        const ScaledRecord& row = *path.record;
        const TraceRecord& trace = row.traces.front();
        QJsonArray line;
        for (const geo::Position& point : path.line) {
            line.append(QJsonArray{Hundredths(point.latitude), Hundredths(point.longitude)});
        }
        paths.append(QJsonObject{
            {"station", row.station},
            {"locator", row.locator},
            {"sounder", row.sounder},
            {"sweep_start_utc", UtcText(row.sweepStartUtc)},
            {"age_s", row.sweepStartUtc.secsTo(nowUtc)},
            {"mode", trace.mode},
            {"mof_khz", Measured(trace.mofKhz)},
            {"fof2_mhz", Measured(trace.fof2Mhz)},
            {"midpoint_lat", trace.midpointLat},
            {"midpoint_lon", trace.midpointLon},
            {"line", line},
        });
    }
    QJsonArray stations;
    for (const auto& [name, tally] : picture.stations) {
        stations.append(QJsonObject{{"station", name},
                                    {"locator", tally.locator},
                                    {"sweeps", tally.sweeps},
                                    {"last_utc", UtcText(tally.last)}});
    }
    return {{"day", picture.day.toString(Qt::ISODate)},
            {"latest_utc",
             picture.latest.isValid() ? QJsonValue(UtcText(picture.latest)) : QJsonValue()},
            {"fof2_scale_mhz", QJsonArray{kFof2LowMhz, kFof2HighMhz}},
            {"paths", paths},
            {"stations", stations}};
}

QByteArray LandJson() {
    static const QByteArray json = [] {
        QJsonArray rings;
        for (const QPolygonF& ring : Land()) {
            QJsonArray points;
            for (const QPointF& point : ring) {
                points.append(QJsonArray{Hundredths(point.x()), Hundredths(point.y())});
            }
            rings.append(points);
        }
        return QJsonDocument(QJsonObject{{"rings", rings}}).toJson(QJsonDocument::Compact);
    }();
    return json;
}

} // namespace network
