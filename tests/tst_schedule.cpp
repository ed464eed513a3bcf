#include "sweep/schedule.h"
#include "sweep/utcclock.h"

#include <QDateTime>
#include <QTest>
#include <QTime>
#include <QTimeZone>
#include <cmath>
#include <ctime>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(sweep::Profile)

namespace {

// 10:00:00 and friends as seconds since midnight.
constexpr double At(int hours, int minutes, double seconds) {
    return hours * 3600 + minutes * 60 + seconds;
}

} // namespace

class TestSchedule : public QObject {
    Q_OBJECT
private slots:
    void roundHalfEven_data() {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("rounded");
        QTest::newRow("0.5 down to even") << 0.5 << 0.0;
        QTest::newRow("1.5 up to even") << 1.5 << 2.0;
        QTest::newRow("2.5 down to even") << 2.5 << 2.0;
        QTest::newRow("298.5") << 298.5 << 298.0;
        QTest::newRow("299.5") << 299.5 << 300.0;
        QTest::newRow("-0.5") << -0.5 << 0.0;
        QTest::newRow("-1.5") << -1.5 << -2.0;
        QTest::newRow("2.4999") << 2.4999 << 2.0;
        QTest::newRow("2.5001") << 2.5001 << 3.0;
        QTest::newRow("-2.6") << -2.6 << -3.0;
    }
    void roundHalfEven() {
        QFETCH(double, x);
        QFETCH(double, rounded);
        QCOMPARE(sweep::RoundHalfEven(x), rounded);
    }

    void periodBase_data() {
        QTest::addColumn<double>("t");
        QTest::addColumn<double>("base");
        QTest::newRow("10:00:00") << At(10, 0, 0) << 35700.0;
        QTest::newRow("10:00:19.4 still the earlier period") << At(10, 0, 19.4) << 35700.0;
        QTest::newRow("10:00:19.5 ties to even, next period") << At(10, 0, 19.5) << 36000.0;
        QTest::newRow("10:00:20") << At(10, 0, 20) << 36000.0;
        QTest::newRow("midnight: truncated toward zero") << 0.0 << 0.0;
        QTest::newRow("first 20 s of the day") << 19.9 << 0.0;
        QTest::newRow("00:05:19.4") << 319.4 << 0.0;
        QTest::newRow("00:05:20.5 ties to even (300)") << 320.5 << 300.0;
        QTest::newRow("23:59:50") << At(23, 59, 50) << 86100.0;
        QTest::newRow("last instant of the day") << 86399.99 << 86100.0;
    }
    void periodBase() {
        QFETCH(double, t);
        QFETCH(double, base);
        QCOMPARE(sweep::PeriodBase(t, sweep::Profile{}), base);
    }

    void startTime_data() {
        QTest::addColumn<double>("first");
        QTest::addColumn<double>("second");
        QTest::addColumn<double>("chirp");
        QTest::addColumn<double>("start");
        QTest::newRow("10:00:00, 78") << At(10, 0, 0) << At(10, 0, 0) << 78.0 << 36098.5;
        QTest::newRow("10:00:25, 78") << At(10, 0, 25) << At(10, 0, 25) << 78.0 << 36098.5;
        QTest::newRow("10:01:30, 78") << At(10, 1, 30) << At(10, 1, 30) << 78.0 << 36098.5;
        QTest::newRow("10:02:00, 78: sweep under way not joined")
            << At(10, 2, 0) << At(10, 2, 0) << 78.0 << 36398.5;
        QTest::newRow("midnight, 0") << 0.0 << 0.0 << 0.0 << 20.5;
        QTest::newRow("10:00:00, 299") << At(10, 0, 0) << At(10, 0, 0) << 299.0 << 36019.5;
        QTest::newRow("10:00:00, 78.5: whole seconds")
            << At(10, 0, 0) << At(10, 0, 0) << 78.5 << 36099.0;
        QTest::newRow("23:59:50, 78 wraps") << At(23, 59, 50) << At(23, 59, 50) << 78.0 << 98.5;
        QTest::newRow("chirp 200 at 23:58:20") << 86300.0 << 86300.0 << 200.0 << 86320.5;
        QTest::newRow("re-arm of chirp 200 after midnight") << 200.5 << 200.5 << 200.0 << 220.5;
        QTest::newRow("re-arm of the worked example") << 36378.5 << 36378.5 << 78.0 << 36398.5;
        QTest::newRow("second reading passes the start") << 35798.4 << 35798.6 << 78.0 << 36098.5;
        QTest::newRow("start equal to the second reading stays")
            << 35798.4 << 35798.5 << 78.0 << 35798.5;
        QTest::newRow("late evening, 290") << 86115.0 << 86115.0 << 290.0 << 10.5;
        QTest::newRow("late evening, 280") << 86110.0 << 86110.0 << 280.0 << 0.5;
        QTest::newRow("00:00:05, 290: base 0, mark at 10.5 not taken")
            << 5.0 << 5.0 << 290.0 << 310.5;
    }
    void startTime() {
        QFETCH(double, first);
        QFETCH(double, second);
        QFETCH(double, chirp);
        QFETCH(double, start);
        QCOMPARE(sweep::StartTime(first, second, chirp, sweep::Profile{}), start);
    }

