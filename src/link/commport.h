#pragma once

// The serial control `MSComm1` the radio link talks through: a QSerialPort set up for a CI-V bus
// (8 data bits, no parity, 1 stop bit, no flow control, RTS and DTR asserted, raw bytes both
// ways). It turns port names into devices, device errors into messages a user can act on, and
// reports a device that went away (USB interface unplugged, radio switched off).

#include "core/portname.h"
#include "core/status.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

class CommPort : public QObject {
    Q_OBJECT
public:
    explicit CommPort(QObject* parent = nullptr);

    // The port-name and speed checks every backend shares (core/portname.h).
    static Status ResolvePortName(const QString& comPort, QString* device) {
        return core::ResolvePortName(comPort, device);
    }
    static Status ParseBaudRate(const QString& baudRate, qint32* bitsPerSecond) {
        return core::ParseBaudRate(baudRate, bitsPerSecond);
    }

    // Opens the device at the given speed, 8N1, no flow control; RTS and DTR are asserted.
    Status Open(const QString& device, qint32 bitsPerSecond);
    void Close();
    bool IsOpen() const { return port.isOpen(); }
    // The device path (or Windows port name) last opened or tried.
    QString Device() const { return device; }

    // Every byte waiting in the receive buffer, removed from it.
    QByteArray ReadAll() { return port.readAll(); }
    // Queues one whole frame for sending, in order and unchanged.
    Status Output(const QByteArray& bytes);

    // What the user is told when something is to be sent on a port that is not open; problem
    // is why it is not (its message), or empty.
    static Status NotOpen(const QString& comPort, const QString& problem);

signals:
    // Bytes have arrived (one notification per arrival; read them with ReadAll).
    void OnComm();
    // The open device went away; the port has been closed. The message says what to do.
    void DeviceLost(const QString& message);

private:
    void HandleError(QSerialPort::SerialPortError error);
    Status OpenFailure() const;

    QSerialPort port;
    QString device;
};
