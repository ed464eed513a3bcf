#pragma once

// The network backend: rigctld's text protocol over TCP (rigctld on 4532, SDR programs' remote
// control, often 7356), with a QTcpSocket on the caller's thread. A reply that misses its budget
// drops the connection, so a late answer is never read as the answer to the next command.

#include "rig/queuedtuner.h"
#include "rig/rigchoice.h"

#include <QByteArray>
#include <QTcpSocket>
#include <QTimer>

class RigctlTuner : public QueuedTuner {
    Q_OBJECT
public:
    // How often a refused or lost connection is tried again.
    static constexpr std::chrono::milliseconds kReconnectInterval{2000};
    // A connection not made by then (a host that drops the attempt) counts as failed.
    static constexpr std::chrono::milliseconds kConnectTimeout{3000};

    // address: "host:port" (checked by Connect).
    explicit RigctlTuner(QString address, QObject* parent = nullptr);
    ~RigctlTuner() override;

    // Starts connecting and returns at once; Ok unless the address is not host:port. The
    // outcome arrives as StateChanged (and Problem when it fails).
    Status Connect() override;
    void Shutdown() override;

protected:
    void StartSet(std::int32_t hz) override;
    void StartRead() override;
    QString NotConnectedMessage() const override;

private:
    enum class Pending { None, Set, Read };

    void Send(Pending command, const QByteArray& line);
    void OnConnected();
    void OnSocketError(QAbstractSocket::SocketError error);
    void OnConnectTimeout();
    void ConnectionFailed(const QString& reason);
    void OnReadyRead();
    void OnReplyTimeout();
    void TakeLine(const QByteArray& line);
    void SetAnswer(int code);
    // Ends the command in flight as failed with message; false for a read.
    void FailPending(const QString& message, const QString& reason);
    // Closes the connection at once and connects again: after `delay`, or at once when 0.
    void Drop(std::chrono::milliseconds delay);
    void TryConnect();

    QString address;
    rigconfig::HostPort hostPort;
    QTcpSocket socket;
    QTimer replyTimer;
    QTimer reconnectTimer;
    QTimer connectTimer;
    QByteArray received;
    Pending pending = Pending::None;
    std::int32_t pendingHz = 0;
    bool shutDown = false;
};
