#include "sweep/schedule.h"
#include "sweep/sweepscheduler.h"
#include "sweep/ticktimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr std::int64_t kDayMs = 86400000;
constexpr std::int64_t kTickMs = 10;
constexpr std::int32_t kMHz = 1000000;

std::int64_t Ms(double seconds) {
    return std::llround(seconds * 1000);
}

// Where the default sweep parks the radio, and its steps: 2.1 MHz at step 0 ... 30.0 MHz at
// step 279.
constexpr std::int32_t kParkHz = 2000000;
constexpr std::int32_t StepHz(int k) {
    return 2100000 + 100000 * k;
}

// The step timer as the scheduler sees it; records every call.
class FakeTimer : public TickTimer {
public:
    void SetInterval(std::chrono::milliseconds ms) override {
        interval = ms;
        if (recording) {
            log << QStringLiteral("interval %1").arg(ms.count());
        }
    }
    void SetEnabled(bool on) override {
        enabled = on;
        if (recording) {
            log << (on ? QStringLiteral("enable") : QStringLiteral("disable"));
        }
    }
    std::chrono::milliseconds Interval() const override { return interval; }
    bool IsEnabled() const override { return enabled; }
    std::chrono::milliseconds Early() const override { return early; }
    bool Ticking() const { return interval.count() > 0 && enabled; }

    std::chrono::milliseconds interval{0};
    std::chrono::milliseconds early{0}; // how long before a step its ticks may come
    bool enabled = true;
    bool recording = true;
    QStringList log;
};

struct Tuning {
    std::int32_t frequency;
    double clock;    // time of day when Setfreq was called
    int nestedTicks; // ticks delivered while it waited for the radio
    double at = 0;   // the instant it was handed over for (the clock's), or 0 for at once
};

// A radio that answers before Tune returns, as the built-in link does.
class FakeTuner : public Tuner {
public:
    std::function<Status(std::int32_t)> setfreq;
    void Tune(quint64 id, std::int32_t hz) override {
        const Status status = setfreq(hz);
        emit TuneFinished(id, hz, status.IsOk() ? TuneOutcome::Reached : TuneOutcome::Failed,
                          status);
    }
    void TuneIn(quint64 id, std::int32_t hz, std::chrono::microseconds delay) override {
        handOver = delay;
        Tune(id, hz);
        handOver.reset();
    }
    bool TunesOnTime() const override { return onTime; }
    void SetReplyBudget(std::chrono::milliseconds) override {}
    Status Connect() override { return Status::Ok(); }
    void Shutdown() override {}
    RigState State() const override { return state; }
    RigState state;
    bool onTime = false;
    std::optional<std::chrono::microseconds> handOver; // within a TuneIn
};

// A main window in simulated time: a clock stepped in milliseconds (it may run past a day; the
// scheduler sees the time of day), a timer that ticks on every 10 ms boundary while enabled with
// a non-zero interval, and a radio that answers after a chosen latency, delivering the ticks that
// fall inside its wait as the real event loop would.
class SimulatedSweep {
public:
    explicit SimulatedSweep(double startClock, QString chirp = QStringLiteral("78"))
        : nowMs(Ms(startClock)), text2(std::move(chirp)),
          scheduler({[this] { return Clock(); }, [this] { return text2; }}, timer, tuner) {
        tuner.setfreq = [this](std::int32_t hz) { return Setfreq(hz); };
        QObject::connect(
            &scheduler, &SweepScheduler::PhaseEntered, [this](SweepScheduler::Phase phase) {
                labels << (phase == SweepScheduler::Phase::Stepping ? QStringLiteral("Stepping")
                                                                    : QStringLiteral("waiting..."));
            });
        QObject::connect(&scheduler, &SweepScheduler::Problem,
                         [this](const QString& message) { problems << message; });
        QObject::connect(&scheduler, &SweepScheduler::Notice,
                         [this](const QString& message) { notices << message; });
        QObject::connect(&scheduler, &SweepScheduler::SweepArmed,
                         [this](const QString& sounder, double firstStep, double chirp) {
                             events << QStringLiteral("armed %1 %2 %3")
                                           .arg(sounder, QString::number(firstStep, 'f', 1),
                                                QString::number(chirp));
                         });
        QObject::connect(
            &scheduler, &SweepScheduler::SweepStarted, [this](const QString& sounder, double mark) {
                events
                    << QStringLiteral("started %1 %2").arg(sounder, QString::number(mark, 'f', 1));
            });
        QObject::connect(&scheduler, &SweepScheduler::SweepEnded,
                         [this](const QString& sounder, bool complete) {
                             events << QStringLiteral("ended %1 %2")
                                           .arg(sounder, complete ? "complete" : "cut short");
                         });
    }

    double Clock() const { return static_cast<double>(nowMs % kDayMs) / 1000.0; }

    // Runs ticks up to and including absolute simulated time `seconds` (may exceed 86400).
    void RunUntil(double seconds) {
        const std::int64_t endMs = Ms(seconds);
        while (NextBoundary() <= endMs) {
            nowMs = NextBoundary();
            DeliverTick();
        }
    }
    void RunFor(double seconds) { RunUntil(nowMs / 1000.0 + seconds); }
    void DeliverTick() {
        if (timer.Ticking() && timer.onTick) {
            ++ticks;
            timer.onTick();
        }
    }
    std::int64_t NextBoundary() const { return (nowMs / kTickMs + 1) * kTickMs; }

