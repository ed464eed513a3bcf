// Step lateness on the radio's wire for each way of reaching it, the whole windowless program
// running a sweep on a shifted clock (libfaketime): the built-in CI-V link, rigctld's network
// protocol (rigctld on the simulated IC-7300), and Hamlib driving the radio directly. Lateness is
// the time the simulated radio logged each step's set-frequency frame minus the step's instant.
//
// The simulated radio serves its bus at a real-time priority (--realtime-bus), as a radio's own
// processor reads its line whatever the computer does, and a stall meter runs beside each row
// (stallmeter.h): steps later than 5 ms are counted apart where their lateness overlaps a stall
// of the whole machine, and the p99 is also given over the steps outside any stall.
//
// Usage: bench_backends [--steps N] [--only TEXT]  (rows whose name contains TEXT; 120 steps,
// one minute, by default); BENCH_BACKENDS_PROGRAM runs another build of the program instead.

#include "benchrow.h"
#include "stallmeter.h"

#include "core/units.h"
#include "sweep/schedule.h"
#include "testkit/headlessrun.h"
#include "testkit/radiosimprocess.h"
#include "testkit/tunerecorder.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kIc7300 = 3073;
constexpr int kLineSpeed = 19200;
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

    QString Name() const {
        return QStringLiteral("Step lateness on the wire, %1%2")
            .arg(QLatin1String(name),
                 busyLoops > 0 ? QStringLiteral(", %1 busy loops").arg(busyLoops) : QString());
    }
};

// Runs the program through one backend for `steps` steps; false when it could not be run.
bool Measure(const Backend& backend, const QString& faketime, int steps) {
    RadioSimProcess radio;
    const QString device = radio.Start(
        {QStringLiteral("--address"), QStringLiteral("94"), QStringLiteral("--realtime-bus")});
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
    if (!run.Start(qEnvironmentVariable("BENCH_BACKENDS_PROGRAM", TAVMIROK_PROGRAM), faketime,
                   arguments)) {
        bench::Note(QStringLiteral("The program did not start."));
        return false;
    }
    StallMeter meter;
    const double lastStep = run.Mark(steps - 1);
    const int runMs =
        int((kLead + sweep::StepOffset(kProfile, steps)) * units::kMillisecondsPerSecond) +
        kGraceMs;
    // Until a second after the last step's instant.
    if (!QTest::qWaitFor([&] { return sweep::AroundTheDay(UtcTimeOfDay(), lastStep) > 1; },
                         runMs)) {
        bench::Note(QStringLiteral("The run did not reach its last step in time."));
    }
    meter.Stop();
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
    std::vector<double> outsideStalls; // of the steps whose lateness overlaps no stall
    int missing = 0;
    int over5 = 0;
    int over5InStall = 0;
    qsizetype next = 1;
    for (int step = 0; step < steps; ++step) {
        qsizetype found = next;
        while (found < frames.size() && frames[found].hz != sweep::StepFrequency(kProfile, step)) {
            ++found;
        }
        if (found == frames.size()) {
            ++missing;
            continue;
        }
        const double mark = run.Mark(step);
        const double late = run.Lateness(frames[found], step);
        const bool stalled = meter.Overlaps(
            mark, mark + late, [mark](double t) { return mark + sweep::AroundTheDay(t, mark); });
        lateness.push_back(late * units::kMillisecondsPerSecond);
        if (!stalled) {
            outsideStalls.push_back(lateness.back());
        }
        if (late > 0.005) {
            ++over5;
            over5InStall += stalled ? 1 : 0;
        }
        next = found + 1;
    }
    bench::PrintRow(
        backend.Name(),
        QStringLiteral("median %1 ms, p99 %2 ms (%3 ms outside stalls), max %4 ms, %5 missing; "
                       "%6 of %7 steps later than 5 ms (%8 in a stall); %9 stalls of the "
                       "machine, longest %10 ms%11")
            .arg(bench::Median(lateness), 0, 'f', 1)
            .arg(bench::Percentile(lateness, 0.99), 0, 'f', 1)
            .arg(bench::Percentile(outsideStalls, 0.99), 0, 'f', 1)
            .arg(bench::Percentile(lateness, 1.0), 0, 'f', 1)
            .arg(missing)
            .arg(over5)
            .arg(lateness.size())
            .arg(over5InStall)
            .arg(meter.Stalls().size())
            .arg(meter.LongestMs(), 0, 'f', 1)
            .arg(!meter.Measured()  ? QStringLiteral(" (not measured: no stall meter)")
                 : meter.RealTime() ? QString()
                                    : QStringLiteral(" (the meter had no real-time priority)")),
        QStringLiteral("tavmirok --headless on a shifted clock, %1 steps of 200 kHz every 0.5 s "
                       "(120 s period, 400 kHz/s); the simulated IC-7300 (bus at a real-time "
                       "priority) logs each set-frequency frame, minus the step's instant (log "
                       "resolution 1 ms); a stall: a real-time thread that sleeps 2 ms woke 8 ms "
                       "or more late")
            .arg(steps));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int steps = 120;
    QString only;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--steps")) {
            steps = std::clamp(args[i + 1].toInt(), 1, sweep::StepCount(kProfile));
        } else if (args[i] == QLatin1String("--only")) {
            only = args[i + 1];
        }
    }
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
        if ((backend.rig == Rig::Network && !haveRigctld) ||
            (!only.isEmpty() && !backend.Name().contains(only))) {
            continue;
        }
        allRan = Measure(backend, faketime, steps) && allRan;
    }
    return allRan ? 0 : 1;
}
