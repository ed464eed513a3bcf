// The scheduler following a listening plan in simulated time: each slot tuned at its instant
// through midnight, with its sounder named, and a failing radio told once.

#include "rig/rigctltuner.h"
#include "support/fakerigctld.h"
#include "sweep/sweepscheduler.h"
#include "testkit/tunerecorder.h"

#include <QTest>
#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// A step timer that ticks on every 10 ms boundary while enabled.
class FakeTimer : public TickTimer {
public:
    void SetInterval(std::chrono::milliseconds ms) override { interval = ms; }
    void SetEnabled(bool on) override { enabled = on; }
    std::chrono::milliseconds Interval() const override { return interval; }
    bool IsEnabled() const override { return enabled; }
    void SetLead(std::chrono::milliseconds ms) override { lead = ms; }
    void SetWaitForStep(bool wait) override { waitForStep = wait; }
    std::chrono::milliseconds Early() const override {
        return waitForStep ? std::chrono::milliseconds{0} : lead;
    }
    std::chrono::milliseconds interval{0};
    std::chrono::milliseconds lead{0};
    bool waitForStep = true;
    bool enabled = true;
};

// A radio that answers before Tune returns, as the built-in link does.
class FakeTuner : public Tuner {
public:
    void Tune(quint64 id, std::int32_t hz) override {
        tuned.push_back(hz);
        emit TuneFinished(id, hz, failing ? TuneOutcome::Failed : TuneOutcome::Reached,
                          failing ? Status::Error(QStringLiteral("no answer")) : Status::Ok());
    }
    void TuneIn(quint64 id, std::int32_t hz, std::chrono::microseconds delay) override {
        delays.push_back(delay);
        Tune(id, hz);
    }
    bool TunesOnTime() const override { return onTime; }
    void SetReplyBudget(std::chrono::milliseconds) override {}
    void SetReadBack(bool on) override { readBack = on; }
    Status Connect() override { return Status::Ok(); }
    void Shutdown() override {}
    RigState State() const override { return {}; }
    std::vector<std::int32_t> tuned;
    std::vector<std::chrono::microseconds> delays;
    bool onTime = false; // writes at the instant itself, as the built-in link does
    bool failing = false;
    bool readBack = true;
};

sweep::FollowedSounder Sounder(const char* name, double chirp) {
    return {QString::fromLatin1(name), sweep::Profile{}, chirp, -0.011, 0.059, std::nullopt};
}

// Ticks on every 10 ms boundary up to endMs while the timer is on.
void RunTo(FakeTimer& timer, std::int64_t& nowMs, std::int64_t endMs) {
    for (; nowMs < endMs; nowMs += 10) {
        if (timer.enabled && timer.interval.count() > 0) {
            timer.onTick();
        }
    }
}

} // namespace

class TestPlanScheduler : public QObject {
    Q_OBJECT
private slots:
    void slots_tunedAtTheirInstants_data() {
        QTest::addColumn<bool>("onTime");
        QTest::newRow("backend sends at once, tick on the instant") << false;
        QTest::newRow("backend sends at the instant, slot handed over ahead") << true;
    }

