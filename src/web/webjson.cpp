#include "web/webjson.h"

#include "ionogram/dayfile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace web {

namespace {

constexpr double kMsPerS = 1000;
constexpr double kSnrStepDb = 0.1; // cells are sent to a tenth of a dB

QJsonValue Number(double value) {
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
}

// A value that is 0 when it is not known.
QJsonValue Known(double value) {
    return value == 0 ? QJsonValue(QJsonValue::Null) : Number(value);
}

QJsonValue Text(const QString& text) {
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

QJsonValue Utc(const QDateTime& time) {
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs))
                          : QJsonValue(QJsonValue::Null);
}

QJsonValue UtcOfEpoch(double epoch) {
    return epoch > 0 ? Utc(QDateTime::fromMSecsSinceEpoch(std::llround(epoch * kMsPerS), Qt::UTC))
                     : QJsonValue(QJsonValue::Null);
}

QJsonValue PositionJson(const std::optional<geo::Position>& at) {
    if (!at) {
        return QJsonValue::Null;
    }
    return QJsonObject{{"lat", at->latitude}, {"lon", at->longitude}};
}

QJsonObject SounderJson(const feed::Sounder& sounder) {
    return {{"name", sounder.name},
            {"rate_khz_per_s", Known(sounder.rateKhzPerS)},
            {"period_s", Known(sounder.periodS)},
            {"chirp_time_s", Number(sounder.chirpTimeS)},
            {"at", PositionJson(sounder.at)}};
}

// A column's cells as JSON text to a tenth of a dB, written here rather than through
// QJsonDocument: a whole sweep is some 100,000 numbers, and Qt's shortest-form formatting of each
// double took most of a page load's time.
void AppendCells(QByteArray* out, const std::vector<float>& snrDb) {
    constexpr double kLargest = 1e6; // far beyond any SNR; keeps the tenths within a long
    out->append('[');
    for (std::size_t i = 0; i < snrDb.size(); ++i) {
        if (i > 0) {
            out->append(',');
        }
        const float snr = snrDb[i];
        if (!std::isfinite(snr)) {
            out->append("null");
            continue;
        }
        const long tenths = std::lround(std::clamp<double>(snr, -kLargest, kLargest) / kSnrStepDb);
        if (tenths < 0) {
            out->append('-');
        }
        const long whole = std::labs(tenths);
        constexpr long kTen = 10;
        out->append(QByteArray::number(static_cast<qlonglong>(whole / kTen)));
        if (whole % kTen != 0) {
            out->append('.');
            out->append(static_cast<char>('0' + whole % kTen));
        }
    }
    out->append(']');
}

// object's JSON with one more field whose value is JSON text already.
QByteArray WithRawField(const QJsonObject& object, const char* name, const QByteArray& raw) {
    QByteArray out = QJsonDocument(object).toJson(QJsonDocument::Compact);
    out.chop(1); // the closing brace
    if (!object.isEmpty()) {
        out.append(',');
    }
    out.append('"').append(name).append("\":").append(raw).append('}');
    return out;
}

QJsonArray TracesJson(const ionogram::ScaledSweep& scaled) {
    QJsonArray traces;
    for (std::size_t i = 0; i < scaled.traces.size(); ++i) {
        const ionogram::ScaledTrace& trace = scaled.traces[i];
        QJsonObject object{{"number", trace.number},
                           {"lof_khz", Number(trace.lofKhz)},
                           {"mof_khz", Number(trace.mofKhz)},
                           {"o_mof_khz", Known(trace.oMofKhz)},
                           {"min_delay_ms", Number(trace.minDelayMs)},
                           {"min_delay_khz", Number(trace.minDelayKhz)},
                           {"peak_snr_db", Number(trace.peakSnrDb)},
                           {"flat", trace.flat},
                           {"mode", QJsonValue::Null},
                           {"hops", QJsonValue::Null},
                           {"fof2_mhz", QJsonValue::Null}};
        if (scaled.geometry && i < scaled.geometry->layers.size() &&
            scaled.geometry->layers[i].error.empty()) {
            const geo::PathLayer& layer = scaled.geometry->layers[i];
            object["mode"] = QString::fromStdString(layer.mode);
            object["hops"] = layer.hops;
            object["fof2_mhz"] = Known(layer.criticalKhz / 1000);
        }
        traces.append(object);
    }
    return traces;
}

QJsonValue FieldJson(const QString& field) {
    if (field.isEmpty() || field.compare(QLatin1String("nan"), Qt::CaseInsensitive) == 0) {
        return QJsonValue::Null;
    }
    bool number = false;
    const double value = field.toDouble(&number);
    return number && std::isfinite(value) ? QJsonValue(value) : QJsonValue(field);
}

} // namespace

