#pragma once

// The JSON the web face serves, as pure functions of the feed's values and the archive's files:
// the API's answers (docs/api.md gives their shapes) and the events of the live stream. Field
// names and units are part of the API: kApiVersion changes when one does. Times are UTC in
// ISO 8601, frequencies in kHz, delays in ms, SNR in dB; a value not known is null.

#include "ionogram/dayplot.h"
#include "station/stationfeed.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace web {

constexpr int kApiVersion = 1;

// What the status answer tells beside the snapshot.
struct StatusExtras {
    QDateTime nowUtc;
    std::optional<qint64> freeBytes; // of the archive folder's disk; nothing when not saved
    QString programVersion;
};

QJsonObject StatusJson(const feed::Snapshot& snapshot, const StatusExtras& extras);
QJsonObject SoundersJson(const feed::Snapshot& snapshot);
// The sweep being received (or the last) of the sounder named, with its
// scaled traces when it has been scaled; nothing when there is no such sweep. No name: the first.
std::optional<QByteArray> LatestIonogramJson(const feed::Snapshot& snapshot,
                                             const std::optional<QString>& sounder);
// The day file's rows, each an object keyed by the header's column names: numbers as numbers,
// empty fields (and "nan") as null, other text as strings.
QJsonObject ScaledDayJson(const QDate& dayUtc, const QByteArray& dayFileText);
// The sweeps archived on dayUtc among the folder's file names, in order of start.
QJsonObject IonogramsJson(const QDate& dayUtc, const QStringList& fileNames);

// The events of the live stream, each its data object.
QJsonObject SweepStartedJson(const feed::SweepInfo& sweep);
// The column event whole, its cells to a tenth of a dB.
QByteArray ColumnEvent(const feed::Column& column);
QJsonObject ScaledJson(const feed::Scaled& scaled);
QJsonObject HeardJson(const std::vector<feed::HeardOn>& heard);

// One event of a text/event-stream: "event: NAME\ndata: JSON\n\n".
QByteArray StreamEvent(const char* name, const QJsonObject& data);

// "/archive/NAME" for a file the station wrote into its archive folder (a full path).
QString ArchiveUrl(const QString& path);

// The date of a "date" query, today (UTC) when it is absent; nothing when it is not YYYY-MM-DD.
std::optional<QDate> QueryDate(const std::optional<QString>& text, const QDate& todayUtc);

} // namespace web
