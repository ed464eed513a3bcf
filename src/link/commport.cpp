#include "link/commport.h"

#include <QFileInfo>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace {

constexpr int kFirstPortNumber = 1;
constexpr int kLastPortNumber = 255;

QString QuotedForMessage(const QString& text) {
    return QStringLiteral("\"%1\"").arg(text);
}

} // namespace

CommPort::CommPort(QObject* parent) : QObject(parent) {
    connect(&port, &QSerialPort::readyRead, this, &CommPort::OnComm);
    connect(&port, &QSerialPort::errorOccurred, this, &CommPort::HandleError);
}

Status CommPort::ResolvePortName(const QString& comPort, QString* device) {
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

Status CommPort::ParseBaudRate(const QString& baudRate, qint32* bitsPerSecond) {
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

Status CommPort::Open(const QString& devicePath, qint32 bitsPerSecond) {
    device = devicePath;
    port.setPortName(device);
    port.setBaudRate(bitsPerSecond);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        Status failure = OpenFailure();
        port.clearError();
        return failure;
    }
    // A device without modem lines, such as a pseudo-terminal, refuses these; that is fine.
    port.setRequestToSend(true);
    port.setDataTerminalReady(true);
    port.clearError();
    return Status::Ok();
}

Status CommPort::OpenFailure() const {
    const auto failure = [this](const QString& reason, const QString& advice) {
        return Status::Error(
            QStringLiteral("Cannot open the serial port %1: %2. %3").arg(device, reason, advice),
            reason);
    };
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return failure(QStringLiteral("there is no such device"),
                       QStringLiteral("Check that the CI-V interface is plugged in and the radio "
                                      "is on, then choose its port in Configure > Serial Port."));
    case QSerialPort::PermissionError:
#ifdef Q_OS_UNIX
        if (::access(device.toLocal8Bit().constData(), R_OK | W_OK) != 0 && errno == EACCES) {
            return failure(QStringLiteral("permission denied"),
                           QStringLiteral("Add your user to the dialout group (sudo adduser "
                                          "$USER dialout), then log out and in again."));
        }
#endif
        return failure(QStringLiteral("it is in use by another program"),
                       QStringLiteral("Close the other program (a logger or another rig "
                                      "control), or choose another port in Configure > Serial "
                                      "Port."));
    default:
        return failure(port.errorString(),
                       QStringLiteral("Choose another port or speed in Configure > Serial Port."));
    }
}

void CommPort::Close() {
    if (port.isOpen()) {
        port.close();
    }
    port.clearError();
}

Status CommPort::Output(const QByteArray& bytes) {
    if (!port.isOpen()) {
        return NotOpen(device, QString());
    }
    if (port.write(bytes) != bytes.size()) {
        const QString message = QStringLiteral("Writing to the serial port %1 failed: %2.")
                                    .arg(device, port.errorString());
        port.clearError();
        return Status::Error(message);
    }
    return Status::Ok();
}

Status CommPort::NotOpen(const QString& comPort, const QString& problem) {
    return Status::Error(
        QStringLiteral("The serial port %1 is not open, so the radio cannot be tuned. %2")
            .arg(comPort, problem.isEmpty()
                              ? QStringLiteral("Choose a working port in Configure > Serial Port.")
                              : problem),
        QStringLiteral("not open"));
}

void CommPort::HandleError(QSerialPort::SerialPortError error) {
    // A vanished device shows up as ResourceError; a pseudo-terminal whose other side closed
    // reads end of file, reported as ReadError. Line errors and the rest change nothing.
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) ||
        !port.isOpen()) {
        return;
    }
    const QString reason = port.errorString();
    port.close();
    port.clearError();
    emit DeviceLost(QStringLiteral("The serial port %1 went away (%2). Tavmirok tries to open it "
                                   "again every 2 seconds; check the CI-V cable and that the "
                                   "radio is on, or choose another port in Configure > Serial "
                                   "Port.")
                        .arg(device, reason));
}