    // Two sounders whose sweeps overlap, from 50 s before midnight for 400 s: every slot the
    // plan holds is tuned, in order, within a tick of its instant; a backend that writes at the
    // instant itself gets each slot up to the timer's lead ahead, with exactly the time left.
    void slots_tunedAtTheirInstants() {
        QFETCH(bool, onTime);
        const std::vector sounders{Sounder("A", 10), Sounder("B", 15)};
        const sweep::PlanSettings settings{0.05, 0.014, false};
        std::int64_t nowMs = 86350000;
        FakeTimer timer;
        FakeTuner tuner;
        tuner.onTime = onTime;
        SweepScheduler scheduler({[&nowMs] { return (nowMs % 86400000) / 1000.0; }, {}}, timer,
                                 tuner);
        QCOMPARE(timer.waitForStep, !onTime);
        QCOMPARE(timer.lead, onTime ? TickTimer::kHandOverLead : TickTimer::kTimerLead);
        std::vector<double> lateness, sentLateness; // of the tick, and of the frame's instant
        QStringList names;
        connect(&scheduler, &SweepScheduler::StepPlanned, [&](const sweep::SlotTuning& slot) {
            // Signed, across midnight: a slot may be handed over before its instant.
            lateness.push_back(std::remainder(nowMs / 1000.0 - slot.tuneAt, 86400));
            names << slot.sounder;
        });
        connect(&tuner, &Tuner::TuneFinished, [&] {
            sentLateness.push_back(lateness.back() + tuner.delays.back().count() / 1e6);
        });
        QStringList sweeps; // A's sweep events
        connect(&scheduler, &SweepScheduler::SweepStarted, [&](const QString& s, double) {
            sweeps << (s == QLatin1String("A") ? QStringLiteral("begins") : QString());
        });
        connect(&scheduler, &SweepScheduler::SweepEnded, [&](const QString& s, bool complete) {
            sweeps << (s == QLatin1String("A") ? QStringLiteral("ends %1").arg(complete)
                                               : QString());
        });
        scheduler.Follow(sounders, settings);
        QVERIFY(!tuner.readBack); // no read may hold a slot up
        RunTo(timer, nowMs, 86750000);
        // All but a slot whose audio began before the start, and those due after the end.
        const auto plan = sweep::MakePlan(sounders, settings, 86350, 86760);
        std::vector<std::int32_t> expected;
        int ofA = 0;
        for (const sweep::Slot& slot : plan.listening) {
            if (slot.windowFrom > 86350 && slot.tuneAt < 86749.99) {
                expected.push_back(slot.listenHz);
                ofA += slot.sounder == 0 ? 1 : 0;
            }
        }
        QVERIFY(expected.size() > 2 * 280); // the end of a sweep, a whole one, a start
        QCOMPARE(tuner.tuned, expected);
        QCOMPARE(names.count(QStringLiteral("A")), ofA);
        // Sent for a tick after the instant; handed over within a tick of the lead's start.
        const auto [soonest, latest] =
            std::minmax_element(sentLateness.begin(), sentLateness.end());
        QVERIFY(*soonest > -2e-6 && *latest < (onTime ? 2e-6 : 0.010 + 1e-9));
        const double lead = onTime ? TickTimer::kHandOverLead.count() / 1000.0 : 0;
        const double first = *std::min_element(lateness.begin(), lateness.end());
        QVERIFY(first >= -lead - 1e-9 && first < -lead + 0.011);
        QCOMPARE(scheduler.LateSlots(), 1);
        // Under way at the start, the one after midnight, and the next beginning at the end.
        sweeps.removeAll(QString());
        QCOMPARE(sweeps, (QStringList{"begins", "ends 1", "begins", "ends 1", "begins"}));
        scheduler.Follow({}, settings);
        QVERIFY(tuner.readBack);
    }

    // With fine steps on, the MOF of the sweep just scaled reaches the next sweep although the
    // plan already holds its first two minutes: from then on the slots are those of the plan
    // around that MOF, fine steps every 25 kHz near it included.
    void mofAfterSweep_nextSweepGetsFineSteps() {
        sweep::FollowedSounder a = Sounder("A", 10);
        const sweep::PlanSettings settings{0.05, 0.014, true};
        std::int64_t nowMs = 0;
        FakeTimer timer;
        FakeTuner tuner;
        SweepScheduler scheduler({[&nowMs] { return nowMs / 1000.0; }, {}}, timer, tuner);
        scheduler.Follow({a}, settings);
        RunTo(timer, nowMs, 315000); // the first sweep, 31 to 310 s, on the 100 kHz grid
        const auto fine = [](const std::vector<std::int32_t>& hz) {
            return std::count_if(hz.begin(), hz.end(), [](std::int32_t f) {
                return f % 100000 != 0 && f >= 9550000 && f <= 10550000;
            });
        };
        QCOMPARE(fine(tuner.tuned), 0);
        const std::size_t firstSweep = tuner.tuned.size();
        const int lateBefore = scheduler.LateSlots(); // the sweep under way at midnight's first

        scheduler.SetMof(QStringLiteral("A"), 10050);
        RunTo(timer, nowMs, 615000);
        a.mofKhz = 10050;
        std::vector<std::int32_t> expected;
        for (const sweep::Slot& slot : sweep::MakePlan({a}, settings, 315, 615).listening) {
            if (slot.tuneAt >= 315 && slot.tuneAt < 614.99) {
                expected.push_back(slot.listenHz);
            }
        }
        const std::vector<std::int32_t> secondSweep(tuner.tuned.begin() + firstSweep,
                                                    tuner.tuned.end());
        QCOMPARE(secondSweep, expected);
        // 9.55 to 10.55 MHz every 25 kHz: 41 frequencies, 10 of them on the 100 kHz grid.
        QCOMPARE(fine(secondSweep), 31);
        QCOMPARE(scheduler.LateSlots(), lateBefore);
    }

    // Following nothing (the single sounder in force, or stopped) must not keep a 10 ms tick
    // alive: that alone costs more than the whole armed, waiting program should.
    void nothingFollowed_timerRests() {
        FakeTimer timer;
        FakeTuner tuner;
        SweepScheduler scheduler({[] { return 36016.0; }, {}}, timer, tuner);
        scheduler.Follow({}, {});
        QVERIFY(!timer.enabled);
        scheduler.Follow({Sounder("A", 10)}, {});
        QVERIFY(timer.enabled);
        scheduler.Follow({}, {});
        QVERIFY(!timer.enabled);
    }

