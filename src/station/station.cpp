#include "station/station.h"

#include "geo/position.h"
#include "rig/hamlibtuner.h"
#include "rig/rigctltuner.h"
#include "station/followplan.h"
#include "sweep/utcclock.h"

#include "core/units.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

Station::Station(std::function<double()> clockFunction, QObject* parent)
    : QObject(parent), clock(std::move(clockFunction)), link(serial, this), civ(link, this),
      tuner(&civ), rigChoice(rigconfig::DefaultRigChoice()) {
    if (!clock) {
        clock = &sweep::SecondsSinceUtcMidnight;
    }
    timer = std::make_unique<AlignedTickTimer>(clock);
    scheduler = std::make_unique<SweepScheduler>(
        SweepScheduler::Hooks{clock, [this] { return chirpText; }}, *timer, *tuner);
    Attach(*tuner);
    ApplyBand();
    audioCheck.setInterval(kAudioCheck);
    audioCheck.setTimerType(Qt::CoarseTimer);
    connect(&audioCheck, &QTimer::timeout, this, &Station::RestAudio);
    connect(scheduler.get(), &SweepScheduler::Problem, this, &Station::Problem);
    connect(scheduler.get(), &SweepScheduler::Notice, this, &Station::Notice);
    connect(scheduler.get(), &SweepScheduler::ProgressChanged, this, &Station::StateChanged);

    // The ionogram listens to the sweep and the audio; it never holds a step up. It hears each
    // event before the station passes it on: the single sounder's go to its recorder, each
    // followed sounder's to its own.
    connect(scheduler.get(), &SweepScheduler::SweepArmed, this,
            [this](const QString& sounder, double firstStep, double chirp) {
                if (IonogramRecorder* r = RecorderFor(sounder)) {
                    r->SweepArmed(sounder, firstStep, chirp);
                }
                if (scheduler->Followed().empty()) {
                    emit SweepArmed(sounder, firstStep, chirp);
                }
            });
    connect(scheduler.get(), &SweepScheduler::SweepStarted, this,
            [this](const QString& sounder, double mark) {
                if (IonogramRecorder* r = RecorderFor(sounder)) {
                    r->SweepStarted(sounder, mark);
                }
                emit SweepStarted(sounder, mark);
            });
    connect(scheduler.get(), &SweepScheduler::SweepEnded, this,
            [this](const QString& sounder, bool complete) {
                if (IonogramRecorder* r = RecorderFor(sounder)) {
                    r->SweepEnded(sounder, complete);
                }
                emit SweepEnded(sounder, complete);
            });
    connect(scheduler.get(), &SweepScheduler::StepPlanned, this,
            [this](const sweep::SlotTuning& step) {
                lastTuning = clock();
                if (IonogramRecorder* r = RecorderFor(step.sounder)) {
                    r->StepPlanned(step);
                }
            });
    // An answer may come after the radio passed from the single sounder to the plan or back:
    // both recorders hear it, and only the one that planned the step (by its id) takes it.
    connect(scheduler.get(), &SweepScheduler::StepTuned, this,
            [this](const sweep::SlotTuning& step) {
                if (IonogramRecorder* r = RecorderOf(step.sounder)) {
                    r->StepTuned(step);
                }
                recorder.StepTuned(step);
                emit StepTuned(step);
            });
    connect(scheduler.get(), &SweepScheduler::ClockJumped, &recorder,
            &IonogramRecorder::ClockChanged);
    connect(&audio, &ionogram::AudioStream::Placed, &recorder, &IonogramRecorder::AudioPlaced);
    connect(&audio, &ionogram::AudioStream::Problem, this, &Station::Problem);
    connect(&audio, &ionogram::AudioStream::Notice, this, &Station::Notice);
    connect(&recorder, &IonogramRecorder::Problem, this, &Station::Problem);
    connect(&recorder, &IonogramRecorder::SweepUpdated, this, &Station::IonogramUpdated);
    connect(&recorder, &IonogramRecorder::Archived, this, &Station::Archived);
    connect(&recorder, &IonogramRecorder::SweepComplete, this, &Station::SweepComplete);

    // Each complete sweep scaled, into the day file and day plot.
    connect(&recorder, &IonogramRecorder::SweepComplete, &propagation, &Propagation::Take);
    connect(&propagation, &Propagation::Scaled, this, &Station::Scaled);
    connect(&propagation, &Propagation::Scaled, this, &Station::TakeMof);
    connect(&propagation, &Propagation::DayRecorded, this, &Station::DayRecorded);
    connect(&propagation, &Propagation::Problem, this, &Station::Problem);
    connect(&propagation, &Propagation::AudioDelaySuggested, this, [this](const QString& text) {
        suggestedAudioDelay = text;
        emit Notice(text);
        emit AudioDelaySuggested(text);
    });
    connect(&audio, &ionogram::AudioStream::Placed, &listener, &Listener::AudioPlaced);
    connect(&listener, &Listener::Problem, this, &Station::Problem);
}

