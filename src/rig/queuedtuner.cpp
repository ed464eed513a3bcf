#include "rig/queuedtuner.h"

#include <algorithm>

QueuedTuner::QueuedTuner(QObject* parent) : Tuner(parent) {
    idleTimer.setInterval(kIdleReadInterval);
    connect(&idleTimer, &QTimer::timeout, this, &QueuedTuner::IdleRead);
    idleTimer.start();
}

void QueuedTuner::SetReplyBudget(std::chrono::milliseconds budget) {
    replyBudget = std::clamp(budget, std::chrono::milliseconds(1), kMaxReplyBudget);
}

void QueuedTuner::SetBand(std::int32_t lowHz, std::int32_t highHz) {
    bandLowHz = lowHz;
    bandHighHz = highHz;
}

QString QueuedTuner::TuneAdvice() const {
    return QStringLiteral("check that it can tune %1 in its present band, mode and VFO settings.")
        .arg(core::BandText(bandLowHz, bandHighHz));
}

bool QueuedTuner::StillConnecting() const {
    return !stopped && !state.connected && state.problem.isEmpty();
}

void QueuedTuner::Tune(quint64 id, std::int32_t hz) {
    if (stopped) {
        emit TuneFinished(id, hz, TuneOutcome::Failed, Status::Closing());
        return;
    }
    if (inFlight == Command::None && !StillConnecting()) {
        Send({id, hz});
        return;
    }
    // Behind the command in flight, or held until the backend has connected.
    if (waiting) {
        const Request replaced = *waiting;
        waiting.reset();
        emit TuneFinished(replaced.id, replaced.hz, TuneOutcome::Superseded,
                          Status::Error(QStringLiteral("A newer step replaced it before the "
                                                       "radio was free."),
                                        QStringLiteral("replaced")));
        if (inFlight != Command::None && !toldSlow) {
            toldSlow = true;
            emit Problem(QStringLiteral(
                "The radio cannot keep up with the sweep: a step came while the one before was "
                "still waiting for the radio, so that one was left out. The radio is tuned to "
                "the newest step as soon as it has finished the command in hand."));
        }
    }
    waiting = Request{id, hz};
}

void QueuedTuner::Send(const Request& request) {
    if (!state.connected) {
        emit TuneFinished(request.id, request.hz, TuneOutcome::Failed,
                          Status::Error(NotConnectedMessage(), QStringLiteral("not connected")));
        return;
    }
    inFlight = Command::Set;
    current = request;
    idleTimer.start(); // the idle reads count from the last set
    StartSet(request.hz);
}

void QueuedTuner::Read() {
    if (!state.connected) {
        return;
    }
    inFlight = Command::Read;
    StartRead();
}

void QueuedTuner::SetDone(const Status& status) {
    if (inFlight != Command::Set) {
        return;
    }
    // A Tune from a slot of this signal waits behind the finished set, like any other.
    emit TuneFinished(current.id, current.hz,
                      status.IsOk() ? TuneOutcome::Reached : TuneOutcome::Failed, status);
    inFlight = Command::None;
    if (stopped) {
        return;
    }
    if (status.IsOk() && !readBack) {
        // The radio acknowledged this frequency; the idle reads show a knob turned later.
        ShowFrequency(current.hz);
    }
    if (waiting) {
        StartNext();
    } else if (status.IsOk() && readBack) {
        // A failed set changed nothing worth a read, and a silent radio would hold the next
        // step up for a second wait.
        Read();
    }
}

void QueuedTuner::ReadDone(std::optional<double> hz) {
    if (inFlight != Command::Read) {
        return;
    }
    inFlight = Command::None;
    if (hz && !stopped) {
        ShowFrequency(*hz);
    }
    if (!stopped && waiting && inFlight == Command::None) {
        StartNext();
    }
}

void QueuedTuner::ShowFrequency(double hz) {
    emit DisplayText(QString());
    emit DisplayText(core::FormatKilohertz(hz));
}

void QueuedTuner::StartNext() {
    if (StillConnecting()) {
        return; // held until the backend has connected
    }
    const Request next = *waiting;
    waiting.reset();
    Send(next);
}

void QueuedTuner::IdleRead() {
    if (!stopped && inFlight == Command::None && !waiting) {
        Read();
    }
}

void QueuedTuner::FailWaiting(const Status& status) {
    if (waiting) {
        const Request left = *waiting;
        waiting.reset();
        emit TuneFinished(left.id, left.hz, TuneOutcome::Failed, status);
    }
}

void QueuedTuner::StopQueue(const Status& status) {
    stopped = true;
    idleTimer.stop();
    const Command was = inFlight;
    inFlight = Command::None;
    state.connected = false;
    state.reconnecting = false;
    if (was == Command::Set) {
        emit TuneFinished(current.id, current.hz, TuneOutcome::Failed, status);
    }
    FailWaiting(status);
    emit StateChanged();
}

void QueuedTuner::Describe(const QString& backend, const QString& endpoint, const QString& radio) {
    state.backend = backend;
    state.endpoint = endpoint;
    state.radio = radio;
}

void QueuedTuner::Connecting() {
    toldSlow = false;
    state.problem.clear();
    state.problemDetail.clear();
}

void QueuedTuner::Online() {
    state.connected = true;
    state.reconnecting = false;
    state.problem.clear();
    state.problemDetail.clear();
    TroubleEnded(Trouble::Unreachable);
    emit StateChanged();
    if (!stopped && inFlight == Command::None && waiting) {
        StartNext();
    }
}

void QueuedTuner::Offline(const QString& reason, const QString& message, Trouble trouble,
                          bool reconnecting) {
    state.connected = false;
    state.reconnecting = reconnecting;
    state.problem = reason;
    state.problemDetail = message;
    emit StateChanged();
    TellOnce(trouble, message);
    if (inFlight == Command::None) {
        // Held while connecting: the connection it waited for did not come.
        FailWaiting(Status::Error(message, reason));
    }
}

void QueuedTuner::ReplyArrived() {
    TroubleEnded(Trouble::Silent);
    TroubleEnded(Trouble::Garbled);
    if (!state.answering) {
        state.answering = true;
        emit StateChanged();
    }
}

void QueuedTuner::SetAnswered(bool refused, const QString& message) {
    TroubleEnded(Trouble::Silent);
    TroubleEnded(Trouble::Garbled);
    if (!refused) {
        TroubleEnded(Trouble::Refusing);
    }
    if (!state.answering || state.refusing != refused) {
        state.answering = true;
        state.refusing = refused;
        emit StateChanged();
    }
    if (refused) {
        TellOnce(Trouble::Refusing, message);
    }
}

void QueuedTuner::ReplyMissing() {
    TroubleEnded(Trouble::Refusing);
    if (state.answering || state.refusing) {
        state.answering = false;
        state.refusing = false;
        emit StateChanged();
    }
}

void QueuedTuner::TellOnce(Trouble trouble, const QString& message) {
    if (trouble == Trouble::Always) {
        emit Problem(message);
        return;
    }
    bool& wasTold = told.at(static_cast<std::size_t>(trouble));
    if (!wasTold) {
        wasTold = true;
        emit Problem(message);
    }
}

void QueuedTuner::TroubleEnded(Trouble trouble) {
    told.at(static_cast<std::size_t>(trouble)) = false;
}
