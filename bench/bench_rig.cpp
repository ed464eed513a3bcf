// Per-set latency of the network backend (rigctld on the simulated IC-7300) and of the Hamlib
// backend (the library itself on the same radio): the time from Tune to its completion, and to
// the display text of the read that follows each set. Also how long a set takes against a
// radio that never answers, which the reply budget bounds.

#include "benchrow.h"
#include "rig/hamlibtuner.h"
#include "rig/rigctltuner.h"
#include "testkit/radiosimprocess.h"
#include "testkit/tunerecorder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <vector>

namespace {

constexpr int kIc7300 = 3073;
constexpr int kRadioAddress = 0x94;
constexpr int kBaudRate = 19200;
constexpr int kWarmUp = 5;
constexpr int kSets = 100;
constexpr int kSilentSets = 20;
constexpr int kWaitMs = 10000;
constexpr std::int32_t kFirstHz = 2100000;
constexpr std::int32_t kStepHz = 100000;
constexpr std::int32_t kSteps = 280;
constexpr double kNsPerMs = 1e6;

struct Timings {
    std::vector<double> set;     // Tune -> TuneFinished
    std::vector<double> display; // Tune -> the read's display text
    int failed = 0;
};

// Tunes one step at a time, each after the previous one's read has reached the display.
Timings Measure(Tuner& tuner, int count, bool waitForDisplay) {
    TuneRecorder recorder(tuner);
    Timings timings;
    QElapsedTimer clock;
    for (int i = 0; i < count; ++i) {
        const std::int32_t hz = kFirstHz + (i % kSteps) * kStepHz;
        const qsizetype shown = recorder.display.size();
        clock.start();
        const TuneResult result = recorder.TuneAndWait(i + 1, hz, kWaitMs);
        timings.set.push_back(clock.nsecsElapsed() / kNsPerMs);
        if (result.outcome != TuneOutcome::Reached) {
            ++timings.failed;
            continue;
        }
        if (waitForDisplay && recorder.WaitForDisplay(shown + 2, kWaitMs)) {
            timings.display.push_back(clock.nsecsElapsed() / kNsPerMs);
        }
    }
    return timings;
}

QString Figures(const std::vector<double>& samples) {
    return QStringLiteral("median %1 ms, p90 %2 ms, max %3 ms")
        .arg(bench::Median(samples), 0, 'f', 1)
        .arg(bench::Percentile(samples, 0.9), 0, 'f', 1)
        .arg(bench::Percentile(samples, 1.0), 0, 'f', 1);
}

void Report(const QString& backend, Tuner& tuner) {
    Measure(tuner, kWarmUp, true);
    const Timings timings = Measure(tuner, kSets, true);
    const QString method = QStringLiteral("%1 sets one at a time, simulated IC-7300 at %2 bit/s, "
                                          "%3 failed")
                               .arg(kSets)
                               .arg(kBaudRate)
                               .arg(timings.failed);
    bench::PrintRow(QStringLiteral("%1: Tune -> completion").arg(backend), Figures(timings.set),
                    method);
    bench::PrintRow(QStringLiteral("%1: Tune -> display of the read after it").arg(backend),
                    Figures(timings.display), method);
}

void Silent(const QString& backend, Tuner& tuner) {
    const Timings timings = Measure(tuner, kSilentSets, false);
    bench::PrintRow(QStringLiteral("%1: set on a silent radio").arg(backend), Figures(timings.set),
                    QStringLiteral("%1 sets, reply budget 500 ms, %2 failed")
                        .arg(kSilentSets)
                        .arg(timings.failed));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    RadioSimProcess radio;
    const QString device =
        radio.Start({QStringLiteral("--address"), QString::number(kRadioAddress, 16)});
    if (device.isEmpty()) {
        bench::Note(QStringLiteral("The simulated radio did not start: ") + radio.ErrorString());
        return 1;
    }

    {
        HamlibTuner tuner(kIc7300, {device, QString::number(kBaudRate), kRadioAddress});
        tuner.Connect();
        if (WaitForConnected(tuner, kWaitMs)) {
            Report(QStringLiteral("Hamlib direct (model 3073)"), tuner);
            radio.Command(QStringLiteral("silent on"));
            Silent(QStringLiteral("Hamlib direct (model 3073)"), tuner);
            radio.Command(QStringLiteral("silent off"));
        } else {
            bench::Note(QStringLiteral("Hamlib did not open the simulated radio."));
        }
        tuner.Shutdown();
    }

    if (QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty()) {
        bench::Note(QStringLiteral("rigctld is not installed (libhamlib-utils): no network row."));
        return 0;
    }
    QProcess rigctld;
    QString error;
    const quint16 port = FreeLocalPort();
    if (!StartRigctld(rigctld, kIc7300, device, kBaudRate, port, {}, &error)) {
        bench::Note(error);
        return 1;
    }
    {
        RigctlTuner tuner(QStringLiteral("localhost:%1").arg(port));
        tuner.Connect();
        if (WaitForConnected(tuner, kWaitMs)) {
            Report(QStringLiteral("Network, rigctld"), tuner);
        } else {
            bench::Note(QStringLiteral("No connection to rigctld."));
        }
        tuner.Shutdown();
    }
    rigctld.terminate();
    rigctld.waitForFinished();
    return 0;
}