    // For every whole chirp time the start is the first instant at or after the clock that lies
    // chirp + 20.5 s after a five-minute boundary, wrapped into the day; and re-arming 280 s after
    // a start gives the start 300 s later. Clock readings that tie in the rounding are left out.
    // One exception: in the first 20 s of the day the base is 0 (the quotient is truncated toward
    // zero), so a mark of the day's last period that falls just after midnight is not taken.
    void startTime_isFirstMarkAtOrAfterClock() {
        int checked = 0;
        for (int tenths = 0; tenths < 864000; tenths += 73) {
            if (tenths % 10 == 5) {
                continue;
            }
            const double t = tenths / 10.0;
            for (int chirp = 0; chirp < 300; ++chirp) {
                double offset = std::fmod(chirp + 20.5 - t, 300.0);
                if (offset < 0) {
                    offset += 300;
                }
                double expected = std::fmod(t + offset, 86400.0);
                if (t < 20 && expected < 20) {
                    expected += 300;
                }
                const double start = sweep::StartTime(t, t, chirp, sweep::Profile{});
                if (std::fabs(start - expected) > 1e-6) {
                    QFAIL(qPrintable(QStringLiteral("clock %1 chirp %2: start %3, expected %4")
                                         .arg(t)
                                         .arg(chirp)
                                         .arg(start)
                                         .arg(expected)));
                }
                const double rearm = std::fmod(start + 280, 86400.0);
                const double next = std::fmod(start + 300, 86400.0);
                if (std::fabs(sweep::StartTime(rearm, rearm, chirp, sweep::Profile{}) - next) >
                    1e-6) {
                    QFAIL(qPrintable(QStringLiteral("re-arm at %1 chirp %2 misses %3")
                                         .arg(rearm)
                                         .arg(chirp)
                                         .arg(next)));
                }
                ++checked;
            }
        }
        QVERIFY(checked > 3000000);
    }

    void isDue_data() {
        QTest::addColumn<double>("t");
        QTest::addColumn<double>("next");
        QTest::addColumn<bool>("due");
        QTest::newRow("on the mark") << 36098.5 << 36098.5 << true;
        QTest::newRow("one tick early") << 36098.49 << 36098.5 << false;
        QTest::newRow("one tick late") << 36098.51 << 36098.5 << true;
        QTest::newRow("minutes late") << 36398.5 << 36098.5 << true;
        QTest::newRow("just under half a day late") << 36098.5 + 43199.99 << 36098.5 << true;
        QTest::newRow("half a day late") << 36098.5 + 43200 << 36098.5 << false;
        QTest::newRow("23:59:50 with step wrapped to 98.5") << 86390.0 << 98.5 << false;
        QTest::newRow("23:59:59.99 with step at 0.5") << 86399.99 << 0.5 << false;
        QTest::newRow("00:00:00.5 with step at 0.5") << 0.5 << 0.5 << true;
        QTest::newRow("late evening, chirp 290: 86115 with 10.5") << 86115.0 << 10.5 << false;
        QTest::newRow("late evening, chirp 280: 86110 with 0.5") << 86110.0 << 0.5 << false;
        QTest::newRow("step from 23:59:59.5 ticked after midnight") << 0.2 << 86399.5 << true;
        QTest::newRow("23:59:59.6 with step at 23:59:59.5") << 86399.6 << 86399.5 << true;
    }
    void isDue() {
        QFETCH(double, t);
        QFETCH(double, next);
        QFETCH(bool, due);
        QCOMPARE(sweep::IsDue(t, next), due);
    }

