#include "ionogram/dayfile.h"

#include "core/units.h"
#include "ionogram/archive.h"
#include "ionogram/pathgeometry.h"

#include <QDir>
#include <QFile>
#include <charconv>
#include <cmath>

namespace ionogram {

namespace {

constexpr int kKhzDecimals = 1;
constexpr int kMsDecimals = 2;
constexpr int kDbDecimals = 1;
constexpr int kFieldCount = 8;
constexpr int kGeometryFieldCount = 13;
constexpr int kModeField = kFieldCount;
constexpr int kDistanceField = kFieldCount + 2; // then the bearing, the midpoint and its locator
constexpr int kFof2Field = kFieldCount + 8;
constexpr int kHmf2Field = kFieldCount + 9;
constexpr int kM3000Field = kFieldCount + 10;
constexpr int kDegreeDecimals = 4;
constexpr int kKmDecimals = 1;
constexpr int kBearingDecimals = 1;
constexpr int kMhzDecimals = 2;
constexpr int kFactorDecimals = 3;
constexpr char kTimeFormat[] = "yyyy-MM-ddTHH:mm:ssZ";

void AppendField(QByteArray* out, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') ||
        bytes.contains('\r')) {
        QByteArray quoted = bytes;
        quoted.replace("\"", "\"\"");
        out->append('"').append(quoted).append('"');
    } else {
        out->append(bytes);
    }
}

bool ParseNumber(const QString& text, double* value) {
    if (text.isEmpty()) {
        *value = std::nan("");
        return true;
    }
    const QByteArray bytes = text.toLatin1();
    const auto result = std::from_chars(bytes.data(), bytes.data() + bytes.size(), *value);
    return result.ec == std::errc() && result.ptr == bytes.data() + bytes.size();
}

} // namespace

QStringList ReadCsvRecord(const QByteArray& text, qsizetype* pos) {
    QStringList fields;
    QByteArray field;
    bool quoted = false;
    qsizetype i = *pos;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field.append('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field.append(c);
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.append(QString::fromUtf8(field));
            field.clear();
        } else if (c == '\n') {
            break;
        } else if (c != '\r') {
            field.append(c);
        }
    }
    fields.append(QString::fromUtf8(field));
    *pos = i + 1;
    return fields;
}

QString DayFileName(const QDate& dayUtc) {
    return "scaled-" + dayUtc.toString("yyyy-MM-dd") + ".csv";
}

QString DayPlotName(const QDate& dayUtc) {
    return "scaled-" + dayUtc.toString("yyyy-MM-dd") + ".png";
}

QByteArray DayFileHeader() {
    return QByteArray(kDayFileHeader) + ',' + kDayFileGeometryColumns;
}

QByteArray DayRows(const QDateTime& sweepStartUtc, const QString& sounder,
                   const ScaledSweep& scaled, bool withGeometry) {
    QByteArray start = sweepStartUtc.toUTC().toString(kTimeFormat).toLatin1() + ',';
    AppendField(&start, sounder);
    start += ',';
    const QByteArray noGeometry = withGeometry ? QByteArray(kGeometryFieldCount, ',') : "";
    QByteArray out;
    if (scaled.traces.empty()) {
        return out + start + "0,,,,," + noGeometry + '\n';
    }
    for (std::size_t i = 0; i < scaled.traces.size(); ++i) {
        const ScaledTrace& trace = scaled.traces[i];
        out += start + QByteArray::number(trace.number);
        for (auto [value, decimals] :
             {std::pair{trace.lofKhz, kKhzDecimals}, std::pair{trace.mofKhz, kKhzDecimals},
              std::pair{trace.minDelayMs, kMsDecimals}, std::pair{trace.minDelayKhz, kKhzDecimals},
              std::pair{trace.peakSnrDb, kDbDecimals}}) {
            out += ',';
            AppendFixed(&out, value, decimals);
        }
        const geo::PathLayer* layer = scaled.geometry && i < scaled.geometry->layers.size() &&
                                              scaled.geometry->layers[i].error.empty()
                                          ? &scaled.geometry->layers[i]
                                          : nullptr;
        if (withGeometry && layer == nullptr) {
            out += noGeometry;
        } else if (withGeometry) {
            const geo::GreatCircle& path = scaled.geometry->path;
            out += ',' + QByteArray::fromStdString(layer->mode) + ',' +
                   QByteArray::number(layer->hops);
            for (auto [value, decimals] : {std::pair{path.distanceKm, kKmDecimals},
                                           std::pair{path.bearingDeg, kBearingDecimals},
                                           std::pair{path.midpoint.latitude, kDegreeDecimals},
                                           std::pair{path.midpoint.longitude, kDegreeDecimals}}) {
                out += ',';
                AppendFixed(&out, value, decimals);
            }
            out += ',' + QByteArray::fromStdString(path.midpointLocator);
            for (auto [value, decimals] :
                 {std::pair{layer->leastDelayHeightKm, kKmDecimals},
                  std::pair{layer->criticalKhz / units::kKilohertzPerMegahertz, kMhzDecimals},
                  std::pair{layer->peakKm, kKmDecimals}, std::pair{layer->m3000, kFactorDecimals},
                  std::pair{layer->muf3000Khz / units::kKilohertzPerMegahertz, kMhzDecimals}}) {
                out += ',';
                if (std::isfinite(value)) { // empty where unknown
                    AppendFixed(&out, value, decimals);
                }
            }
            out += ',' + QByteArray::fromStdString(layer->method);
        }
        out += '\n';
    }
    return out;
}