    void failingRadio_toldOnce() {
        std::int64_t nowMs = 36016000; // between the sweeps
        FakeTimer timer;
        FakeTuner tuner;
        tuner.failing = true;
        SweepScheduler scheduler({[&nowMs] { return nowMs / 1000.0; }, {}}, timer, tuner);
        QStringList problems;
        int unreached = 0;
        connect(&scheduler, &SweepScheduler::Problem, [&](const QString& m) { problems << m; });
        connect(&scheduler, &SweepScheduler::StepTuned,
                [&](const sweep::SlotTuning& slot) { unreached += !slot.reached; });
        scheduler.Follow({Sounder("A", 10), Sounder("B", 15)}, {});
        for (; nowMs < 36056000; nowMs += 10) {
            timer.onTick();
        }
        QCOMPARE(unreached, int(tuner.tuned.size()));
        QVERIFY(unreached > 30);
        QCOMPARE(problems, QStringList{QStringLiteral("Could not tune the radio to 2.100 MHz for "
                                                      "A (no answer). The plan goes on and keeps "
                                                      "trying.")});
    }
    void answerOwedAcrossHandOver_reachesOnlyWhoAsked_data() {
        QTest::addColumn<bool>("oneScheduler");
        QTest::addColumn<QStringList>("problems"); // their beginnings
        QTest::newRow("to another scheduler") << false << QStringList{};
        QTest::newRow("within the scheduler")
            << true << QStringList{QStringLiteral("Could not tune the radio to 2.100 MHz for A (")};
    }
    // The radio passes from the plan to the single sounder while rigctld still owes the answer
    // to the plan's slot: that answer, a refusal, is the slot's alone, and the single sounder's
    // park, answered next, is not taken for it.
    void answerOwedAcrossHandOver_reachesOnlyWhoAsked() {
        QFETCH(bool, oneScheduler);
        QFETCH(QStringList, problems);
        FakeRigctld server;
        server.setReply.clear(); // answers only when told
        QVERIFY(server.Listen());
        RigctlTuner tuner(server.Address());
        TuneRecorder answers(tuner);
        QVERIFY(tuner.Connect().IsOk());
        QVERIFY(WaitForConnected(tuner, FakeRigctld::kWaitMs));
        std::int64_t nowMs = 36016000;
        const SweepScheduler::Hooks hooks{[&nowMs] { return nowMs / 1000.0; },
                                          [] { return QStringLiteral("78"); }};
        FakeTimer planTimer, sweepTimer;
        SweepScheduler plan(hooks, planTimer, tuner);
        QList<bool> slotsReached;
        connect(&plan, &SweepScheduler::StepTuned,
                [&](const sweep::SlotTuning& slot) { slotsReached << slot.reached; });
        bool planned = false;
        connect(&plan, &SweepScheduler::StepPlanned, [&] { planned = true; });
        plan.Follow({Sounder("A", 10)}, {});
        while (!planned && nowMs < 36100000) {
            nowMs += 10;
            planTimer.onTick();
        }
        QVERIFY(server.WaitForLines(1));
        std::unique_ptr<SweepScheduler> other;
        if (!oneScheduler) {
            plan.Stop();
            other = std::make_unique<SweepScheduler>(hooks, sweepTimer, tuner);
        }
        SweepScheduler& single = other ? *other : plan;
        QStringList told;
        connect(&single, &SweepScheduler::Problem, [&](const QString& m) { told << m; });
        single.StartButtonClick(); // parks at 2 MHz, queued behind the slot
        server.Send("RPRT -9\n");
        QVERIFY(server.WaitForLines(2));
        server.Send("RPRT 0\n");
        QVERIFY(answers.WaitForResults(2, FakeRigctld::kWaitMs));
        QCOMPARE(slotsReached, QList<bool>{false});
        QCOMPARE(told.size(), problems.size());
        for (qsizetype i = 0; i < told.size(); ++i) {
            QVERIFY2(told[i].startsWith(problems[i]), qPrintable(told[i]));
        }
    }

