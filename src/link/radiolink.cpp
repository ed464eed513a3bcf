#include "link/radiolink.h"

#include "core/frequencytext.h"
#include "link/civ.h"

#include <QMetaObject>
#include <array>
#include <utility>

RadioLink::RadioLink(const SerialSettings& settings, QObject* parent)
    : QObject(parent), serial(settings), MSComm1(this),
      parser([this](const QString& text) { emit DisplayText(text); }, [this] { ReplyFlagRaised(); },
             [this](bool accepted) { AnswerReceived(accepted); }) {
    connect(&MSComm1, &CommPort::OnComm, this, &RadioLink::ProcessInput);
    connect(&MSComm1, &CommPort::TimedWriteEnded, this, &RadioLink::WriteEnded);
    replyTimer.setSingleShot(true);
    replyTimer.setTimerType(Qt::PreciseTimer);
    connect(&replyTimer, &QTimer::timeout, this, &RadioLink::EndReplyWait);
    connect(&MSComm1, &CommPort::DeviceLost, this, &RadioLink::DeviceLost);
    reopenTimer.setInterval(kReopenInterval);
    connect(&reopenTimer, &QTimer::timeout, this, &RadioLink::TryReopen);
}

QString RadioLink::Device() const {
    QString device;
    return core::ResolvePortName(serial.comPort, &device).IsOk() ? device : QString();
}

Status RadioLink::OpenPort() {
    // The user chose a port: stop trying to bring back the one that went away.
    reopenTimer.stop();
    return OpenPortNow();
}

Status RadioLink::OpenPortNow() {
    if (shuttingDown) {
        portProblem = Status::Error(QStringLiteral("Tavmirok is closing."));
        return portProblem;
    }
    QString device;
    qint32 bitsPerSecond = 0;
    Status status = core::ResolvePortName(serial.comPort, &device);
    if (status.IsOk()) {
        status = core::ParseBaudRate(serial.baudRate, &bitsPerSecond);
    }
    if (status.IsOk()) {
        status = MSComm1.Open(device, bitsPerSecond);
    }
    if (status.IsOk()) {
        reopenTimer.stop(); // a port that came back needs no more tries
        portProblem = Status::Ok();
        // Bytes that came in while the port was being set up are waiting: read them now.
        if (MSComm1.IsOpen()) {
            QMetaObject::invokeMethod(this, &RadioLink::ProcessInput, Qt::QueuedConnection);
        }
    } else {
        portProblem = status;
    }
    emit PortStateChanged();
    return status;
}

void RadioLink::ClosePort() {
    reopenTimer.stop();
    MSComm1.Close();
    emit PortStateChanged();
}

void RadioLink::SetBand(std::int32_t lowHz, std::int32_t highHz) {
    bandLowHz = lowHz;
    bandHighHz = highHz;
}

void RadioLink::SetReplyTimeout(std::chrono::milliseconds timeout) {
    replyTimeout = std::min(timeout, kReplyTimeout);
}

void RadioLink::ProcessInput() {
    const QByteArray bytes = MSComm1.ReadAll();
    if (bytes.isEmpty()) {
        return;
    }
    parser.ProcessBytes(bytes, serial.radioAdress);
    // A recognised frame in what came ends the wait of the command in hand, if one waits: once
    // for the whole read, so several frames in one read answer one command.
    if (replyReceived) {
        EndReplyWait();
    }
}

void RadioLink::ReplyFlagRaised() {
    replyReceived = true;
    if (!radioAnswering) {
        radioAnswering = true;
        emit RadioAnsweringChanged(true);
    }
}

void RadioLink::AnswerReceived(bool accepted) {
    if (accepted == !radioRefusing) {
        return;
    }
    radioRefusing = !accepted;
    emit RadioRefusingChanged(radioRefusing);
    if (radioRefusing) {
        // Told once per run of refusals; the echo still shows the frequency that was asked for.
        emit Problem(QStringLiteral("The radio at address %1 answered NG: it refused a command, "
                                    "so it may not be following the sweep even though the "
                                    "display shows the frequency sent. Check that it can tune "
                                    "%2 in its present band, mode and VFO settings.")
                         .arg(QString::number(serial.radioAdress, 16).toUpper(),
                              core::BandText(bandLowHz, bandHighHz)));
    }
}