    std::vector<std::int32_t> Frequencies() const {
        std::vector<std::int32_t> out;
        for (const Tuning& tuning : tunings) {
            out.push_back(tuning.frequency);
        }
        return out;
    }

    std::int64_t nowMs;
    QString text2;
    FakeTimer timer;
    QStringList labels;
    QStringList problems;
    QStringList notices;
    QStringList events; // the sweep events in order
    std::vector<Tuning> tunings;
    int ticks = 0;
    std::function<std::int64_t(std::int32_t)> latencyMs = [](std::int32_t) { return 0; };
    std::function<Status(std::int32_t)> answer = [](std::int32_t) { return Status::Ok(); };
    std::function<void(std::int32_t)> insideWait; // runs inside the radio wait
    FakeTuner tuner;
    SweepScheduler scheduler;

private:
    Status Setfreq(std::int32_t hz) {
        const std::size_t index = tunings.size();
        tunings.push_back(
            {hz, Clock(), 0, tuner.handOver ? Clock() + tuner.handOver->count() / 1e6 : 0});
        const int ticksBefore = ticks;
        if (insideWait) {
            insideWait(hz);
        }
        const std::int64_t endMs = nowMs + latencyMs(hz);
        while (NextBoundary() <= endMs) {
            nowMs = NextBoundary();
            DeliverTick();
        }
        nowMs = std::max(nowMs, endMs);
        tunings[index].nestedTicks = ticks - ticksBefore;
        return answer(hz);
    }
};

// Expected tunings of one sweep: where it was armed, then its 280 steps from `start`.
void VerifySweep(const SimulatedSweep& rig, std::size_t first, double start, int latestMs = 0) {
    QCOMPARE(rig.tunings.at(first).frequency, kParkHz);
    for (int k = 0; k < 280; ++k) {
        const Tuning& tuning = rig.tunings.at(first + 1 + k);
        QCOMPARE(tuning.frequency, StepHz(k));
        const double mark = std::fmod(start + k, 86400.0);
        const double late = sweep::AroundTheDay(tuning.clock, mark);
        if (late < -1e-9 || late > latestMs / 1000.0 + 1e-9) {
            QFAIL(qPrintable(QStringLiteral("step %1 of the sweep from %2 came at %3")
                                 .arg(k)
                                 .arg(start)
                                 .arg(tuning.clock)));
        }
    }
}

} // namespace

