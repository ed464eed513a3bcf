#pragma once

// What a collector keeps of the scaled sweeps it receives: each sweep once (a station sends a
// message again when its acknowledgement was lost), as rows of network-YYYY-MM-DD.csv dated by
// the sweep's start in UTC, one per trace (a sweep without a trace as trace 0 with empty values).
// "." as decimal point whatever the locale. Pure but for the day file's reading and appending.

#include "core/status.h"
#include "network/payload.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <set>
#include <utility>
#include <vector>

namespace network {

constexpr char kNetworkDayHeader[] =
    "received_utc,station,locator,sounder,sweep_start_utc,trace,mode,lof_khz,mof_khz,"
    "min_delay_ms,peak_snr_db,distance_km,midpoint_lat,midpoint_lon,fof2_mhz,md,mufd_mhz";

// "network-2026-12-07.csv" and "network-2026-12-07.png".
QString NetworkDayFileName(const QDate& dayUtc);
QString NetworkMapName(const QDate& dayUtc);

// The rows of one sweep, each ending in a newline.
QByteArray NetworkRows(const QDateTime& receivedUtc, const ScaledRecord& record);
// The rows of a day file read back (the received time in sweep.queuedS is not kept); a line that
// does not parse is skipped. Each record holds one row's trace (none for trace 0).
std::vector<ScaledRecord> ParseNetworkDayFile(const QByteArray& text);

// The sweeps already kept, by station, sounder and sweep start. Sweeps that started before the
// horizon are forgotten (Forget), so that a collector running for months keeps a flat memory; a
// double of such an old sweep comes far too late to be expected.
class SeenSweeps {
public:
    // Whether the sweep is new; it is seen from now on.
    bool Add(const ScaledRecord& record);
    // Forgets the sweeps that started before this time.
    void Forget(const QDateTime& before);
    std::size_t Size() const { return seen.size(); }

private:
    // The sweep's start (s) and a 64-bit hash of its station and sounder: a few tens of bytes a
    // sweep, so that a day of a thousand stations fits in a few tens of megabytes.
    using Key = std::pair<qint64, quint64>;
    std::set<Key> seen;
};

// Appends the rows to the day file of the sweep's start in folder, the header first when the file
// is new; the error names the file and what to do.
Status AppendNetworkDay(const QString& folder, const QDateTime& receivedUtc,
                        const ScaledRecord& record);

} // namespace network