void RadioLink::SendCommand(int cmd, int subcmd, QByteArrayView data, WriteTime at, Done done) {
    Command command{QByteArray(), Status::Ok(), at, std::move(done)};
    command.refusal = civ::BuildFrame(serial.radioAdress, cmd, subcmd, data, &command.frame);
    Enqueue(std::move(command));
}

void RadioLink::Enqueue(Command command) {
    queue.push_back(std::move(command));
    QueueStart(); // from the loop, so the completion never comes from inside this call
}

void RadioLink::QueueStart() {
    if (!busy && !queue.empty() && !startQueued) {
        startQueued = true;
        QMetaObject::invokeMethod(this, &RadioLink::StartNext, Qt::QueuedConnection);
    }
}

void RadioLink::Setfreq(std::int32_t frequency, WriteTime at, Done done) {
    std::array<std::uint8_t, civ::kFrequencyBytes> bcd{};
    if (Status encoded = civ::FreqToBcd(frequency, bcd); !encoded.IsOk()) {
        Enqueue(Command{QByteArray(), encoded, at, std::move(done)});
        return;
    }
    SendCommand(civ::kCmdSetFrequency, civ::kNoSubCommand,
                QByteArrayView(reinterpret_cast<const char*>(bcd.data()), bcd.size()), at,
                std::move(done));
}

void RadioLink::StartNext() {
    startQueued = false;
    while (!busy && !queue.empty()) {
        Command command = std::move(queue.front());
        queue.pop_front();
        busy = true;
        current = std::move(command.done);
        if (shuttingDown) {
            Finish(Status::Closing());
        } else if (!command.refusal.IsOk()) {
            Finish(command.refusal);
        } else if (!MSComm1.IsOpen()) {
            Finish(CommPort::NotOpen(serial.comPort, PortProblem()));
        } else {
            // The port's writer thread sends it at its instant (at once without one); the
            // port tells the end of the write, or drops it on closing, which also ends this.
            writing = true;
            const Status queued = MSComm1.OutputAt(
                command.frame, command.at.value_or(std::chrono::steady_clock::now()));
            if (!queued.IsOk()) {
                writing = false;
                Finish(queued);
            } else if (!MSComm1.WritePending()) {
                WriteEnded(); // written in the call, where the port has no writer thread
            }
        }
    }
}

void RadioLink::WriteEnded() {
    if (!writing) {
        return;
    }
    writing = false;
    if (Status written = MSComm1.TakeWriteOutcome(); !written.IsOk()) {
        Finish(shuttingDown ? Status::Closing() : written);
        return;
    }
    BeginReplyWait();
}

void RadioLink::BeginReplyWait() {
    // The flag is not cleared first: one that a report raised since the last wait ends this
    // one at once.
    if (replyReceived || shuttingDown) {
        waitingForReply = true;
        EndReplyWait();
        return;
    }
    waitingForReply = true;
    replyTimer.start(replyTimeout);
}

void RadioLink::EndReplyWait() {
    if (!waitingForReply) {
        return;
    }
    waitingForReply = false;
    replyTimer.stop();
    if (!replyReceived && !shuttingDown && radioAnswering) {
        radioAnswering = false;
        emit RadioAnsweringChanged(false);
    }
    replyReceived = false;
    Finish(Status::Ok());
}

void RadioLink::Finish(const Status& status) {
    busy = false;
    if (Done done = std::exchange(current, nullptr)) {
        done(status);
    }
    QueueStart();
}

void RadioLink::Shutdown() {
    shuttingDown = true;
    reopenTimer.stop();
    MSComm1.Close(); // a write still waiting for its instant ends here, not sent
    EndReplyWait();
    // Everything still queued ends now, refused.
    while (!queue.empty()) {
        Command command = std::move(queue.front());
        queue.pop_front();
        if (command.done) {
            command.done(Status::Closing());
        }
    }
}

void RadioLink::DeviceLost(const QString& message) {
    portProblem = Status::Error(message, QStringLiteral("gone"));
    if (!shuttingDown) {
        reopenTimer.start();
    }
    emit Problem(message);
    emit PortStateChanged();
}

void RadioLink::TryReopen() {
    OpenPortNow(); // stops the retries once the port is back, and tells PortStateChanged
}
