#include "rig/rigctltuner.h"

#include "rig/rigctlprotocol.h"

namespace {

// How much of an unexpected line a message quotes.
constexpr qsizetype kQuotedLineLength = 40;
constexpr char kStartAdvice[] =
    "Start rigctld (for example \"rigctld -m 3073 -r /dev/ttyUSB0 -s 19200\" for an IC-7300) or "
    "the SDR program's remote control, or correct the address in Configure > Rig Control.";
constexpr char kVfoAdvice[] =
    "If rigctld runs with --vfo it waits for a VFO name in every command; start it without "
    "--vfo, for example \"rigctld -m 3073 -r /dev/ttyUSB0 -s 19200\".";

// The line as printable text, cut short.
QString Quote(const QByteArray& line) {
    QString text;
    for (const char c : line.left(kQuotedLineLength)) {
        text += (c >= ' ' && c <= '~') ? QChar::fromLatin1(c) : QChar(u'?');
    }
    return line.size() > kQuotedLineLength ? text + QStringLiteral("...") : text;
}

} // namespace

RigctlTuner::RigctlTuner(QString hostAndPort, QObject* parent)
    : QueuedTuner(parent), address(std::move(hostAndPort)) {
    Describe(QString::fromLatin1(rigconfig::kBackendNetwork), address, QString());
    replyTimer.setSingleShot(true);
    replyTimer.setTimerType(Qt::PreciseTimer);
    reconnectTimer.setSingleShot(true);
    connect(&replyTimer, &QTimer::timeout, this, &RigctlTuner::OnReplyTimeout);
    connect(&reconnectTimer, &QTimer::timeout, this, &RigctlTuner::TryConnect);
    connectTimer.setSingleShot(true);
    connect(&connectTimer, &QTimer::timeout, this, &RigctlTuner::OnConnectTimeout);
    connect(&socket, &QTcpSocket::connected, this, &RigctlTuner::OnConnected);
    connect(&socket, &QTcpSocket::errorOccurred, this, &RigctlTuner::OnSocketError);
    connect(&socket, &QTcpSocket::readyRead, this, &RigctlTuner::OnReadyRead);
}

RigctlTuner::~RigctlTuner() {
    if (!shutDown) {
        Shutdown();
    }
}

Status RigctlTuner::Connect() {
    if (shutDown) {
        return Status::Error(QStringLiteral("Tavmirok is closing."), QStringLiteral("closing"));
    }
    Connecting();
    if (Status parsed = rigconfig::ParseHostPort(address, &hostPort); !parsed.IsOk()) {
        Offline(parsed.Reason(), parsed.Message(), Trouble::Always, false);
        return parsed;
    }
    TryConnect();
    return Status::Ok();
}

void RigctlTuner::TryConnect() {
    if (shutDown) {
        return;
    }
    socket.abort();
    received.clear();
    connectTimer.start(kConnectTimeout);
    socket.connectToHost(hostPort.host, hostPort.port);
}

void RigctlTuner::OnConnectTimeout() {
    if (shutDown || IsConnected()) {
        return;
    }
    ConnectionFailed(
        QStringLiteral("nothing answered within %1 s")
            .arg(std::chrono::duration_cast<std::chrono::seconds>(kConnectTimeout).count()));
}

void RigctlTuner::OnConnected() {
    connectTimer.stop();
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Online();
}

void RigctlTuner::OnSocketError(QAbstractSocket::SocketError error) {
    if (shutDown) {
        return;
    }
    QString reason;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        reason = QStringLiteral("the connection was refused: nothing listens on port %1 there")
                     .arg(hostPort.port);
        break;
    case QAbstractSocket::HostNotFoundError:
        reason = QStringLiteral("there is no host \"%1\"").arg(hostPort.host);
        break;
    case QAbstractSocket::RemoteHostClosedError:
        reason = QStringLiteral("the other side closed the connection");
        break;
    default:
        reason = socket.errorString();
        break;
    }
    ConnectionFailed(reason);
}

void RigctlTuner::ConnectionFailed(const QString& reason) {
    const bool wasConnected = IsConnected();
    const QString message =
        wasConnected
            ? QStringLiteral("The connection to rigctld at %1 was lost (%2). Tavmirok connects "
                             "again every 2 s; the sweep goes on meanwhile.")
                  .arg(address, reason)
            : QStringLiteral("Cannot connect to rigctld at %1: %2. %3 Tavmirok tries again "
                             "every 2 s.")
                  .arg(address, reason, QString::fromLatin1(kStartAdvice));
    Drop(kReconnectInterval);
    Offline(reason, message, Trouble::Unreachable);
    FailPending(message, reason);
}

void RigctlTuner::Drop(std::chrono::milliseconds delay) {
    replyTimer.stop();
    connectTimer.stop();
    socket.abort();
    received.clear();
    reconnectTimer.start(delay);
}

QString RigctlTuner::NotConnectedMessage() const {
    return QStringLiteral("Not connected to rigctld at %1 (%2), so the radio cannot be tuned. "
                          "Tavmirok tries again every 2 s.")
        .arg(address, ProblemReason().isEmpty() ? QStringLiteral("connecting") : ProblemReason());
}