class TestSweepScheduler : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void beforeFirstStart_noTicksNothingSentLabelUntouched() {
        SimulatedSweep rig(36000);
        QCOMPARE(rig.timer.Interval(), 0ms);
        rig.RunFor(600);
        QCOMPARE(rig.ticks, 0);
        rig.scheduler.Timer1Tick(); // even a stray tick does nothing before the first arming
        QVERIFY(rig.tunings.empty());
        QVERIFY(rig.labels.isEmpty());
        QVERIFY(rig.timer.log.isEmpty());
        QCOMPARE(rig.scheduler.CurrentPhase(), SweepScheduler::Phase::Idle);
    }

    // A backend still connecting refuses the park; once it connects the radio is parked, once.
    void parkRefused_parksWhenTheBackendConnects_data() {
        QTest::addColumn<bool>("parkReached");
        QTest::addColumn<double>("connectAfter"); // s after Start
        QTest::addColumn<std::vector<std::int32_t>>("expected");
        const std::vector<std::int32_t> once{kParkHz};
        const std::vector<std::int32_t> twice{kParkHz, kParkHz};
        QTest::newRow("refused, connects while waiting") << false << 10.0 << twice;
        QTest::newRow("reached") << true << 10.0 << once;
        QTest::newRow("refused, connects once stepping")
            << false << 99.0 << std::vector<std::int32_t>{kParkHz, StepHz(0)};
    }
    void parkRefused_parksWhenTheBackendConnects() {
        QFETCH(bool, parkReached);
        QFETCH(double, connectAfter);
        QFETCH(std::vector<std::int32_t>, expected);
        SimulatedSweep rig(36000);
        rig.answer = [parkReached](std::int32_t) {
            return parkReached ? Status::Ok() : Status::Error(QStringLiteral("connecting"));
        };
        rig.scheduler.StartButtonClick();
        rig.RunFor(connectAfter);
        rig.answer = [](std::int32_t) { return Status::Ok(); };
        rig.tuner.state.connected = true;
        emit rig.tuner.StateChanged();
        emit rig.tuner.StateChanged(); // once connected, nothing more is re-sent
        QCOMPARE(rig.Frequencies(), expected);
    }

    void workedExample() {
        SimulatedSweep rig(36000);
        rig.scheduler.StartButtonClick();
        QCOMPARE(rig.labels, QStringList{"waiting..."});
        QCOMPARE(rig.Frequencies(), std::vector<std::int32_t>{2000000});
        QCOMPARE(rig.tunings[0].clock, 36000.0);
        QCOMPARE(rig.scheduler.NextStepTime(), 36098.5);
        QCOMPARE(rig.timer.Interval(), 10ms);
        QVERIFY(rig.timer.IsEnabled());
        QCOMPARE(rig.scheduler.CurrentPhase(), SweepScheduler::Phase::Waiting);

        rig.RunUntil(36098.49);
        QCOMPARE(rig.tunings.size(), std::size_t{1});
        rig.RunUntil(36098.5);
        QCOMPARE(rig.tunings.back().frequency, 2100000);
        QCOMPARE(rig.tunings.back().clock, 36098.5);
        QCOMPARE(rig.labels.last(), QStringLiteral("Stepping"));
        QCOMPARE(rig.scheduler.NextStepTime(), 36099.5);
        QCOMPARE(rig.scheduler.CurrentPhase(), SweepScheduler::Phase::Stepping);

        rig.RunUntil(36377.5);
        QCOMPARE(rig.tunings.size(), std::size_t{281});
        VerifySweep(rig, 0, 36098.5);
        QCOMPARE(rig.tunings.back().clock, 36377.5);
        QCOMPARE(rig.labels.last(), QStringLiteral("Stepping"));

        rig.RunUntil(36378.5);
        QCOMPARE(rig.tunings.size(), std::size_t{282});
        QCOMPARE(rig.tunings.back().frequency, 2000000); // never 30.1 MHz
        QCOMPARE(rig.tunings.back().clock, 36378.5);
        QCOMPARE(rig.labels.last(), QStringLiteral("waiting..."));
        QCOMPARE(rig.scheduler.NextStepTime(), 36398.5);
        QCOMPARE(rig.scheduler.CurrentPhase(), SweepScheduler::Phase::Waiting);

        rig.RunUntil(36398.5);
        QCOMPARE(rig.tunings.back().frequency, 2100000);
        QCOMPARE(rig.tunings.back().clock, 36398.5);
        QVERIFY(rig.problems.isEmpty());
        QVERIFY(rig.notices.isEmpty());
    }

    // With a backend that writes at an instant itself, ticks come up to the timer's lead early
    // and hand each step, and the park after the last, over for its own instant: the wire
    // sees the same sweep, whenever the loop got round to the tick.
    void onTimeBackend_stepsHandedOverForTheirInstants() {
        SimulatedSweep rig(36000);
        rig.tuner.onTime = true;
        rig.timer.early = 50ms;
        rig.scheduler.StartButtonClick();
        rig.RunUntil(36378.5);
        QCOMPARE(rig.tunings.size(), std::size_t{282});
        for (int k = 0; k <= 280; ++k) {
            const Tuning& tuning = rig.tunings.at(1 + k);
            QCOMPARE(tuning.frequency, k < 280 ? StepHz(k) : kParkHz);
            const double instant = 36098.5 + k;
            QVERIFY2(tuning.clock < instant && tuning.clock >= instant - 0.050 - 1e-9,
                     qPrintable(QString::number(tuning.clock, 'f', 3)));
            QVERIFY(std::fabs(tuning.at - instant) < 1e-6);
        }
        QCOMPARE(rig.scheduler.NextStepTime(), 36398.5);
        QVERIFY(rig.problems.isEmpty());
    }

    void firstStep_data() {
        QTest::addColumn<double>("startClock");
        QTest::addColumn<QString>("chirp");
        QTest::addColumn<double>("firstStep"); // absolute simulated time
        QTest::newRow("10:00:00, 78") << 36000.0 << "78" << 36098.5;
        QTest::newRow("10:00:25, 78") << 36025.0 << "78" << 36098.5;
        QTest::newRow("10:01:30, 78") << 36090.0 << "78" << 36098.5;
        QTest::newRow("10:02:00, 78: not joined") << 36120.0 << "78" << 36398.5;
        QTest::newRow("midnight, 0") << 0.0 << "0" << 20.5;
        QTest::newRow("10:00:00, 299") << 36000.0 << "299" << 36019.5;
        QTest::newRow("10:00:00, 78.5") << 36000.0 << "78.5" << 36099.0;
        QTest::newRow("23:59:50, 78: held to after midnight") << 86390.0 << "78" << 86498.5;
        QTest::newRow("23:58:35, 290: held to after midnight") << 86315.0 << "290" << 86410.5;
        QTest::newRow("23:58:30, 280: held to after midnight") << 86310.0 << "280" << 86400.5;
        QTest::newRow("late evening 86115, 290") << 86115.0 << "290" << 86410.5;
        QTest::newRow("late evening 86110, 280") << 86110.0 << "280" << 86400.5;
    }
    void firstStep() {
        QFETCH(double, startClock);
        QFETCH(QString, chirp);
        QFETCH(double, firstStep);
        SimulatedSweep rig(startClock, chirp);
        rig.scheduler.StartButtonClick();
        rig.RunUntil(firstStep - 0.01);
        QCOMPARE(rig.Frequencies(), std::vector<std::int32_t>{2000000});
        QCOMPARE(rig.labels, QStringList{"waiting..."});
        rig.RunUntil(firstStep + 1);
        QCOMPARE(rig.Frequencies(), (std::vector<std::int32_t>{2000000, 2100000, 2200000}));
        QCOMPARE(rig.tunings[1].clock, std::fmod(firstStep, 86400.0));
        QCOMPARE(rig.tunings[2].clock, std::fmod(firstStep + 1, 86400.0));
        QVERIFY(rig.notices.isEmpty());
    }

    void sweepThroughMidnight_chirp200() {
        SimulatedSweep rig(86300, QStringLiteral("200"));
        rig.scheduler.StartButtonClick();
        QCOMPARE(rig.scheduler.NextStepTime(), 86320.5);
        rig.RunUntil(86400 + 220.5);
        QCOMPARE(rig.tunings.size(), std::size_t{1 + 280 + 2});
        VerifySweep(rig, 0, 86320.5);
        QCOMPARE(rig.tunings[80].frequency, 10000000); // 23:59:59.5
        QCOMPARE(rig.tunings[80].clock, 86399.5);
        QCOMPARE(rig.tunings[81].frequency, 10100000); // 00:00:00.5
        QCOMPARE(rig.tunings[81].clock, 0.5);
        QCOMPARE(rig.tunings[280].frequency, 30000000);
        QCOMPARE(rig.tunings[280].clock, 199.5);
        QCOMPARE(rig.tunings[281].frequency, 2000000);
        QCOMPARE(rig.tunings[281].clock, 200.5);
        QCOMPARE(rig.tunings[282].frequency, 2100000);
        QCOMPARE(rig.tunings[282].clock, 220.5);
    }

    // A whole day of 10 ms ticks: 288 sweeps on their marks, with no drift, whether the radio
    // answers at once or takes as long as a real one.
    void wholeDay_data() {
        QTest::addColumn<int>("latency");
        QTest::newRow("instant radio") << 0;
        QTest::newRow("52 ms radio") << 52;
        QTest::newRow("400 ms radio") << 400;
    }
    void wholeDay() {
        QFETCH(int, latency);
        SimulatedSweep rig(36000);
        rig.timer.recording = false; // millions of ticks
        rig.latencyMs = [latency](std::int32_t) { return latency; };
        rig.scheduler.StartButtonClick();
        constexpr int kSweeps = 288;
        const double lastRearm = 36098.5 + 300.0 * (kSweeps - 1) + 280;
        rig.RunUntil(lastRearm + 0.5);

        QCOMPARE(rig.tunings.size(), std::size_t{kSweeps * 281 + 1});
        for (int n = 0; n < kSweeps; ++n) {
            VerifySweep(rig, std::size_t(n) * 281, 36098.5 + 300.0 * n, int(kTickMs));
        }
        QCOMPARE(rig.tunings.back().frequency, kParkHz);
        std::int32_t highest = 0;
        for (const Tuning& tuning : rig.tunings) {
            highest = std::max(highest, tuning.frequency);
        }
        QCOMPARE(highest, 30 * kMHz);
        QCOMPARE(int(rig.labels.count(QStringLiteral("waiting..."))), kSweeps + 1);
        QVERIFY(rig.problems.isEmpty());
        QVERIFY(rig.notices.isEmpty());
    }

    void catchUp_afterThreeSecondDelay_oneStepPerTick() {
        SimulatedSweep rig(36000);
        rig.latencyMs = [](std::int32_t hz) { return hz == 2500000 ? 3000 : 0; };
        rig.scheduler.StartButtonClick();
        rig.RunUntil(36107.5);
        const std::vector<std::pair<std::int32_t, double>> expected{
            {2500000, 36102.5},  {2600000, 36105.51}, {2700000, 36105.52},
            {2800000, 36105.53}, {2900000, 36106.5},  {3000000, 36107.5}};
        QCOMPARE(rig.tunings.size(), std::size_t{1 + 10});
        for (std::size_t i = 0; i < expected.size(); ++i) {
            QCOMPARE(rig.tunings[5 + i].frequency, expected[i].first);
            QCOMPARE(rig.tunings[5 + i].clock, expected[i].second);
        }
        QCOMPARE(rig.tunings[5].nestedTicks, 0); // the timer is off while a step tunes
        QVERIFY(rig.notices.isEmpty());
    }

    void editingText2_midSweep_takesEffectAtNextArming() {
        SimulatedSweep rig(36000);
        rig.scheduler.StartButtonClick();
        rig.RunUntil(36200);
        rig.text2 = QStringLiteral("100");
        rig.RunUntil(36377.5);
        QCOMPARE(rig.tunings.size(), std::size_t{281});
        VerifySweep(rig, 0, 36098.5);
        rig.RunUntil(36378.5);
        QCOMPARE(rig.tunings.back().frequency, 2000000);
        QCOMPARE(rig.scheduler.NextStepTime(), 36420.5);
        rig.RunUntil(36420.5);
        QCOMPARE(rig.tunings.back().frequency, 2100000);
        QCOMPARE(rig.tunings.back().clock, 36420.5);
    }

    void refusedChirpText_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("12a") << "12a";
        QTest::newRow("300") << "300";
        QTest::newRow("-5") << "-5";
        QTest::newRow("nan") << "nan";
        QTest::newRow("1e308") << "1e308";
        QTest::newRow("blanks") << "   ";
    }
    void refusedChirpText() {
        QFETCH(QString, text);
        SimulatedSweep idle(36000, text);
        idle.scheduler.StartButtonClick();
        QCOMPARE(idle.problems, QStringList{sweep::ChirpTimeRefusal(text, 300)});
        idle.RunFor(600);
        QVERIFY(idle.tunings.empty());
        QVERIFY(idle.labels.isEmpty());
        QVERIFY(idle.timer.log.isEmpty());
        QCOMPARE(idle.timer.Interval(), 0ms);
        QCOMPARE(idle.scheduler.CurrentPhase(), SweepScheduler::Phase::Idle);

        // While stepping, a refused Start changes nothing either.
        SimulatedSweep stepping(36000);
        stepping.scheduler.StartButtonClick();
        stepping.RunUntil(36150);
        const std::size_t tuned = stepping.tunings.size();
        const QStringList labels = stepping.labels;
        const QStringList timerLog = stepping.timer.log;
        const double next = stepping.scheduler.NextStepTime();
        stepping.text2 = text;
        stepping.scheduler.StartButtonClick();
        QCOMPARE(stepping.tunings.size(), tuned);
        QCOMPARE(stepping.labels, labels);
        QCOMPARE(stepping.timer.log, timerLog);
        QCOMPARE(stepping.scheduler.NextStepTime(), next);
        QCOMPARE(stepping.problems, QStringList{sweep::ChirpTimeRefusal(text, 300)});
        stepping.RunUntil(36151);
        QCOMPARE(stepping.tunings.back().clock, 36150.5); // the sweep goes on
    }

    void refusedChirpText_atEndOfSweep_rearmsWithLastAcceptedTellsOnce() {
        SimulatedSweep rig(36000);
        rig.scheduler.StartButtonClick();
        rig.RunUntil(36200);
        rig.text2 = QStringLiteral("12a");
        rig.RunUntil(36378.5);
        QCOMPARE(rig.tunings.back().frequency, 2000000);
        QCOMPARE(rig.labels.last(), QStringLiteral("waiting..."));
        QCOMPARE(rig.scheduler.NextStepTime(), 36398.5);
        QCOMPARE(rig.problems.size(), 1);
        QVERIFY(rig.problems[0].contains("\"12a\""));
        QVERIFY(rig.problems[0].contains("chirp time 78"));

        rig.RunUntil(36678.5); // the next sweep ends with the same text: not told again
        QCOMPARE(rig.problems.size(), 1);
        QCOMPARE(rig.scheduler.NextStepTime(), 36698.5);

        rig.text2 = QString();
        rig.RunUntil(36978.5); // a different refused text is told
        QCOMPARE(rig.problems.size(), 2);
        QVERIFY(rig.problems[1].contains("\"\""));

        rig.text2 = QStringLiteral("100");
        rig.RunUntil(37278.5);
        QCOMPARE(rig.scheduler.NextStepTime(), 37320.5);
        rig.text2 = QStringLiteral("12a"); // told again after a good text was taken
        rig.RunUntil(37320.5 + 280);
        QCOMPARE(rig.problems.size(), 3);
        QVERIFY(rig.problems[2].contains("chirp time 100"));
    }

    void midnight_lateTickTakesPendingStep() {
        SimulatedSweep rig(86300, QStringLiteral("200"));
        rig.scheduler.StartButtonClick();
        rig.RunUntil(86399.4);
        const std::size_t tuned = rig.tunings.size();
        rig.nowMs = Ms(86400 + 0.2); // the tick for 23:59:59.5 comes 0.7 s late
        rig.DeliverTick();
        QCOMPARE(rig.tunings.size(), tuned + 1);
        QCOMPARE(rig.tunings.back().frequency, 10000000);
        QCOMPARE(rig.tunings.back().clock, 0.2);
        QCOMPARE(rig.scheduler.NextStepTime(), 0.5);
        rig.RunUntil(86400 + 0.49);
        QCOMPARE(rig.tunings.size(), tuned + 1);
        rig.RunUntil(86400 + 0.5);
        QCOMPARE(rig.tunings.back().frequency, 10100000);
        QVERIFY(rig.notices.isEmpty());
    }

    void clockChange_rearmsFromCurrentClock_data() {
        QTest::addColumn<double>("shift");
        QTest::addColumn<double>("restart"); // time of day of the next sweep's first step
        QTest::newRow("set back an hour") << -3600.0 << 32798.5;
        QTest::newRow("forward an hour") << 3600.0 << 39998.5;
        QTest::newRow("forward a day and a half") << 129600.0 << 79598.5;
        // Back by more than SweepScheduler::kClockJump, ahead by more than a period.
        QTest::newRow("set back a minute") << -60.0 << 36098.5;
        QTest::newRow("forward more than a period") << 400.0 << 36698.5;
    }
    void clockChange_rearmsFromCurrentClock() {
        QFETCH(double, shift);
        QFETCH(double, restart);
        SimulatedSweep rig(36000);
        rig.scheduler.StartButtonClick();
        rig.RunUntil(36100.3);
        const std::size_t tuned = rig.tunings.size();
        rig.nowMs += Ms(shift);
        rig.RunFor(0.01);
        QCOMPARE(rig.notices.size(), 1);
        QCOMPARE(rig.tunings.size(), tuned + 1);
        QCOMPARE(rig.tunings.back().frequency, 2000000);
        QCOMPARE(rig.labels.last(), QStringLiteral("waiting..."));
        QCOMPARE(rig.scheduler.NextStepTime(), restart);
        const double firstStep = rig.nowMs / 1000.0 + sweep::AroundTheDay(restart, rig.Clock());
        rig.RunUntil(firstStep - 0.01);
        QCOMPARE(rig.tunings.size(), tuned + 1); // no stall, no race through a stale sweep
        rig.RunUntil(firstStep);
        QCOMPARE(rig.tunings.back().frequency, 2100000);
        QCOMPARE(rig.tunings.back().clock, restart);
        QCOMPARE(rig.notices.size(), 1);
        QVERIFY(rig.problems.isEmpty());
    }

    // Each sweep that started ends once, complete only after its last step, before the next
    // arming; the events name the saved sounder when the profile and chirp time are its own.
    void sweepEvents_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("events");
        const QString armed = QStringLiteral("armed 300:78 36098.5 78");
        const QString started = QStringLiteral("started 300:78 36098.5");
        const QString cut = QStringLiteral("ended 300:78 cut short");
        QTest::newRow("whole sweep")
            << "run"
            << QStringList{armed, started, "ended 300:78 complete", "armed 300:78 36398.5 78"};
        QTest::newRow("clock moved ahead mid-sweep")
            << "jump" << QStringList{armed, started, cut, "armed 300:78 39998.5 78"};
        QTest::newRow("Start mid-sweep")
            << "start" << QStringList{armed, started, cut, "armed 300:78 36398.5 78"};
        QTest::newRow("another sounder mid-sweep")
            << "profile" << QStringList{armed, started, cut, "armed 600:78 36698.5 78"};
        QTest::newRow("Start while parked") << "parked" << QStringList{armed, armed};
        // Rests mid-sweep (listening or the plan takes the radio), then Start arms anew.
        QTest::newRow("rest mid-sweep, then Start")
            << "rest" << QStringList{armed, started, cut, "armed 300:78 36398.5 78"};
        QTest::newRow("saved sounder")
            << "saved" << QStringList{"armed Cyprus 36098.5 78", "started Cyprus 36098.5"};
    }
    void sweepEvents() {
        QFETCH(QString, action);
        QFETCH(QStringList, events);
        SimulatedSweep rig(36000);
        if (action == QLatin1String("saved")) {
            rig.scheduler.SetSavedSounders({{QStringLiteral("Cyprus"), 78, sweep::Profile{}}});
        }
        rig.scheduler.StartButtonClick();
        if (action == QLatin1String("parked")) {
            rig.RunUntil(36050);
            rig.scheduler.StartButtonClick();
        } else if (action == QLatin1String("run")) {
            rig.RunUntil(36378.5);
        } else {
            rig.RunUntil(36100.3);
        }
        if (action == QLatin1String("jump")) {
            rig.nowMs += Ms(3600);
            rig.RunFor(0.01);
        } else if (action == QLatin1String("start")) {
            rig.scheduler.StartButtonClick();
        } else if (action == QLatin1String("profile")) {
            rig.scheduler.SetProfile(sweep::Profile{100, 600, 2000, 30000, 100});
        } else if (action == QLatin1String("rest")) {
            rig.scheduler.Rest();
            const auto tuned = rig.tunings.size();
            rig.RunUntil(36200);
            QCOMPARE(rig.tunings.size(), tuned); // nothing tuned while resting
            rig.scheduler.StartButtonClick();
        }
        QCOMPARE(rig.events, events);
    }

    void failingSend_midSweep_toldOnceAndRecovers() {
        SimulatedSweep rig(36000);
        const QString failure = QStringLiteral("The radio did not answer");
        rig.answer = [&](std::int32_t hz) {
            const bool down = (hz >= 2500000 && hz <= 2800000) || hz == 5000000;
            return down ? Status::Error(failure) : Status::Ok();
        };
        rig.scheduler.StartButtonClick();
        rig.RunUntil(36102.5);
        QCOMPARE(rig.problems.size(), 1);
        QVERIFY(rig.problems[0].contains(failure));
        QVERIFY(rig.problems[0].contains("2.5 MHz"));
        QVERIFY(rig.timer.Ticking()); // re-enabled after the failed step
        rig.RunUntil(36106.5);
        QCOMPARE(rig.problems.size(), 1); // 2.6 to 2.8 fail too: not told again
        QCOMPARE(rig.tunings.back().frequency, 2900000);
        QCOMPARE(rig.tunings.back().clock, 36106.5);
        rig.RunUntil(36127.5); // 5.0 MHz fails after sends had recovered: told again
        QCOMPARE(rig.problems.size(), 2);
        QVERIFY(rig.problems[1].contains("5.0 MHz"));
        rig.RunUntil(36377.5);
        VerifySweep(rig, 0, 36098.5);
    }

    void failingParkTuning_sweepStillRuns() {
        SimulatedSweep rig(36000);
        rig.answer = [](std::int32_t hz) {
            return hz == kParkHz ? Status::Error("port closed") : Status::Ok();
        };
        rig.scheduler.StartButtonClick();
        QCOMPARE(rig.problems.size(), 1);
        QVERIFY(rig.timer.Ticking());
        QCOMPARE(rig.scheduler.NextStepTime(), 36098.5);
        rig.RunUntil(36378.5);
        VerifySweep(rig, 0, 36098.5);
        QCOMPARE(rig.problems.size(), 2); // the re-arm failed after steps had gone through
        QCOMPARE(rig.scheduler.NextStepTime(), 36398.5);
    }

    // A problem is handed out only after the timer runs again, so a modal box opened by the slot
    // does not hold the sweep.
    void problem_emittedAfterTimerRestarted() {
        SimulatedSweep rig(36000);
        rig.answer = [](std::int32_t hz) {
            return hz == 2500000 ? Status::Error("no answer") : Status::Ok();
        };
        bool ticking = false;
        QObject::connect(&rig.scheduler, &SweepScheduler::Problem,
                         [&] { ticking = rig.timer.Ticking(); });
        rig.scheduler.StartButtonClick();
        rig.RunUntil(36102.5);
        QCOMPARE(rig.problems.size(), 1);
        QVERIFY(ticking);
    }

    void startInsideStepWait_rearmsAndOuterStepReenablesTimer() {
        SimulatedSweep rig(36000);
        rig.scheduler.StartButtonClick();
        rig.RunUntil(36102.49);
        bool clicked = false;
        rig.insideWait = [&](std::int32_t hz) {
            if (hz == 2500000 && !clicked) {
                clicked = true;
                rig.scheduler.StartButtonClick();
            }
        };
        const qsizetype logStart = rig.timer.log.size();
        rig.RunUntil(36102.5);
        QVERIFY(clicked);
        QCOMPARE(rig.tunings.back().frequency, 2000000);
        QCOMPARE(rig.tunings[rig.tunings.size() - 2].frequency, 2500000);
        QCOMPARE(rig.labels.last(), QStringLiteral("waiting..."));
        QCOMPARE(rig.scheduler.CurrentPhase(), SweepScheduler::Phase::Waiting);
        QCOMPARE(rig.scheduler.NextStepTime(), 36398.5);
        // The step disabled the timer, the nested arming and click enabled it, and the step
        // still re-enabled it when its tuning returned.
        QCOMPARE(rig.timer.log.mid(logStart),
                 (QStringList{"disable", "interval 10", "enable", "interval 10", "enable",
                              "interval 10", "enable"}));
        const std::size_t tuned = rig.tunings.size();
        rig.RunUntil(36398.49);
        QCOMPARE(rig.tunings.size(), tuned);
        rig.RunUntil(36398.5);
        QCOMPARE(rig.tunings.back().frequency, 2100000);
    }

    void refusedStartInsideStepWait_stepGoesOn() {
        SimulatedSweep rig(36000);
        rig.scheduler.StartButtonClick();
        rig.RunUntil(36102.4);
        rig.insideWait = [&](std::int32_t hz) {
            if (hz == 2500000) {
                rig.text2 = QStringLiteral("abc");
                rig.scheduler.StartButtonClick();
            }
        };
        rig.RunUntil(36103.5);
        QCOMPARE(rig.problems, QStringList{sweep::ChirpTimeRefusal("abc", 300)});
        QVERIFY(rig.timer.Ticking());
        QCOMPARE(rig.tunings.back().frequency, 2600000);
        QCOMPARE(rig.tunings.back().clock, 36103.5);
    }

    void ticksInsideArmingWait_mayTakeTheFirstStep() {
        SimulatedSweep rig(36098.0);
        rig.latencyMs = [](std::int32_t hz) { return hz == kParkHz ? 1200 : 0; };
        rig.scheduler.StartButtonClick();
        QCOMPARE(rig.tunings.size(), std::size_t{2});
        QCOMPARE(rig.tunings[0].frequency, 2000000);
        QVERIFY(rig.tunings[0].nestedTicks > 0);
        QCOMPARE(rig.tunings[1].frequency, 2100000); // taken inside the 2 MHz wait
        QCOMPARE(rig.tunings[1].clock, 36098.5);
        // The arming, finishing after the nested step, leaves the step's state alone.
        QCOMPARE(rig.labels, (QStringList{"waiting...", "Stepping"}));
        QCOMPARE(rig.scheduler.CurrentPhase(), SweepScheduler::Phase::Stepping);
        QCOMPARE(rig.scheduler.StepFrequency(), 2100000);
        QCOMPARE(rig.scheduler.NextStepTime(), 36099.5);
        QVERIFY(rig.timer.Ticking());
        rig.RunUntil(36099.5);
        QCOMPARE(rig.tunings.back().frequency, 2200000);
        QCOMPARE(rig.tunings.back().clock, 36099.5);
    }

    void ticksInsideArmingWait_findNothingDue() {
        SimulatedSweep rig(36000);
        rig.latencyMs = [](std::int32_t hz) { return hz == kParkHz ? 500 : 0; };
        rig.scheduler.StartButtonClick();
        QCOMPARE(rig.tunings.size(), std::size_t{1});
        QCOMPARE(rig.tunings[0].nestedTicks, 50);
        QCOMPARE(rig.labels, QStringList{"waiting..."});
    }

    void progressChanged_followsPhaseAndStep() {
        SimulatedSweep rig(36000);
        int changes = 0;
        QObject::connect(&rig.scheduler, &SweepScheduler::ProgressChanged, [&] { ++changes; });
        rig.scheduler.StartButtonClick();
        QCOMPARE(changes, 1);
        rig.RunUntil(36098.49);
        QCOMPARE(changes, 1);
        rig.RunUntil(36100.5);
        QCOMPARE(changes, 4);
    }

    // The production timer, with a fake clock where the check allows it.
    void alignedTimer_startsWithoutTicks() {
        AlignedTickTimer timer([] { return 36000.0; });
        int ticks = 0;
        timer.onTick = [&] { ++ticks; };
        QCOMPARE(timer.Interval(), 0ms);
        QVERIFY(timer.IsEnabled());
        QVERIFY(!timer.IsRunning());
        timer.SetEnabled(true);
        QVERIFY(!timer.IsRunning());
        for (int i = 0; i < 10; ++i) {
            QCoreApplication::processEvents();
        }
        QCOMPARE(ticks, 0);
    }

    void alignedTimer_aimsAtClockBoundary_andRepeatedSetsDoNotRestart() {
        double clock = 0.0;
        AlignedTickTimer timer([&] { return clock; });
        timer.SetInterval(100000ms); // a 100 s period, so real time passing here cannot matter
        QVERIFY(timer.IsRunning());
        QVERIFY(timer.RemainingTime() > 90s);
        clock = 50.0; // a restart now would aim 50 s ahead
        timer.SetEnabled(true);
        timer.SetInterval(100000ms);
        QVERIFY(timer.RemainingTime() > 75s);
        timer.SetEnabled(false);
        QVERIFY(!timer.IsRunning());
        timer.SetEnabled(true);
        QVERIFY(timer.IsRunning());
        QVERIFY(timer.RemainingTime() <= 50s); // re-aimed at the clock's next boundary
        timer.SetInterval(0ms);
        QVERIFY(!timer.IsRunning());
        QVERIFY(timer.IsEnabled());
    }

    void alignedTimer_ticksAndSurvivesStopStartInsideTick() {
        QElapsedTimer elapsed;
        elapsed.start();
        AlignedTickTimer timer([&] { return 36000.0 + elapsed.nsecsElapsed() / 1e9; });
        int ticks = 0;
        timer.onTick = [&] {
            ++ticks;
            timer.SetEnabled(false); // as a step does around its tuning
            timer.SetInterval(10ms);
            timer.SetEnabled(true);
        };
        timer.SetInterval(10ms);
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 5, 30000);
        QVERIFY(timer.IsRunning());
        QVERIFY(timer.RemainingTime() <= 10ms);
    }

    // With a lead the shot is aimed that much before the step's instant and waits out the rest
    // itself: the tick never comes before the instant.
    void alignedTimer_leadAimsEarlyButTicksOnTheInstant() {
        AlignedTickTimer aimed([] { return 36000.0; });
        aimed.SetLead(20ms);
        aimed.SetNextDue(36000.5);
        aimed.SetInterval(100000ms); // no interval boundary before the step
        QVERIFY(aimed.IsRunning());
        QVERIFY(aimed.RemainingTime() <= 480ms);

        QElapsedTimer elapsed;
        elapsed.start();
        const auto clock = [&] { return 36000.0 + elapsed.nsecsElapsed() / 1e9; };
        AlignedTickTimer timer(clock);
        double tickedAt = 0;
        timer.onTick = [&] {
            tickedAt = clock();
            timer.SetEnabled(false);
        };
        timer.SetLead(20ms);
        const double due = clock() + 0.3;
        timer.SetNextDue(due);
        timer.SetInterval(100000ms);
        QTRY_VERIFY_WITH_TIMEOUT(tickedAt > 0, 30000);
        QVERIFY2(tickedAt >= due,
                 qPrintable(QString::number((due - tickedAt) * 1000) + " ms early"));
    }

    void alignedTimer_leadGrowsWhileTheLoopHoldsShots_data() {
        QTest::addColumn<bool>("waitForStep");
        QTest::addColumn<int>("leadMs");
        QTest::addColumn<int>("heldMs");
        QTest::addColumn<int>("grownMs");
        QTest::newRow("waits for the step") << true << 8 << 25 << 33;
        QTest::newRow("waits for the step, longest lead") << true << 8 << 60 << 40;
        QTest::newRow("hands the step over") << false << 50 << 30 << 80;
        QTest::newRow("hands the step over, longest lead") << false << 50 << 70 << 100;
    }
    // A shot the event loop held up makes the lead grow by that much for the next step, up to
    // a limit that is higher where the shot does not wait for the step on the loop.
    void alignedTimer_leadGrowsWhileTheLoopHoldsShots() {
        QFETCH(bool, waitForStep);
        QFETCH(int, leadMs);
        QFETCH(int, heldMs);
        QFETCH(int, grownMs);
        double clock = 36000.0;
        AlignedTickTimer timer([&] { return clock; });
        std::optional<std::chrono::milliseconds> remaining;
        timer.onTick = [&] {
            timer.SetNextDue(36001.3);
            QTimer::singleShot(0, [&] { remaining = timer.RemainingTime(); });
        };
        timer.SetWaitForStep(waitForStep);
        timer.SetLead(std::chrono::milliseconds{leadMs});
        timer.SetNextDue(36000.3);
        timer.SetInterval(100000ms);               // aimed at 36000.3 less the lead
        clock = 36000.3 + (heldMs - leadMs) / 1e3; // the shot is read this late
        QTRY_VERIFY_WITH_TIMEOUT(remaining.has_value(), 30000);
        QCOMPARE(timer.Lead(), std::chrono::milliseconds{grownMs});
        QCOMPARE(timer.Early(), waitForStep ? 0ms : std::chrono::milliseconds{grownMs});
        // The next step is 1000 + lead - held ms ahead; the shot comes the grown lead early.
        QVERIFY(*remaining <= std::chrono::milliseconds{1000 + leadMs - heldMs - grownMs});
    }

    void alignedTimer_tickThatDisablesStops() {
        QElapsedTimer elapsed;
        elapsed.start();
        AlignedTickTimer timer([&] { return elapsed.nsecsElapsed() / 1e9; });
        int ticks = 0;
        timer.onTick = [&] {
            ++ticks;
            timer.SetEnabled(false);
        };
        timer.SetInterval(10ms);
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 1, 30000);
        QVERIFY(!timer.IsRunning());
        for (int i = 0; i < 10; ++i) {
            QCoreApplication::processEvents();
        }
        QCOMPARE(ticks, 1);
    }
};

QTEST_GUILESS_MAIN(TestSweepScheduler)
#include "tst_sweepscheduler.moc"
