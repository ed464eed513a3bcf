#include "station/ionogramrecorder.h"

#include "ionogram/archive.h"
#include "sweep/schedule.h"

#include <QDateTime>
#include <QDir>
#include <chrono>
#include <span>

namespace {

constexpr double kHertzPerKilohertz = 1000;

double SystemEpoch() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

// "100 kHz/s, 2-30 MHz, 100 kHz steps, every 300 s": the profile as the archive names it.
QString ProfileText(const sweep::Profile& p) {
    return QStringLiteral("%1 kHz/s, %2-%3 MHz, %4 kHz steps, every %5 s")
        .arg(sweep::FormatDecimal(p.sweepRate), sweep::FormatDecimal(p.lowFrequency / 1000),
             sweep::FormatDecimal(p.highFrequency / 1000), sweep::FormatDecimal(p.stepSize),
             sweep::FormatDecimal(p.period));
}

} // namespace

IonogramRecorder::IonogramRecorder(std::function<double()> clock, QObject* parent)
    : QObject(parent), epochClock(std::move(clock)) {
    if (!epochClock) {
        epochClock = &SystemEpoch;
    }
    connect(&capture, &ionogram::AudioCapture::Audio, this, &IonogramRecorder::AudioArrived);
    connect(&capture, &ionogram::AudioCapture::Failed, this, &IonogramRecorder::CaptureFailed);
    retry.setInterval(kRetryInterval);
    retry.setSingleShot(true);
    connect(&retry, &QTimer::timeout, this, &IonogramRecorder::StartCapture);
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
    capture.Stop();
    retry.stop();
    ionogram.reset();
    lastCaptureProblem.clear();
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
    StartCapture();
}

void IonogramRecorder::StartCapture() {
    if (Recording() && !stopped && !capture.Running()) {
        capture.Start(choice.audioInput, kSampleRate);
    }
}

void IonogramRecorder::CaptureFailed(const Status& status) {
    if (stopped || !Recording()) {
        return;
    }
    // Told once per reason; the sweep goes on and the input is tried again.
    if (status.Message() != lastCaptureProblem) {
        lastCaptureProblem = status.Message();
        emit Problem(status.Message());
    }
    retry.start();
}

void IonogramRecorder::AudioArrived(const QVector<qint16>& samples, double arrival) {
    if (!ionogram) {
        return;
    }
    lastCaptureProblem.clear(); // the input works again
    ionogram->AddAudio(std::span<const qint16>(samples.constData(), samples.size()), arrival);
    if (inSweep && ionogram->ColumnsDone() != columnsShown) {
        columnsShown = ionogram->ColumnsDone();
        emit SweepUpdated(ionogram->Sweep(), columnsShown);
    }
}

void IonogramRecorder::StepPlanned(std::int32_t hz, double mark, double chirpTime) {
    if (!ionogram || stopped) {
        return;
    }
    if (finish.isActive()) {
        FinishSweep(); // the next sweep comes before the last one's audio wait is over
    }
    if (!inSweep) {
        inSweep = true;
        columnsShown = -1;
        stepsByMark.clear();
        ionogram->BeginSweep(chirpTime);
    }
    const double epochMark = ionogram::EpochFromSecondsOfDay(mark, epochClock());
    stepsByMark[mark] = ionogram->AddStep(hz / kHertzPerKilohertz, epochMark);
}

void IonogramRecorder::StepTuned(std::int32_t, double mark, bool reached) {
    if (!ionogram || !inSweep) {
        return;
    }
    const auto step = stepsByMark.find(mark);
    if (step == stepsByMark.end()) {
        return;
    }
    ionogram->SetReached(step->second, reached);
    stepsByMark.erase(step);
}

void IonogramRecorder::SweepEnded() {
    if (inSweep && !finish.isActive()) {
        finish.start();
    }
}

void IonogramRecorder::ClockChanged() {
    if (!inSweep) {
        return;
    }
    emit Problem(QStringLiteral("The computer's clock jumped during the sweep: the ionogram's columns "
                        "after the jump cannot be placed and are left empty. Keep the clock "
                        "synchronised (timedatectl should say \"System clock synchronized: "
                        "yes\")."));
    FinishSweep();
}

void IonogramRecorder::FinishSweep() {
    finish.stop();
    if (!ionogram || !inSweep) {
        return;
    }
    inSweep = false;
    stepsByMark.clear();
    lastComplete = ionogram->SweepComplete();
    haveComplete = true;
    emit SweepUpdated(lastComplete, -1);
    if (!choice.save) {
        return;
    }
    if (const Status written = ionogram::WriteArchive(lastComplete, choice.folder);
        !written.IsOk()) {
        // Told once until an archive is written again; the live window goes on.
        if (written.Message() != lastArchiveProblem) {
            lastArchiveProblem = written.Message();
            emit Problem(written.Message());
        }
        return;
    }
    lastArchiveProblem.clear();
    emit Archived(
        QDir(choice.folder)
            .filePath(ionogram::ArchiveBaseName(lastComplete.startUtc, lastComplete.chirpTime) +
                      QStringLiteral(".png")));
}

void IonogramRecorder::Stop() {
    stopped = true;
    retry.stop();
    finish.stop();
    capture.Stop();
}

const ionogram::IonogramSweep* IonogramRecorder::Current() const {
    if (ionogram && inSweep) {
        return &ionogram->Sweep();
    }
    return haveComplete ? &lastComplete : nullptr;
}
