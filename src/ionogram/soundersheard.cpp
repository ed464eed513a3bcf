#include "ionogram/soundersheard.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <cmath>

namespace ionogram {

namespace {

QString Number(double value) {
    return QString::number(value, 'g', 12); // C locale: 100, 82, 7000.5
}

QString UtcText(double epochSeconds) {
    const auto whole = static_cast<qint64>(std::floor(epochSeconds));
    return QDateTime::fromSecsSinceEpoch(whole, Qt::UTC).toString("yyyy-MM-dd'T'HH:mm:ss'Z'");
}

} // namespace

QString SoundersHeardCsv(const std::vector<HeardSounder>& sounders, double listenKhz) {
    return QString::fromLatin1(kSoundersHeardHeader) + '\n' +
           SoundersHeardRows(sounders, listenKhz);
}

QString SoundersHeardRows(const std::vector<HeardSounder>& sounders, double listenKhz) {
    QString text;
    for (const HeardSounder& s : sounders) {
        if (!s.confirmed) {
            continue;
        }
        text += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8\n")
                    .arg(Number(s.rateKhzPerS), Number(s.periodS),
                         QString::number(s.chirpTimeS, 'f', 3), QString::number(s.heard),
                         QString::number(s.snrDb, 'f', 1), UtcText(s.firstHeard),
                         UtcText(s.lastHeard), Number(listenKhz));
    }
    return text;
}

Status WriteSoundersHeard(const QString& path, const QString& text) {
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    QString reason;
    // The archive folder is made on first use, as the ionogram archive makes it.
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) {
        return Status::Ok();
    }
    reason = file.errorString();
    file.cancelWriting();
    return Status::Error(QStringLiteral("The list of sounders heard could not be written to %1 "
                                        "(%2). Check that the archive folder is writable and "
                                        "the disk has room; it is written again when the list "
                                        "changes.")
                             .arg(QDir::toNativeSeparators(path), reason),
                         QStringLiteral("sounders-heard.csv not written: %1").arg(reason));
}

} // namespace ionogram
