#include "ionogram/archive.h"

#include "core/version.h"
#include "ionogram/ionogramimage.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QSaveFile>
#include <QTimeZone>
#include <charconv>
#include <cmath>
#include <zlib.h>

namespace ionogram {

namespace {

constexpr int kGzipWindowBits = 15 + 16; // deflate window 2^15, with a gzip header and trailer
constexpr int kMemoryLevel = 8;
constexpr int kChunk = 64 * 1024;
constexpr char kNan[] = "nan";
constexpr int kFractionalKhzDecimals = 3; // to the hertz
constexpr char kStartFormat[] = "yyyy-MM-dd HH:mm:ss";
constexpr char kTableSuffix[] = ".csv.gz";
constexpr char kFrequencyHeader[] = "frequency_khz";

QString ChirpText(double chirpTime) {
    return QString::number(chirpTime, 'g', 10); // C locale: 78, 78.5
}

Status WriteWhole(const QString& path, const QByteArray* bytes, const QImage* image) {
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    if (written) {
        written =
            bytes != nullptr ? file.write(*bytes) == bytes->size() : image->save(&file, "PNG");
    }
    QString reason = file.errorString();
    if (written && file.commit()) {
        return Status::Ok();
    }
    if (file.error() != QFileDevice::NoError) {
        reason = file.errorString();
    }
    file.cancelWriting();
    return Status::Error(QString("The ionogram could not be saved as %1 (%2). Check that the "
                                 "archive folder is writable and the disk has room; the next "
                                 "sweep is saved again.")
                             .arg(QDir::toNativeSeparators(path), reason),
                         QString("archive not written: %1").arg(reason));
}

} // namespace

void AppendFixed(QByteArray* out, double value, int decimals) {
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    out->append(buffer, int(result.ptr - buffer));
}

QString ArchiveBaseName(const QDateTime& startUtc, double chirpTime, const QString& sounder) {
    QString base = startUtc.toUTC().toString("yyyyMMdd-HHmmss") + "Z-c" + ChirpText(chirpTime);
    if (!sounder.isEmpty()) {
        QString name = sounder;
        for (const QChar refused : QStringLiteral("/\\:*?\"<>|")) {
            name.replace(refused, u'_');
        }
        base += "-" + name;
    }
    return base;
}

QByteArray CsvText(const IonogramSweep& sweep) {
    QByteArray out;
    const QString start = sweep.startUtc.toUTC().toString(kStartFormat) + " UTC";
    out += "# chirp time: " + ChirpText(sweep.chirpTime).toUtf8() + " s\n";
    if (!sweep.sounder.isEmpty()) {
        out += "# sounder: " + sweep.sounder.toUtf8() + "\n";
    }
    out += "# profile: " + sweep.profile.toUtf8() + "\n";
    out += "# sweep start: " + start.toUtf8() + "\n";
    out += "# audio input: " + sweep.audioInput.toUtf8() + "\n";
    out += "# sample rate: " + QByteArray::number(sweep.sampleRate, 'g', 10) + " Hz\n";
    out += "# audio delay: " + QByteArray::number(sweep.audioDelayMs, 'g', 10) + " ms\n";
    out += QByteArray("# program: Tavmirok ") + tavmirok::kVersion + "\n";
    out += kFrequencyHeader;
    const int cells = sweep.DelayCount();
    for (int cell = 0; cell < cells; ++cell) {
        out += ',';
        AppendFixed(&out, sweep.DelayMs(cell), 2);
    }
    out += '\n';
    for (std::size_t step = 0; step < sweep.frequenciesKhz.size(); ++step) {
        const double khz = sweep.frequenciesKhz[step];
        AppendFixed(&out, khz, khz == std::round(khz) ? 0 : kFractionalKhzDecimals);
        const std::vector<float>& row = sweep.snrDb[step];
        const bool usable = IonogramSweep::Usable(row) && int(row.size()) == cells;
        for (int cell = 0; cell < cells; ++cell) {
            out += ',';
            if (usable) {
                AppendFixed(&out, std::max(double(row[cell]), kSnrFloorDb), 1);
            } else {
                out += kNan;
            }
        }
        out += '\n';
    }
    return out;
}

std::optional<QByteArray> Gzip(const QByteArray& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemoryLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        return std::nullopt;
    }
    QByteArray out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    int result = Z_OK;
    char chunk[kChunk];
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = kChunk;
        result = deflate(&stream, Z_FINISH);
        out.append(chunk, kChunk - int(stream.avail_out));
    }
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        return std::nullopt;
    }
    return out;
}

std::optional<QByteArray> Gunzip(const QByteArray& data) {
    z_stream stream{};
    if (inflateInit2(&stream, kGzipWindowBits) != Z_OK) {
        return std::nullopt;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    QByteArray out;
    char chunk[kChunk];
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = kChunk;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk, kChunk - int(stream.avail_out));
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) {
        return std::nullopt;
    }
    return out;
}

