#include "rig/queuedtuner.h"

#include "link/civ.h"

#include <algorithm>

namespace {

constexpr double kHzPerMegahertz = 1e6;
constexpr int kMegahertzDecimals = 3;

} // namespace

QString QueuedTuner::MegahertzText(std::int32_t hz) {
    return QString::number(hz / kHzPerMegahertz, 'f', kMegahertzDecimals) + QStringLiteral(" MHz");
}

QueuedTuner::QueuedTuner(QObject* parent) : Tuner(parent) {
    idleTimer.setInterval(kIdleReadInterval);
    connect(&idleTimer, &QTimer::timeout, this, &QueuedTuner::IdleRead);
    idleTimer.start();
}

void QueuedTuner::SetReplyBudget(std::chrono::milliseconds budget) {
    replyBudget = std::clamp(budget, std::chrono::milliseconds(1), kMaxReplyBudget);
}

void QueuedTuner::Tune(quint64 id, std::int32_t hz) {
    if (stopped) {
        emit TuneFinished(
            id, hz, TuneOutcome::Failed,
            Status::Error(QStringLiteral("Tavmirok is closing; nothing more is sent."),
                          QStringLiteral("closing")));
        return;
    }
    if (inFlight == Command::None) {
        Send({id, hz});
        return;
    }
    if (waiting) {
        const Request replaced = *waiting;
        waiting.reset();
        emit TuneFinished(replaced.id, replaced.hz, TuneOutcome::Superseded,
                          Status::Error(QStringLiteral("A newer step replaced it before the "
                                                       "radio was free."),
                                        QStringLiteral("replaced")));
        if (!toldSlow) {
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
    inFlight = Command::Set;
    current = request;
    idleTimer.start(); // the idle reads count from the last set
    StartSet(request.hz);
}

void QueuedTuner::Read() {
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
    if (waiting) {
        StartNext();
    } else if (status.IsOk()) {
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
        emit DisplayText(QString());
        emit DisplayText(civ::FormatKilohertz(*hz));
    }
    if (!stopped && waiting && inFlight == Command::None) {
        StartNext();
    }
}

void QueuedTuner::StartNext() {
    const Request next = *waiting;
    waiting.reset();
    Send(next);
}

void QueuedTuner::IdleRead() {
    if (!stopped && inFlight == Command::None && !waiting) {
        Read();
    }
}

void QueuedTuner::StopQueue(const Status& status) {
    stopped = true;
    idleTimer.stop();
    const Command was = inFlight;
    inFlight = Command::None;
    if (was == Command::Set) {
        emit TuneFinished(current.id, current.hz, TuneOutcome::Failed, status);
    }
    if (waiting) {
        const Request left = *waiting;
        waiting.reset();
        emit TuneFinished(left.id, left.hz, TuneOutcome::Failed, status);
    }
}
