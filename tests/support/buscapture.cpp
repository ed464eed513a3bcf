#include "support/buscapture.h"

#include <QFile>

QList<QByteArray> ReadCaptureFrames(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning("cannot open %s", qPrintable(path));
        return {};
    }
    QList<QByteArray> frames;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        const QByteArray bytes = line.left(line.indexOf('#')).simplified();
        if (bytes.isEmpty()) {
            continue;
        }
        const QList<QByteArray> tokens = bytes.split(' ');
        QByteArray frame = QByteArray::fromHex(bytes);
        if (frame.size() != tokens.size()) {
            qWarning("malformed capture line: %s", line.constData());
            return {};
        }
        frames << frame;
    }
    return frames;
}
