// The listening plan: one sounder tuned as the schedule always tuned it, several sharing the
// radio without overlap, fine steps near the MOF, and the sets the radio cannot serve.

#include "rig/backendtraits.h"
#include "sweep/listeningplan.h"
#include "sweep/schedule.h"

#include <QTest>
#include <climits>

using sweep::FollowedSounder;
using sweep::PlanSettings;
using sweep::Profile;

Q_DECLARE_METATYPE(Profile)
Q_DECLARE_METATYPE(std::vector<FollowedSounder>)

namespace {

constexpr int kLeftOut = INT_MIN;
const Profile kFast{500, 60, 2000, 30000, 100}; // steps of 0.2 s

// A sounder shown from 0 to 20 ms: the dechirp takes its audio from 11 ms before the crossing
// to 59 ms after (36 ms at 500 kHz/s).
FollowedSounder Sounder(int i, double chirp, const Profile& p = {}) {
    const double to = p.sweepRate == kFast.sweepRate ? 0.036 : 0.059;
    return FollowedSounder{QStringLiteral("S%1").arg(i), p, chirp, -0.011, to, std::nullopt};
}

std::vector<FollowedSounder> WholeSeconds(int count, const Profile& p = {}) {
    std::vector<FollowedSounder> sounders;
    for (int i = 0; i < count; ++i) {
        sounders.push_back(Sounder(i + 1, 10 + i, p));
    }
    return sounders;
}

// The radio holds one frequency at a time: no slot tunes before the one before it is done.
void VerifyNoOverlap(const sweep::ListeningPlan& plan, const PlanSettings& settings) {
    for (std::size_t i = 1; i < plan.listening.size(); ++i) {
        const sweep::Slot& a = plan.listening[i - 1];
        QVERIFY(plan.listening[i].tuneAt >=
                std::max(a.windowTo, a.tuneAt + settings.commandSpacing) - 1e-9);
    }
}

} // namespace

class TestListeningPlan : public QObject {
    Q_OBJECT
private slots:
    void oneSounder_tunesAsTheSchedule_data() {
        QTest::addColumn<Profile>("profile");
        QTest::addColumn<double>("chirp");
        QTest::newRow("five minutes at 100 kHz/s") << Profile{} << 78.0;
        QTest::newRow("12 minutes at 82 kHz/s") << Profile{82, 720, 2000, 30000, 100} << 13.7;
        QTest::newRow("steps of 0.2 s") << kFast << 7.5;
    }
    void oneSounder_tunesAsTheSchedule() {
        QFETCH(Profile, profile);
        QFETCH(double, chirp);
        const double start = sweep::StartTime(36000, 36000, chirp, profile);
        const int steps = sweep::StepCount(profile);
        const auto plan = sweep::MakePlan({Sounder(1, chirp, profile)}, PlanSettings{}, start,
                                          start + sweep::StepOffset(profile, steps));
        QCOMPARE(int(plan.listening.size()), steps);
        for (int k = 0; k < steps; ++k) {
            QCOMPARE(plan.listening[k].tuneAt, start + sweep::StepOffset(profile, k));
            QCOMPARE(plan.listening[k].listenHz, sweep::StepFrequency(profile, k));
        }
    }