QJsonObject StatusJson(const feed::Snapshot& s, const StatusExtras& extras) {
    const double now = extras.nowUtc.toMSecsSinceEpoch() / kMsPerS;
    QJsonArray followed;
    for (const feed::Sounder& sounder : s.followed) {
        followed.append(SounderJson(sounder));
    }
    QJsonArray bands;
    for (const ionogram::AmateurBand& band : ionogram::AmateurBands(s.iaruRegion)) {
        bands.append(
            QJsonObject{{"name", band.name}, {"low_khz", band.lowKhz}, {"high_khz", band.highKhz}});
    }
    return {
        {"version", kApiVersion},
        {"program_version", extras.programVersion},
        {"now_utc", Utc(extras.nowUtc)},
        {"activity", feed::ActivityName(s.activity)},
        {"radio", QJsonObject{{"backend", s.rig.backend},
                              {"endpoint", s.rig.endpoint},
                              {"connected", s.rig.connected},
                              {"reconnecting", s.rig.reconnecting},
                              {"answering", s.rig.answering},
                              {"refusing", s.rig.refusing},
                              {"radio", Text(s.rig.radio)},
                              {"problem", Text(s.rig.problem)}}},
        {"audio", QJsonObject{{"input", Text(s.audioInput)}, {"running", s.audioRunning}}},
        {"next_sweep_utc", UtcOfEpoch(s.nextSweepEpoch)},
        {"next_sweep_in_s", s.nextSweepEpoch > 0 ? QJsonValue(std::max(0.0, s.nextSweepEpoch - now))
                                                 : QJsonValue(QJsonValue::Null)},
        {"running_since_utc", Utc(s.runningSinceUtc)},
        {"uptime_s", s.runningSinceUtc.isValid()
                         ? QJsonValue(static_cast<double>(s.runningSinceUtc.secsTo(extras.nowUtc)))
                         : QJsonValue(QJsonValue::Null)},
        {"archive", QJsonObject{{"saving", !s.archiveFolder.isEmpty()},
                                {"free_bytes", extras.freeBytes ? QJsonValue(static_cast<double>(
                                                                      *extras.freeBytes))
                                                                : QJsonValue(QJsonValue::Null)}}},
        {"iaru_region", s.iaruRegion},
        {"bands", bands},
        {"station_at", PositionJson(s.stationAt)},
        {"followed", followed},
        {"problems", QJsonArray::fromStringList(s.problems)},
    };
}

QJsonObject SoundersJson(const feed::Snapshot& s) {
    QJsonArray followed;
    for (const feed::Sounder& sounder : s.followed) {
        followed.append(SounderJson(sounder));
    }
    return {
        {"version", kApiVersion}, {"followed", followed}, {"heard", HeardJson(s.heard)["heard"]}};
}

std::optional<QByteArray> LatestIonogramJson(const feed::Snapshot& s,
                                             const std::optional<QString>& sounder) {
    for (const auto& sweep : s.ionograms) {
        if (!sweep || (sounder && sweep->sounder != *sounder)) {
            continue;
        }
        QByteArray columns("[");
        for (std::size_t i = 0; i < sweep->frequenciesKhz.size() && i < sweep->snrDb.size(); ++i) {
            if (i > 0) {
                columns.append(',');
            }
            QByteArray cells;
            AppendCells(&cells, sweep->snrDb[i]);
            columns.append(
                WithRawField({{"index", static_cast<int>(i)}, {"khz", sweep->frequenciesKhz[i]}},
                             "snr_db", cells));
        }
        columns.append(']');
        QJsonValue scaled = QJsonValue::Null;
        for (const auto& [name, last] : s.lastScaled) {
            if (last.sweep && last.sweep->sounder == sweep->sounder &&
                last.sweep->startUtc == sweep->startUtc) {
                scaled = ScaledJson(last);
            }
        }
        const int cells = sweep->snrDb.empty() ? 0 : static_cast<int>(sweep->snrDb.front().size());
        return WithRawField(QJsonObject{{"version", kApiVersion},
                                        {"sounder", sweep->sounder},
                                        {"sweep_start_utc", Utc(sweep->startUtc)},
                                        {"cut_short", sweep->cutShort},
                                        {"low_khz", sweep->lowKhz},
                                        {"high_khz", sweep->highKhz},
                                        {"delay_from_ms", sweep->delayFromMs},
                                        {"delay_to_ms", sweep->delayToMs},
                                        {"delay_cells", cells},
                                        {"scaled", scaled}},
                            "columns", columns);
    }
    return std::nullopt;
}

QJsonObject ScaledDayJson(const QDate& dayUtc, const QByteArray& text) {
    QJsonArray rows;
    QStringList names;
    qsizetype pos = 0;
    while (pos < text.size()) {
        const QStringList fields = ionogram::ReadCsvRecord(text, &pos);
        if (fields.size() == 1 && fields[0].isEmpty()) {
            continue;
        }
        if (names.isEmpty()) {
            names = fields;
            continue;
        }
        QJsonObject row;
        for (qsizetype i = 0; i < names.size(); ++i) {
            row[names[i]] = i < fields.size() ? FieldJson(fields[i]) : QJsonValue(QJsonValue::Null);
        }
        // The sounder's field is a name even where it reads as a number.
        if (row.contains("sounder") && fields.size() > names.indexOf("sounder")) {
            row["sounder"] = fields[names.indexOf("sounder")];
        }
        rows.append(row);
    }
    return {{"version", kApiVersion}, {"date", dayUtc.toString(Qt::ISODate)}, {"rows", rows}};
}

