#pragma once

// The serial control `MSComm1` the radio link talks through: a QSerialPort set up for a CI-V bus
// (8 data bits, no parity, 1 stop bit, no flow control, RTS and DTR asserted, raw bytes both
// ways). It turns port names into devices, device errors into messages a user can act on, and
// reports a device that went away (USB interface unplugged, radio switched off).

#include "core/portname.h"
#include "core/status.h"
#include "link/timedwriter.h"

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <chrono>

class CommPort : public QObject {
    Q_OBJECT
public:
    explicit CommPort(QObject* parent = nullptr);
    ~CommPort() override { writer.Cancel(); }

    // Opens the device at the given speed, 8N1, no flow control; RTS and DTR are asserted.
    Status Open(const QString& device, qint32 bitsPerSecond);
    void Close();
    bool IsOpen() const { return port.isOpen(); }

    // Every byte waiting in the receive buffer, removed from it.
    QByteArray ReadAll() { return port.readAll(); }
    // Writes one whole frame at `at` (at once when it has passed) from a thread of its own, the
    // only one that writes on the device, so it leaves on time while the event loop is busy;
    // WritePending is true until it has been written (or dropped because the port closed), then
    // TakeWriteOutcome says how it went. One frame at a time. Where there is no such thread
    // (a system without file descriptors) the call waits for the instant and writes it itself.
    Status OutputAt(const QByteArray& bytes, std::chrono::steady_clock::time_point at);
    // The same, at once.
    Status Output(const QByteArray& bytes);
    bool WritePending() const { return timedPending; }
    Status TakeWriteOutcome();

    // What the user is told when something is to be sent on a port that is not open; problem
    // is why it is not (its message), or empty.
    static Status NotOpen(const QString& comPort, const QString& problem);

signals:
    // Bytes have arrived (one notification per arrival; read them with ReadAll).
    void OnComm();
    // The open device went away; the port has been closed. The message says what to do.
    void DeviceLost(const QString& message);
    // A frame given to OutputAt has been written or dropped.
    void TimedWriteEnded();

private:
    void HandleError(QSerialPort::SerialPortError error);
    Status OpenFailure() const;
    // Drops a timed frame not yet written: the port is about to close.
    void DropTimedWrite();
    Status WriteNow(const QByteArray& bytes);
    bool Submit(const QByteArray& bytes, std::chrono::steady_clock::time_point at);
    void TimedWriteDone(quint64 generation, const QByteArray& bytes, TimedWriter::Outcome outcome);

    QSerialPort port;
    QString device; // the device path (or Windows port name) last opened or tried
    TimedWriter writer;
    bool timedPending = false;
    quint64 timedGeneration = 0; // tells a dropped write's late report from the current one's
    Status timedOutcome = Status::Ok();
};
