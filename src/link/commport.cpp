#include "link/commport.h"

#include <QFileInfo>
#include <thread>

#include <cstring>
#include <utility>

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
    DropTimedWrite();
    if (port.isOpen()) {
        port.close();
    }
    port.clearError();
}

Status CommPort::WriteNow(const QByteArray& bytes) {
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

Status CommPort::Output(const QByteArray& bytes) {
    return OutputAt(bytes, std::chrono::steady_clock::now());
}

Status CommPort::OutputAt(const QByteArray& bytes, std::chrono::steady_clock::time_point at) {
    if (!port.isOpen()) {
        return NotOpen(device, QString());
    }
    if (timedPending) {
        return Status::Error(QStringLiteral("A frame for the serial port %1 is still waiting for "
                                            "its instant.")
                                 .arg(device));
    }
#ifdef Q_OS_UNIX
    // The writer thread is the only one that writes on the descriptor.
    if (port.handle() >= 0 && Submit(bytes, at)) {
        timedPending = true;
        timedOutcome = Status::Ok();
        return Status::Ok();
    }
#endif
    std::this_thread::sleep_until(at);
    return WriteNow(bytes);
}

bool CommPort::Submit(const QByteArray& bytes, std::chrono::steady_clock::time_point at) {
    const quint64 generation = ++timedGeneration;
    return writer.Submit(
        port.handle(), bytes, at, [this, generation, bytes](TimedWriter::Outcome outcome) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, bytes, outcome] { TimedWriteDone(generation, bytes, outcome); },
                Qt::QueuedConnection);
        });
}

void CommPort::TimedWriteDone(quint64 generation, const QByteArray& bytes,
                              TimedWriter::Outcome outcome) {
    if (generation != timedGeneration || !timedPending) {
        return; // dropped when the port closed
    }
    if (outcome.error == 0 && outcome.written > 0 && outcome.written < bytes.size() &&
        Submit(bytes.mid(outcome.written), std::chrono::steady_clock::now())) {
        return; // the device was full for a while: the rest goes out behind, in order
    }
    timedPending = false;
    if (outcome.error != 0) {
        timedOutcome =
            Status::Error(QStringLiteral("Writing to the serial port %1 failed: %2.")
                              .arg(device, QString::fromLocal8Bit(std::strerror(outcome.error))));
    } else if (outcome.written < bytes.size()) {
        timedOutcome = Status::Error(
            QStringLiteral("The serial port %1 took no byte of the frame for the radio for %2 ms: "
                           "the device is stuck. Check the CI-V cable and interface, or choose "
                           "another port in Configure > Serial Port.")
                .arg(device)
                .arg(TimedWriter::kFullWait.count()));
    }
    emit TimedWriteEnded();
}

Status CommPort::TakeWriteOutcome() {
    if (timedPending) {
        return Status::Error(QStringLiteral("The frame has not been written yet."));
    }
    return std::exchange(timedOutcome, Status::Ok());
}

void CommPort::DropTimedWrite() {
    const std::optional<TimedWriter::Outcome> made = writer.Cancel();
    if (timedPending) {
        timedPending = false;
        ++timedGeneration; // a report of the write already posted is not taken
        // A frame that went out before the port closed counts as sent, whose report had not
        // come back yet.
        timedOutcome =
            made && made->error == 0 && made->written > 0
                ? Status::Ok()
                : Status::Error(QStringLiteral("The serial port %1 closed before the frame for "
                                               "the radio was sent.")
                                    .arg(device),
                                QStringLiteral("not sent"));
        emit TimedWriteEnded();
    }
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
    DropTimedWrite();
    port.close();
    port.clearError();
    emit DeviceLost(QStringLiteral("The serial port %1 went away (%2). Tavmirok tries to open it "
                                   "again every 2 seconds; check the CI-V cable and that the "
                                   "radio is on, or choose another port in Configure > Serial "
                                   "Port.")
                        .arg(device, reason));
}
