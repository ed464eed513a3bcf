// The scaler and what it leaves: the parabolic layer's traces against worked numbers, traces
// found in synthetic cell matrices with exact answers, the day file's rows and their reading
// back, and the day plot.

#include "ionogram/dayfile.h"
#include "ionogram/dayplot.h"
#include "ionogram/scaler.h"
#include "simulation/ionolayer.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>
#include <clocale>
#include <cmath>
#include <random>

using namespace ionogram;

namespace {

constexpr double kWidthMs = 0.2; // a trace's half width at 1/e in the synthetic cells

// A sweep of columns at frequenciesKhz, cells a fixed pattern of weak noise (never near the
// threshold) over 0 to 20 ms.
IonogramSweep Cells(const std::vector<double>& frequenciesKhz) {
    IonogramSweep sweep;
    sweep.frequenciesKhz = frequenciesKhz;
    const int cells = sweep.DelayCount();
    for (std::size_t c = 0; c < frequenciesKhz.size(); ++c) {
        std::vector<float> row(cells);
        for (int i = 0; i < cells; ++i) {
            row[i] = float((i * 7 + int(c) * 3) % 11 - 5) * 0.5f; // -2.5 to 2.5 dB
        }
        sweep.snrDb.push_back(row);
    }
    return sweep;
}

std::vector<double> Grid(double fromKhz, int count, double stepKhz = 100) {
    std::vector<double> khz;
    for (int i = 0; i < count; ++i) {
        khz.push_back(fromKhz + i * stepKhz);
    }
    return khz;
}

// A peak of snrDb at delayMs in column, over what is there.
void Mark(IonogramSweep* sweep, int column, double delayMs, double snrDb) {
    std::vector<float>& row = sweep->snrDb[column];
    for (int i = 0; i < int(row.size()); ++i) {
        const double apart = (sweep->DelayMs(i) - delayMs) / kWidthMs;
        row[i] = std::max(row[i], float(snrDb - 10 * apart * apart / std::log(10)));
    }
}

struct Expected {
    double lofKhz, mofKhz, minDelayMs, peakSnrDb;
    double minDelayWithinMs = 0.02; // noise cells move a peak's reading by a few hundredths
};

struct Mode {
    double mofKhz, oMofKhz;
    bool flat;
    double minDelayMs;
};

} // namespace

Q_DECLARE_METATYPE(IonogramSweep)
Q_DECLARE_METATYPE(std::vector<Expected>)
Q_DECLARE_METATYPE(std::vector<Mode>)

class TestScaler : public QObject {
    Q_OBJECT
private slots:
    void layerTraceFollowsTheWorkedPath_data() {
        // f_c 6 MHz, peak 300 km, semi-thickness 100 km, 1500 km: MOF 13.47 MHz.
        QTest::addColumn<double>("khz");
        QTest::addColumn<int>("rays");
        QTest::addColumn<double>("lowMs");
        QTest::addColumn<double>("highMs");
        QTest::newRow("low end: least delay") << 100.0 << 1 << 5.18 << 0.0;
        QTest::newRow("below f_c: low ray only") << 5900.0 << 1 << 5.19 << 0.0;
        QTest::newRow("6.2 MHz: high ray at 20 ms") << 6200.0 << 2 << 5.19 << 19.86;
        QTest::newRow("6.9 MHz: high ray at 10 ms") << 6900.0 << 2 << 5.20 << 10.13;
        QTest::newRow("300 kHz under the nose") << 13170.0 << 2 << 5.33 << 5.51;
        QTest::newRow("at the nose") << 13472.0 << 2 << 5.39 << 5.41;
        QTest::newRow("above the MOF: nothing") << 13480.0 << 0 << 0.0 << 0.0;
    }
    void layerTraceFollowsTheWorkedPath() {
        QFETCH(double, khz);
        QFETCH(int, rays);
        QFETCH(double, lowMs);
        QFETCH(double, highMs);
        const IonosphericLayer layer{6000, 300, 100, 1500, 1, 0.1};
        QCOMPARE(std::round(LayerMofKhz(layer) / 10) * 10, 13470.0);
        QCOMPARE(std::round(LayerLeastDelayMs(layer) * 100) / 100, 5.18);
        const std::vector<LayerRay> found = LayerRays(layer, khz);
        QCOMPARE(int(found.size()), rays);
        if (rays >= 1) {
            QVERIFY2(std::abs(found[0].delayMs - lowMs) < 0.01,
                     qPrintable(QString::number(found[0].delayMs)));
            QCOMPARE(found[0].amplitude, 0.1);
        }
        if (rays == 2) {
            QVERIFY2(std::abs(found[1].delayMs - highMs) < 0.01,
                     qPrintable(QString::number(found[1].delayMs)));
            QVERIFY(found[1].high && found[1].amplitude < found[0].amplitude);
        }
    }

