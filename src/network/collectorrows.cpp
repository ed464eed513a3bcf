#include "network/collectorrows.h"

#include <QDir>
#include <QFile>
#include <QHash>

namespace network {

namespace {

constexpr int kColumns = 17;
constexpr int kSignificantDigits = 10;

QByteArray Number(double value) {
    return std::isfinite(value) ? QByteArray::number(value, 'g', kSignificantDigits) : QByteArray();
}

// A text field quoted when it holds a comma, a quote or a line break (RFC 4180).
QByteArray Field(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') ||
        bytes.contains('\r')) {
        bytes.replace("\"", "\"\"");
        return '"' + bytes + '"';
    }
    return bytes;
}

// The fields of one CSV line (quotes undone).
QList<QByteArray> SplitCsv(const QByteArray& line) {
    QList<QByteArray> fields;
    QByteArray field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                field += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

double Read(const QByteArray& field) {
    bool ok = false;
    const double value = field.toDouble(&ok);
    return ok ? value : std::nan("");
}

} // namespace

QString NetworkDayFileName(const QDate& dayUtc) {
    return QStringLiteral("network-%1.csv").arg(dayUtc.toString(Qt::ISODate));
}

QString NetworkMapName(const QDate& dayUtc) {
    return QStringLiteral("network-%1.png").arg(dayUtc.toString(Qt::ISODate));
}

QByteArray NetworkRows(const QDateTime& receivedUtc, const ScaledRecord& record) {
    const QByteArray lead = Field(UtcText(receivedUtc)) + ',' + Field(record.station) + ',' +
                            Field(record.locator) + ',' + Field(record.sounder) + ',' +
                            Field(UtcText(record.sweepStartUtc)) + ',';
    if (record.traces.empty()) {
        return lead + "0" + QByteArray(kColumns - 6, ',') + '\n';
    }
    QByteArray rows;
    for (const TraceRecord& trace : record.traces) {
        rows += lead + QByteArray::number(trace.trace) + ',' + Field(trace.mode);
        for (double value :
             {trace.lofKhz, trace.mofKhz, trace.minDelayMs, trace.peakSnrDb, trace.distanceKm,
              trace.midpointLat, trace.midpointLon, trace.fof2Mhz, trace.md, trace.mufdMhz}) {
            rows += ',' + Number(value);
        }
        rows += '\n';
    }
    return rows;
}

std::vector<ScaledRecord> ParseNetworkDayFile(const QByteArray& text) {
    std::vector<ScaledRecord> records;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = SplitCsv(line.trimmed());
        if (f.size() != kColumns || f[0] == "received_utc") {
            continue;
        }
        ScaledRecord record;
        record.station = QString::fromUtf8(f[1]);
        record.locator = QString::fromUtf8(f[2]);
        record.sounder = QString::fromUtf8(f[3]);
        record.sweepStartUtc = QDateTime::fromString(QString::fromLatin1(f[4]), Qt::ISODate);
        bool ok = false;
        const int number = f[5].toInt(&ok);
        if (!ok || !record.sweepStartUtc.isValid() || record.station.isEmpty()) {
            continue;
        }
        record.sweepStartUtc = record.sweepStartUtc.toUTC();
        if (number > 0) {
            TraceRecord trace{number,      QString::fromUtf8(f[6]),
                              Read(f[7]),  Read(f[8]),
                              Read(f[9]),  Read(f[10]),
                              Read(f[11]), Read(f[12]),
                              Read(f[13]), Read(f[14]),
                              Read(f[15]), Read(f[16])};
            record.traces.push_back(trace);
        }
        records.push_back(std::move(record));
    }
    return records;
}

bool SeenSweeps::Add(const ScaledRecord& record) {
    const QByteArray who = record.station.toUtf8() + '\0' + record.sounder.toUtf8();
    const quint64 hash = qHash(who);
    return seen.emplace(record.sweepStartUtc.toSecsSinceEpoch(), hash).second;
}

void SeenSweeps::Forget(const QDateTime& before) {
    seen.erase(seen.begin(), seen.lower_bound(Key{before.toSecsSinceEpoch(), 0}));
}

Status AppendNetworkDay(const QString& folder, const QDateTime& receivedUtc,
                        const ScaledRecord& record) {
    QFile file(QDir(folder).filePath(NetworkDayFileName(record.sweepStartUtc.toUTC().date())));
    const bool isNew = !file.exists() || file.size() == 0;
    const QByteArray text = (isNew ? QByteArray(kNetworkDayHeader) + '\n' : QByteArray()) +
                            NetworkRows(receivedUtc, record);
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly | QIODevice::Append) ||
        file.write(text) != text.size() || !file.flush()) {
        return Status::Error(QStringLiteral("The network day file %1 cannot be written (%2): "
                                            "check the folder's space and permissions.")
                                 .arg(file.fileName(), file.errorString()),
                             QStringLiteral("the day file cannot be written"));
    }
    return Status::Ok();
}

} // namespace network