    void handOverBetweenSingleAndPlan_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<bool>("readBack");
        QTest::addColumn<bool>("ticking");
        const QString single = QStringLiteral("armed 300:78 36098.5 78");
        const QString a = QStringLiteral("armed A 36030.5 10");
        QTest::newRow("followed mid-sweep")
            << "follow"
            << QStringList{single, "started 300:78", "ended 300:78 0", "armed A 36100.5 10",
                           "started A"}
            << false << true;
        QTest::newRow("Start while following")
            << "start" << QStringList{a, "started A", "ended A 0", single} << true << true;
        QTest::newRow("rest while following")
            << "rest" << QStringList{a, "started A", "ended A 0"} << true << false;
        QTest::newRow("nothing followed mid-sweep")
            << "none" << QStringList{single, "started 300:78"} << true << true;
    }
    // One scheduler hands the radio between the single sounder and the plan: the sweep under way
    // ends cut short, the other begins, reads back only while single, and rests once nothing is
    // armed or followed.
    void handOverBetweenSingleAndPlan() {
        QFETCH(QString, action);
        QFETCH(QStringList, events);
        QFETCH(bool, readBack);
        QFETCH(bool, ticking);
        std::int64_t nowMs = 36016000;
        FakeTimer timer;
        FakeTuner tuner;
        SweepScheduler scheduler(
            {[&nowMs] { return nowMs / 1000.0; }, [] { return QStringLiteral("78"); }}, timer,
            tuner);
        QStringList seen;
        connect(&scheduler, &SweepScheduler::SweepArmed,
                [&](const QString& s, double first, double chirp) {
                    seen << QStringLiteral("armed %1 %2 %3")
                                .arg(s, QString::number(first, 'f', 1), QString::number(chirp));
                });
        connect(&scheduler, &SweepScheduler::SweepStarted,
                [&](const QString& s, double) { seen << QStringLiteral("started %1").arg(s); });
        connect(&scheduler, &SweepScheduler::SweepEnded, [&](const QString& s, bool complete) {
            seen << QStringLiteral("ended %1 %2").arg(s).arg(complete);
        });
        const std::vector<sweep::FollowedSounder> a{Sounder("A", 10)};
        if (action == QLatin1String("follow") || action == QLatin1String("none")) {
            scheduler.StartButtonClick();
            RunTo(timer, nowMs, 36100300);
            const std::size_t tuned = tuner.tuned.size();
            scheduler.Follow(
                action == QLatin1String("none") ? std::vector<sweep::FollowedSounder>{} : a, {});
            QCOMPARE(scheduler.CurrentPhase(), action == QLatin1String("none")
                                                   ? SweepScheduler::Phase::Stepping
                                                   : SweepScheduler::Phase::Idle);
            RunTo(timer, nowMs, 36110000);
            QCOMPARE(tuner.tuned.size(), tuned + 10);
        } else {
            scheduler.Follow(a, {});
            RunTo(timer, nowMs, 36040000);
            if (action == QLatin1String("start")) {
                scheduler.StartButtonClick();
                QCOMPARE(tuner.tuned.back(), 2000000); // parked
            } else {
                scheduler.Rest();
                const std::size_t tuned = tuner.tuned.size();
                RunTo(timer, nowMs, 36060000);
                QCOMPARE(tuner.tuned.size(), tuned);
            }
        }
        QCOMPARE(seen, events);
        QCOMPARE(tuner.readBack, readBack);
        QCOMPARE(timer.enabled, ticking);
    }

    // A clock changed while following: told once, the sweeps under way end cut short and the
    // plan is made anew from the current time, its slots on their instants again.
    void clockJumpWhileFollowing_plansAnew() {
        std::int64_t nowMs = 36016000;
        FakeTimer timer;
        FakeTuner tuner;
        SweepScheduler scheduler({[&nowMs] { return nowMs / 1000.0; }, {}}, timer, tuner);
        QStringList notices, ended;
        connect(&scheduler, &SweepScheduler::Notice, [&](const QString& m) { notices << m; });
        connect(&scheduler, &SweepScheduler::SweepEnded,
                [&](const QString& s, bool complete) { ended << s + (complete ? "" : " cut"); });
        std::vector<double> planned;
        connect(&scheduler, &SweepScheduler::StepPlanned,
                [&](const sweep::SlotTuning& slot) { planned.push_back(slot.tuneAt); });
        const std::vector<sweep::FollowedSounder> a{Sounder("A", 10)};
        scheduler.Follow(a, {});
        RunTo(timer, nowMs, 36100000);
        nowMs += 3600000;
        planned.clear();
        RunTo(timer, nowMs, 39800000);
        QCOMPARE(notices.size(), 1);
        QCOMPARE(ended, QStringList{"A cut"});
        std::vector<double> expected;
        for (const sweep::Slot& slot : sweep::MakePlan(a, {}, 39700, 39801).listening) {
            if (slot.tuneAt > 39700.01 && slot.tuneAt < 39799.99) {
                expected.push_back(slot.tuneAt);
            }
        }
        QVERIFY(expected.size() > 60);
        QCOMPARE(planned.size(), expected.size());
        QCOMPARE(planned, expected);
    }
};

QTEST_GUILESS_MAIN(TestPlanScheduler)
#include "tst_planscheduler.moc"
