#include "network/payload.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace network {

namespace {

constexpr int kKhzDecimals = 1;
constexpr int kMsDecimals = 3;
constexpr int kDbDecimals = 1;
constexpr int kKmDecimals = 1;
constexpr int kDegreeDecimals = 4;
constexpr int kMhzDecimals = 2;
constexpr int kFactorDecimals = 2;
constexpr int kSecondDecimals = 1;
constexpr double kKhzPerMhz = 1000;

double Rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

void PutIfFinite(QJsonObject& object, const char* key, double value, int decimals) {
    if (std::isfinite(value)) {
        object.insert(QLatin1String(key), Rounded(value, decimals));
    }
}

QJsonObject Header(const StationIdentity& station) {
    QJsonObject object;
    object.insert(QStringLiteral("version"), kPayloadVersion);
    object.insert(QStringLiteral("station"), station.callsign);
    if (!station.locator.isEmpty()) {
        object.insert(QStringLiteral("locator"), station.locator);
    }
    return object;
}

QByteArray Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

double NumberOr(const QJsonObject& object, const char* key) {
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isDouble() ? value.toDouble() : std::nan("");
}

} // namespace

QString UtcText(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
}

QByteArray ScaledPayload(const feed::Scaled& scaled, const StationIdentity& station) {
    QJsonObject message = Header(station);
    message.insert(QStringLiteral("sweep_start_utc"),
                   scaled.sweep ? UtcText(scaled.sweep->startUtc) : UtcText(scaled.scaledUtc));
    QJsonObject sounder;
    sounder.insert(QStringLiteral("name"), scaled.sounder.name);
    PutIfFinite(sounder, "rate_khz_s", scaled.sounder.rateKhzPerS, kKhzDecimals);
    PutIfFinite(sounder, "period_s", scaled.sounder.periodS, kSecondDecimals);
    PutIfFinite(sounder, "chirp_time_s", scaled.sounder.chirpTimeS, kMsDecimals);
    if (scaled.sounder.at) {
        PutIfFinite(sounder, "lat", scaled.sounder.at->latitude, kDegreeDecimals);
        PutIfFinite(sounder, "lon", scaled.sounder.at->longitude, kDegreeDecimals);
    }
    message.insert(QStringLiteral("sounder"), sounder);
    const auto& geometry = scaled.scaled.geometry;
    QJsonArray traces;
    for (std::size_t i = 0; i < scaled.scaled.traces.size(); ++i) {
        const ionogram::ScaledTrace& trace = scaled.scaled.traces[i];
        QJsonObject entry;
        entry.insert(QStringLiteral("trace"), trace.number);
        const geo::PathLayer* layer =
            geometry && i < geometry->layers.size() && geometry->layers[i].error.empty()
                ? &geometry->layers[i]
                : nullptr;
        if (layer) {
            entry.insert(QStringLiteral("mode"), QString::fromStdString(layer->mode));
        }
        PutIfFinite(entry, "lof_khz", trace.lofKhz, kKhzDecimals);
        PutIfFinite(entry, "mof_khz", trace.mofKhz, kKhzDecimals);
        PutIfFinite(entry, "min_delay_ms", trace.minDelayMs, kMsDecimals);
        PutIfFinite(entry, "peak_snr_db", trace.peakSnrDb, kDbDecimals);
        if (geometry) {
            PutIfFinite(entry, "distance_km", geometry->path.distanceKm, kKmDecimals);
            PutIfFinite(entry, "midpoint_lat", geometry->path.midpoint.latitude, kDegreeDecimals);
            PutIfFinite(entry, "midpoint_lon", geometry->path.midpoint.longitude, kDegreeDecimals);
        }
        if (layer) {
            PutIfFinite(entry, "fof2_mhz", layer->criticalKhz / kKhzPerMhz, kMhzDecimals);
            if (layer->m3000 > 0) {
                PutIfFinite(entry, "md", layer->m3000, kFactorDecimals);
                PutIfFinite(entry, "mufd_mhz", layer->muf3000Khz / kKhzPerMhz, kMhzDecimals);
            }
        }
        traces.append(entry);
    }
    message.insert(QStringLiteral("traces"), traces);
    return Compact(message);
}

QByteArray WithQueuedSeconds(const QByteArray& payload, double seconds) {
    QJsonObject message = QJsonDocument::fromJson(payload).object();
    message.insert(QStringLiteral("queued_s"), Rounded(std::max(0.0, seconds), kSecondDecimals));
    return Compact(message);
}

