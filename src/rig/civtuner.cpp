#include "rig/civtuner.h"

#include <QPointer>

CivTuner::CivTuner(RadioLink& radioLink, QObject* parent) : Tuner(parent), link(radioLink) {
    connect(&link, &RadioLink::DisplayText, this, &Tuner::DisplayText);
    connect(&link, &RadioLink::Problem, this, &Tuner::Problem);
    connect(&link, &RadioLink::PortStateChanged, this, &Tuner::StateChanged);
    connect(&link, &RadioLink::RadioAnsweringChanged, this, &Tuner::StateChanged);
    connect(&link, &RadioLink::RadioRefusingChanged, this, &Tuner::StateChanged);
}

void CivTuner::Tune(quint64 id, std::int32_t hz) {
    Send(id, hz, std::nullopt);
}

void CivTuner::TuneIn(quint64 id, std::int32_t hz, std::chrono::microseconds delay) {
    Send(id, hz, std::chrono::steady_clock::now() + delay);
}

void CivTuner::Send(quint64 id, std::int32_t hz, RadioLink::WriteTime at) {
    link.Setfreq(hz, at, [tuner = QPointer<CivTuner>(this), id, hz](const Status& sent) {
        if (tuner) {
            emit tuner->TuneFinished(
                id, hz, sent.IsOk() ? TuneOutcome::Reached : TuneOutcome::Failed, sent);
        }
    });
}

void CivTuner::SetReplyBudget(std::chrono::milliseconds budget) {
    link.SetReplyTimeout(budget);
}

void CivTuner::SetBand(std::int32_t lowHz, std::int32_t highHz) {
    link.SetBand(lowHz, highHz);
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
    const SerialSettings& serial = link.Serial();
    const QString device = link.Device();
    state.endpoint = device.isEmpty() || device == serial.comPort
                         ? serial.comPort
                         : QStringLiteral("%1 (%2)").arg(serial.comPort, device);
    state.speed = serial.baudRate;
    state.connected = link.PortIsOpen();
    state.reconnecting = link.IsReopening();
    state.problem = link.PortProblemReason();
    state.problemDetail = link.PortProblem();
    state.answering = link.RadioAnswering();
    state.refusing = link.RadioRefusing();
    state.radio = QString::number(serial.radioAdress, 16).toUpper();
    return state;
}
