#include "station/ionogramrecorder.h"

#include "core/units.h"
#include "ionogram/archive.h"
#include "station/offthread.h"
#include "sweep/schedule.h"

#include <QDateTime>
#include <QDir>
#include <chrono>

namespace {

double SystemEpoch() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// "100 kHz/s, 2-30 MHz, 100 kHz steps, every 300 s": the profile as the archive names it.
QString ProfileText(const sweep::Profile& p) {
    return QStringLiteral("%1 kHz/s, %2-%3 MHz, %4 kHz steps, every %5 s")
        .arg(::FormatDecimal(p.sweepRate),
             ::FormatDecimal(p.lowFrequency / units::kKilohertzPerMegahertz),
             ::FormatDecimal(p.highFrequency / units::kKilohertzPerMegahertz),
             ::FormatDecimal(p.stepSize), ::FormatDecimal(p.period));
}

} // namespace

IonogramRecorder::IonogramRecorder(std::function<double()> clock, QObject* parent)
    : QObject(parent), epochClock(std::move(clock)) {
    if (!epochClock) {
        epochClock = &SystemEpoch;
    }
    archiveWriter.setMaxThreadCount(1);
    finish.setInterval(kLastAudioWait);
    finish.setSingleShot(true);
    connect(&finish, &QTimer::timeout, this, &IonogramRecorder::FinishSweep);
}

IonogramRecorder::~IonogramRecorder() {
    Stop();
}

void IonogramRecorder::Configure(const IonogramChoice& next, const sweep::Profile& nextProfile) {
    if (stopped) {
        return;
    }
    if (inSweep) {
        FinishSweep();
    }
    choice = next;
    profile = nextProfile;
    ionogram.reset();
    if (!Recording()) {
        return;
    }
    ionogram::IonogramSettings settings;
    settings.sampleRate = kSampleRate;
    settings.profile = profile;
    settings.profileName = ProfileText(profile);
    settings.audioInput = choice.audioInput;
    settings.delayFromMs = choice.delayFromMs;
    settings.delayToMs = choice.delayToMs;
    settings.audioDelayMs = choice.audioDelayMs;
    ionogram = std::make_unique<ionogram::Ionogram>(settings);
}

void IonogramRecorder::AudioPlaced(const ionogram::PlacedBlock& block) {
    if (!ionogram || stopped) {
        return;
    }
    ionogram->AddAudio(block);
    if (inSweep && ionogram->ColumnsDone() != columnsShown) {
        columnsShown = ionogram->ColumnsDone();
        emit SweepUpdated(ionogram->Sweep(), columnsShown);
    }
}

void IonogramRecorder::SweepArmed(const QString& armedSounder, double, double armedChirpTime) {
    sounder = armedSounder;
    chirpTime = armedChirpTime;
}

void IonogramRecorder::SweepStarted(const QString& startedSounder, double) {
    sounder = startedSounder;
    if (ionogram && !stopped) {
        BeginSweep();
        cutShort = false;
    }
}

void IonogramRecorder::BeginSweep() {
    if (finish.isActive() || inSweep) {
        FinishSweep(); // the next sweep comes before the last one's audio wait is over
    }
    inSweep = true;
    cutShort = true; // unless it began with its first step
    columnsShown = -1;
    stepsById.clear();
    ionogram->BeginSweep(chirpTime, sounder);
}

void IonogramRecorder::StepPlanned(const sweep::SlotTuning& step) {
    if (!ionogram || stopped) {
        return;
    }
    if (!inSweep || finish.isActive()) {
        BeginSweep(); // recording began during a sweep: its first steps are missing
    }
    // The ionogram places a column half a step after its step's mark, as the single sweep tunes
    // it. Half a day either side of now is placed on the right day, so a mark just before
    // midnight needs no wrapping here.
    const double mark = step.crossing - sweep::HalfStep(profile);
    stepsById[step.id] = ionogram->AddStep(step.hz / units::kHertzPerKilohertz,
                                           ionogram::EpochFromSecondsOfDay(mark, epochClock()));
}

void IonogramRecorder::StepTuned(const sweep::SlotTuning& step) {
    if (!ionogram || !inSweep) {
        return;
    }
    const auto planned = stepsById.find(step.id);
    if (planned == stepsById.end()) {
        return;
    }
    ionogram->SetReached(planned->second, step.reached);
    stepsById.erase(planned);
}

void IonogramRecorder::SweepEnded(const QString&, bool complete) {
    if (inSweep && !finish.isActive()) {
        cutShort = cutShort || !complete;
        finish.start();
    }
}

void IonogramRecorder::ClockChanged() {
    if (!inSweep) {
        return;
    }
    emit Problem(
        QStringLiteral("The computer's clock jumped during the sweep: the ionogram's columns "
                       "after the jump cannot be placed and are left empty. Keep the clock "
                       "synchronised (timedatectl should say \"System clock synchronized: "
                       "yes\")."));
    cutShort = true;
    FinishSweep();
}

void IonogramRecorder::FinishSweep() {
    finish.stop();
    if (!ionogram || !inSweep) {
        return;
    }
    inSweep = false;
    stepsById.clear();
    lastComplete = ionogram->SweepComplete();
    lastComplete.cutShort = lastComplete.cutShort || cutShort;
    emit SweepUpdated(lastComplete, -1);
    if (choice.save) {
        Archive(); // complete once written
        return;
    }
    emit SweepComplete(lastComplete);
}

void IonogramRecorder::Archive() {
    const ionogram::IonogramSweep sweep = lastComplete;
    const QString folder = choice.folder;
    const bool named = namedBySounder;
    const QString png =
        QDir(folder).filePath(ionogram::ArchiveBaseName(sweep.startUtc, sweep.chirpTime,
                                                        named ? sweep.sounder : QString()) +
                              QStringLiteral(".png"));
    RunOffThread<Status>(
        archiveWriter, this,
        [sweep, folder, named] { return ionogram::WriteArchive(sweep, folder, named); },
        [this, sweep, png](const Status& written) { TellArchived(sweep, png, written); });
}

void IonogramRecorder::TellArchived(const ionogram::IonogramSweep& sweep, const QString& png,
                                    const Status& written) {
    if (stopped) {
        return;
    }
    if (!written.IsOk()) {
        // Told once until an archive is written again; the live window goes on.
        if (written.Message() != lastArchiveProblem) {
            lastArchiveProblem = written.Message();
            emit Problem(written.Message());
        }
    } else {
        lastArchiveProblem.clear();
        emit Archived(png);
    }
    emit SweepComplete(sweep);
}

bool IonogramRecorder::EndSweep() {
    if (stopped || !ionogram || !inSweep) {
        return false;
    }
    cutShort = true;
    FinishSweep();
    return true;
}

void IonogramRecorder::Stop() {
    stopped = true;
    finish.stop();
}
