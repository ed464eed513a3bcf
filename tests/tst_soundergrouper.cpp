// Crossings into sounders, from tables of detection times: periods, chirp times, confirmation,
// crossings heard by several filters, the LSB hint; and sounders-heard.csv from the result.

#include "ionogram/soundergrouper.h"
#include "ionogram/soundersheard.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <random>

using namespace ionogram;

Q_DECLARE_METATYPE(std::vector<ChirpDetection>)

namespace {

constexpr double kMidnight = 1796601600; // 2026-12-07T00:00:00Z
constexpr double kListenKhz = 7000;
constexpr double kDelay = 0.003; // path and audio delay carried by every crossing

// Crossings of a sounder (rate, period, chirp time) in the periods given, counted from its
// first period starting at or before 10:00 UTC.
std::vector<ChirpDetection> Heard(double rate, double period, double chirp,
                                  std::initializer_list<int> periods, double snr = 20,
                                  bool falling = false) {
    std::vector<ChirpDetection> out;
    const double hour = kMidnight + period * std::floor(36000 / period);
    for (int k : periods) {
        out.push_back({hour + k * period + chirp + kListenKhz / rate + kDelay, rate, snr, falling});
    }
    return out;
}

std::vector<ChirpDetection> operator+(std::vector<ChirpDetection> a,
                                      const std::vector<ChirpDetection>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The same detections marked weak (under the detector's threshold).
std::vector<ChirpDetection> Weak(std::vector<ChirpDetection> detections) {
    for (ChirpDetection& d : detections) {
        d.weak = true;
    }
    return detections;
}

// "rate period:chirp xheard", the listeners' notation with the count.
QStringList Describe(const std::vector<HeardSounder>& sounders) {
    QStringList out;
    for (const HeardSounder& s : sounders) {
        out << QString("%1 %2:%3 x%4")
                   .arg(s.rateKhzPerS)
                   .arg(s.periodS)
                   .arg(s.chirpTimeS, 0, 'f', 3)
                   .arg(s.heard);
    }
    out.sort();
    return out;
}

} // namespace

class TestSounderGrouper : public QObject {
    Q_OBJECT

private slots:
    void candidatePeriods_divideTheDay() {
        const auto& periods = CandidatePeriods();
        QCOMPARE(periods.front(), 60);
        QCOMPARE(periods.back(), 3600);
        QVERIFY(std::find(periods.begin(), periods.end(), 64) != periods.end());
        QVERIFY(std::find(periods.begin(), periods.end(), 70) == periods.end());
        for (int p : periods) {
            QCOMPARE(86400 % p, 0);
        }
    }

    void crossings_groupIntoSounders_data() {
        QTest::addColumn<std::vector<ChirpDetection>>("detections");
        QTest::addColumn<QStringList>("confirmed");
        QTest::addColumn<QStringList>("unconfirmed");
        QTest::addColumn<bool>("lsb");
        QTest::newRow("three one period apart")
            << Heard(100, 300, 78, {0, 1, 2}) << QStringList{"100 300:78.003 x3"} << QStringList{}
            << false;
        QTest::newRow("two are not enough") << Heard(100, 300, 78, {0, 1}) << QStringList{}
                                            << QStringList{"100 300:78.003 x2"} << false;
        QTest::newRow("one leaves the period open") << Heard(100, 300, 78, {0}) << QStringList{}
                                                    << QStringList{"100 0:36078.003 x1"} << false;
        QTest::newRow("a faded crossing between does no harm")
            << Heard(100, 300, 78, {0, 1, 3, 4}) << QStringList{"100 300:78.003 x4"}
            << QStringList{} << false;
        QTest::newRow("one exact interval is not enough")
            << Heard(100, 300, 78, {0, 1, 3}) << QStringList{} << QStringList{"100 300:78.003 x3"}
            << false;
        QTest::newRow("a minute at 500 kHz/s")
            << Heard(500, 60, 54, {0, 1, 2}) << QStringList{"500 60:54.003 x3"} << QStringList{}
            << false;
        QTest::newRow("a period not of whole minutes")
            << Heard(125, 64, 10, {0, 1, 2}) << QStringList{"125 64:10.003 x3"} << QStringList{}
            << false;
        QTest::newRow("the chirp time wraps past the period")
            << Heard(100, 300, 299.998, {0, 1, 2}) << QStringList{"100 300:0.001 x3"}
            << QStringList{} << false;
        auto jittered = Heard(100, 300, 78, {0, 1, 2});
        jittered[1].time += 0.008;
        QTest::newRow("8 ms off a whole period is another sounder")
            << jittered << QStringList{} << QStringList{"100 0:36378.011 x1", "100 600:78.003 x2"}
            << false;
        QTest::newRow("a neighbouring rate's weaker echo is the same crossing")
            << Heard(100, 300, 78, {0, 1, 2}, 24) +
                   Heard(82, 300, 78.010 - 7000.0 / 82 + 70, {0, 1, 2}, 12)
            << QStringList{"100 300:78.003 x3"} << QStringList{} << false;
        QTest::newRow("two sounders of one rate")
            << Heard(100, 300, 78, {0, 1, 2}) + Heard(100, 120, 30, {0, 1, 2, 3})
            << QStringList{"100 120:30.003 x4", "100 300:78.003 x3"} << QStringList{} << false;
        QTest::newRow("the test band over three of the slowest periods")
            << Heard(100, 300, 78, {0, 1, 2, 3, 4, 5, 6}) + Heard(82, 720, 41, {0, 1, 2}) +
                   Heard(500, 60, 54, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13})
            << QStringList{"100 300:78.003 x7", "500 60:54.003 x14", "82 720:41.003 x3"}
            << QStringList{} << false;
        QTest::newRow("a weak one completes two crossings")
            << Heard(500, 60, 54, {0, 2}) + Weak(Heard(500, 60, 54, {1}, 11))
            << QStringList{"500 60:54.003 x3"} << QStringList{} << false;
        QTest::newRow("a weak one before two crossings completes them")
            << Weak(Heard(500, 60, 54, {0}, 11)) + Heard(500, 60, 54, {1, 2})
            << QStringList{"500 60:54.003 x3"} << QStringList{} << false;
        QTest::newRow("weak ones never make a sounder of one crossing")
            << Heard(500, 60, 54, {0}) + Weak(Heard(500, 60, 54, {1, 2}, 11)) << QStringList{}
            << QStringList{"500 0:36054.003 x1"} << false;
        QTest::newRow("weak ones continue a confirmed sounder")
            << Heard(500, 60, 54, {0, 1, 2}) + Weak(Heard(500, 60, 54, {4}, 11))
            << QStringList{"500 60:54.003 x4"} << QStringList{} << false;
        // Speech or noise making weak detections by the second: one a period from a crossing
        // is chance.
        std::vector<ChirpDetection> crowd;
        for (int k = 0; k < 200; ++k) {
            crowd.push_back({kMidnight + 36000 - 100 + 0.7 + 1.4 * k, 500, 11, false, true});
        }
        QTest::newRow("weak ones among many count for nothing")
            << Heard(500, 60, 54, {0, 2}) + Weak(Heard(500, 60, 54, {1}, 11)) + crowd
            << QStringList{} << QStringList{"500 120:54.003 x2"} << false;
        QTest::newRow("falling only: LSB")
            << Heard(100, 300, 78, {0, 1, 2}, 20, true) << QStringList{} << QStringList{} << true;
        QTest::newRow("falling and rising sounders: not LSB")
            << Heard(100, 300, 78, {0, 1, 2}, 20, true) + Heard(500, 60, 54, {5, 6, 7})
            << QStringList{"500 60:54.003 x3"} << QStringList{} << false;
        QTest::newRow("scattered falling detections: not LSB")
            << Heard(100, 300, 78.5, {0}, 20, true) + Heard(100, 300, 11.25, {2}, 20, true) +
                   Heard(500, 60, 3.3, {9}, 20, true)
            << QStringList{} << QStringList{} << false;
    }
    void crossings_groupIntoSounders() {
        QFETCH(std::vector<ChirpDetection>, detections);
        QFETCH(QStringList, confirmed);
        QFETCH(QStringList, unconfirmed);
        QFETCH(bool, lsb);
        std::sort(detections.begin(), detections.end(),
                  [](const auto& a, const auto& b) { return a.time < b.time; });
        SounderGrouper grouper(kListenKhz);
        for (const ChirpDetection& d : detections) {
            grouper.Add(d);
        }
        QCOMPARE(Describe(grouper.Confirmed()), confirmed);
        QCOMPARE(Describe(grouper.Unconfirmed()), unconfirmed);
        QCOMPARE(grouper.SeemsLsb(), lsb);
    }

    // The unconfirmed list keeps a group while a crossing could still join it: two of its
    // periods after its last crossing, or two of the longest while its period is open.
    void unconfirmed_forgetsWhatCanNoLongerBeConfirmed_data() {
        QTest::addColumn<std::vector<ChirpDetection>>("detections");
        QTest::addColumn<QStringList>("unconfirmed");
        QTest::newRow("a pair within two periods")
            << Heard(100, 300, 78, {0, 1}) + Heard(500, 60, 3, {16})
            << QStringList{"100 300:78.003 x2", "500 0:36963.003 x1"};
        QTest::newRow("a pair past two periods")
            << Heard(100, 300, 78, {0, 1}) + Heard(500, 60, 3, {18})
            << QStringList{"500 0:37083.003 x1"};
        QTest::newRow("a lone crossing within two hours")
            << Heard(100, 300, 78, {0}) + Heard(500, 60, 3, {119})
            << QStringList{"100 0:36078.003 x1", "500 0:43143.003 x1"};
        QTest::newRow("a lone crossing past two hours")
            << Heard(100, 300, 78, {0}) + Heard(500, 60, 3, {125})
            << QStringList{"500 0:43503.003 x1"};
    }
    void unconfirmed_forgetsWhatCanNoLongerBeConfirmed() {
        QFETCH(std::vector<ChirpDetection>, detections);
        QFETCH(QStringList, unconfirmed);
        SounderGrouper grouper(kListenKhz);
        for (const ChirpDetection& d : detections) {
            grouper.Add(d);
        }
        QCOMPARE(Describe(grouper.Unconfirmed()), unconfirmed);
    }

    // Crossings at random for hours: the list holds the newest groups only, newest first.
    void unconfirmed_isBoundedNewestFirst() {
        SounderGrouper grouper(kListenKhz);
        std::mt19937 random(3);
        std::uniform_real_distribution<double> gap(5, 40);
        double t = kMidnight;
        for (int i = 0; i < 2000; ++i) {
            t += gap(random);
            grouper.Add({t, i % 3 == 0 ? 100.0 : 500.0, 13, false});
        }
        const auto listed = grouper.Unconfirmed();
        QCOMPARE(listed.size(), SounderGrouper::kMostUnconfirmed);
        QCOMPARE(listed.front().lastHeard, t);
        for (std::size_t i = 1; i < listed.size(); ++i) {
            QVERIFY(listed[i].lastHeard < listed[i - 1].lastHeard);
        }
    }

    // Add says when the confirmed list changed: at the third crossing, and at each after it.
    // A weak crossing taken after a later one completes a sounder without being its newest:
    // it is still news (the listener once keyed that on the newest crossing).
    void newlyConfirmed_byAWeakCrossingNotTheNewest() {
        SounderGrouper grouper(kListenKhz);
        for (const ChirpDetection& d : Heard(500, 60, 54, {0, 2})) {
            grouper.Add(d);
        }
        const std::vector<HeardSounder> before = grouper.Confirmed();
        const ChirpDetection weak = Weak(Heard(500, 60, 54, {1}, 11)).front();
        QVERIFY(grouper.Add(weak));
        QVERIFY(grouper.Confirmed().front().lastHeard > weak.time);
        QCOMPARE(Describe(NewlyConfirmed(before, grouper.Confirmed())),
                 QStringList{"500 60:54.003 x3"});
        QVERIFY(NewlyConfirmed(grouper.Confirmed(), grouper.Confirmed()).empty());
    }

    // Weak detections timed as sweeps may begin a sounder as crossings do, two of the three
    // confirming; plain weak ones only complete one.
    void timedWeak_beginASounder_data() {
        QTest::addColumn<QString>("kinds"); // in periods 0, 1, 2: Strong, Timed or plain Weak
        QTest::addColumn<bool>("confirmed");
        // The weak detections kept aside that the confirming one brought in, to be told now.
        QTest::addColumn<int>("membersTold");
        QTest::newRow("three timed") << "TTT" << true << 2;
        QTest::newRow("timed, weak, timed") << "TWT" << true << 2;
        QTest::newRow("strong, timed, weak") << "STW" << true << 1;
        QTest::newRow("timed, weak, weak") << "TWW" << false << 0;
        QTest::newRow("three weak") << "WWW" << false << 0;
    }
    void timedWeak_beginASounder() {
        QFETCH(QString, kinds);
        QFETCH(bool, confirmed);
        QFETCH(int, membersTold);
        SounderGrouper grouper(kListenKhz);
        auto heard = Heard(500, 60, 54, {0, 1, 2}, 11);
        int told = 0;
        for (int k = 0; k < 3; ++k) {
            heard[k].weak = kinds[k] != 'S';
            heard[k].timed = kinds[k] == 'T';
            grouper.Add(heard[k]);
            for (const ChirpDetection& member : grouper.TakeWeakMembers()) {
                QVERIFY(member.weak && member.time < heard[k].time);
                ++told;
            }
        }
        QCOMPARE(told, membersTold);
        QCOMPARE(Describe(grouper.Confirmed()),
                 confirmed ? QStringList{"500 60:54.003 x3"} : QStringList{});
    }

    void add_reportsChangesOfTheConfirmedList() {
        SounderGrouper grouper(kListenKhz);
        const auto heard = Heard(500, 60, 54, {0, 1, 2, 3});
        QCOMPARE(grouper.Add(heard[0]), false);
        QCOMPARE(grouper.Add(heard[1]), false);
        QCOMPARE(grouper.Add(heard[2]), true);
        QCOMPARE(grouper.Add({heard[2].time + 0.001, 100, 5, false}), false); // weaker: merged
        QCOMPARE(grouper.Add(heard[3]), true);
        const HeardSounder& s = grouper.Confirmed().front();
        QCOMPARE(s.firstHeard, heard[0].time);
        QCOMPARE(s.lastHeard, heard[3].time);
    }

    void snr_isTheMedian() {
        SounderGrouper grouper(kListenKhz);
        const double snrs[] = {10, 31, 20, 25};
        int k = 0;
        for (const ChirpDetection& d : Heard(500, 60, 54, {0, 1, 2, 3})) {
            grouper.Add({d.time, d.rateKhzPerS, snrs[k++], false});
        }
        QCOMPARE(grouper.Confirmed().front().snrDb, 22.5);
    }

    void csv_rowsOfTheConfirmed() {
        HeardSounder a{100, 300, 78.0034, 7, 23.46, kMidnight + 36148.003, kMidnight + 37948.9,
                       true};
        HeardSounder b{82, 720, 41.5, 2, 10, kMidnight + 60, kMidnight + 780, false};
        HeardSounder c{500, 60, 54, 3, 9.96, kMidnight + 68.003, kMidnight + 188.003, true};
        QCOMPARE(
            SoundersHeardCsv({a, b, c}, 7000.5),
            QString("rate_khz_s,period_s,chirp_time_s,heard,snr_db,first_heard_utc,"
                    "last_heard_utc,listen_khz\n"
                    "100,300,78.003,7,23.5,2026-12-07T10:02:28Z,2026-12-07T10:32:28Z,7000.5\n"
                    "500,60,54.000,3,10.0,2026-12-07T00:01:08Z,2026-12-07T00:03:08Z,7000.5\n"));
        QCOMPARE(SoundersHeardCsv({}, 7000), QString(kSoundersHeardHeader) + "\n");
    }

    void csv_writtenWhole_andAFailureSaysWhere() {
        QTemporaryDir dir;
        const QString path = dir.filePath(kSoundersHeardFile);
        QVERIFY(WriteSoundersHeard(path, "old\n").IsOk());
        QVERIFY(WriteSoundersHeard(path, "new\n").IsOk());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("new\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{kSoundersHeardFile});

        // A missing folder is made; one that is a file cannot be.
        QVERIFY(WriteSoundersHeard(dir.filePath("made/sounders-heard.csv"), "x\n").IsOk());
        const Status failed = WriteSoundersHeard(path + "/sounders-heard.csv", "x\n");
        QVERIFY(!failed.IsOk());
        QVERIFY(failed.Message().contains(path));
        QVERIFY(failed.Message().contains("Check that the archive folder is writable"));
    }
};

QTEST_GUILESS_MAIN(TestSounderGrouper)
#include "tst_soundergrouper.moc"