namespace {

// The value after "# name: " with the unit after it cut off; nothing when the line is another.
std::optional<QByteArray> CommentValue(const QByteArray& line, const QByteArray& name,
                                       const QByteArray& unit = QByteArray()) {
    const QByteArray head = "# " + name + ": ";
    if (!line.startsWith(head) || !line.endsWith(unit)) {
        return std::nullopt;
    }
    return line.mid(head.size(), line.size() - head.size() - unit.size());
}

std::optional<double> Number(const QByteArray& text) {
    bool ok = false;
    const double value = text.toDouble(&ok); // always "." as decimal point
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

} // namespace

std::optional<IonogramSweep> ParseCsvText(const QByteArray& text) {
    IonogramSweep sweep;
    bool header = false;
    int cells = 0;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        if (line.isEmpty()) {
            continue;
        }
        if (line.startsWith('#')) {
            if (auto v = CommentValue(line, "chirp time", " s")) {
                sweep.chirpTime = Number(*v).value_or(0);
            } else if (auto v = CommentValue(line, "sounder")) {
                sweep.sounder = QString::fromUtf8(*v);
            } else if (auto v = CommentValue(line, "profile")) {
                sweep.profile = QString::fromUtf8(*v);
            } else if (auto v = CommentValue(line, "sweep start", " UTC")) {
                sweep.startUtc = QDateTime::fromString(QString::fromLatin1(*v), kStartFormat);
                sweep.startUtc.setTimeZone(QTimeZone::utc());
            } else if (auto v = CommentValue(line, "audio input")) {
                sweep.audioInput = QString::fromUtf8(*v);
            } else if (auto v = CommentValue(line, "sample rate", " Hz")) {
                sweep.sampleRate = Number(*v).value_or(0);
            } else if (auto v = CommentValue(line, "audio delay", " ms")) {
                sweep.audioDelayMs = Number(*v).value_or(0);
            }
            continue;
        }
        const QList<QByteArray> fields = line.split(',');
        if (!header) {
            std::optional<double> from = fields.size() > 1 ? Number(fields[1]) : std::nullopt;
            std::optional<double> to = Number(fields.last());
            if (fields.first() != kFrequencyHeader || !from || !to) {
                return std::nullopt;
            }
            sweep.delayFromMs = *from;
            sweep.delayToMs = *to;
            cells = int(fields.size()) - 1;
            if (sweep.DelayCount() != cells) {
                return std::nullopt;
            }
            header = true;
            continue;
        }
        const std::optional<double> khz = Number(fields.first());
        if (!khz || fields.size() != cells + 1) {
            return std::nullopt;
        }
        std::vector<float> row(std::size_t(cells), std::nanf(""));
        for (int cell = 0; cell < cells; ++cell) {
            const QByteArray& field = fields[cell + 1];
            if (field == kNan) {
                continue;
            }
            const std::optional<double> db = Number(field);
            if (!db) {
                return std::nullopt;
            }
            row[std::size_t(cell)] = float(*db);
        }
        sweep.frequenciesKhz.push_back(*khz);
        sweep.snrDb.push_back(std::move(row));
    }
    if (!header || !sweep.startUtc.isValid()) {
        return std::nullopt;
    }
    return sweep;
}

QStringList ArchivedTables(const QString& folder, const QDate& dayUtc) {
    const QDir dir(folder);
    const QString pattern = dayUtc.toString("yyyyMMdd") + "-*" + kTableSuffix;
    QStringList paths;
    for (const QString& name : dir.entryList({pattern}, QDir::Files, QDir::Name)) {
        paths.append(dir.filePath(name));
    }
    return paths;
}

std::optional<IonogramSweep> ReadArchivedTable(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const std::optional<QByteArray> text = Gunzip(file.readAll());
    return text ? ParseCsvText(*text) : std::nullopt;
}

Status WriteArchive(const IonogramSweep& sweep, const QString& folder, bool namedBySounder) {
    QDir dir(folder);
    if (!dir.mkpath(".")) {
        return Status::Error(QString("The ionogram archive folder %1 does not exist and cannot be "
                                     "made. Choose a folder you may write to.")
                                 .arg(QDir::toNativeSeparators(folder)),
                             "archive folder cannot be made");
    }
    const QString base = dir.filePath(ArchiveBaseName(sweep.startUtc, sweep.chirpTime,
                                                      namedBySounder ? sweep.sounder : QString()));
    const std::optional<QByteArray> table = Gzip(CsvText(sweep));
    if (!table) {
        return Status::Error("The ionogram table could not be compressed (out of memory?).",
                             "archive not compressed");
    }
    // The table first: it holds the numbers. The picture is tried even when the table failed.
    const Status tableStatus = WriteWhole(base + kTableSuffix, &*table, nullptr);
    const QImage picture = RenderIonogram(sweep);
    const Status pictureStatus = WriteWhole(base + ".png", nullptr, &picture);
    return tableStatus.IsOk() ? pictureStatus : tableStatus;
}

} // namespace ionogram