Station::~Station() {
    Shutdown();
}

void Station::Apply(const StoredSettings& settings) {
    serial.comPort = settings.comPort;
    serial.baudRate = settings.baudRate;
    chirpText = settings.chirpTime;
    serial.radioAdress = settings.radioAdress;
    emit StateChanged();
}

void Station::Apply(const StationSettings& settings) {
    applied = settings;
    Apply(settings.basic);
    ApplyProfile(settings.profile);
    rigChoice = settings.rig;
    ConfigureIonogram(settings.ionogram);
    SetSavedSounders(settings.saved);
    SetPositions(settings.stationAt, settings.sounderAt);
    Follow(PlanSounders(settings), PlanSettingsFor(settings));
}

namespace {

std::optional<geo::Position> PositionIn(const QString& text) {
    return geo::ParsePosition(text.trimmed().toStdString()).position;
}

} // namespace

std::optional<geo::Position> Station::StationPosition() const {
    return PositionIn(stationAt);
}

std::optional<geo::Position> Station::PositionOf(const QString& sounder) const {
    const SavedSounder* saved = SavedNamed(sounder);
    return PositionIn(saved ? saved->at : sounderAt);
}

const sweep::FollowedSounder* Station::FollowedNamed(const QString& name) const {
    const auto found =
        std::find_if(followed.begin(), followed.end(),
                     [&name](const sweep::FollowedSounder& s) { return s.name == name; });
    return found == followed.end() ? nullptr : &*found;
}

const SavedSounder* Station::SavedNamed(const QString& name) const {
    const auto found = std::find_if(savedSounders.begin(), savedSounders.end(),
                                    [&name](const SavedSounder& s) { return s.name == name; });
    return found == savedSounders.end() ? nullptr : &*found;
}

Status Station::FollowSaved(const QStringList& names) {
    StationSettings settings = applied;
    settings.basic = Current();
    settings.rig = rigChoice;
    settings.saved = savedSounders;
    for (const QString& name : names) {
        if (!SavedNamed(name)) {
            return Status::Error(QStringLiteral("No sounder is saved as \u201c%1\u201d: save it "
                                                "in Configure > Sounder first.")
                                     .arg(name));
        }
    }
    for (SavedSounder& s : settings.saved) {
        s.follow = names.contains(s.name);
    }
    if (const Status fits = CheckFollowed(settings); !fits.IsOk()) {
        return fits;
    }
    Follow(PlanSounders(settings), PlanSettingsFor(settings));
    return Status::Ok();
}

void Station::SetPositions(const QString& station, const QString& sounder) {
    stationAt = station;
    sounderAt = sounder;
    const auto position = &PositionIn;
    std::map<QString, geo::Position> saved;
    for (const SavedSounder& s : savedSounders) {
        if (const auto at = position(s.at)) {
            saved.emplace(s.name, *at);
        }
    }
    propagation.SetPositions(position(stationAt), std::move(saved), position(sounderAt));
}

void Station::Follow(std::vector<sweep::FollowedSounder> sounders,
                     const sweep::PlanSettings& settings) {
    followed = std::move(sounders);
    planSettings = settings;
    MakeSounderRecorders();
    ApplyBand();
    if (started && !shutDown) {
        Start();
    }
}

StoredSettings Station::Current() const {
    StoredSettings settings;
    settings.comPort = serial.comPort;
    settings.baudRate = serial.baudRate;
    settings.chirpTime = chirpText;
    settings.radioAdress = serial.radioAdress;
    return settings;
}

void Station::Attach(Tuner& next) {
    connect(&next, &Tuner::DisplayText, this, &Station::DisplayText);
    connect(&next, &Tuner::Problem, this, &Station::Problem);
    connect(&next, &Tuner::StateChanged, this, &Station::StateChanged);
    connect(
        &next, &Tuner::TuneFinished, this,
        [this](quint64, std::int32_t, TuneOutcome outcome, const Status&) { emit Tuned(outcome); });
}

void Station::ApplyProfile(const sweep::Profile& profile) {
    if (profile == scheduler->Profile()) {
        return;
    }
    scheduler->SetProfile(profile);
    ApplyBand();
    recorder.Configure(recorder.Choice(), profile);
    emit StateChanged();
}

