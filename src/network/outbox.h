#pragma once

// The messages a publisher has handed over and the broker has not yet acknowledged, kept on disk
// so that none is lost while the broker is away or the program is stopped: each is appended to
// outbox.log as one line (its number, when it was scaled, its topic, its payload) before it is
// sent; outbox.acked holds the number up to which every message was acknowledged. Opening the
// folder again gives back the rest in order. A line cut short by a crash is skipped.

#include "core/status.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <deque>
#include <set>

namespace network {

struct OutboxEntry {
    std::int64_t number = 0;   // from 1, in the order handed over
    std::int64_t scaledMs = 0; // epoch ms the sweep was scaled (for queued_s)
    QString topic;
    QByteArray payload;
};

class Outbox {
public:
    // The log is rewritten with only the pending entries when it holds this many acknowledged.
    static constexpr int kCompactAfter = 200;

    // Reads what folder holds (made if missing); *status tells a folder that cannot be used.
    Outbox(QString folder, Status* status);

    // Appends a message; it is pending until Acknowledge(number).
    Status Add(const QString& topic, const QByteArray& payload, std::int64_t scaledMs,
               std::int64_t* number = nullptr);
    // The broker took the message. Acknowledgements may come out of order; the record on disk
    // moves over those acknowledged without a gap.
    Status Acknowledge(std::int64_t number);

    // What remains, oldest first (acknowledged entries beyond a gap included until the gap
    // closes: they are sent again after a restart, and the collector drops the double).
    const std::deque<OutboxEntry>& Pending() const { return pending; }
    bool Acknowledged(std::int64_t number) const;

private:
    Status WriteAcked();
    Status Compact();

    QString folder;
    std::deque<OutboxEntry> pending;
    std::set<std::int64_t> ackedAhead; // acknowledged past the first pending entry
    std::int64_t ackedUpTo = 0;
    std::int64_t nextNumber = 1;
    int ackedInLog = 0;
};

} // namespace network