    // Sounders whose steps fall on the same fraction of a second, chirp times 1 s apart: where
    // each listens at 15 MHz (the offset in Hz), in the list's order, and how many of the last
    // one's columns are moved and left out (at the sweeps' top fewer sounders compete).
    void collisions_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("tuning");
        QTest::addColumn<double>("spacing");
        QTest::addColumn<QList<int>>("offsets");
        QTest::addColumn<int>("lastShifted");
        QTest::addColumn<int>("lastLeftOut");
        QTest::addColumn<double>("reach");
        QTest::newRow("two") << 2 << 0.05 << 0.014 << QList<int>{0, 12000} << 279 << 0 << 0.0;
        QTest::newRow("four") << 4 << 0.05 << 0.014 << QList<int>{0, 12000, -12000, 24000} << 279
                              << 0 << 0.0;
        QTest::newRow("tuning 60 ms")
            << 2 << 0.06 << 0.014 << QList<int>{0, 13000} << 279 << 0 << 0.0;
        QTest::newRow("rigctld's reply wait")
            << 2 << 0.05 << 0.06 << QList<int>{0, 12000} << 279 << 0 << 0.0;
        QTest::newRow("reply wait beyond the slot")
            << 2 << 0.05 << 0.15 << QList<int>{0, 15000} << 279 << 0 << 0.0;
        QTest::newRow("no room for the fourth")
            << 4 << 0.2 << 0.014 << QList<int>{0, 27000, -27000, kLeftOut} << 2 << 277 << 0.0;
        // Hamlib's read before the set: each slot begins 15 ms earlier, so the second moves
        // 15 ms (1.5 kHz) further.
        QTest::newRow("Hamlib's read before the set")
            << 2 << 0.05 << 0.06 << QList<int>{0, 13500} << 279 << 0 << 0.015;
    }
    void collisions() {
        QFETCH(int, count);
        QFETCH(double, tuning);
        QFETCH(double, spacing);
        QFETCH(QList<int>, offsets);
        QFETCH(int, lastShifted);
        QFETCH(int, lastLeftOut);
        QFETCH(double, reach);
        PlanSettings settings{tuning, spacing, false};
        settings.commandReach = reach;
        const auto plan = sweep::MakePlan(WholeSeconds(count), settings, 20, 330);
        VerifyNoOverlap(plan, settings);
        for (int i = 0; i < count; ++i) {
            const auto at = [i](const sweep::Slot& s) {
                return s.sounder == i && s.gridKhz == 15000;
            };
            const auto found = std::find_if(plan.listening.begin(), plan.listening.end(), at);
            QCOMPARE(found == plan.listening.end() ? kLeftOut : found->listenHz - 15000000,
                     offsets[i]);
            QCOMPARE(plan.tally[i].columns, 280);
        }
        const sweep::SounderTally& last = plan.tally[count - 1];
        QCOMPARE(last.shifted, lastShifted);
        QCOMPARE(last.columns - last.listened, lastLeftOut);
        QCOMPARE(int(plan.leftOut.size()), lastLeftOut);
    }

    // A sweep's slots are the same whichever spans ask for them.
    void spans_agree_data() {
        QTest::addColumn<std::vector<FollowedSounder>>("sounders");
        QTest::addColumn<double>("split");
        auto fine = WholeSeconds(4);
        fine[1].mofKhz = 7000;
        QTest::newRow("four, one with fine steps") << fine << 200.0;
        // The second's sweep starts 50 ms after the first's ends: its first slot moves.
        QTest::newRow("a sweep starting as one ends")
            << std::vector{Sounder(1, 10), Sounder(2, 289.05)} << 310.04;
    }
    void spans_agree() {
        QFETCH(std::vector<FollowedSounder>, sounders);
        QFETCH(double, split);
        const PlanSettings settings{0.05, 0.06, true};
        const auto whole = sweep::MakePlan(sounders, settings, 0, 660);
        std::vector<sweep::Slot> joined;
        for (const auto& [from, to] : {std::pair{0.0, split}, {split, 431.3}, {431.3, 660.0}}) {
            const auto part = sweep::MakePlan(sounders, settings, from, to);
            joined.insert(joined.end(), part.listening.begin(), part.listening.end());
        }
        QCOMPARE(joined.size(), whole.listening.size());
        std::sort(joined.begin(), joined.end(),
                  [](const auto& a, const auto& b) { return a.tuneAt < b.tuneAt; });
        for (std::size_t i = 0; i < joined.size(); ++i) {
            QCOMPARE(joined[i].listenHz, whole.listening[i].listenHz);
            QCOMPARE(joined[i].tuneAt, whole.listening[i].tuneAt);
        }
    }

    // The first sounder with fine steps near the MOF: how many fine columns are listened to and
    // how many have no room between the steps; no other sounder loses a step to them.
    void fineSteps_data() {
        QTest::addColumn<Profile>("profile");
        QTest::addColumn<int>("count");
        QTest::addColumn<double>("tuning");
        QTest::addColumn<double>("mof");
        QTest::addColumn<int>("fineListened");
        QTest::addColumn<int>("leftOut");
        QTest::newRow("mid-band") << Profile{} << 1 << 0.05 << 7000.0 << 30 << 0;
        QTest::newRow("by the lowest step") << Profile{} << 1 << 0.05 << 2050.0 << 14 << 0;
        QTest::newRow("steps of 0.2 s: one in three") << kFast << 1 << 0.05 << 7000.0 << 10 << 20;
        QTest::newRow("another sounder's steps first")
            << Profile{} << 2 << 0.2 << 7000.0 << 10 << 20;
    }
    void fineSteps() {
        QFETCH(Profile, profile);
        QFETCH(int, count);
        QFETCH(double, tuning);
        QFETCH(double, mof);
        QFETCH(int, fineListened);
        QFETCH(int, leftOut);
        auto sounders = WholeSeconds(count, profile);
        sounders[0].mofKhz = mof;
        const PlanSettings settings{tuning, 0.014, true};
        const auto plan = sweep::MakePlan(sounders, settings, 0, profile.period);
        VerifyNoOverlap(plan, settings);
        const auto fine = std::count_if(plan.listening.begin(), plan.listening.end(),
                                        [](const sweep::Slot& s) { return s.fine; });
        QCOMPARE(int(plan.listening.size() - fine), 280 * count);
        QCOMPARE(int(fine), fineListened);
        QCOMPARE(int(plan.leftOut.size()), leftOut);
    }

    void refusal_data() {
        QTest::addColumn<std::vector<FollowedSounder>>("sounders");
        QTest::addColumn<double>("tuning");
        QTest::addColumn<QString>("message");
        QTest::newRow("eight at 50 ms") << WholeSeconds(8) << 0.05 << QString();
        QTest::newRow("seven at 60 ms") << WholeSeconds(7) << 0.06 << QString();
        QTest::newRow("two with 0.2 s steps")
            << WholeSeconds(2, kFast) << 0.06
            << QStringLiteral(
                   "The radio cannot listen to all of S1, S2: their columns need 107 % of its "
                   "time, and it holds one frequency at a time (each column takes the tuning time "
                   "of 60 ms and the audio it is made from: S1 107 ms of every 200 ms, S2 107 ms "
                   "of every 200 ms). Only the first in the list fits (S1): follow fewer, or put "
                   "the one that matters most first. A tuning time of 53 ms or less fits them "
                   "all.");
        QTest::newRow("nine") << WholeSeconds(9) << 0.05
                              << QStringLiteral(
                                     "9 sounders are followed; one radio follows at most 8 at "
                                     "once. The first 8 in the list fit (S1, S2, S3, S4, S5, S6, "
                                     "S7, S8): follow fewer, or put the ones that matter most "
                                     "first.");
        QTest::newRow("a sweep the radio cannot follow")
            << std::vector{Sounder(1, 0), Sounder(2, 0, Profile{100, 300, 2000, 30000, 10})} << 0.05
            << QStringLiteral("The sounder S2 cannot be followed. A step of 10 kHz at 100 kHz/s "
                              "lasts 0.1 s; the radio follows steps of 0.2 to 60 s. Change the "
                              "step size or the sweep rate.");
        QTest::newRow("tuning time 1.5 s")
            << WholeSeconds(2) << 1.5
            << QStringLiteral("A tuning time of 1500 ms is not from 0 to 1000 ms. Type how long "
                              "the radio needs after a tuning command before its audio is on the "
                              "new frequency, such as 50 ms.");
    }
    void refusal() {
        QFETCH(std::vector<FollowedSounder>, sounders);
        QFETCH(double, tuning);
        QFETCH(QString, message);
        QCOMPARE(sweep::CheckPlan(sounders, PlanSettings{tuning, 0.014, false}).Message(), message);
    }

    void commandSpacing_data() {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<int>("baudRate");
        QTest::addColumn<double>("spacing");
        QTest::newRow("built-in link at 19200") << "civ" << 19200 << 0.005 + 170.0 / 19200;
        QTest::newRow("built-in link at 4800") << "civ" << 4800 << 0.005 + 170.0 / 4800;
        QTest::newRow("rigctld") << "network" << 19200 << 0.06;
        QTest::newRow("Hamlib") << "hamlib" << 19200 << 0.06;
    }
    void commandSpacing() {
        QFETCH(QString, backend);
        QFETCH(int, baudRate);
        QFETCH(double, spacing);
        const BackendTraits traits = TraitsOf(RigChoice{backend}, baudRate);
        QCOMPARE(traits.commandSpacing, spacing);
        // The built-in link writes the set to the bus at once; Hamlib may read first.
        QCOMPARE(traits.commandReach, backend == "civ" ? 0.0 : 0.015);
    }
};

QTEST_GUILESS_MAIN(TestListeningPlan)
#include "tst_listeningplan.moc"
