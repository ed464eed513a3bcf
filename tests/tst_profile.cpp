// Sweeps of other sounders: when each is tuned, which profiles are refused and why, and how long
// a tuning may wait for the radio.

#include "sweep/profile.h"
#include "sweep/schedule.h"

#include <QTest>
#include <cmath>

using sweep::Profile;

Q_DECLARE_METATYPE(Profile)

namespace {

constexpr double kTenOClock = 36000;

// The sounders the tuning table follows: rate kHz/s, period s, low, high, step kHz.
const Profile kDefault{};
const Profile k720At82{82, 720, 2000, 30000, 100};
const Profile k450At125{125, 450, 2000, 30000, 100};
const Profile kHourly{100, 3600, 2000, 30000, 100};
const Profile kMinuteAt500{500, 60, 2000, 30000, 1000};
const Profile k600At50{50, 600, 2000, 30000, 100};

} // namespace

class TestProfile : public QObject {
    Q_OBJECT
private slots:
    // Arming at `clock` with chirp time `chirp`: the first step's instant, the number of steps,
    // the last step's frequency and instant, and the next sweep's first step after the re-arm.
    void tuningInstants_data() {
        QTest::addColumn<Profile>("profile");
        QTest::addColumn<double>("clock");
        QTest::addColumn<double>("chirp");
        QTest::addColumn<double>("first");
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("firstHz");
        QTest::addColumn<int>("lastHz");
        QTest::addColumn<double>("last");
        QTest::addColumn<double>("next");
        // Default: 2.1 MHz at c + 20.5 s, a step a second to 30.0 MHz.
        QTest::newRow("300 s at 100 kHz/s, 300:78")
            << kDefault << kTenOClock << 78.0 << 36098.5 << 280 << 2100000 << 30000000 << 36377.5
            << 36398.5;
        // 2.1 MHz passed at 41 + 2100/82 s, tuned 50/82 s before: 25 s after the chirp time.
        QTest::newRow("720 s at 82 kHz/s, 720:41")
            << k720At82 << kTenOClock << 41.0 << 36066.0 << 280 << 2100000 << 30000000
            << 36041 + 29950 / 82.0 << 36786.0;
        QTest::newRow("720 s at 82 kHz/s across midnight")
            << k720At82 << 86340.0 << 41.0 << 66.0 << 280 << 2100000 << 30000000
            << 41 + 29950 / 82.0 << 786.0;
        QTest::newRow("450 s at 125 kHz/s, 450:100")
            << k450At125 << kTenOClock << 100.0 << 36116.4 << 280 << 2100000 << 30000000 << 36339.6
            << 36566.4;
        QTest::newRow("3600 s at 100 kHz/s, 3600:1800")
            << kHourly << kTenOClock << 1800.0 << 37820.5 << 280 << 2100000 << 30000000 << 38099.5
            << 41420.5;
        // 3 MHz passed at 10 + 6 s, tuned a second early; 30 MHz at 10 + 60 s in the next minute.
        QTest::newRow("60 s at 500 kHz/s, 1 MHz steps, 60:10")
            << kMinuteAt500 << kTenOClock << 10.0 << 36015.0 << 28 << 3000000 << 30000000 << 36069.0
            << 36075.0;
        QTest::newRow("600 s at 50 kHz/s, 600:300")
            << k600At50 << kTenOClock << 300.0 << 36341.0 << 280 << 2100000 << 30000000 << 36899.0
            << 36941.0;
    }
    void tuningInstants() {
        QFETCH(Profile, profile);
        QFETCH(double, clock);
        QFETCH(double, chirp);
        QFETCH(double, first);
        QFETCH(int, steps);
        QFETCH(int, firstHz);
        QFETCH(int, lastHz);
        QFETCH(double, last);
        QFETCH(double, next);
        QVERIFY(sweep::ValidateProfile(profile).IsOk());
        const double start = sweep::StartTime(clock, clock, chirp, profile);
        QCOMPARE(start, first);
        QCOMPARE(sweep::StepCount(profile), steps);
        QCOMPARE(sweep::ParkFrequency(profile), 2000000);
        QCOMPARE(sweep::StepFrequency(profile, 0), firstHz);
        QCOMPARE(sweep::StepFrequency(profile, steps - 1), lastHz);
        QCOMPARE(start + sweep::StepOffset(profile, steps - 1), last);
        // The schedule re-arms one step interval after the last step.
        const double rearm = std::fmod(start + sweep::StepOffset(profile, steps), 86400.0);
        QCOMPARE(sweep::StartTime(rearm, rearm, chirp, profile), next);
    }

    // For every sounder above, arming within two seconds either side of a sweep's first step
    // takes that sweep up to its first step and the next one after it, as the default does
    // (whole chirp times, up to the last second of the period); re-arming after the last step
    // takes the next period's. Readings whole seconds from the step tie in the rounding and are
    // left out.
    void startTime_isFirstMarkAtOrAfterClock() {
        int checked = 0;
        for (const Profile& p : {k720At82, k450At125, kHourly, kMinuteAt500, k600At50}) {
            const double firstStep = sweep::LeadIn(p) + sweep::HalfStep(p);
            const int periodsAfterTen = static_cast<int>(kTenOClock / p.period);
            for (const double chirp : {0.0, 1.0, std::floor(p.period / 2), p.period - 1}) {
                const double mark = periodsAfterTen * p.period + chirp + firstStep;
                for (int tenths = -20; tenths <= 20; ++tenths) {
                    const double t = mark + tenths / 10.0;
                    const double x = t - (firstStep - 0.5);
                    if (std::fabs(x - std::floor(x) - 0.5) < 1e-9) {
                        continue;
                    }
                    const double expected = t <= mark ? mark : mark + p.period;
                    const double start = sweep::StartTime(t, t, chirp, p);
                    QVERIFY2(std::fabs(start - expected) < 1e-6,
                             qPrintable(QStringLiteral("period %1 clock %2 chirp %3: start %4")
                                            .arg(p.period)
                                            .arg(t, 0, 'f', 2)
                                            .arg(chirp)
                                            .arg(start, 0, 'f', 2)));
                    const double rearm = start + sweep::StepOffset(p, sweep::StepCount(p));
                    QCOMPARE(sweep::StartTime(rearm, rearm, chirp, p), start + p.period);
                    ++checked;
                }
            }
        }
        QCOMPARE(checked, 5 * 4 * 36); // 41 readings each, less the 5 that tie
    }