void Station::TakeMof(const ionogram::IonogramSweep& sweep, const ionogram::ScaledSweep& scaled) {
    const QString& sounder = sweep.sounder;
    const auto first = std::find_if(scaled.traces.begin(), scaled.traces.end(),
                                    [](const ionogram::ScaledTrace& t) { return t.number == 1; });
    if (first == scaled.traces.end() || !(first->mofKhz > 0)) {
        return; // nothing scaled: the fine steps stay where they were
    }
    for (sweep::FollowedSounder& s : followed) {
        if (s.name == sounder) {
            s.mofKhz = first->mofKhz;
        }
    }
    scheduler->SetMof(sounder, first->mofKhz);
}

void Station::MakeSounderRecorders() {
    // A sweep under way when the followed set changes is archived, cut short, by its recorder,
    // which goes once the sweep is handed on (its archive written).
    for (std::unique_ptr<IonogramRecorder>& old : sounderRecorders) {
        IonogramRecorder* retiring = old.get();
        disconnect(&audio, nullptr, retiring, nullptr);
        connect(retiring, &IonogramRecorder::SweepComplete, retiring, &QObject::deleteLater);
        if (retiring->EndSweep()) {
            retiring->setParent(this); // gone with the station at the latest
            old.release();
        }
    }
    sounderRecorders.clear();
    for (const sweep::FollowedSounder& s : followed) {
        auto r = std::make_unique<IonogramRecorder>();
        r->NameArchivesBySounder(true);
        r->Configure(ChoiceOf(s.name), s.profile);
        connect(&audio, &ionogram::AudioStream::Placed, r.get(), &IonogramRecorder::AudioPlaced);
        connect(r.get(), &IonogramRecorder::Problem, this, &Station::Problem);
        connect(r.get(), &IonogramRecorder::SweepUpdated, this, &Station::IonogramUpdated);
        connect(r.get(), &IonogramRecorder::Archived, this, &Station::Archived);
        connect(r.get(), &IonogramRecorder::SweepComplete, this, &Station::SweepComplete);
        // Scaled into the day file and plot like the single sounder's, which also gives the
        // plan the MOF its fine steps centre on.
        connect(r.get(), &IonogramRecorder::SweepComplete, &propagation, &Propagation::Take);
        sounderRecorders.push_back(std::move(r));
    }
}

IonogramRecorder* Station::RecorderFor(const QString& sounder) {
    return scheduler->Followed().empty() ? &recorder : RecorderOf(sounder);
}

IonogramRecorder* Station::RecorderOf(const QString& sounder) {
    const sweep::FollowedSounder* named = FollowedNamed(sounder);
    const auto i = named ? std::size_t(named - followed.data()) : sounderRecorders.size();
    return i < sounderRecorders.size() ? sounderRecorders[i].get() : nullptr;
}

void Station::ConfigureIonogram(const IonogramChoice& choice) {
    ionogramChoice = choice;
    for (std::size_t i = 0; i < followed.size() && i < sounderRecorders.size(); ++i) {
        sounderRecorders[i]->Configure(ChoiceOf(followed[i].name), followed[i].profile);
    }
    recorder.Configure(choice, scheduler->Profile());
    propagation.Configure(choice);
    listener.SetArchiveFolder(choice.folder);
    if (shutDown || choice.audioInput.isEmpty()) {
        audio.Stop();
        audioCheck.stop();
    } else {
        audio.Listen(choice.audioInput);
        audioCheck.start();
    }
}

void Station::RestAudio() {
    if (!audio.Listening()) {
        return;
    }
    const std::optional<double> next = scheduler->SecondsToNextTuning();
    // Not armed (the window before Start), the input keeps running: Start may arm a sweep due
    // in seconds, whose audio must be placed as well as ever.
    if (audio.Resting()) {
        if (listener.Active() || !next || *next < kAudioWakeLead) {
            audio.SetResting(false);
        }
        return;
    }
    // An input is rested only once it has delivered sound, so a failing one is told at once.
    const bool tunedLately =
        lastTuning && std::abs(sweep::AroundTheDay(clock(), *lastTuning)) < kAudioTail;
    if (audio.Delivered() && !listener.Active() && !tunedLately && next &&
        *next > kAudioRestAbove) {
        audio.SetResting(true);
    }
}

IonogramChoice Station::ChoiceOf(const QString& sounder) const {
    const SavedSounder* saved = SavedNamed(sounder);
    return SounderIonogram(ionogramChoice, saved ? saved->delays : std::nullopt);
}

