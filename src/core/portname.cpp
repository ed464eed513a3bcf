#include "core/portname.h"

#include <QRegularExpression>

namespace {

constexpr int kFirstPortNumber = 1;
constexpr int kLastPortNumber = 255;

QString QuotedForMessage(const QString& text) {
    return QStringLiteral("\"%1\"").arg(text);
}

} // namespace

namespace core {

Status ResolvePortName(const QString& comPort, QString* device) {
    const QString name = comPort.trimmed();
#ifdef Q_OS_WIN
    const bool isPath = name.startsWith(QLatin1String("\\\\.\\"));
#else
    const bool isPath = name.startsWith(QLatin1Char('/'));
#endif
    if (isPath) {
        *device = name;
        return Status::Ok();
    }
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]{1,3})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const auto match = comName.match(name);
    if (match.hasMatch()) {
        const int number = match.captured(1).toInt();
        if (number >= kFirstPortNumber && number <= kLastPortNumber) {
#ifdef Q_OS_WIN
            *device = QStringLiteral("COM%1").arg(number);
#else
            *device = QStringLiteral("/dev/ttyS%1").arg(number - 1);
#endif
            return Status::Ok();
        }
    }
    const QString reason =
        QStringLiteral("The serial port %1 is not a port name").arg(QuotedForMessage(comPort));
    return Status::Error(
        QStringLiteral("%1. Choose COM1 to COM255 "
#ifndef Q_OS_WIN
                       "(COM1 is /dev/ttyS0) or type the device path of your CI-V interface, "
                       "such as /dev/ttyUSB0, "
#endif
                       "in Configure > Serial Port.")
            .arg(reason),
        reason);
}

Status ParseBaudRate(const QString& baudRate, qint32* bitsPerSecond) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    const QString text = baudRate.trimmed();
    bool ok = false;
    const qint32 value = digits.match(text).hasMatch() ? text.toInt(&ok) : 0;
    if (!ok || value <= 0) {
        const QString reason =
            QStringLiteral("The line speed %1 is not a speed").arg(QuotedForMessage(baudRate));
        return Status::Error(
            QStringLiteral("%1. Choose a whole number of bits per second, such as 19200, the "
                           "CI-V speed set in the radio's menu, in Configure > Serial Port.")
                .arg(reason),
            reason);
    }
    *bitsPerSecond = value;
    return Status::Ok();
}

} // namespace core
