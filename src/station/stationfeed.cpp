#include "station/stationfeed.h"

#include "core/units.h"
#include "station/followplan.h"
#include "station/station.h"
#include "sweep/schedule.h"

#include <QDateTime>
#include <QMetaObject>
#include <QThread>
#include <cmath>

namespace feed {

const char* ActivityName(Activity activity) {
    switch (activity) {
    case Activity::Waiting:
        return "waiting";
    case Activity::Stepping:
        return "stepping";
    case Activity::Listening:
        return "listening";
    case Activity::Stopped:
        break;
    }
    return "stopped";
}

} // namespace feed

namespace {

feed::Phase PhaseOf(SweepScheduler::Phase phase) {
    switch (phase) {
    case SweepScheduler::Phase::Waiting:
        return feed::Phase::Waiting;
    case SweepScheduler::Phase::Stepping:
        return feed::Phase::Stepping;
    case SweepScheduler::Phase::Idle:
        break;
    }
    return feed::Phase::Idle;
}

double EpochNow() {
    return double(QDateTime::currentMSecsSinceEpoch()) / units::kMillisecondsPerSecond;
}

// The first instant after nowEpoch at which a sounder's sweep passes lowKhz: its periods are
// counted from UTC midnight.
double NextPass(double nowEpoch, double periodS, double chirpTimeS, double lowKhz,
                double rateKhzPerS) {
    if (!(periodS > 0) || !(rateKhzPerS > 0)) {
        return 0;
    }
    const double offset = chirpTimeS + lowKhz / rateKhzPerS;
    return (std::floor((nowEpoch - offset) / periodS) + 1) * periodS + offset;
}

} // namespace

StationFeed::StationFeed(Station& station, QObject* parent) : QObject(parent), station(station) {
    qRegisterMetaType<feed::SweepInfo>();
    qRegisterMetaType<feed::Column>();
    qRegisterMetaType<feed::Scaled>();
    qRegisterMetaType<std::vector<feed::HeardOn>>();
    qRegisterMetaType<std::shared_ptr<const ionogram::IonogramSweep>>();
    heardRefresh.setSingleShot(true);
    heardRefresh.setInterval(0);
    connect(&heardRefresh, &QTimer::timeout, this, [this] {
        TakeHeard();
        emit HeardGroupsChanged();
    });
    state.runningSinceUtc = QDateTime::currentDateTimeUtc();
    Observe();
    TakeState();
}

feed::Snapshot StationFeed::Snap() const {
    const std::lock_guard<std::mutex> held(lock);
    return state;
}

RigState StationFeed::Rig() const {
    const std::lock_guard<std::mutex> held(lock);
    return state.rig;
}

bool StationFeed::Plan() const {
    const std::lock_guard<std::mutex> held(lock);
    return state.plan;
}

template <typename Command> void StationFeed::Queue(Command command) {
    QMetaObject::invokeMethod(this, std::move(command));
}

void StationFeed::Start() {
    Queue([this] { station.Start(); });
}

void StationFeed::Stop() {
    Queue([this] { station.Stop(); });
}

void StationFeed::Follow(const QStringList& names) {
    Queue([this, names] {
        if (const Status refused = station.FollowSaved(names); !refused.IsOk()) {
            emit Problem(refused.Message());
            return;
        }
        station.Start();
    });
}

void StationFeed::Listen(const std::vector<double>& frequenciesKhz) {
    Queue([this, frequenciesKhz] { station.Listen(frequenciesKhz); });
}

void StationFeed::StopListening() {
    Queue([this] { station.StopListening(); });
}

quint64 StationFeed::Connect() {
    const quint64 request = ++lastRequest;
    Queue([this, request] { Told(station.Connect(), request); });
    return request;
}

void StationFeed::Told(const Status& outcome, quint64 request) {
    TakeState();
    emit Connected(outcome, request);
}

void StationFeed::Apply(const StationSettings& settings) {
    Queue([this, settings] {
        station.Apply(settings);
        TakeState();
    });
}

void StationFeed::SetChirpText(const QString& text) {
    Queue([this, text] {
        station.SetChirpText(text);
        TakeState();
    });
}

void StationFeed::ApplyProfile(const sweep::Profile& profile) {
    Queue([this, profile] { station.ApplyProfile(profile); });
}

