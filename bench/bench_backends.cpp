// Step lateness on the radio's wire for each way of reaching it, the whole windowless program
// running a sweep on a shifted clock (libfaketime): the built-in CI-V link, rigctld's network
// protocol (rigctld on the simulated IC-7300), and Hamlib driving the radio directly. Lateness is
// the time the simulated radio logged each step's set-frequency frame minus the step's instant.

#include "benchrow.h"

#include "core/units.h"
#include "sweep/schedule.h"
#include "testkit/headlessrun.h"
#include "testkit/radiosimprocess.h"
#include "testkit/tunerecorder.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <memory>
#include <vector>

namespace {

constexpr int kIc7300 = 3073;
constexpr int kLineSpeed = 19200;
constexpr int kSteps = 60;
constexpr double kLead = 4;
constexpr double kChirpTime = 17.3;
constexpr int kGraceMs = 10000;
// Steps of 200 kHz every half second.
const sweep::Profile kProfile{.sweepRate = 400, .period = 120, .stepSize = 200};

enum class Rig { Civ, Network, Hamlib };

struct Backend {
    Rig rig;
    const char* name;
    int busyLoops = 0; // shell loops spinning beside the run, one per core to load it
};

// Runs the program through one backend for kSteps steps; false when it could not be run.
bool Measure(const Backend& backend, const QString& faketime) {
    RadioSimProcess radio;
    const QString device = radio.Start({QStringLiteral("--address"), QStringLiteral("94")});
    if (device.isEmpty()) {
        bench::Note(QStringLiteral("The simulated radio did not start: ") + radio.ErrorString());
        return false;
    }
    QStringList arguments;
    QProcess rigctld;
    if (backend.rig == Rig::Network) {
        QString error;
        if (!StartRigctldFor(rigctld, kIc7300, device, kLineSpeed, &arguments, &error)) {
            bench::Note(error);
            return false;
        }
    } else {
        arguments << "--port" << device << "--baud" << QString::number(kLineSpeed) << "--address"
                  << "94";
        if (backend.rig == Rig::Hamlib) {
            arguments << "--rig"
                      << "hamlib"
                      << "--model" << QString::number(kIc7300);
        }
    }
    std::vector<std::unique_ptr<QProcess>> busy;
    for (int i = 0; i < backend.busyLoops; ++i) {
        busy.push_back(std::make_unique<QProcess>());
        busy.back()->start(QStringLiteral("sh"),
                           {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
    }
    HeadlessRun run(kProfile, kChirpTime, kLead);
    if (!run.Start(QStringLiteral(TAVMIROK_PROGRAM), faketime, arguments)) {
        bench::Note(QStringLiteral("The program did not start."));
        return false;
    }
    const double lastStep = run.Mark(kSteps - 1);
    const int runMs =
        int((kLead + sweep::StepOffset(kProfile, kSteps)) * units::kMillisecondsPerSecond) +
        kGraceMs;
    // Until a second after the last step's instant.
    if (!QTest::qWaitFor([&] { return sweep::AroundTheDay(UtcTimeOfDay(), lastStep) > 1; },
                         runMs)) {
        bench::Note(QStringLiteral("The run did not reach its last step in time."));
    }
    run.program.terminate();
    run.program.waitForFinished();
    rigctld.terminate();
    rigctld.waitForFinished();
    for (auto& loop : busy) {
        loop->kill();
        loop->waitForFinished();
    }

    // Each step's frame, looked for in order after the park; a step without one is missing.
    const QList<WireFrame> frames = FramesFromPark(radio.LogLines(), kProfile);
    std::vector<double> lateness;
    int missing = 0;
    qsizetype next = 1;
    for (int step = 0; step < kSteps; ++step) {
        qsizetype found = next;
        while (found < frames.size() && frames[found].hz != sweep::StepFrequency(kProfile, step)) {
            ++found;
        }
        if (found == frames.size()) {
            ++missing;
            continue;
        }
        lateness.push_back(run.Lateness(frames[found], step) * units::kMillisecondsPerSecond);
        next = found + 1;
    }
    bench::PrintRow(
        QStringLiteral("Step lateness on the wire, %1%2")
            .arg(QLatin1String(backend.name),
                 backend.busyLoops > 0 ? QStringLiteral(", %1 busy loops").arg(backend.busyLoops)
                                       : QString()),
        QStringLiteral("median %1 ms, p99 %2 ms, max %3 ms, %4 missing")
            .arg(bench::Median(lateness), 0, 'f', 1)
            .arg(bench::Percentile(lateness, 0.99), 0, 'f', 1)
            .arg(bench::Percentile(lateness, 1.0), 0, 'f', 1)
            .arg(missing),
        QStringLiteral("tavmirok --headless on a shifted clock, %1 steps of 200 kHz every 0.5 s "
                       "(120 s period, 400 kHz/s); the simulated IC-7300's log time of each "
                       "set-frequency frame minus the step's instant (log resolution 1 ms)")
            .arg(kSteps));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString faketime = FaketimeLibrary();
    if (faketime.isEmpty()) {
        bench::Note(QStringLiteral("libfaketime is not installed (faketime): no figures."));
        return 1;
    }
    const bool haveRigctld = !QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty();
    if (!haveRigctld) {
        bench::Note(QStringLiteral("rigctld is not installed (libhamlib-utils): no network row."));
    }
    bool allRan = true;
    for (const Backend& backend :
         {Backend{Rig::Civ, "built-in CI-V"}, Backend{Rig::Civ, "built-in CI-V", 2},
          Backend{Rig::Network, "rigctld (model 3073)"},
          Backend{Rig::Hamlib, "Hamlib direct (model 3073)"}}) {
        if (backend.rig == Rig::Network && !haveRigctld) {
            continue;
        }
        allRan = Measure(backend, faketime) && allRan;
    }
    return allRan ? 0 : 1;
}