void RigctlTuner::StartSet(std::int32_t hz) {
    pendingHz = hz;
    Send(Pending::Set, rigctl::SetFrequencyCommand(hz));
}

void RigctlTuner::StartRead() {
    Send(Pending::Read, rigctl::ReadFrequencyCommand());
}

void RigctlTuner::Send(Pending command, const QByteArray& line) {
    pending = command;
    replyTimer.start(ReplyBudget());
    socket.write(line);
    socket.flush(); // now, not at the next pass of the event loop
}

void RigctlTuner::OnReadyRead() {
    received += socket.readAll();
    while (!received.isEmpty()) {
        const qsizetype end = received.indexOf('\n');
        if (end < 0 && received.size() <= rigctl::kMaxLineLength) {
            return;
        }
        if (end < 0 || end > rigctl::kMaxLineLength) {
            // An endless line: no reply is that long.
            const QByteArray head = received.left(rigctl::kMaxLineLength);
            received.clear();
            TakeLine(head + QByteArrayLiteral("..."));
            return;
        }
        const QByteArray line = received.left(end);
        received.remove(0, end + 1);
        TakeLine(line);
    }
}

void RigctlTuner::TakeLine(const QByteArray& line) {
    const rigctl::Reply reply = rigctl::ParseReply(line);
    const Pending was = pending;
    if (was == Pending::Set && reply.kind == rigctl::Reply::Kind::Report) {
        SetAnswer(reply.code);
        return;
    }
    if (was == Pending::Read && reply.kind != rigctl::Reply::Kind::Garbled) {
        replyTimer.stop();
        pending = Pending::None;
        ReplyArrived();
        ReadDone(reply.kind == rigctl::Reply::Kind::Value ? std::optional<double>(reply.value)
                                                          : std::nullopt);
        return;
    }
    const QString command = was == Pending::Set    ? QStringLiteral("F %1").arg(pendingHz)
                            : was == Pending::Read ? QStringLiteral("f")
                                                   : QString();
    const QString message =
        QStringLiteral("rigctld at %1 sent \"%2\", which is not an answer to %3, so the "
                       "connection was dropped and is made again. Check that %1 is the port of "
                       "rigctld or of the SDR program's remote control.")
            .arg(address, Quote(line),
                 command.isEmpty() ? QStringLiteral("any command sent")
                                   : QStringLiteral("\"%1\"").arg(command));
    Drop(std::chrono::milliseconds::zero());
    Offline(QStringLiteral("unexpected answer"), message, Trouble::Garbled);
    FailPending(message, QStringLiteral("unexpected answer"));
}

void RigctlTuner::SetAnswer(int code) {
    replyTimer.stop();
    pending = Pending::None;
    const bool refusing = code == rigctl::kRprtRejected;
    if (code == rigctl::kRprtOk) {
        SetAnswered(false);
        SetDone(Status::Ok());
        return;
    }
    QString message = QStringLiteral("rigctld at %1 could not tune the radio to %2: it answered "
                                     "RPRT %3 (%4).")
                          .arg(address, core::MegahertzText(pendingHz))
                          .arg(code)
                          .arg(rigctl::ReportMeaning(code));
    if (refusing) {
        message += QStringLiteral(" The radio may not be following the sweep; ") + TuneAdvice();
        SetAnswered(true, message);
    } else if (code == rigctl::kRprtTimeout) {
        // rigctld answered, the radio behind it did not.
        ReplyMissing();
    } else {
        SetAnswered(false);
        if (code == rigctl::kRprtInvalid || code == rigctl::kRprtNotAvailable) {
            message += QLatin1Char(' ') + QString::fromLatin1(kVfoAdvice);
            TellOnce(Trouble::Vfo, message);
        }
    }
    SetDone(Status::Error(message, QStringLiteral("RPRT %1").arg(code)));
}

void RigctlTuner::OnReplyTimeout() {
    if (pending == Pending::None) {
        return;
    }
    const QString command =
        pending == Pending::Set ? QStringLiteral("F %1").arg(pendingHz) : QStringLiteral("f");
    const QString message =
        QStringLiteral("rigctld at %1 did not answer \"%2\" within %3 ms, so the connection was "
                       "dropped and is made again. Either the radio is slow or not answering "
                       "rigctld (check its cable, speed and model), or rigctld waits for more: %4")
            .arg(address, command)
            .arg(ReplyBudget().count())
            .arg(QString::fromLatin1(kVfoAdvice));
    Drop(std::chrono::milliseconds::zero());
    ReplyMissing();
    Offline(QStringLiteral("no answer"), message, Trouble::Silent);
    FailPending(message, QStringLiteral("no answer"));
}

void RigctlTuner::FailPending(const QString& message, const QString& reason) {
    const Pending was = pending;
    pending = Pending::None;
    replyTimer.stop();
    if (was == Pending::Set) {
        SetDone(Status::Error(message, reason));
    } else if (was == Pending::Read) {
        ReadDone(std::nullopt);
    }
}

void RigctlTuner::Shutdown() {
    if (shutDown) {
        return;
    }
    shutDown = true;
    replyTimer.stop();
    reconnectTimer.stop();
    connectTimer.stop();
    socket.abort();
    pending = Pending::None;
    StopQueue(Status::Closing());
}