quint64 StationFeed::UseRig(const RigChoice& choice) {
    const quint64 request = ++lastRequest;
    Queue([this, choice, request] { Told(station.UseRig(choice), request); });
    return request;
}

void StationFeed::ConfigureIonogram(const IonogramChoice& choice) {
    Queue([this, choice] {
        station.ConfigureIonogram(choice);
        TakeState();
    });
}

void StationFeed::SetPositions(const QString& stationAt, const QString& sounderAt) {
    Queue([this, stationAt, sounderAt] {
        station.SetPositions(stationAt, sounderAt);
        TakeState();
    });
}

void StationFeed::SetSavedSounders(const std::vector<SavedSounder>& saved) {
    Queue([this, saved] { station.SetSavedSounders(saved); });
}

void StationFeed::FollowMarked(const StationSettings& settings) {
    Queue([this, settings] {
        station.Follow(PlanSounders(settings), PlanSettingsFor(settings));
        TakeState();
    });
}

void StationFeed::SetRadioAddress(int address) {
    Queue([this, address] { station.SetRadioAddress(address); });
}

quint64 StationFeed::ConnectTo(const QString& port, const QString& speed) {
    const quint64 request = ++lastRequest;
    Queue([this, port, speed, request] {
        station.Serial().comPort = port;
        station.Serial().baudRate = speed;
        Told(station.Connect(), request);
    });
    return request;
}

void StationFeed::PlaceAudio(std::vector<ionogram::PlacedBlock> blocks) {
    Queue([this, blocks = std::move(blocks)] {
        for (const ionogram::PlacedBlock& block : blocks) {
            emit station.Audio().Placed(block);
        }
    });
}

void StationFeed::Sync() {
    QMetaObject::invokeMethod(
        this, [] {},
        thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
}

void StationFeed::Shutdown() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            station.Shutdown();
            TakeState();
        },
        thread() == QThread::currentThread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
}

feed::Sounder StationFeed::SounderNamed(const QString& name) const {
    feed::Sounder sounder;
    sounder.name = name;
    const sweep::FollowedSounder* followed = station.FollowedNamed(name);
    const sweep::Profile& profile = followed ? followed->profile : station.Profile();
    sounder.rateKhzPerS = profile.sweepRate;
    sounder.periodS = profile.period;
    sounder.chirpTimeS = followed ? followed->chirpTime : station.Scheduler().ChirpTime();
    sounder.at = station.PositionOf(name);
    return sounder;
}