Status AppendDayFile(const QString& folder, const QDateTime& sweepStartUtc, const QString& sounder,
                     const ScaledSweep& scaled) {
    const QString path = QDir(folder).filePath(DayFileName(sweepStartUtc.toUTC().date()));
    QFile file(path);
    QString reason;
    if (!QDir().mkpath(folder)) {
        reason = "the folder could not be made";
    } else if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        reason = file.errorString();
    } else {
        QByteArray out;
        bool withGeometry = true;
        if (file.size() == 0) {
            out = DayFileHeader() + '\n';
        } else {
            // A file begun with the old eight columns goes on in them.
            file.seek(0);
            withGeometry = file.readLine().trimmed() != kDayFileHeader;
            if (file.seek(file.size() - 1) && file.read(1) != "\n") {
                out = "\n"; // the last row was cut short: keep it apart from this sweep's
            }
        }
        out += DayRows(sweepStartUtc, sounder, scaled, withGeometry);
        if (file.write(out) == out.size() && file.flush()) {
            return Status::Ok();
        }
        reason = file.errorString();
    }
    return Status::Error(QString("The scaled values could not be added to %1 (%2). Check that "
                                 "the archive folder is writable and the disk has room; the "
                                 "next sweep is added again.")
                             .arg(QDir::toNativeSeparators(path), reason),
                         QString("day file not written: %1").arg(reason));
}

std::vector<DayRow> ParseDayFile(const QByteArray& text, int* skipped) {
    std::vector<DayRow> rows;
    int bad = 0;
    qsizetype pos = 0;
    bool header = true;
    while (pos < text.size()) {
        const QStringList fields = ReadCsvRecord(text, &pos);
        if (fields.size() == 1 && fields[0].isEmpty()) {
            continue;
        }
        if (header && (fields.join(',') == kDayFileHeader ||
                       fields.join(',').toLatin1() == DayFileHeader())) {
            header = false;
            continue;
        }
        header = false;
        DayRow row;
        const bool withGeometry = fields.size() == kFieldCount + kGeometryFieldCount;
        row.sweepStartUtc = fields.size() == kFieldCount || withGeometry
                                ? QDateTime::fromString(fields[0], Qt::ISODate).toUTC()
                                : QDateTime();
        bool ok = row.sweepStartUtc.isValid();
        if (ok) {
            row.sounder = fields[1];
            row.trace.number = fields[2].toInt(&ok);
        }
        ScaledTrace& t = row.trace;
        for (int i = 0; ok && i < 5; ++i) {
            double* value[] = {&t.lofKhz, &t.mofKhz, &t.minDelayMs, &t.minDelayKhz, &t.peakSnrDb};
            ok = ParseNumber(fields[3 + i], value[i]) && (t.number == 0 || !std::isnan(*value[i]));
        }
        if (ok && withGeometry) {
            row.mode = fields[kModeField];
            geo::GreatCircle path;
            double* value[] = {&row.fof2Mhz,
                               &row.hmf2Km,
                               &row.m3000,
                               &path.distanceKm,
                               &path.bearingDeg,
                               &path.midpoint.latitude,
                               &path.midpoint.longitude};
            const int field[] = {kFof2Field,        kHmf2Field,         kM3000Field,
                                 kDistanceField,    kDistanceField + 1, kDistanceField + 2,
                                 kDistanceField + 3};
            for (int i = 0; ok && i < int(std::size(field)); ++i) {
                ok = ParseNumber(fields[field[i]], value[i]);
            }
            path.midpointLocator = fields[kDistanceField + 4].toStdString();
            if (ok && !std::isnan(path.distanceKm) && !std::isnan(path.midpoint.latitude) &&
                !std::isnan(path.midpoint.longitude)) {
                row.path = path;
            }
        }
        if (ok && t.number >= 0) {
            rows.push_back(row);
        } else {
            ++bad;
        }
    }
    if (skipped != nullptr) {
        *skipped = bad;
    }
    return rows;
}

std::vector<DayRow> ReadDayFile(const QString& folder, const QDate& dayUtc) {
    QFile file(QDir(folder).filePath(DayFileName(dayUtc)));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return ParseDayFile(file.readAll());
}

} // namespace ionogram
