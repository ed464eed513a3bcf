#include "link/radiolink.h"

#include "core/frequencytext.h"
#include "link/civ.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <array>

namespace {

Status Closing() {
    return Status::Error(QStringLiteral("Tavmirok is closing; nothing more is sent."));
}

} // namespace

RadioLink::RadioLink(const SerialSettings& settings, QObject* parent)
    : QObject(parent), serial(settings), MSComm1(this),
      parser([this](const QString& text) { emit DisplayText(text); }, [this] { ReplyFlagRaised(); },
             [this](bool accepted) { AnswerReceived(accepted); }) {
    dispatch = [](bool mayBlock) {
        QCoreApplication::processEvents(mayBlock
                                            ? QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents
                                            : QEventLoop::AllEvents);
    };
    connect(&MSComm1, &CommPort::OnComm, this, &RadioLink::OnComm);
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
            QMetaObject::invokeMethod(this, &RadioLink::OnComm, Qt::QueuedConnection);
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

void RadioLink::OnComm() {
    ProcessInput();
}

void RadioLink::ProcessInput() {
    const QByteArray bytes = MSComm1.ReadAll();
    if (bytes.isEmpty()) {
        return;
    }
    parser.ProcessBytes(bytes, serial.radioAdress);
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

Status RadioLink::SendCommand(int cmd, int subcmd, QByteArrayView data, WriteTime at) {
    if (shuttingDown) {
        return Closing();
    }
    QByteArray frame;
    if (Status built = civ::BuildFrame(serial.radioAdress, cmd, subcmd, data, &frame);
        !built.IsOk()) {
        return built;
    }
    if (!portIsOpen()) {
        return CommPort::NotOpen(serial.comPort, PortProblem());
    }
    if (at) {
        if (Status queued = MSComm1.OutputAt(frame, *at); !queued.IsOk()) {
            return queued;
        }
        // The writer thread sends it at its instant; the loop goes on meanwhile, and the port
        // posts the end of the write (or drops it on closing, which also ends this).
        while (MSComm1.WritePending()) {
            dispatch(true);
        }
        if (Status written = MSComm1.TakeWriteOutcome(); !written.IsOk()) {
            return shuttingDown ? Closing() : written;
        }
    } else if (Status written = MSComm1.Output(frame); !written.IsOk()) {
        return written;
    }

    // Wait for a recognised frame. The flag is not cleared first: one that a report raised
    // since the last wait ends this one after the first pass. A timer wakes the loop at the
    // deadline so the wait can block instead of spinning.
    const QDeadlineTimer deadline(replyTimeout, Qt::PreciseTimer);
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(replyTimeout);
    dispatch(false);
    while (!replyReceived && !shuttingDown && !deadline.hasExpired()) {
        dispatch(true);
    }
    if (!replyReceived && !shuttingDown && radioAnswering) {
        radioAnswering = false;
        emit RadioAnsweringChanged(false);
    }
    replyReceived = false;
    return Status::Ok();
}

Status RadioLink::Setfreq(std::int32_t frequency, WriteTime at) {
    std::array<std::uint8_t, civ::kFrequencyBytes> bcd{};
    if (Status encoded = civ::FreqToBcd(frequency, bcd); !encoded.IsOk()) {
        return encoded;
    }
    return SendCommand(civ::kCmdSetFrequency, civ::kNoSubCommand,
                       QByteArrayView(reinterpret_cast<const char*>(bcd.data()), bcd.size()), at);
}

void RadioLink::Shutdown() {
    shuttingDown = true;
    reopenTimer.stop();
    MSComm1.Close();
    // Let a wait that is blocked in the event loop see the flag.
    if (auto* dispatcher = QAbstractEventDispatcher::instance()) {
        dispatcher->wakeUp();
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
