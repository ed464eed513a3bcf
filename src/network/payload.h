#pragma once

// The JSON of the messages a station publishes (docs/network.md names every field and unit) and
// its reading back by a collector. The scaled message uses the day file's column names. A value
// the sweep does not give (no path known, a trace that says nothing of the layer) is left out.
// Pure functions of plain values.

#include "station/stationfeed.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cmath>
#include <optional>
#include <vector>

namespace network {

constexpr int kPayloadVersion = 1;

struct StationIdentity {
    QString callsign;
    QString locator; // 6 characters, "" when the station's position is unknown
};

// One scaled sweep, without queued_s (added as it leaves: WithQueuedSeconds).
QByteArray ScaledPayload(const feed::Scaled& scaled, const StationIdentity& station);
// The message as it leaves: queued_s set to the seconds it waited.
QByteArray WithQueuedSeconds(const QByteArray& payload, double seconds);

// The retained status: online, what the station follows and since when; the last will is the
// same with online false and nothing followed.
QByteArray StatusPayload(const StationIdentity& station, const QStringList& following,
                         const QDateTime& sinceUtc, bool online);
QByteArray HeardPayload(const StationIdentity& station, const std::vector<feed::HeardOn>& heard);

// A scaled message as a collector reads it; NaN where the message leaves a value out.
struct TraceRecord {
    int trace = 0;
    QString mode;
    double lofKhz = std::nan("");
    double mofKhz = std::nan("");
    double minDelayMs = std::nan("");
    double peakSnrDb = std::nan("");
    double distanceKm = std::nan("");
    double midpointLat = std::nan("");
    double midpointLon = std::nan("");
    double fof2Mhz = std::nan("");
    double md = std::nan("");
    double mufdMhz = std::nan("");
};

struct ScaledRecord {
    QString station;
    QString locator;
    QString sounder;
    QDateTime sweepStartUtc;
    double sounderLat = std::nan("");
    double sounderLon = std::nan("");
    double queuedS = 0;
    std::vector<TraceRecord> traces;
};

// The message read, or none with *error naming what is missing or malformed.
std::optional<ScaledRecord> ParseScaledPayload(const QByteArray& payload, QString* error);

// "2026-12-07T19:04:20Z": whole seconds, UTC.
QString UtcText(const QDateTime& time);

} // namespace network