    void parseChirpTime_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<double>("value");
        QTest::newRow("78") << "78"
                            << "en_US" << true << 78.0;
        QTest::newRow("blanks trimmed") << "  78\t"
                                        << "en_US" << true << 78.0;
        QTest::newRow("0") << "0"
                           << "en_US" << true << 0.0;
        QTest::newRow("299") << "299"
                             << "en_US" << true << 299.0;
        QTest::newRow("299.99") << "299.99"
                                << "en_US" << true << 299.99;
        QTest::newRow("78.5 English") << "78.5"
                                      << "en_US" << true << 78.5;
        QTest::newRow("78,5 German") << "78,5"
                                     << "de_DE" << true << 78.5;
        QTest::newRow("78.5 German: point also taken") << "78.5"
                                                       << "de_DE" << true << 78.5;
        QTest::newRow(".5") << ".5"
                            << "en_US" << true << 0.5;
        QTest::newRow("5.") << "5."
                            << "en_US" << true << 5.0;
        QTest::newRow("+12") << "+12"
                             << "en_US" << true << 12.0;
        QTest::newRow("-0 is zero") << "-0"
                                    << "en_US" << true << 0.0;
        QTest::newRow("empty") << ""
                               << "en_US" << false << 0.0;
        QTest::newRow("blanks only") << "   "
                                     << "en_US" << false << 0.0;
        QTest::newRow("12a") << "12a"
                             << "en_US" << false << 0.0;
        QTest::newRow("300") << "300"
                             << "en_US" << false << 0.0;
        QTest::newRow("300.0") << "300.0"
                               << "en_US" << false << 0.0;
        QTest::newRow("-5") << "-5"
                            << "en_US" << false << 0.0;
        QTest::newRow("-0.1") << "-0.1"
                              << "en_US" << false << 0.0;
        QTest::newRow("nan") << "nan"
                             << "en_US" << false << 0.0;
        QTest::newRow("inf") << "inf"
                             << "en_US" << false << 0.0;
        QTest::newRow("1e308") << "1e308"
                               << "en_US" << false << 0.0;
        QTest::newRow("exponent in range") << "7.8e1"
                                           << "en_US" << false << 0.0;
        QTest::newRow("78,5 English: not a separator here") << "78,5"
                                                            << "en_US" << false << 0.0;
        QTest::newRow("group separator") << "1,000"
                                         << "en_US" << false << 0.0;
        QTest::newRow("German grouping") << "78.000,5"
                                         << "de_DE" << false << 0.0;
        QTest::newRow("inner blank") << "7 8"
                                     << "en_US" << false << 0.0;
        QTest::newRow("two separators") << "7.8.1"
                                        << "en_US" << false << 0.0;
        QTest::newRow("lone point") << "."
                                    << "en_US" << false << 0.0;
        QTest::newRow("hex") << "0x4e"
                             << "en_US" << false << 0.0;
        QTest::newRow("many digits") << QString(400, u'9') << "en_US" << false << 0.0;
    }
    void parseChirpTime() {
        QFETCH(QString, text);
        QFETCH(QString, locale);
        QFETCH(bool, accepted);
        QFETCH(double, value);
        const std::optional<double> chirp =
            sweep::ParseChirpTime(text, QLocale(locale), sweep::Profile{}.period);
        QCOMPARE(chirp.has_value(), accepted);
        if (accepted) {
            QCOMPARE(*chirp, value);
            QVERIFY(!std::signbit(*chirp));
        }
    }

    void chirpTimeRefusal_namesTextAndRange() {
        QCOMPARE(sweep::ChirpTimeRefusal(QStringLiteral("12a"), 300),
                 QStringLiteral("The chirp time \"12a\" is not a number of seconds from 0 to 299. "
                                "Type the second of the five-minute period at which the sounder "
                                "starts, for example 78."));
        QVERIFY(sweep::ChirpTimeRefusal(QString(), 300).startsWith("The chirp time \"\" is not"));
    }

    void timeToNextTick_data() {
        QTest::addColumn<double>("t");
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("wait");
        QTest::newRow("on a boundary: the next one") << 36000.0 << 10 << 10;
        QTest::newRow("3.4 ms past: rounded up to land after it") << 36000.0034 << 10 << 7;
        QTest::newRow("0.1 ms before a boundary") << 36000.0099 << 10 << 1;
        QTest::newRow("36000.01 as a double sits on its boundary") << 36000.01 << 10 << 10;
        QTest::newRow("98.51 sits on its boundary") << 98.51 << 10 << 10;
        QTest::newRow("last 5 ms of the day") << 86399.995 << 10 << 5;
        QTest::newRow("midnight") << 0.0 << 10 << 10;
        QTest::newRow("half second, 1 s period") << 0.5 << 1000 << 500;
        QTest::newRow("100 s period") << 50.0 << 100000 << 50000;
    }
    void timeToNextTick() {
        QFETCH(double, t);
        QFETCH(int, period);
        QFETCH(int, wait);
        QCOMPARE(sweep::TimeToNextTick(t, std::chrono::milliseconds{period}).count(), wait);
    }

    // A timer re-aimed this way from wherever it fires lands on every boundary: stepping the
    // clock by the computed wait plus a late fire never skips or repeats a 10 ms mark.
    void timeToNextTick_landsOnEveryBoundary() {
        double t = 36000.0;
        long long previousMark = 3600000;
        for (int i = 0; i < 10000; ++i) {
            const double lateness = (i % 7) * 0.0001; // the platform fires 0 to 0.6 ms late
            t += sweep::TimeToNextTick(t, 10ms).count() / 1000.0 + lateness;
            const long long mark = std::llround(std::floor(t * 100 + 1e-6));
            QCOMPARE(mark, previousMark + 1);
            QVERIFY(t * 100 - mark < 0.2); // within 2 ms of the mark
            previousMark = mark;
        }
    }

    void nextShotDelay_data() {
        QTest::addColumn<double>("now");
        QTest::addColumn<std::optional<double>>("step");
        QTest::addColumn<int>("delay");
        const std::optional<double> none;
        QTest::newRow("no step: the next whole second") << 36000.25 << none << 750;
        QTest::newRow("step 2 s away: rests") << 36000.25 << std::optional(36002.25) << 750;
        QTest::newRow("step 1.2195 s away, on a second: rests a whole second")
            << 36066.0 << std::optional(36067.2195122) << 1000;
        QTest::newRow("step exactly a second away: ticks")
            << 36000.0 << std::optional(36001.0) << 10;
        QTest::newRow("step before the next tick: at the step")
            << 36067.2102 << std::optional(36067.2134146) << 4;
        QTest::newRow("step a hair ahead: a millisecond")
            << 36000.0 << std::optional(36000.0000001) << 1;
        QTest::newRow("step due: the next tick") << 36001.0 << std::optional(36001.0) << 10;
        QTest::newRow("step behind: the next tick") << 36001.003 << std::optional(36001.0) << 7;
        QTest::newRow("step past midnight: ticks") << 86399.5 << std::optional(0.2) << 10;
        QTest::newRow("step 1.5 s past midnight: rests") << 86399.5 << std::optional(1.0) << 500;
    }
    void nextShotDelay() {
        QFETCH(double, now);
        QFETCH(std::optional<double>, step);
        QFETCH(int, delay);
        QCOMPARE(sweep::NextShotDelay(now, step, 10ms).count(), delay);
    }

    // Steps 1.2195 s apart, each shot aimed by NextShotDelay and fired up to 0.6 ms late: every
    // step is taken within 1.7 ms of its instant, and the timer rests before the sweep.
    void nextShotDelay_takesOffGridSteps() {
        const sweep::Profile profile{82, 720, 2000, 30000, 100};
        const double start = sweep::StartTime(36000, 36000, 41, profile);
        int next = 0;
        int restingShots = 0; // shots more than a second before the sweep
        double t = 36000;
        while (next < sweep::StepCount(profile)) {
            const double step = start + sweep::StepOffset(profile, next);
            if (sweep::IsDue(t, step)) {
                QVERIFY2(t - step < 0.0017, qPrintable(QStringLiteral("step %1 late").arg(next)));
                ++next;
                continue;
            }
            if (t < start - 1) {
                ++restingShots;
            }
            t += sweep::NextShotDelay(t, step, 10ms).count() / 1000.0 + (next % 7) * 0.0001;
        }
        // 66 s before the sweep at one shot a second.
        QCOMPARE(restingShots, 65);
    }

    void parseChirpTime_period_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("period");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("719.5 of 720") << "719.5" << 720.0 << true;
        QTest::newRow("720 of 720") << "720" << 720.0 << false;
        QTest::newRow("60 of 60") << "60" << 60.0 << false;
    }
    void parseChirpTime_period() {
        QFETCH(QString, text);
        QFETCH(double, period);
        QFETCH(bool, accepted);
        QCOMPARE(sweep::ParseChirpTime(text, QLocale("de_DE"), period).has_value(), accepted);
    }

    void chirpTimeRefusal_namesThePeriod_data() {
        QTest::addColumn<double>("period");
        QTest::addColumn<QString>("message");
        QTest::newRow("720") << 720.0
                             << "The chirp time \"x\" is not a number of seconds from 0 to 719. "
                                "Type the second of the 12-minute period at which the sounder "
                                "starts, for example 78.";
        QTest::newRow("450") << 450.0
                             << "The chirp time \"x\" is not a number of seconds from 0 to 449. "
                                "Type the second of the 450-second period at which the sounder "
                                "starts, for example 78.";
        QTest::newRow("60: example within it")
            << 60.0
            << "The chirp time \"x\" is not a number of seconds from 0 to 59. Type the second of "
               "the 1-minute period at which the sounder starts, for example 15.";
    }
    void chirpTimeRefusal_namesThePeriod() {
        QFETCH(double, period);
        QFETCH(QString, message);
        QCOMPARE(sweep::ChirpTimeRefusal(QStringLiteral("x"), period), message);
    }

    void sounderLabel_data() {
        QTest::addColumn<double>("period");
        QTest::addColumn<double>("chirp");
        QTest::addColumn<QString>("label");
        QTest::newRow("the saved one") << 300.0 << 78.0 << "Cyprus";
        QTest::newRow("first of two with the same sweep") << 900.0 << 12.5 << "Malta";
        QTest::newRow("saved profile, other chirp time") << 300.0 << 79.0 << "300:79";
        QTest::newRow("unsaved, fractional chirp time") << 600.0 << 2.25 << "600:2.25";
    }
    void sounderLabel() {
        QFETCH(double, period);
        QFETCH(double, chirp);
        QFETCH(QString, label);
        sweep::Profile quarterHour;
        quarterHour.period = 900;
        const std::vector<sweep::NamedSounder> saved{{QStringLiteral("Cyprus"), 78, {}},
                                                     {QStringLiteral("Malta"), 12.5, quarterHour},
                                                     {QStringLiteral("Gozo"), 12.5, quarterHour}};
        sweep::Profile profile;
        profile.period = period;
        QCOMPARE(sweep::SounderLabel(saved, profile, chirp), label);
    }

    // Periods are counted from UTC midnight whatever the zone, also in zones half or three
    // quarters of an hour off UTC.
    void utcClock_ignoresTimeZone_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<int>("offset");
        QTest::newRow("Kolkata") << QByteArray("Asia/Kolkata") << 19800;
        QTest::newRow("Kathmandu") << QByteArray("Asia/Kathmandu") << 20700;
        // A zone with daylight saving: its clock changes never reach the sweep. Its offset today
        // (one hour or two) comes from the zone database.
        QTest::newRow("Berlin") << QByteArray("Europe/Berlin") << -1;
    }
    void utcClock_ignoresTimeZone() {
        QFETCH(QByteArray, zone);
        QFETCH(int, offset);
        if (offset < 0) {
            offset = QTimeZone(zone).offsetFromUtc(QDateTime::currentDateTimeUtc());
        }
        const QByteArray saved = qgetenv("TZ");
        qputenv("TZ", zone);
        tzset();
        const double utc = sweep::SecondsSinceUtcMidnight();
        const double reference =
            QDateTime::currentDateTimeUtc().time().msecsSinceStartOfDay() / 1000.0;
        const double local = QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
        qputenv("TZ", saved);
        tzset();
        QVERIFY2(std::fabs(sweep::AroundTheDay(reference, utc)) < 1, qPrintable(zone));
        // The zone was in force: local time runs ahead of UTC by the zone's offset.
        QVERIFY(std::fabs(sweep::AroundTheDay(local, utc) - offset) < 1);
    }
};

QTEST_GUILESS_MAIN(TestSchedule)
#include "tst_schedule.moc"