QJsonObject IonogramsJson(const QDate& dayUtc, const QStringList& fileNames) {
    // ionogram::ArchiveBaseName: "20261207-101638Z-c78", "...-c78.5", "...-c78-Cyprus".
    static const QRegularExpression kBase(
        QStringLiteral("^(\\d{8}-\\d{6})Z-c[0-9.]+(?:-(.*))?\\.csv\\.gz$"));
    QJsonArray sweeps;
    QStringList names = fileNames;
    names.sort();
    for (const QString& name : names) {
        const QRegularExpressionMatch match = kBase.match(name);
        if (!match.hasMatch()) {
            continue;
        }
        QDateTime start =
            QDateTime::fromString(match.captured(1), QStringLiteral("yyyyMMdd-HHmmss"));
        start.setTimeSpec(Qt::UTC);
        if (!start.isValid() || start.date() != dayUtc) {
            continue;
        }
        const QString png = name.chopped(static_cast<int>(sizeof(".csv.gz") - 1)) + ".png";
        sweeps.append(QJsonObject{{"sweep_start_utc", Utc(start)},
                                  {"sounder", match.captured(2)},
                                  {"png", fileNames.contains(png) ? QJsonValue("/archive/" + png)
                                                                  : QJsonValue(QJsonValue::Null)},
                                  {"csv", "/archive/" + name}});
    }
    return {{"version", kApiVersion}, {"date", dayUtc.toString(Qt::ISODate)}, {"sweeps", sweeps}};
}

QJsonObject SweepStartedJson(const feed::SweepInfo& sweep) {
    return {{"sounder", sweep.sounder},
            {"sweep_start_utc", Utc(sweep.startUtc)},
            {"low_khz", sweep.lowKhz},
            {"high_khz", sweep.highKhz},
            {"delay_from_ms", sweep.delayFromMs},
            {"delay_to_ms", sweep.delayToMs},
            {"delay_cells", sweep.delayCells}};
}

QByteArray ColumnEvent(const feed::Column& column) {
    QByteArray cells;
    AppendCells(&cells, column.snrDb);
    return "event: column\ndata: " +
           WithRawField({{"sounder", column.sounder},
                         {"sweep_start_utc", Utc(column.sweepStartUtc)},
                         {"index", column.index},
                         {"khz", column.khz}},
                        "snr_db", cells) +
           "\n\n";
}

QJsonObject ScaledJson(const feed::Scaled& scaled) {
    return {{"sounder", scaled.sweep ? scaled.sweep->sounder : scaled.sounder.name},
            {"sweep_start_utc", scaled.sweep ? Utc(scaled.sweep->startUtc) : QJsonValue()},
            {"scaled_utc", Utc(scaled.scaledUtc)},
            {"traces", TracesJson(scaled.scaled)}};
}

QJsonObject HeardJson(const std::vector<feed::HeardOn>& heard) {
    QJsonArray list;
    for (const feed::HeardOn& on : heard) {
        const ionogram::HeardSounder& h = on.sounder;
        list.append(QJsonObject{{"listen_khz", on.listenKhz},
                                {"rate_khz_per_s", h.rateKhzPerS},
                                {"period_s", Known(h.periodS)},
                                {"chirp_time_s", Number(h.chirpTimeS)},
                                {"heard", h.heard},
                                {"snr_db", Number(h.snrDb)},
                                {"first_heard_utc", UtcOfEpoch(h.firstHeard)},
                                {"last_heard_utc", UtcOfEpoch(h.lastHeard)},
                                {"confirmed", h.confirmed}});
    }
    return {{"heard", list}};
}

QByteArray StreamEvent(const char* name, const QJsonObject& data) {
    return QByteArray("event: ") + name +
           "\ndata: " + QJsonDocument(data).toJson(QJsonDocument::Compact) + "\n\n";
}

QString ArchiveUrl(const QString& path) {
    return path.isEmpty() ? QString() : QStringLiteral("/archive/") + QFileInfo(path).fileName();
}

std::optional<QDate> QueryDate(const std::optional<QString>& text, const QDate& todayUtc) {
    if (!text) {
        return todayUtc;
    }
    static const QRegularExpression kDate(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    const QDate date = QDate::fromString(*text, Qt::ISODate);
    return kDate.match(*text).hasMatch() && date.isValid() ? std::optional<QDate>(date)
                                                           : std::nullopt;
}

} // namespace web