void Station::SetSavedSounders(const std::vector<SavedSounder>& saved) {
    savedSounders = saved;
    // A followed sounder whose delays changed records with them at once (a sweep under way is
    // ended and archived first, as for any change of the ionogram).
    for (std::size_t i = 0; i < followed.size() && i < sounderRecorders.size(); ++i) {
        if (const IonogramChoice own = ChoiceOf(followed[i].name);
            !(own == sounderRecorders[i]->Choice())) {
            sounderRecorders[i]->Configure(own, followed[i].profile);
        }
    }
    std::vector<sweep::NamedSounder> named;
    named.reserve(saved.size());
    for (const SavedSounder& sounder : saved) {
        named.push_back(sweep::NamedSounder{sounder.name, sounder.chirpTime, sounder.profile});
    }
    scheduler->SetSavedSounders(std::move(named));
    SetPositions(stationAt, sounderAt);
}

std::unique_ptr<Tuner> Station::MakeTuner(const RigChoice& choice) {
    if (choice.backend == QLatin1String(rigconfig::kBackendNetwork)) {
        return std::make_unique<RigctlTuner>(choice.address);
    }
    if (choice.backend == QLatin1String(rigconfig::kBackendHamlib)) {
        return std::make_unique<HamlibTuner>(choice.model, serial);
    }
    return nullptr; // the built-in link
}

Status Station::UseRig(const RigChoice& choice) {
    if (shutDown) {
        return Status::Error(QStringLiteral("Tavmirok is closing."));
    }
    // The backend in use lets go of the radio first: Hamlib and the built-in link both want the
    // serial port for themselves.
    if (tuner == &civ) {
        if (link.PortIsOpen() || link.IsReopening()) {
            link.ClosePort();
        }
    } else {
        tuner->Shutdown();
    }
    std::unique_ptr<Tuner> next = MakeTuner(choice);
    Tuner& chosen = next ? *next : static_cast<Tuner&>(civ);
    if (next) {
        Attach(*next);
    }
    scheduler->SetTuner(chosen);
    tuner = &chosen;
    other = std::move(next); // the previous network or Hamlib backend goes here
    rigChoice = choice;
    ApplyBand();
    emit StateChanged();
    return tuner->Connect();
}

Status Station::Connect() {
    // Anew each time: a Hamlib backend takes the port, speed and address as they are now.
    return UseRig(rigChoice);
}

void Station::ApplyBand() {
    listener.SetTuner(tuner); // while listening, parks it again on the frequency listened to
    if (listener.Active()) {
        return;
    }
    if (!followed.empty()) {
        // The band the plan tunes: from the lowest sounder's first step to the highest's last.
        std::int32_t low = INT32_MAX;
        std::int32_t high = 0;
        for (const sweep::FollowedSounder& s : followed) {
            low = std::min(low, sweep::StepFrequency(s.profile, 0));
            high = std::max(high, sweep::StepFrequency(s.profile, sweep::StepCount(s.profile) - 1));
        }
        tuner->SetBand(low, high);
        return;
    }
    const sweep::Profile& profile = scheduler->Profile();
    const int steps = sweep::StepCount(profile);
    tuner->SetBand(sweep::ParkFrequency(profile), steps > 0
                                                      ? sweep::StepFrequency(profile, steps - 1)
                                                      : sweep::ParkFrequency(profile));
}

void Station::SetRadioAddress(int address) {
    serial.radioAdress = address;
    emit StateChanged();
    if (rigChoice.backend == QLatin1String(rigconfig::kBackendHamlib)) {
        Connect(); // Hamlib learns the address when it opens the rig; a failure is told there
    }
}

void Station::Start() {
    if (listener.Active()) {
        StopListening();
    }
    started = true;
    if (followed.empty()) {
        scheduler->Follow({}, planSettings); // followed sounders give way, also to a refused text
        scheduler->StartButtonClick();
    } else {
        scheduler->Follow(followed, planSettings); // the single sounder's sweep gives way
    }
}

void Station::Listen(const std::vector<double>& frequenciesKhz) {
    scheduler->Rest(); // the single sounder and followed sounders give way to listening
    listener.SetTuner(tuner);
    listener.Start(frequenciesKhz);
    RestAudio(); // listening hears at once
    emit StateChanged();
}

void Station::StopListening() {
    listener.Stop();
    ApplyBand();
    emit StateChanged();
}

void Station::Stop() {
    if (listener.Active()) {
        StopListening();
    }
    started = false;
    scheduler->Rest();
    emit StateChanged();
}

void Station::Shutdown() {
    if (shutDown) {
        return;
    }
    shutDown = true;
    for (const auto& r : sounderRecorders) {
        r->Stop();
    }
    listener.Stop();
    recorder.Stop();
    audio.Stop();
    audioCheck.stop();
    scheduler->Stop();
    timer->onTick = nullptr;
    tuner->Shutdown();
}