    void refused_data() {
        QTest::addColumn<Profile>("profile");
        QTest::addColumn<QString>("message");
        QTest::newRow("rate 0") << Profile{0, 300, 2000, 30000, 100}
                                << "The sweep rate, period, frequencies and step size must all be "
                                   "numbers above 0. Type the values the sounder's schedule gives.";
        QTest::newRow("above 60 MHz")
            << Profile{100, 300, 2000, 61000, 100}
            << "The band from 2 to 61 MHz is not within 0.1 to 60 MHz. Type low and high "
               "frequencies in that range.";
        QTest::newRow("low above high")
            << Profile{100, 300, 30000, 2000, 100}
            << "The low frequency (30 MHz) is not below the high frequency (2 MHz). Type the "
               "frequency the sweep starts from as the low one.";
        QTest::newRow("no step") << Profile{100, 300, 2000, 2050, 100}
                                 << "A step of 100 kHz from 2 MHz lands above the high frequency "
                                    "of 2.05 MHz, so there is no step to tune. Make the step "
                                    "smaller or the band wider.";
        QTest::newRow("steps of 0.1 s")
            << Profile{1000, 300, 2000, 30000, 100}
            << "A step of 100 kHz at 1000 kHz/s lasts 0.1 s; the radio follows steps of 0.2 to 60 "
               "s. Change the step size or the sweep rate.";
        QTest::newRow("period 301")
            << Profile{100, 301, 2000, 30000, 100}
            << "A period of 301 s does not divide a day (86400 s) evenly, so the sweeps would not "
               "fall at the same seconds every day. Choose a whole number of seconds that does, "
               "such as 300, 450, 720, 900 or 3600.";
        QTest::newRow("period of two hours")
            << Profile{100, 7200, 2000, 30000, 100}
            << "A period of 7200 s is longer than an hour. Choose a period of 3600 s or less that "
               "divides a day, such as 300, 450, 720, 900 or 3600.";
        QTest::newRow("2 to 30 MHz at 50 kHz/s in 300 s")
            << Profile{50, 300, 2000, 30000, 100}
            << "The sweep from 2 to 30 MHz at 50 kHz/s takes 562 s with one step to spare, longer "
               "than the period of 300 s. Choose a period of 576 s (the shortest that fits and "
               "divides a day) or more, a faster sweep rate or a narrower band.";
        QTest::newRow("longer than an hour at 5 kHz/s")
            << Profile{5, 3600, 2000, 30000, 100}
            << "The sweep from 2 to 30 MHz at 5 kHz/s takes 5620 s with one step to spare, longer "
               "than the period of 3600 s. No period up to an hour fits: choose a faster sweep "
               "rate or a narrower band.";
    }
    void refused() {
        QFETCH(Profile, profile);
        QFETCH(QString, message);
        const Status status = sweep::ValidateProfile(profile);
        QVERIFY(!status.IsOk());
        QCOMPARE(status.Message(), message);
    }

    // Edges and values that slip past a plain comparison.
    void validate_data() {
        QTest::addColumn<Profile>("profile");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("281 s needed, period 288") << Profile{100, 288, 2000, 30000, 100} << true;
        QTest::newRow("one second short") << Profile{100, 270, 2000, 29000, 100} << false;
        QTest::newRow("fits with one step to spare exactly")
            << Profile{100, 270, 2000, 28900, 100} << true;
        QTest::newRow("fractional period") << Profile{100, 300.5, 2000, 30000, 100} << false;
        QTest::newRow("steps of 0.2 s") << Profile{500, 300, 2000, 30000, 100} << true;
        QTest::newRow("steps of 60 s") << Profile{10, 3600, 2000, 30000, 600} << true;
        QTest::newRow("steps of 60.1 s") << Profile{10, 3600, 2000, 30000, 601} << false;
    }
    void validate() {
        QFETCH(Profile, profile);
        QFETCH(bool, accepted);
        QCOMPARE(sweep::ValidateProfile(profile).IsOk(), accepted);
    }

    void replyWaitBudget_data() {
        QTest::addColumn<Profile>("profile");
        QTest::addColumn<int>("ms");
        QTest::newRow("default: half a second") << kDefault << 500;
        QTest::newRow("2 s steps: at most half a second") << kMinuteAt500 << 500;
        QTest::newRow("0.8 s steps") << k450At125 << 400;
        QTest::newRow("0.25 s steps") << Profile{400, 300, 2000, 30000, 100} << 125;
    }
    void replyWaitBudget() {
        QFETCH(Profile, profile);
        QFETCH(int, ms);
        QCOMPARE(sweep::ReplyWaitBudget(profile).count(), ms);
    }
};

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
