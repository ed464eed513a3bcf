#include "ionogram/archive.h"

#include "core/version.h"
#include "ionogram/ionogramimage.h"

#include <QDir>
#include <QImage>
#include <QSaveFile>
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

void AppendFixed(QByteArray* out, double value, int decimals) {
    char buffer[32];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    out->append(buffer, int(result.ptr - buffer));
}

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
    const QString start = sweep.startUtc.toUTC().toString("yyyy-MM-dd HH:mm:ss") + " UTC";
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
    out += "frequency_khz";
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
    const Status tableStatus = WriteWhole(base + ".csv.gz", &*table, nullptr);
    const QImage picture = RenderIonogram(sweep);
    const Status pictureStatus = WriteWhole(base + ".png", nullptr, &picture);
    return tableStatus.IsOk() ? pictureStatus : tableStatus;
}

} // namespace ionogram