QByteArray StatusPayload(const StationIdentity& station, const QStringList& following,
                         const QDateTime& sinceUtc, bool online) {
    QJsonObject message = Header(station);
    message.insert(QStringLiteral("online"), online);
    if (online) {
        message.insert(QStringLiteral("following"), QJsonArray::fromStringList(following));
        message.insert(QStringLiteral("since_utc"), UtcText(sinceUtc));
    }
    return Compact(message);
}

QByteArray HeardPayload(const StationIdentity& station, const std::vector<feed::HeardOn>& heard) {
    QJsonObject message = Header(station);
    QJsonArray sounders;
    for (const feed::HeardOn& on : heard) {
        QJsonObject entry;
        PutIfFinite(entry, "listen_khz", on.listenKhz, kKhzDecimals);
        PutIfFinite(entry, "rate_khz_s", on.sounder.rateKhzPerS, kKhzDecimals);
        if (on.sounder.periodS > 0) {
            PutIfFinite(entry, "period_s", on.sounder.periodS, kSecondDecimals);
        }
        PutIfFinite(entry, "chirp_time_s", on.sounder.chirpTimeS, kMsDecimals);
        entry.insert(QStringLiteral("heard"), on.sounder.heard);
        PutIfFinite(entry, "snr_db", on.sounder.snrDb, kDbDecimals);
        entry.insert(QStringLiteral("last_heard_utc"),
                     UtcText(QDateTime::fromMSecsSinceEpoch(
                         static_cast<qint64>(on.sounder.lastHeard * 1000), Qt::UTC)));
        entry.insert(QStringLiteral("confirmed"), on.sounder.confirmed);
        sounders.append(entry);
    }
    message.insert(QStringLiteral("heard"), sounders);
    return Compact(message);
}

std::optional<ScaledRecord> ParseScaledPayload(const QByteArray& payload, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (!document.isObject()) {
        *error = QStringLiteral("not a JSON object (%1)").arg(parseError.errorString());
        return std::nullopt;
    }
    const QJsonObject message = document.object();
    if (message.value(QLatin1String("version")).toInt() != kPayloadVersion) {
        *error = QStringLiteral("version %1 is not read here")
                     .arg(message.value(QLatin1String("version")).toVariant().toString());
        return std::nullopt;
    }
    ScaledRecord record;
    record.station = message.value(QLatin1String("station")).toString();
    record.locator = message.value(QLatin1String("locator")).toString();
    const QJsonObject sounder = message.value(QLatin1String("sounder")).toObject();
    record.sounder = sounder.value(QLatin1String("name")).toString();
    record.sounderLat = NumberOr(sounder, "lat");
    record.sounderLon = NumberOr(sounder, "lon");
    record.sweepStartUtc = QDateTime::fromString(
        message.value(QLatin1String("sweep_start_utc")).toString(), Qt::ISODate);
    record.queuedS = message.value(QLatin1String("queued_s")).toDouble();
    if (record.station.isEmpty() || record.sounder.isEmpty() || !record.sweepStartUtc.isValid() ||
        !message.value(QLatin1String("traces")).isArray()) {
        *error = QStringLiteral("station, sounder name, sweep_start_utc or traces missing");
        return std::nullopt;
    }
    record.sweepStartUtc = record.sweepStartUtc.toUTC();
    for (const QJsonValue& value : message.value(QLatin1String("traces")).toArray()) {
        const QJsonObject entry = value.toObject();
        TraceRecord trace;
        trace.trace = entry.value(QLatin1String("trace")).toInt();
        trace.mode = entry.value(QLatin1String("mode")).toString();
        trace.lofKhz = NumberOr(entry, "lof_khz");
        trace.mofKhz = NumberOr(entry, "mof_khz");
        trace.minDelayMs = NumberOr(entry, "min_delay_ms");
        trace.peakSnrDb = NumberOr(entry, "peak_snr_db");
        trace.distanceKm = NumberOr(entry, "distance_km");
        trace.midpointLat = NumberOr(entry, "midpoint_lat");
        trace.midpointLon = NumberOr(entry, "midpoint_lon");
        trace.fof2Mhz = NumberOr(entry, "fof2_mhz");
        trace.md = NumberOr(entry, "md");
        trace.mufdMhz = NumberOr(entry, "mufd_mhz");
        if (trace.trace < 1) {
            *error = QStringLiteral("a trace without its number");
            return std::nullopt;
        }
        record.traces.push_back(trace);
    }
    return record;
}

} // namespace network
