#pragma once

// The ionogram archive: at the end of each sweep a PNG picture and a gzip-compressed CSV table
// in one folder, named by the sweep's start (UTC) and the chirp time. Both are written whole,
// under a temporary name renamed at the end, so a reader never sees half a file.

#include "core/status.h"
#include "ionogram/ionogram.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

namespace ionogram {

// SNR values in the table are never below this, so every number there is finite.
constexpr double kSnrFloorDb = -30;

// "20261207-101638Z-c78", and "...-c78.5" for a fractional chirp time; with a sounder's name,
// "...-c78-Cyprus" (the characters some file systems refuse, /\:*?"<>|, replaced by _).
QString ArchiveBaseName(const QDateTime& startUtc, double chirpTime,
                        const QString& sounder = QString());

// The table: "#" comment lines, a header "frequency_khz,<delays>", one line per step.
// Comma-separated, "." as decimal point whatever the locale, "nan" for a step without audio.
QByteArray CsvText(const IonogramSweep& sweep);

// value with decimals digits after a "." whatever the locale (the tables' number format).
void AppendFixed(QByteArray* out, double value, int decimals);

// gzip format (not Qt's qCompress); nothing if zlib fails.
std::optional<QByteArray> Gzip(const QByteArray& data);

// The data inside a gzip stream; nothing when the stream is damaged or cut short.
std::optional<QByteArray> Gunzip(const QByteArray& data);

// The sweep a table of CsvText holds (chirp time, profile, start, audio input, sample rate,
// audio delay, the sounder where it is named, delays, steps; "nan" rows come back as rows of
// NaN); nothing when the text is not such a table.
std::optional<IonogramSweep> ParseCsvText(const QByteArray& text);

// The tables (<base>.csv.gz) of the sweeps that started on dayUtc in folder, full paths, in
// order of start.
QStringList ArchivedTables(const QString& folder, const QDate& dayUtc);

// The sweep of one <base>.csv.gz; nothing when it cannot be read or is damaged.
std::optional<IonogramSweep> ReadArchivedTable(const QString& path);

// Writes <base>.png and <base>.csv.gz into folder (made if missing). The error names the file
// and the reason and says what to do.
// namedBySounder: the file names carry the sweep's sounder (several sounders followed).
Status WriteArchive(const IonogramSweep& sweep, const QString& folder, bool namedBySounder = false);

} // namespace ionogram
