#pragma once

// The built-in CI-V radio link: owns the serial control `MSComm1`, the receive parser and the
// command sender, and reads the serial settings (`comPort`, `baudRate`, `radioAdress`) its owner
// hands it. Everything runs on the thread that owns it. Commands go out one at a time, each
// after the one before has had its reply (or its reply timeout), and each ends with a call to
// its completion from the event loop: nothing in here ever waits inside a call.

#include "core/frequencytext.h"
#include "core/serialsettings.h"
#include "core/status.h"
#include "link/commport.h"
#include "link/receiveparser.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

class RadioLink : public QObject {
    Q_OBJECT
public:
    // How long a command waits at most for a recognised frame before it gives up (nothing is
    // resent). A fast sweep may ask for less: see SetReplyTimeout.
    static constexpr std::chrono::milliseconds kReplyTimeout{500};
    // How often a port whose device went away is tried again.
    static constexpr std::chrono::milliseconds kReopenInterval{2000};

    // serial: the port, speed and address, read at each open and each frame; it must outlive
    // the link.
    explicit RadioLink(const SerialSettings& serial, QObject* parent = nullptr);

    bool replyReceived = false;

    const SerialSettings& Serial() const { return serial; }
    bool PortIsOpen() const { return MSComm1.IsOpen(); }
    // The band the station tunes, named in the advice when the radio refuses a frequency.
    void SetBand(std::int32_t lowHz, std::int32_t highHz);
    // The reply wait from now on: at most kReplyTimeout.
    void SetReplyTimeout(std::chrono::milliseconds timeout);

    // Opens the settings' `comPort` at their `baudRate`. Expects the port to be closed.
    Status OpenPort();
    void ClosePort();

    using WriteTime = std::optional<std::chrono::steady_clock::time_point>;
    // How a command ended: ok once it was written, whether or not the radio answered in time
    // (RadioAnswering tells that); an error when it could not be sent.
    using Done = std::function<void(const Status& status)>;

    // Sends FE FE <radioAdress> 4D <cmd> [<subcmd>] <data> FD as one write, behind any command
    // still in hand, and then waits, without holding anything up, until the receive parser has
    // taken in a recognised frame, the reply timeout has passed, or the link shuts down; then
    // calls done, never from inside this call. subcmd civ::kNoSubCommand sends none; empty data
    // sends no data bytes. With `at`, the frame is written at that instant (at once when it
    // has passed) and the reply timeout counts from the write. The address is read as the
    // frame is built, here.
    void SendCommand(int cmd, int subcmd, QByteArrayView data, WriteTime at, Done done);
    // Tunes the radio: command 0x05 with the frequency as five packed-BCD bytes.
    void Setfreq(std::int32_t frequency, WriteTime at, Done done);
    // Commands given and not yet ended.
    int CommandsInHand() const { return static_cast<int>(queue.size()) + (busy ? 1 : 0); }

    // Ends every wait at once, stops trying to reopen, and releases the port. Sends fail after it.
    void Shutdown();

    // False after a command's wait ran out without a recognised frame; true again at the next one.
    bool RadioAnswering() const { return radioAnswering; }
    // True from an NG answer (the radio refused a command, such as a frequency it cannot tune)
    // until the next OK.
    bool RadioRefusing() const { return radioRefusing; }
    // The device the port name maps to ("" when the name is not valid).
    QString Device() const;
    // Why the port is not open ("" while it is open or before the first try), whole and short.
    QString PortProblem() const { return portProblem.IsOk() ? QString() : portProblem.Message(); }
    QString PortProblemReason() const {
        return portProblem.IsOk() ? QString() : portProblem.Reason();
    }
    bool IsReopening() const { return reopenTimer.isActive(); }

    void SetDisplayLocale(const QLocale& locale) { parser.SetLocale(locale); }
    CommPort& Port() { return MSComm1; }

signals:
    // Writes to the frequency display `Text1`: "" and then the text, for each frequency shown.
    void DisplayText(const QString& text);
    // Something the user must be told.
    void Problem(const QString& message);
    void RadioAnsweringChanged(bool answering);
    void RadioRefusingChanged(bool refusing);
    // The port opened, closed, went away or came back.
    void PortStateChanged();

private:
    struct Command {
        QByteArray frame; // empty when it failed before anything was to be sent
        Status refusal = Status::Ok();
        WriteTime at;
        Done done;
    };

    // Queues the command behind those in hand, and the next start where none is queued.
    void Enqueue(Command command);
    void QueueStart();
    void StartNext();
    void WriteEnded();
    void BeginReplyWait();
    void EndReplyWait();
    void Finish(const Status& status);
    void ProcessInput();
    void ReplyFlagRaised();
    void AnswerReceived(bool accepted);
    void DeviceLost(const QString& message);
    void TryReopen();
    Status OpenPortNow();

    const SerialSettings& serial;
    CommPort MSComm1;
    ReceiveParser parser;
    QTimer reopenTimer;
    QTimer replyTimer;
    std::deque<Command> queue;
    Done current; // the command in hand's completion
    bool busy = false;
    bool writing = false;
    bool waitingForReply = false;
    bool startQueued = false;
    std::chrono::milliseconds replyTimeout = kReplyTimeout;
    std::int32_t bandLowHz = core::kDefaultBandLowHz;
    std::int32_t bandHighHz = core::kDefaultBandHighHz;
    bool radioAnswering = true;
    bool radioRefusing = false;
    bool shuttingDown = false;
    Status portProblem = Status::Ok();
};
