// The windowless program on a shifted clock against the simulated radio: a sounder profile other
// than the default (720 s at 82 kHz/s, whose marks fall off the 10 ms grid) through the built-in
// link, and a fast profile through rigctld and through Hamlib driving the radio directly. Each
// step must reach the radio in order, none missing, within its window around the planned instant.

#include "support/radiosimprocess.h"
#include "sweep/schedule.h"
#include "testkit/headlessrun.h"
#include "testkit/tunerecorder.h"

#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <cmath>

namespace {

constexpr int kRunTimeoutMs = 10000;
constexpr int kIcom7300 = 3073;
constexpr int kLineSpeed = 19200;
// Launch, open the port or reach rigctld, park: all before the first step.
constexpr double kLead = 4;
constexpr double kChirpTime = 78.37;
// Steps of 100 kHz every 1.2195 s.
const sweep::Profile kSlowProfile{.sweepRate = 82, .period = 720};
// Steps of 200 kHz every half second, as the backends benchmark runs them.
const sweep::Profile kFastProfile{.sweepRate = 400, .period = 120, .stepSize = 200};

enum class Rig { Civ, Network, Hamlib };

} // namespace

Q_DECLARE_METATYPE(sweep::Profile)
Q_DECLARE_METATYPE(Rig)

class TestE2eProfile : public QObject {
    Q_OBJECT
private slots:
    void stepsReachTheRadioOnTheirMarks_data();
    void stepsReachTheRadioOnTheirMarks();
};

void TestE2eProfile::stepsReachTheRadioOnTheirMarks_data() {
    QTest::addColumn<Rig>("rig");
    QTest::addColumn<sweep::Profile>("profile");
    QTest::addColumn<int>("steps");
    QTest::addColumn<double>("earliest"); // s from the mark
    QTest::addColumn<double>("latest");
    // Worked out by hand: the first step half a step before the sweep passes it, c + F/R - Δ/2R.
    QTest::addColumn<double>("firstStepAfterChirp");
    QTest::addColumn<double>("interval");
    QTest::addColumn<int>("firstHz");
    QTest::addColumn<int>("stepHz");
    // The built-in link's timer aims at each step's own instant; Hamlib adds its own delay.
    QTest::newRow("720 s at 82 kHz/s, built-in link")
        << Rig::Civ << kSlowProfile << 8 << -0.005 << 0.1 << 2100.0 / 82 - 100.0 / 164 << 100.0 / 82
        << 2100000 << 100000;
    QTest::newRow("rigctld") << Rig::Network << kFastProfile << 10 << -0.005 << 0.5 << 5.25 << 0.5
                             << 2200000 << 200000;
    QTest::newRow("Hamlib direct")
        << Rig::Hamlib << kFastProfile << 10 << -0.005 << 0.5 << 5.25 << 0.5 << 2200000 << 200000;
}

void TestE2eProfile::stepsReachTheRadioOnTheirMarks() {
    QFETCH(Rig, rig);
    QFETCH(sweep::Profile, profile);
    QFETCH(int, steps);
    QFETCH(double, earliest);
    QFETCH(double, latest);
    QFETCH(double, firstStepAfterChirp);
    QFETCH(double, interval);
    QFETCH(int, firstHz);
    QFETCH(int, stepHz);
    const QString faketime = FaketimeLibrary();
    if (faketime.isEmpty()) {
        QSKIP("libfaketime is not installed (scripts/test installs faketime)");
    }
    if (rig != Rig::Civ && QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty()) {
        QSKIP("rigctld is not installed (scripts/test installs libhamlib-utils)");
    }
    // The IC-7300's own address, which Hamlib uses for model 3073.
    RadioSimProcess radio;
    const QString device = radio.Start({QStringLiteral("--address"), QStringLiteral("94")});
    QVERIFY2(!device.isEmpty(), qPrintable(radio.ErrorString()));
    QStringList arguments;
    QProcess rigctld;
    const auto stopRigctld = qScopeGuard([&rigctld] {
        rigctld.terminate();
        rigctld.waitForFinished();
    });
    if (rig == Rig::Network) {
        const quint16 port = FreeLocalPort();
        QString error;
        QVERIFY2(StartRigctld(rigctld, kIcom7300, device, kLineSpeed, port, {}, &error),
                 qPrintable(error));
        arguments << "--rig"
                  << "network"
                  << "--rig-address" << QStringLiteral("127.0.0.1:%1").arg(port);
    } else {
        arguments << "--port" << device << "--baud" << QString::number(kLineSpeed) << "--address"
                  << "94";
        if (rig == Rig::Hamlib) {
            arguments << "--rig"
                      << "hamlib"
                      << "--model" << QString::number(kIcom7300);
        }
    }

    HeadlessRun run(profile, kChirpTime, kLead);
    QVERIFY(run.Start(QStringLiteral(TAVMIROK_PROGRAM), faketime, arguments));
    // The park tuning, then the steps.
    const auto frames = [&radio, &profile] { return FramesFromPark(radio.LogLines(), profile); };
    QTRY_VERIFY2_WITH_TIMEOUT(
        frames().size() > steps,
        qPrintable(QString::fromLocal8Bit(run.program.readAllStandardError())),
        int((kLead + sweep::StepOffset(profile, steps)) * 1000) + kRunTimeoutMs);
    run.program.terminate();
    QVERIFY(run.program.waitForFinished(kRunTimeoutMs));

    // The day holds whole periods.
    QCOMPARE(std::fmod(run.firstStep + units::kSecondsPerDay, profile.period),
             kChirpTime + firstStepAfterChirp);
    const QList<WireFrame> received = frames();
    QStringList lateness;
    for (int step = 0; step < steps; ++step) {
        const WireFrame& frame = received[step + 1];
        const double late = sweep::AroundTheDay(frame.time, run.Mark(0) + step * interval);
        lateness << QString::number(late * 1000, 'f', 0);
        QCOMPARE(frame.hz, firstHz + step * stepHz);
        QVERIFY2(late >= earliest && late <= latest,
                 qPrintable(QStringLiteral("step %1 reached the radio %2 s after its mark")
                                .arg(step + 1)
                                .arg(late)));
    }
    qInfo("%s: lateness of steps 1..%d on the radio's wire, ms: %s", QTest::currentDataTag(), steps,
          qPrintable(lateness.join(u' ')));
}

QTEST_GUILESS_MAIN(TestE2eProfile)
#include "tst_e2e_profile.moc"