void StationFeed::Observe() {
    Station* s = &station;
    connect(s, &Station::StateChanged, this, &StationFeed::TakeState);
    connect(s, &Station::SweepArmed, this,
            [this](const QString& sounder, double firstStep, double) {
                TakeState();
                feed::Armed armed;
                armed.sounder = sounder;
                armed.firstStep = firstStep;
                armed.chirpText = station.ChirpText();
                armed.parkHz = sweep::ParkFrequency(station.Profile());
                emit Armed(armed);
            });
    connect(s, &Station::Tuned, this, [this](TuneOutcome outcome) {
        TakeRig();
        emit RigAnswered(outcome == TuneOutcome::Reached);
    });
    connect(s, &Station::Problem, this, [this](const QString& message) {
        {
            const std::lock_guard<std::mutex> held(lock);
            state.problems.prepend(message);
            while (state.problems.size() > kProblemsKept) {
                state.problems.removeLast();
            }
        }
        emit Problem(message);
    });
    connect(s, &Station::Notice, this, &StationFeed::Notice);
    connect(s, &Station::DisplayText, this, &StationFeed::DisplayText);
    connect(s, &Station::AudioDelaySuggested, this, [this](const QString& text) {
        TakeState();
        emit AudioDelaySuggested(text);
    });
    connect(s, &Station::SweepStarted, this, [this](const QString& sounder, double mark) {
        underWay.insert(sounder);
        columnsSent.erase(sounder);
        TakeState();
        feed::SweepInfo info;
        info.sounder = sounder;
        info.mark = mark;
        info.startUtc = QDateTime::fromSecsSinceEpoch(
            qint64(std::floor(ionogram::EpochFromSecondsOfDay(mark, EpochNow()))), Qt::UTC);
        const sweep::FollowedSounder* followed = station.FollowedNamed(sounder);
        const sweep::Profile& profile = followed ? followed->profile : station.Profile();
        info.lowKhz = profile.lowFrequency;
        info.highKhz = profile.highFrequency;
        ionogram::IonogramSweep grid; // the delay axis the columns will have
        grid.delayFromMs = station.IonogramInForce().delayFromMs;
        grid.delayToMs = station.IonogramInForce().delayToMs;
        info.delayFromMs = grid.delayFromMs;
        info.delayToMs = grid.delayToMs;
        info.delayCells = grid.DelayCount();
        emit SweepStarted(info);
    });
    connect(s, &Station::IonogramUpdated, this,
            [this](const ionogram::IonogramSweep& sweep, int columnsDone) {
                NoteColumns(sweep, columnsDone);
            });
    connect(s, &Station::SweepEnded, this, [this](const QString& sounder, bool complete) {
        underWay.erase(sounder);
        TakeState();
        emit SweepEnded(sounder, complete);
    });
    connect(s, &Station::StepTuned, this, [this](const sweep::SlotTuning& step) {
        emit StepTuned(step.sounder, step.hz,
                       ionogram::EpochFromSecondsOfDay(step.tuneAt, EpochNow()), step.reached,
                       TakeRig().answering);
    });
    connect(s, &Station::Scaled, this,
            [this](const ionogram::IonogramSweep& sweep, const ionogram::ScaledSweep& scaled) {
                const QString& sounder = sweep.sounder;
                feed::Scaled value;
                value.sounder = SounderNamed(sounder);
                value.sweep = std::make_shared<const ionogram::IonogramSweep>(sweep);
                value.scaled = scaled;
                value.scaledUtc = QDateTime::currentDateTimeUtc();
                {
                    const std::lock_guard<std::mutex> held(lock);
                    state.lastScaled[sounder] = value;
                }
                emit Scaled(value);
            });
    connect(s, &Station::Archived, this, &StationFeed::Archived);
    connect(s, &Station::DayRecorded, this, &StationFeed::DayRecorded);
    connect(&station.Listening(), &Listener::ListChanged, this, [this] {
        std::vector<feed::HeardOn> heard;
        for (const auto& grouper : station.Listening().Heard()) {
            for (const ionogram::HeardSounder& h : grouper->Confirmed()) {
                heard.push_back({grouper->ListenKhz(), h});
            }
        }
        {
            const std::lock_guard<std::mutex> held(lock);
            state.heard = heard;
        }
        emit HeardChanged(heard);
    });
    connect(&station.Listening(), &Listener::Tuning, this, &StationFeed::TakeState);
    connect(&station.Listening(), &Listener::Problem, this, &StationFeed::ListenProblem);
    const auto refreshHeard = [this] { heardRefresh.start(); };
    connect(&station.Listening(), &Listener::ListChanged, this, refreshHeard);
    connect(&station.Listening(), &Listener::LsbSuspected, this, refreshHeard);
    connect(&station.Listening(), &Listener::Tuning, this, refreshHeard);
    connect(&station.Listening(), &Listener::Detected, this, refreshHeard);
    connect(&station.Listening(), &Listener::Detected, this, &StationFeed::Detected);
    connect(&station.Listening(), &Listener::SounderConfirmed, this,
            &StationFeed::SounderConfirmed);
    connect(&station.Listening(), &Listener::LsbSuspected, this, &StationFeed::LsbSuspected);
    connect(&station.Audio(), &ionogram::AudioStream::Problem, this, &StationFeed::TakeState);
    connect(&station.Audio(), &ionogram::AudioStream::Notice, this, &StationFeed::TakeState);
}

