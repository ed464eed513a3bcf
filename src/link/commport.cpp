#include "link/commport.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

CommPort::CommPort(QObject* parent) : QObject(parent) {
    connect(&port, &QSerialPort::readyRead, this, &CommPort::OnComm);
    connect(&port, &QSerialPort::errorOccurred, this, &CommPort::HandleError);
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
    // Out now, not at the next pass of the event loop, where other work may come first; a write
    // that fails is reported through the port's error signal.
    port.flush();
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
