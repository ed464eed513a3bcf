#include "network/outbox.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace network {

namespace {

constexpr char kLogName[] = "outbox.log";
constexpr char kAckedName[] = "outbox.acked";
constexpr int kFields = 4;

QByteArray Line(const OutboxEntry& entry) {
    return QByteArray::number(entry.number) + '\t' + QByteArray::number(entry.scaledMs) + '\t' +
           entry.topic.toUtf8() + '\t' + entry.payload + '\n';
}

Status Unwritable(const QString& path, const QString& error) {
    return Status::Error(QStringLiteral("The outbox %1 cannot be written (%2): messages for the "
                                        "broker are not kept while it is away. Check the "
                                        "folder's space and permissions.")
                             .arg(path, error),
                         QStringLiteral("the outbox cannot be written"));
}

} // namespace

Outbox::Outbox(QString folderPath, Status* status) : folder(std::move(folderPath)) {
    *status = Status::Ok();
    if (!QDir().mkpath(folder)) {
        *status = Unwritable(folder, QStringLiteral("the folder cannot be made"));
        return;
    }
    QFile acked(QDir(folder).filePath(QLatin1String(kAckedName)));
    if (acked.open(QIODevice::ReadOnly)) {
        ackedUpTo = acked.readAll().trimmed().toLongLong();
    }
    nextNumber = ackedUpTo + 1;
    QFile log(QDir(folder).filePath(QLatin1String(kLogName)));
    if (!log.open(QIODevice::ReadOnly)) {
        return;
    }
    bool cut = false;
    while (!log.atEnd()) {
        const QByteArray line = log.readLine();
        cut = !line.endsWith('\n');
        const QList<QByteArray> fields = line.split('\t');
        if (!line.endsWith('\n') || fields.size() != kFields) {
            continue;
        }
        OutboxEntry entry;
        bool numberOk = false;
        bool timeOk = false;
        entry.number = fields[0].toLongLong(&numberOk);
        entry.scaledMs = fields[1].toLongLong(&timeOk);
        entry.topic = QString::fromUtf8(fields[2]);
        entry.payload = fields[3].chopped(1);
        if (!numberOk || !timeOk || entry.number < nextNumber) {
            ackedInLog += numberOk ? 1 : 0;
            continue;
        }
        nextNumber = entry.number + 1;
        pending.push_back(std::move(entry));
    }
    log.close();
    // A line cut short by a crash is dropped, so that the next message starts a line of its own.
    if (cut) {
        *status = Compact();
    }
}

Status Outbox::Add(const QString& topic, const QByteArray& payload, std::int64_t scaledMs,
                   std::int64_t* number) {
    OutboxEntry entry{nextNumber, scaledMs, topic, payload};
    QFile log(QDir(folder).filePath(QLatin1String(kLogName)));
    const QByteArray line = Line(entry);
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append) || log.write(line) != line.size() ||
        !log.flush()) {
        return Unwritable(log.fileName(), log.errorString());
    }
    if (number) {
        *number = entry.number;
    }
    ++nextNumber;
    pending.push_back(std::move(entry));
    return Status::Ok();
}

bool Outbox::Acknowledged(std::int64_t number) const {
    return number <= ackedUpTo || ackedAhead.count(number) > 0;
}

Status Outbox::Acknowledge(std::int64_t number) {
    if (Acknowledged(number) || pending.empty() || number < pending.front().number) {
        return Status::Ok();
    }
    ackedAhead.insert(number);
    const std::int64_t before = ackedUpTo;
    while (!pending.empty() && ackedAhead.count(pending.front().number) > 0) {
        ackedAhead.erase(pending.front().number);
        ackedUpTo = pending.front().number;
        pending.pop_front();
        ++ackedInLog;
    }
    if (ackedUpTo == before) {
        return Status::Ok();
    }
    if (const Status written = WriteAcked(); !written.IsOk()) {
        return written;
    }
    return ackedInLog >= kCompactAfter ? Compact() : Status::Ok();
}

Status Outbox::WriteAcked() {
    QSaveFile file(QDir(folder).filePath(QLatin1String(kAckedName)));
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray::number(ackedUpTo) + '\n') < 0 ||
        !file.commit()) {
        return Unwritable(file.fileName(), file.errorString());
    }
    return Status::Ok();
}

Status Outbox::Compact() {
    QSaveFile file(QDir(folder).filePath(QLatin1String(kLogName)));
    if (!file.open(QIODevice::WriteOnly)) {
        return Unwritable(file.fileName(), file.errorString());
    }
    for (const OutboxEntry& entry : pending) {
        file.write(Line(entry));
    }
    if (!file.commit()) {
        return Unwritable(file.fileName(), file.errorString());
    }
    ackedInLog = 0;
    return Status::Ok();
}

} // namespace network