void StationFeed::NoteColumns(const ionogram::IonogramSweep& sweep, int columnsDone) {
    auto& [start, sent] = columnsSent[sweep.sounder];
    if (start != sweep.startUtc) {
        start = sweep.startUtc; // a sweep the recorder began: its columns from the first
        sent = 0;
    }
    const int count = int(sweep.frequenciesKhz.size());
    // Complete (-1): every column is in, those without audio NaN.
    const int done = columnsDone < 0 ? count : std::min(columnsDone, count);
    for (; sent < done; ++sent) {
        feed::Column column;
        column.sounder = sweep.sounder;
        column.sweepStartUtc = sweep.startUtc;
        column.index = sent;
        column.khz = sweep.frequenciesKhz[std::size_t(sent)];
        column.snrDb = sweep.snrDb[std::size_t(sent)];
        emit ColumnAdded(column);
    }
    auto copy = std::make_shared<const ionogram::IonogramSweep>(sweep);
    {
        const std::lock_guard<std::mutex> held(lock);
        const auto kept =
            std::find_if(state.ionograms.begin(), state.ionograms.end(),
                         [&sweep](const auto& k) { return k->sounder == sweep.sounder; });
        if (kept != state.ionograms.end()) {
            *kept = copy;
        } else {
            state.ionograms.push_back(copy);
        }
    }
    emit IonogramUpdated(copy, columnsDone);
}

void StationFeed::TakeHeard() {
    std::vector<feed::HeardGroup> groups;
    for (const auto& grouper : station.Listening().Heard()) {
        groups.push_back({grouper->ListenKhz(), grouper->Confirmed(), grouper->Unconfirmed(),
                          grouper->SeemsLsb()});
    }
    const std::lock_guard<std::mutex> held(lock);
    state.heardGroups = std::move(groups);
}

RigState StationFeed::TakeRig() {
    const RigState rig = station.Rig().State();
    const std::lock_guard<std::mutex> held(lock);
    state.rig = rig;
    return rig;
}

void StationFeed::TakeState() {
    feed::Snapshot now;
    const double epoch = EpochNow();
    if (station.Listening().Active()) {
        now.activity = feed::Activity::Listening;
    } else if (!station.Started()) {
        now.activity = feed::Activity::Stopped;
    } else if (!underWay.empty()) {
        now.activity = feed::Activity::Stepping;
    } else {
        now.activity = feed::Activity::Waiting;
    }
    now.rig = station.Rig().State();
    now.plan = !station.Followed().empty();
    now.audioInput = station.IonogramInForce().audioInput;
    now.audioRunning = station.Audio().Listening();
    if (station.Followed().empty()) {
        now.followed.push_back(SounderNamed(station.Scheduler().Sounder()));
        if (station.Started() &&
            station.Scheduler().CurrentPhase() == SweepScheduler::Phase::Waiting) {
            now.nextSweepEpoch =
                ionogram::EpochFromSecondsOfDay(station.Scheduler().NextStepTime(), epoch);
        }
    } else {
        for (const sweep::FollowedSounder& s : station.Followed()) {
            now.followed.push_back(SounderNamed(s.name));
            const double next = NextPass(epoch, s.profile.period, s.chirpTime,
                                         s.profile.lowFrequency, s.profile.sweepRate);
            if (station.Started() && next > 0 &&
                (now.nextSweepEpoch == 0 || next < now.nextSweepEpoch)) {
                now.nextSweepEpoch = next;
            }
        }
    }
    const SweepScheduler& scheduler = station.Scheduler();
    now.started = station.Started();
    // A station stopped or shut down waits for nothing, whatever its scheduler last did.
    now.phase = now.started ? PhaseOf(scheduler.CurrentPhase()) : feed::Phase::Idle;
    now.nextStepTime = scheduler.NextStepTime();
    now.stepHz = scheduler.StepFrequency();
    now.topHz = scheduler.TopFrequency();
    now.armedChirpTime = scheduler.ChirpTime();
    now.stored = station.Current();
    now.profile = station.Profile();
    now.rigChoice = station.RigInUse();
    now.ionogram = station.IonogramInForce();
    now.listeningKhz = station.Listening().Active() ? station.Listening().FrequencyKhz() : 0;
    now.suggestedAudioDelay = station.SuggestedAudioDelay();
    const IonogramChoice& choice = station.IonogramInForce();
    now.archiveFolder = choice.save ? choice.folder : QString();
    now.iaruRegion = choice.iaruRegion;
    now.stationAt = station.StationPosition();
    {
        const std::lock_guard<std::mutex> held(lock);
        now.runningSinceUtc = state.runningSinceUtc;
        now.ionograms = std::move(state.ionograms);
        now.lastScaled = std::move(state.lastScaled);
        now.heard = std::move(state.heard);
        now.heardGroups = std::move(state.heardGroups);
        now.problems = std::move(state.problems);
        state = std::move(now);
    }
    emit StateChanged();
}