    void layerHopsShareTheRange() {
        // Two hops over 3000 km turn where one hop over 1500 km does: twice its delay, same MOF.
        const IonosphericLayer one{6000, 300, 100, 1500, 1, 0.1};
        const IonosphericLayer two{6000, 300, 100, 3000, 2, 0.1};
        QCOMPARE(LayerMofKhz(two), LayerMofKhz(one));
        QCOMPARE(LayerLeastDelayMs(two), 2 * LayerLeastDelayMs(one));
    }

    void scaleSweep_data() {
        QTest::addColumn<IonogramSweep>("sweep");
        QTest::addColumn<std::vector<Expected>>("traces");
        {
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 20; ++c) {
                Mark(&s, c, 5.0, c == 7 ? 25 : 20);
            }
            QTest::newRow("flat trace: LOF its first column, MOF half a step past its last")
                << s << std::vector<Expected>{{2100, 4050, 5.0, 25}};
        }
        {
            // 100 kHz steps, then fine 20 kHz steps from 4 MHz: the MOF half a fine step past.
            std::vector<double> khz = Grid(2100, 19);
            for (double f : Grid(4000, 20, 20)) {
                khz.push_back(f);
            }
            IonogramSweep s = Cells(khz);
            for (int c = 0; c < 19 + 7; ++c) {
                Mark(&s, c, 6.0, 18);
            }
            QTest::newRow("MOF on each column's own step")
                << s << std::vector<Expected>{{2100, 4130, 6.0, 18}};
        }
        {
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 12; ++c) {
                Mark(&s, c, 4.0, 15);
            }
            s.snrDb[5].assign(s.snrDb[5].size(), std::nanf("")); // a step without audio
            for (int i = 0; i < int(s.snrDb[9].size()); ++i) {   // a step flooded by a click
                s.snrDb[9][i] = i < 150 ? 14.0f : s.snrDb[9][i];
            }
            QTest::newRow("missing and flooded columns bridged")
                << s << std::vector<Expected>{{2100, 3250, 4.0, 15}};
        }
        {
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 10; ++c) {
                Mark(&s, c, 4.0, 15);
            }
            for (int i = 0; i < int(s.snrDb[10].size()); ++i) {
                s.snrDb[10][i] = i > 60 && i < 200 ? 12.0f : s.snrDb[10][i];
            }
            QTest::newRow("flooded column after the end does not raise the MOF")
                << s << std::vector<Expected>{{2100, 3050, 4.0, 15}};
        }
        {
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 10; c < 10 + kMinColumns - 1; ++c) {
                Mark(&s, c, 8.0, 25);
            }
            QTest::newRow("too short a trace is noise") << s << std::vector<Expected>{};
        }
        {
            IonogramSweep s = Cells(Grid(2100, 40));
            // A strong trace's sidelobes, 25 dB under it ±0.7 ms away, still over the threshold.
            for (int c = 0; c < 20; ++c) {
                Mark(&s, c, 9.0, 40);
                Mark(&s, c, 8.3, 15);
                Mark(&s, c, 9.7, 15);
            }
            QTest::newRow("sidelobes beside a strong trace are not traces")
                << s << std::vector<Expected>{{2100, 4050, 9.0, 40}};
        }
        {
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 20; ++c) {
                Mark(&s, c, 5.0 + 0.02 * c, 22);
            }
            // The high ray comes down from long delays and meets the low ray at the nose.
            for (int c = 12; c < 20; ++c) {
                Mark(&s, c, 5.38 + 0.8 * (19 - c), 16);
            }
            QTest::newRow("low and high ray: one trace")
                << s << std::vector<Expected>{{2100, 4050, 5.0, 22}};
        }
        {
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 30; ++c) {
                Mark(&s, c, 7.0, 16);
                if (c < 15) {
                    Mark(&s, c, 3.0, 14);
                }
            }
            QTest::newRow("numbered by least delay")
                << s << std::vector<Expected>{{2100, 3550, 3.0, 14}, {2100, 5050, 7.0, 16}};
        }
        {
            // Peaks scattered ±0.1 ms about 5 ms: the least of them lies 0.1 ms low.
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 30; ++c) {
                Mark(&s, c, 5.0 + 0.1 * ((c % 3) - 1), 20);
            }
            QTest::newRow("least delay fitted, not the least peak")
                << s << std::vector<Expected>{{2100, 5050, 5.0, 20}};
        }
        {
            // After a strong trace's last column: a weak peak where it pointed, and one lone
            // noise peak beyond a gap (as strong as noise gets; a peak 20 dB over the noise
            // there is the trace's own, faded for a column).
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 20; ++c) {
                Mark(&s, c, 6.0, 25);
            }
            Mark(&s, 20, 6.05, 9);
            Mark(&s, 22, 6.0, 11);
            QTest::newRow("noise at a trace's end is not the trace")
                << s << std::vector<Expected>{{2100, 4050, 6.0, 25}};
        }
        {
            // A weak low ray fades for ten columns and comes back, a little later, further on.
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 30; ++c) {
                if (c < 10 || c >= 20) {
                    Mark(&s, c, c < 10 ? 5.0 : 5.2, 14);
                }
            }
            QTest::newRow("low ray joined across a long fade")
                << s << std::vector<Expected>{{2100, 5050, 5.0, 14}};
        }
        {
            // A high ray fades long before its nose, above a low ray that runs on.
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 30; ++c) {
                Mark(&s, c, 5.0, 20);
            }
            for (int c = 10; c < 17; ++c) {
                Mark(&s, c, 12.0 - 0.2 * (c - 10), 16);
            }
            QTest::newRow("high ray fragment belongs to the trace under it")
                << s << std::vector<Expected>{{2100, 5050, 5.0, 20}};
        }
        {
            // The low ray rises faster and faster towards its nose; in the last column before
            // the MOF low and high ray are one peak, 0.8 ms above the column before.
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 20; ++c) {
                Mark(&s, c, 5.0 + (c < 16 ? 0 : 0.1 * (c - 15)), 22);
            }
            Mark(&s, 20, 6.2, 20);
            QTest::newRow("the nose's peak ends the trace")
                << s << std::vector<Expected>{{2100, 4150, 5.0, 22}};
        }
        {
            // A trace that pieces together from two chains overlapping by three columns.
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 20; ++c) {
                Mark(&s, c, 5.0, 20);
            }
            for (int c = 17; c < 30; ++c) {
                Mark(&s, c, 5.45, 18);
            }
            QTest::newRow("overlapping pieces at nearly one delay: one trace")
                << s << std::vector<Expected>{{2100, 5050, 5.0, 20}};
        }
        {
            // Beside a strong trace: a weaker piece 0.6 ms above it that runs level (a mode of
            // its own: it is not the high ray, which comes down, nor a sidelobe, 20 dB under),
            // and a mode of its own 1 ms above.
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 30; ++c) {
                Mark(&s, c, 5.0, 25);
                if (c >= 10 && c < 18) {
                    Mark(&s, c, 5.6, 15);
                }
            }
            QTest::newRow("a weaker level piece 0.6 ms above a trace is a mode")
                << s << std::vector<Expected>{{2100, 5050, 5.0, 25}, {3100, 3850, 5.6, 15}};
            s = Cells(Grid(2100, 40));
            for (int c = 0; c < 30; ++c) {
                Mark(&s, c, 5.0, 25);
                if (c >= 5 && c < 25) {
                    Mark(&s, c, 6.0, 15);
                }
            }
            QTest::newRow("a weaker mode 1 ms above is a trace of its own")
                << s << std::vector<Expected>{{2100, 5050, 5.0, 25}, {2600, 4550, 6.0, 15}};
            // Far under its nose a long path's high ray lies milliseconds above the low ray and
            // falls slowly, in pieces: no mode's low ray lies that far above the next one's.
            s = Cells(Grid(2100, 40));
            for (int c = 0; c < 30; ++c) {
                Mark(&s, c, 5.0, 25);
                if (c >= 8 && c < 16) {
                    Mark(&s, c, 7.6 - 0.01 * (c - 8), 16);
                }
            }
            QTest::newRow("a slowly falling piece 2.5 ms above a trace is its high ray")
                << s << std::vector<Expected>{{2100, 5050, 5.0, 25}};
        }
        {
            // Far under its nose the high ray rises faster than 0.3 ms a column, over noise with
            // Rayleigh-distributed cells (a few peaks per column over 8 dB): its steep top is the
            // trace's, not a trace of its own with the noise peaks beside it.
            IonogramSweep s = Cells(Grid(2100, 120));
            std::mt19937 random(7);
            std::exponential_distribution<double> power(std::log(2.0)); // median 0 dB
            for (std::vector<float>& row : s.snrDb) {
                for (float& cell : row) {
                    cell = float(10 * std::log10(power(random)));
                }
            }
            for (int c = 0; c < 120; ++c) {
                const double mhz = 2.1 + 0.1 * c;
                if (mhz <= 13.45) {
                    Mark(&s, c, 5.2 + 0.4 * std::pow(mhz / 13.45, 6), 24);
                }
                if (mhz >= 6.2 && mhz <= 13.45) {
                    Mark(&s, c, 5.6 + 12.4 * std::pow((13.45 - mhz) / 7.25, 2), 17);
                }
            }
            QTest::newRow("the steep top of a high ray in noise is the trace's")
                << s << std::vector<Expected>{{2100, 13450, 5.2, 24, 0.05}};
        }
        {
            // A weak trace whose last two columns before the MOF stay under the peak level, and
            // a stronger one whose end is followed by as weak a peak on its track.
            IonogramSweep s = Cells(Grid(2100, 40));
            for (int c = 0; c < 20; ++c) {
                Mark(&s, c, 4.0, c < 18 ? 12 : 7.5);
                Mark(&s, c, 8.0, 24);
            }
            Mark(&s, 20, 8.0, 7.5);
            QTest::newRow("a weak trace's end held at a lower level along its track")
                << s << std::vector<Expected>{{2100, 4050, 4.0, 12}, {2100, 4050, 8.0, 24}};
        }
        QTest::newRow("nothing over the noise") << Cells(Grid(2100, 40)) << std::vector<Expected>{};
    }
    void scaleSweep() {
        QFETCH(IonogramSweep, sweep);
        QFETCH(std::vector<Expected>, traces);
        const ScaledSweep scaled = ScaleSweep(sweep);
        QCOMPARE(int(scaled.traces.size()), int(traces.size()));
        for (std::size_t i = 0; i < traces.size(); ++i) {
            const ScaledTrace& t = scaled.traces[i];
            const QString got = QString("trace %1: LOF %2 MOF %3 least %4 ms peak %5 dB")
                                    .arg(t.number)
                                    .arg(t.lofKhz)
                                    .arg(t.mofKhz)
                                    .arg(t.minDelayMs)
                                    .arg(t.peakSnrDb);
            QCOMPARE(t.number, int(i) + 1);
            QVERIFY2(t.lofKhz == traces[i].lofKhz && std::abs(t.mofKhz - traces[i].mofKhz) < 1e-6,
                     qPrintable(got));
            QVERIFY2(std::abs(t.minDelayMs - traces[i].minDelayMs) <= traces[i].minDelayWithinMs,
                     qPrintable(got));
            QVERIFY2(std::abs(t.peakSnrDb - traces[i].peakSnrDb) <= 0.1, qPrintable(got));
        }
    }

    // Skies as long paths show them: each case's modes with their MOF, O nose and flatness.
    void readsRealSkies_data() {
        QTest::addColumn<IonogramSweep>("sweep");
        QTest::addColumn<std::vector<Mode>>("modes");
        // A low ray at delayMs over columns [from, to], rising into its nose over the last
        // three columns (0.15, 0.35, 0.6 ms) unless flat.
        auto lowRay = [](IonogramSweep* s, int from, int to, double delayMs, double snrDb,
                         bool flat = false) {
            const double rise[] = {0.6, 0.35, 0.15};
            for (int c = from; c <= to; ++c) {
                Mark(s, c, delayMs + (!flat && to - c < 3 ? rise[to - c] : 0), snrDb);
            }
        };
        {
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 29, 5.0, 25);
            lowRay(&s, 0, 19, 5.4, 16);
            QTest::newRow("a weaker mode 0.4 ms above a stronger one")
                << s << std::vector<Mode>{{5050, 0, false, 5.0}, {4050, 0, false, 5.4}};
        }
        {
            // 0.35 ms above: closer than the linking's peaks resolve, its own peak in the cells.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 29, 5.0, 25);
            lowRay(&s, 0, 14, 5.35, 16);
            QTest::newRow("a weaker mode 0.35 ms above a stronger one")
                << s << std::vector<Mode>{{5050, 0, false, 5.0}, {3550, 0, false, 5.35}};
        }
        {
            // A thick trace: its later path 0.25 ms above, 4 dB weaker, rising into one nose.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 29, 5.0, 24);
            lowRay(&s, 0, 29, 5.25, 20);
            QTest::newRow("a thick trace") << s << std::vector<Mode>{{5050, 0, false, 5.0}};
        }
        {
            // The sounder is silent over columns 15-24, from 2F's nose on; above, 1F's high ray
            // comes down from 0.4 ms above where 2F's low ray ended below.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 14, 6.0, 18);
            lowRay(&s, 0, 14, 5.0, 25, true);
            lowRay(&s, 25, 39, 5.0, 25);
            for (int c = 25; c < 37; ++c) {
                Mark(&s, c, 6.4 - 0.08 * (c - 25), 16);
            }
            QTest::newRow("a silent band between two modes")
                << s << std::vector<Mode>{{6050, 0, false, 5.0}, {3550, 0, false, 6.0}};
        }
        {
            // One low ray up to column 19; then the O trace rises into its nose at column 24,
            // the X trace 6 columns (600 kHz) later.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 19, 5.0, 22, true);
            lowRay(&s, 20, 24, 5.05, 18);
            lowRay(&s, 20, 30, 5.0, 20);
            for (int c = 20; c < 24; ++c) {
                Mark(&s, c, 6.6 - 0.25 * (c - 20), 14); // the O trace's high ray
            }
            QTest::newRow("an O/X pair") << s << std::vector<Mode>{{5150, 4550, false, 5.0}};
        }
        {
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 25, 4.0, 20, true);
            lowRay(&s, 0, 39, 5.5, 22);
            for (int c = 30; c < 39; ++c) {
                Mark(&s, c, 7.0 - 0.15 * (c - 30), 15);
            }
            QTest::newRow("sporadic E under an F mode")
                << s << std::vector<Mode>{{4650, 0, true, 4.0}, {6050, 0, false, 5.5}};
        }
        {
            // A long path under sporadic E: 4Es flat up to column 19, 0.15 ms later than 1F,
            // whose low ray takes over from there; 2F is heard from there on only. Without the
            // Es (1F's low ray all the way, 2F heard from column 20 on) 1F stays one trace.
            for (const bool es : {true, false}) {
                IonogramSweep s = Cells(Grid(2100, 60));
                lowRay(&s, 0, 19, es ? 11.4 : 11.25, 24, true);
                lowRay(&s, 20, 49, 11.25, 20);
                lowRay(&s, 20, 35, 11.75, 16);
                std::vector<Mode> modes{{7050, 0, false, 11.25}, {5650, 0, false, 11.75}};
                if (es) {
                    modes.insert(modes.begin() + 1, Mode{4050, 0, true, 11.4});
                }
                QTest::newRow(es ? "sporadic E blanketing the F modes" : "2F heard from 4 MHz")
                    << s << modes;
            }
        }
        {
            // Column 21 flooded by a keyed carrier; the trace's last two columns are weak.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 20, 5.0, 20, true);
            lowRay(&s, 22, 23, 5.0, 11, true);
            for (float& cell : s.snrDb[21]) {
                cell = 12;
            }
            QTest::newRow("a weak tip beyond a flooded column")
                << s << std::vector<Mode>{{4450, 0, true, 5.0}};
        }
        {
            // A 3500 km path: 1F strong with its high ray, 2F 0.45 ms above it and 7 dB weaker,
            // fading in every seventh column, its nose at column 27 with a high ray of its own.
            IonogramSweep s = Cells(Grid(2100, 60));
            lowRay(&s, 0, 49, 11.2, 22);
            for (int c = 35; c < 49; ++c) {
                Mark(&s, c, 13.5 - 0.12 * (c - 35), 16);
            }
            for (int c = 0; c <= 27; ++c) {
                if (c % 7 != 3) {
                    Mark(&s, c, 11.65 + (27 - c < 3 ? 0.2 * (3 - (27 - c)) : 0), 15);
                }
            }
            for (int c = 20; c < 27; ++c) {
                Mark(&s, c, 12.6 - 0.1 * (c - 20), 12);
            }
            QTest::newRow("2F just above 1F on a long path")
                << s << std::vector<Mode>{{7050, 0, false, 11.2}, {4850, 0, false, 11.65}};
        }
        {
            // The O trace rises into its nose at column 24; the X trace fades for five columns
            // and comes back weak at the low ray's delay, rising into its nose at column 32.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 24, 5.0, 20);
            lowRay(&s, 30, 32, 5.0, 10);
            Mark(&s, 31, 5.35, 13);
            QTest::newRow("an X tip beyond a fade")
                << s << std::vector<Mode>{{5350, 4550, false, 5.0}};
        }
        {
            // The high ray falls steeply from 12 ms, fades over three columns, then comes down
            // into the nose.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 29, 5.0, 24);
            for (int c = 15; c < 20; ++c) {
                Mark(&s, c, 12.0 - 0.75 * (c - 15), 16);
            }
            for (int c = 23; c < 29; ++c) {
                Mark(&s, c, 7.0 - 0.25 * (c - 23), 16);
            }
            QTest::newRow("a steep high ray") << s << std::vector<Mode>{{5050, 0, false, 5.0}};
        }
        {
            // 2F 1 ms above 1F, its nose at column 19; from there on 1F's high ray comes down
            // from 0.2 ms under that nose, at nearly its delay, into 1F's nose at column 59.
            IonogramSweep s = Cells(Grid(2100, 60));
            lowRay(&s, 0, 59, 11.0, 24);
            lowRay(&s, 0, 19, 12.0, 18);
            for (int c = 20; c < 52; ++c) {
                Mark(&s, c, 11.0 + 3.2 * std::pow(1 - (c + 0.5) / 60, 2), 15);
            }
            QTest::newRow("a high ray running on from another mode's nose")
                << s << std::vector<Mode>{{8050, 0, false, 11.0}, {4050, 0, false, 12.0}};
        }
        {
            // One layer over 3500 km: 1F, and 2F 6 dB weaker, each an O trace and an X trace
            // 3 dB under it whose nose lies 650 kHz above; 1F's high rays come down through 2F's
            // noses and run on beyond them at nearly their delay.
            IonogramSweep s = Cells(Grid(2100, 130));
            IonosphericLayer layer{1000, 300, 70, 3500, 1, 0};
            layer.criticalKhz *= 14000 / LayerMofKhz(layer);
            std::vector<Mode> modes;
            for (int hops : {1, 2}) {
                layer.hops = hops;
                IonosphericLayer x = layer;
                x.criticalKhz *= (LayerMofKhz(layer) + 650) / LayerMofKhz(layer);
                int last = -1;
                for (int c = 0; c < int(s.frequenciesKhz.size()); ++c) {
                    for (const LayerRay& ray : LayerRays(layer, s.frequenciesKhz[c])) {
                        Mark(&s, c, ray.delayMs, (ray.high ? 15 : 24) - 6 * (hops - 1));
                    }
                    // (The two low rays run together far under the noses.)
                    for (const LayerRay& ray : LayerRays(x, s.frequenciesKhz[c])) {
                        Mark(&s, c, ray.delayMs, (ray.high ? 12 : 21) - 6 * (hops - 1));
                        last = c;
                    }
                }
                modes.push_back({s.frequenciesKhz[last] + 50, 0, false,
                                 LayerRays(layer, s.frequenciesKhz[0])[0].delayMs});
            }

            QTest::newRow("2F under 1F's high ray on a long path") << s << modes;
        }
        {
            // Programme audio drowns every trace over columns 25-28; a weaker trace 0.6 ms above
            // 1F runs flat into the flood: its end is the flood's edge, not a nose.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 24, 5.0, 24, true);
            lowRay(&s, 29, 39, 5.0, 24);
            lowRay(&s, 0, 24, 5.6, 16, true);
            QTest::newRow("a trace running flat into a broadcast band")
                << s << std::vector<Mode>{{6050, 0, false, 5.0}};
        }
        for (const double noseDb : {20.0, 13.0}) {
            // The trace rises towards its nose and fades in column 23, the one under it; the nose
            // (column 24) is as strong as the rest of it, or stands 13 dB over the noise.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 20, 5.0, 20, true);
            Mark(&s, 21, 5.2, 20);
            Mark(&s, 22, 5.3, 20);
            Mark(&s, 24, 5.5, noseDb);
            QTest::newRow(noseDb > 15 ? "a nose beyond a faded column"
                                      : "a weak nose beyond a faded column")
                << s << std::vector<Mode>{{4550, 0, false, 5.0}};
        }
        {
            // The X trace beyond the O nose (column 24) is heard in columns 27 and 30 alone, at
            // the low ray's delay, both strong.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 24, 5.0, 20);
            Mark(&s, 27, 5.05, 20);
            Mark(&s, 30, 5.1, 15);
            QTest::newRow("an X tip faded over two columns at a time")
                << s << std::vector<Mode>{{5150, 4550, false, 5.0}};
        }
        for (double tipDb : {14.0, 9.0}) {
            // The X trace beyond the O nose (column 24) fades but for its nose, heard alone in
            // column 31 at the low ray's delay; as weak as noise, it is not taken.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 24, 5.0, 20);
            Mark(&s, 31, 5.05, tipDb);
            QTest::newRow(tipDb > 11 ? "an X nose heard alone beyond the O nose"
                                     : "a noise peak beyond a nose")
                << s
                << std::vector<Mode>{tipDb > 11 ? Mode{5250, 4550, false, 5.0}
                                                : Mode{4550, 0, false, 5.0}};
        }
        {
            // 2F rises into its nose at column 15; weak peaks at nearly its low ray's delay run
            // on from there up to a flood over columns 25-28 that 1F runs on beyond: no X tip.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 24, 5.0, 24, true);
            lowRay(&s, 29, 39, 5.0, 24);
            lowRay(&s, 0, 15, 5.6, 16);
            for (int c : {18, 20, 21, 23, 24}) {
                Mark(&s, c, 5.7, 9);
            }
            QTest::newRow("a tip running on to a broadcast band")
                << s << std::vector<Mode>{{6050, 0, false, 5.0}, {3650, 0, false, 5.6}};
        }
        {
            // 2F, 0.35 ms above a weaker 1F, rises into its nose at column 14; a faint noise
            // peak lies 0.1 ms under that nose in column 15.
            IonogramSweep s = Cells(Grid(2100, 40));
            lowRay(&s, 0, 29, 5.0, 20);
            lowRay(&s, 0, 14, 5.35, 22);
            Mark(&s, 15, 5.85, 9);
            QTest::newRow("a faint peak beside a nose")
                << s << std::vector<Mode>{{5050, 0, false, 5.0}, {3550, 0, false, 5.35}};
        }
    }
    void readsRealSkies() {
        QFETCH(IonogramSweep, sweep);
        QFETCH(std::vector<Mode>, modes);
        const ScaledSweep scaled = ScaleSweep(sweep);
        QString got;
        for (const ScaledTrace& t : scaled.traces) {
            got += QString("MOF %1 O %2 flat %3 least %4; ")
                       .arg(t.mofKhz)
                       .arg(t.oMofKhz)
                       .arg(t.flat)
                       .arg(t.minDelayMs);
        }
        QVERIFY2(scaled.traces.size() == modes.size(), qPrintable(got));
        for (std::size_t i = 0; i < modes.size(); ++i) {
            const ScaledTrace& t = scaled.traces[i];
            QVERIFY2(std::abs(t.mofKhz - modes[i].mofKhz) < 1e-6 &&
                         std::abs(t.oMofKhz - modes[i].oMofKhz) < 1e-6 && t.flat == modes[i].flat &&
                         std::abs(t.minDelayMs - modes[i].minDelayMs) <= 0.02,
                     qPrintable(got));
            QVERIFY(!t.points.empty() && t.points.front().khz == t.lofKhz &&
                    !t.points.front().high);
        }
    }

    void dayRows_data() {
        QTest::addColumn<QString>("sounder");
        QTest::addColumn<bool>("withTraces");
        QTest::addColumn<QByteArray>("rows");
        // Trace 1 read as a layer over the path's midpoint, trace 2 saying nothing of one.
        QTest::newRow("two traces")
            << "Cyprus" << true
            << QByteArray("2026-12-07T19:04:20Z,Cyprus,1,2100.0,13450.0,5.92,4400.0,27.3,1F,1,"
                          "2590.1,135.0,40.0000,25.5000,KN15fa,310.0,6.10,305.0,2.900,17.70,fit\n"
                          "2026-12-07T19:04:20Z,Cyprus,2,2100.0,9050.0,7.06,2100.0,14.0,,,,,,,,,"
                          ",,,,\n");
        QTest::newRow("no trace") << "300:78" << false
                                  << QByteArray("2026-12-07T19:04:20Z,300:78,0,,,,,,,,,,,,,,,,,"
                                                ",\n");
        QTest::newRow("comma and quote quoted")
            << "Cyprus, \"north\"" << false
            << QByteArray("2026-12-07T19:04:20Z,\"Cyprus, \"\"north\"\"\",0,,,,,,,,,,,,,,,,,,"
                          "\n");
    }
    void dayRows() {
        QFETCH(QString, sounder);
        QFETCH(bool, withTraces);
        QFETCH(QByteArray, rows);
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        QLocale::setDefault(QLocale(QLocale::German));
        const QDateTime start(QDate(2026, 12, 7), QTime(19, 4, 20, 750), Qt::UTC);
        ScaledSweep scaled;
        if (withTraces) {
            scaled.traces = {{1, 2100, 13450, 5.9249, 4400, 27.26},
                             {2, 2100, 9050, 7.056, 2100, 13.96}};
            geo::PathLayer f1{{}, "1F", 1, "fit", 6104, 305, 100, 310, 2.9, 17700};
            geo::PathLayer none;
            none.error = "too short";
            scaled.geometry = SweepGeometry{{2590.1, 135, {40, 25.5}, "KN15fa"}, {f1, none}};
        }
        QCOMPARE(DayRows(start, sounder, scaled), rows);
        // Read back as written.
        const std::vector<DayRow> read = ParseDayFile(rows);
        QCOMPARE(read.size(), std::max<std::size_t>(1, scaled.traces.size()));
        QCOMPARE(read[0].sounder, sounder);
        QCOMPARE(read[0].sweepStartUtc, QDateTime(QDate(2026, 12, 7), QTime(19, 4, 20), Qt::UTC));
        QCOMPARE(read[0].trace.number, withTraces ? 1 : 0);
        QCOMPARE(std::isnan(read[0].trace.mofKhz), !withTraces);
        QCOMPARE(read[0].mode, withTraces ? QStringLiteral("1F") : QString());
        QCOMPARE(read[0].fof2Mhz, withTraces ? 6.1 : std::nan(""));
        QCOMPARE(read[0].hmf2Km, withTraces ? 305.0 : std::nan(""));
        QCOMPARE(read[0].m3000, withTraces ? 2.9 : std::nan(""));
        QCOMPARE(read[0].path.has_value(), withTraces);
        if (withTraces) {
            QCOMPARE(read[0].path->distanceKm, 2590.1);
            QCOMPARE(read[0].path->midpoint.longitude, 25.5);
            QVERIFY(!read[1].path); // trace 2 says nothing of the layer
        }
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(QLocale::c());
    }

    void dayFileAppendedUnderOneHeaderAndReadBack() {
        QTemporaryDir dir;
        const QString folder = dir.filePath("archive");
        const QDateTime first(QDate(2026, 12, 7), QTime(23, 55, 0), Qt::UTC);
        ScaledSweep scaled;
        scaled.traces = {{1, 2100, 13450, 5.92, 4400, 27.3}};
        QVERIFY(AppendDayFile(folder, first, "Cyprus", scaled).IsOk());
        // A row cut short (the program stopped while writing) stays apart from the next.
        QFile file(QDir(folder).filePath("scaled-2026-12-07.csv"));
        QVERIFY(file.open(QIODevice::Append));
        file.write("2026-12-07T23:57:00Z,Cyp");
        file.close();
        QVERIFY(AppendDayFile(folder, first.addSecs(240), "Cyprus", ScaledSweep{}).IsOk());
        QVERIFY(AppendDayFile(folder, first.addSecs(300), "Cyprus", scaled).IsOk());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines[0], DayFileHeader());
        QCOMPARE(lines.count(DayFileHeader()), 1);
        // A file begun with the eight columns of old goes on in them.
        QFile old(QDir(folder).filePath("scaled-2026-12-06.csv"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(kDayFileHeader) + "\n");
        old.close();
        QVERIFY(AppendDayFile(folder, first.addDays(-1), "Cyprus", scaled).IsOk());
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray(kDayFileHeader) +
                                    "\n2026-12-06T23:55:00Z,Cyprus,1,2100.0,13450.0,5.92,"
                                    "4400.0,27.3\n");
        QCOMPARE(int(ReadDayFile(folder, QDate(2026, 12, 6)).size()), 1);
        const std::vector<DayRow> today = ReadDayFile(folder, QDate(2026, 12, 7));
        QCOMPARE(int(today.size()), 2);
        QCOMPARE(today[1].trace.number, 0);
        const std::vector<DayRow> tomorrow = ReadDayFile(folder, QDate(2026, 12, 8));
        QCOMPARE(int(tomorrow.size()), 1);
        QCOMPARE(tomorrow[0].trace.mofKhz, 13450.0);
    }

    void dayFileFolderNotWritableIsReported() {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const Status status = AppendDayFile(
            dir.filePath("file/archive"), QDateTime::currentDateTimeUtc(), "Cyprus", ScaledSweep{});
        QVERIFY(!status.IsOk());
        QVERIFY(status.Message().contains("archive folder"));
    }

    void amateurBandsOfRegion_data() {
        QTest::addColumn<int>("region");
        QTest::addColumn<double>("eightyTopKhz");
        QTest::addColumn<double>("fortyTopKhz");
        QTest::newRow("region 1") << 1 << 3800.0 << 7200.0;
        QTest::newRow("region 2") << 2 << 4000.0 << 7300.0;
        QTest::newRow("region 3") << 3 << 3900.0 << 7200.0;
        QTest::newRow("unknown: region 1") << 7 << 3800.0 << 7200.0;
    }
    void amateurBandsOfRegion() {
        QFETCH(int, region);
        QFETCH(double, eightyTopKhz);
        QFETCH(double, fortyTopKhz);
        const std::vector<AmateurBand> bands = AmateurBands(region);
        QCOMPARE(int(bands.size()), 10);
        QCOMPARE(bands[1].highKhz, eightyTopKhz);
        QCOMPARE(bands[3].highKhz, fortyTopKhz);
    }

    void dayPlotMarksEachSounderInItsColour() {
        QTemporaryDir dir;
        const QDate day(2026, 12, 7);
        ScaledSweep scaled;
        scaled.traces = {{1, 2100, 16000, 5.9, 4400, 27}};
        QVERIFY(
            AppendDayFile(dir.path(), QDateTime(day, QTime(6, 0), Qt::UTC), "A", scaled).IsOk());
        scaled.traces[0].mofKhz = 22000;
        QVERIFY(
            AppendDayFile(dir.path(), QDateTime(day, QTime(18, 0), Qt::UTC), "B", scaled).IsOk());
        QVERIFY(WriteDayPlot(dir.path(), day, kDefaultIaruRegion).IsOk());
        const QImage plot(QDir(dir.path()).filePath("scaled-2026-12-07.png"));
        QCOMPARE(plot.size(), kDayPlotSize);
        const QColor a = plot.pixelColor(DayPlotPoint(kDayPlotSize, 6, 16).toPoint());
        const QColor b = plot.pixelColor(DayPlotPoint(kDayPlotSize, 18, 22).toPoint());
        const QColor empty = plot.pixelColor(DayPlotPoint(kDayPlotSize, 12, 16).toPoint());
        QVERIFY(a != b && a != empty && b != empty);
        QCOMPARE(empty, QColor(Qt::white));
    }
};

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // the day plot's text needs fonts
    TestScaler test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_scaler.moc"
