#include "station/station.h"

#include "sweep/localclock.h"

#include <utility>

Station::Station(std::function<double()> clockFunction, QObject* parent)
    : QObject(parent), clock(std::move(clockFunction)), link(this), civ(link, this), tuner(&civ) {
    if (!clock) {
        clock = &sweep::SecondsSinceLocalMidnight;
    }
    timer = std::make_unique<AlignedTickTimer>(clock);
    scheduler = std::make_unique<SweepScheduler>(
        SweepScheduler::Hooks{clock, [this] { return chirpText; }}, *timer, *tuner);

    connect(tuner, &Tuner::DisplayText, this, &Station::DisplayText);
    connect(tuner, &Tuner::Problem, this, &Station::Problem);
    connect(tuner, &Tuner::StateChanged, this, &Station::StateChanged);
    connect(scheduler.get(), &SweepScheduler::problem, this, &Station::Problem);
    connect(scheduler.get(), &SweepScheduler::notice, this, &Station::Notice);
    connect(scheduler.get(), &SweepScheduler::progressChanged, this, &Station::StateChanged);
    connect(scheduler.get(), &SweepScheduler::PhaseEntered, this, &Station::PhaseEntered);
    connect(scheduler.get(), &SweepScheduler::StepPlanned, this, &Station::StepPlanned);
    connect(scheduler.get(), &SweepScheduler::StepTuned, this, &Station::StepTuned);
}

Station::~Station() {
    Shutdown();
}

void Station::Apply(const StoredSettings& settings) {
    link.comPort = settings.comPort;
    link.baudRate = settings.baudRate;
    chirpText = settings.chirpTime;
    link.SetRadioAddress(settings.radioAdress);
}

StoredSettings Station::Current() const {
    StoredSettings settings;
    settings.comPort = link.comPort;
    settings.baudRate = link.baudRate;
    settings.chirpTime = chirpText;
    settings.radioAdress = link.radioAdress;
    return settings;
}

Status Station::Connect() {
    return tuner->Connect();
}

void Station::Start() {
    scheduler->StartButtonClick();
}

void Station::Shutdown() {
    if (shutDown) {
        return;
    }
    shutDown = true;
    scheduler->Stop();
    timer->onTick = nullptr;
    tuner->Shutdown();
}
