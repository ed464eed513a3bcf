#include "link/civtuner.h"

CivTuner::CivTuner(RadioLink& radioLink, QObject* parent) : Tuner(parent), link(radioLink) {
    connect(&link, &RadioLink::DisplayText, this, &Tuner::DisplayText);
    connect(&link, &RadioLink::Problem, this, &Tuner::Problem);
    connect(&link, &RadioLink::PortStateChanged, this, &Tuner::StateChanged);
    connect(&link, &RadioLink::RadioAnsweringChanged, this, &Tuner::StateChanged);
    connect(&link, &RadioLink::RadioRefusingChanged, this, &Tuner::StateChanged);
    connect(&link, &RadioLink::RadioAddressChanged, this, &Tuner::StateChanged);
}

void CivTuner::Tune(quint64 id, std::int32_t hz) {
    const Status sent = link.Setfreq(hz);
    emit TuneFinished(id, hz, sent.IsOk() ? TuneOutcome::Reached : TuneOutcome::Failed, sent);
}

void CivTuner::SetReplyBudget(std::chrono::milliseconds budget) {
    link.SetReplyTimeout(budget);
}

Status CivTuner::Connect() {
    if (link.PortIsOpen()) {
        link.ClosePort();
    }
    return link.OpenPort();
}

void CivTuner::Shutdown() {
    link.Shutdown();
}

RigState CivTuner::State() const {
    RigState state;
    state.backend = QStringLiteral("civ");
    const QString device = link.Device();
    state.endpoint = device.isEmpty() || device == link.comPort
                         ? link.comPort
                         : QStringLiteral("%1 (%2)").arg(link.comPort, device);
    state.speed = link.baudRate;
    state.connected = link.PortIsOpen();
    state.reconnecting = link.IsReopening();
    state.problem = link.PortProblemReason();
    state.problemDetail = link.PortProblem();
    state.answering = link.RadioAnswering();
    state.refusing = link.RadioRefusing();
    state.radio = QString::number(link.radioAdress, 16).toUpper();
    return state;
}
