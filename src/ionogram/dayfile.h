#pragma once

// The scaled values of a day's sweeps: one CSV per UTC day in the archive folder,
// scaled-YYYY-MM-DD.csv, a row per trace appended after each sweep (a sweep without a trace
// leaves one row with trace 0, so that a closed path differs from a sweep not recorded), read
// back for the day plot and the window. "." as decimal point whatever the locale; a field is
// quoted only when it holds a comma, a quote or a line break (RFC 4180).

#include "core/status.h"
#include "geo/position.h"
#include "ionogram/scaler.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cmath>
#include <optional>
#include <vector>

namespace ionogram {

// The header of day files begun before the path's geometry was kept; such a file is continued in
// its own layout.
constexpr char kDayFileHeader[] =
    "sweep_start_utc,sounder,trace,lof_khz,mof_khz,min_delay_ms,min_delay_khz,peak_snr_db";
// The columns after those eight: the trace's mode and the ionosphere over the path's midpoint,
// empty where a position is unknown or the trace says nothing of the layer.
constexpr char kDayFileGeometryColumns[] =
    "mode,hops,distance_km,bearing_deg,midpoint_lat,midpoint_lon,midpoint_locator,"
    "virtual_height_km,fof2_mhz,hmf2_km,md,mufd_mhz,method";

// "scaled-2026-12-07.csv" and "scaled-2026-12-07.png".
QString DayFileName(const QDate& dayUtc);
QString DayPlotName(const QDate& dayUtc);

// The header of a new day file.
QByteArray DayFileHeader();

// The rows one sweep adds, each ending in a newline; withGeometry adds the geometry columns
// (from scaled.geometry, empty without it).
QByteArray DayRows(const QDateTime& sweepStartUtc, const QString& sounder,
                   const ScaledSweep& scaled, bool withGeometry = true);

// Appends the sweep's rows to the day file of its start's UTC date in folder (made if missing),
// the header first when the file is new; a file begun with the eight columns of old gets rows of
// eight. The error names the file and says what to do.
Status AppendDayFile(const QString& folder, const QDateTime& sweepStartUtc, const QString& sounder,
                     const ScaledSweep& scaled);

// One row read back; trace.number 0 for a sweep without a trace (its values then NaN).
struct DayRow {
    QDateTime sweepStartUtc;
    QString sounder;
    ScaledTrace trace;
    QString mode;                         // "1F"..., empty where unknown
    double fof2Mhz = std::nan("");        // foF2 (foE for an E mode) at the midpoint, where known
    double hmf2Km = std::nan("");         // its peak's height, where known
    double m3000 = std::nan("");          // M(3000)F2 of that layer, where known
    std::optional<geo::GreatCircle> path; // from the station, where both ends are known
};

// The fields of one CSV record (RFC 4180) starting at *pos: quoted fields may hold commas, quotes
// and line breaks; *pos moves past the record's line break.
QStringList ReadCsvRecord(const QByteArray& text, qsizetype* pos);

// The rows of a day file's text, in file order; lines that do not parse are skipped and
// counted in *skipped when given.
std::vector<DayRow> ParseDayFile(const QByteArray& text, int* skipped = nullptr);

// The day file of dayUtc in folder; empty when there is none.
std::vector<DayRow> ReadDayFile(const QString& folder, const QDate& dayUtc);

} // namespace ionogram
