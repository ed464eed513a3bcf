// The Propagation window: the day plot of the archive folder's day file, the day's sweeps
// counted, earlier days by button or date, redrawn when a sweep is scaled and moving on to the
// new day at midnight UTC; foF2 over the midpoints instead of the MOF, and the MUF for a path
// typed.

#include "ionogram/dayplot.h"
#include "ui/propagationwindow.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace ionogram;

namespace {

const QDate kToday(2026, 12, 7);

QDateTime At(const QDate& day, int hour, int minute, int second) {
    return QDateTime(day, QTime(hour, minute, second), Qt::UTC);
}

ScaledSweep OneTrace(double lofKhz, double mofKhz) {
    ScaledTrace trace;
    trace.number = 1;
    trace.lofKhz = lofKhz;
    trace.mofKhz = mofKhz;
    trace.minDelayMs = 5;
    trace.minDelayKhz = lofKhz;
    trace.peakSnrDb = 20;
    return ScaledSweep{{trace}};
}

// Trace 1 read as foF2 6.1 MHz (M(3000)F2 3.0) over the midpoint of a 2000 km path due east
// along the equator from 0 N 0 E.
ScaledSweep OneLayer(double mofKhz) {
    ScaledSweep scaled = OneTrace(3000, mofKhz);
    geo::PathLayer layer{{}, "1F", 1, "fit", 6100, 300, 100, 310, 3.0, 18300};
    scaled.geometry = SweepGeometry{{2000, 90, {0, 8.993}, "JJ80aa"}, {layer}};
    return scaled;
}

IonogramSweep SweepAt(const QDateTime& start) {
    IonogramSweep sweep;
    sweep.startUtc = start;
    return sweep;
}

} // namespace

class TestPropagationWindow : public QObject {
    Q_OBJECT

private slots:
    void dayPlotOfTheArchiveLiveAndEarlierDays() {
        QTemporaryDir dir;
        const QString folder = dir.path();
        QVERIFY(
            AppendDayFile(folder, At(kToday, 10, 15, 20), "Cyprus", OneTrace(3000, 14000)).IsOk());
        QVERIFY(AppendDayFile(folder, At(kToday, 10, 20, 20), "Cyprus", ScaledSweep()).IsOk());
        QVERIFY(
            AppendDayFile(folder, At(kToday.addDays(-1), 12, 0, 0), "300:78", OneTrace(3000, 7000))
                .IsOk());

        QDate today = kToday;
        PropagationWindow window(nullptr, [&today] { return today; });
        window.SetArchiveFolder(folder);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Propagation"));
        QCOMPARE(window.summary->text(),
                 QStringLiteral("2 sweeps scaled on 2026-12-07, the last at 10:20:20 UTC"));
        QVERIFY(!window.nextDay->isEnabled());

        // The 10:15 sweep's MOF is painted where the plot puts it at the window's size.
        const QImage painted = window.canvas->grab().toImage();
        const QImage empty = RenderDayPlot({}, kToday, kDefaultIaruRegion, painted.size());
        const QPoint mof = DayPlotPoint(painted.size(), 10 + 15.0 / 60, 14).toPoint();
        QVERIFY(painted.pixel(mof) != empty.pixel(mof));

        window.previousDay->click();
        QCOMPARE(window.date->date(), kToday.addDays(-1));
        QCOMPARE(window.summary->text(),
                 QStringLiteral("1 sweep scaled on 2026-12-06, the last at 12:00:00 UTC"));
        window.date->setDate(kToday.addDays(-2));
        QCOMPARE(window.summary->text(), QStringLiteral("No sweep scaled on 2026-12-05 in %1.")
                                             .arg(QDir::toNativeSeparators(folder)));

        // Back to today; a sweep scaled is read at once.
        window.todayButton->click();
        QCOMPARE(window.Day(), kToday);
        const QDateTime later = At(kToday, 10, 25, 20);
        QVERIFY(AppendDayFile(folder, later, "Cyprus", OneTrace(3000, 15000)).IsOk());
        window.ShowScaled(SweepAt(later), OneTrace(3000, 15000));
        QCOMPARE(window.summary->text(),
                 QStringLiteral("3 sweeps scaled on 2026-12-07, the last at 10:25:20 UTC"));

        // Past midnight the window follows the new day; a day looked back at stays.
        today = kToday.addDays(1);
        const QDateTime midnight = At(today, 0, 1, 0);
        QVERIFY(AppendDayFile(folder, midnight, "Cyprus", ScaledSweep()).IsOk());
        window.ShowScaled(SweepAt(midnight), ScaledSweep());
        QCOMPARE(window.Day(), today);
        window.previousDay->click();
        window.ShowScaled(SweepAt(midnight.addSecs(300)), ScaledSweep());
        QCOMPARE(window.Day(), kToday);
        QVERIFY(window.nextDay->isEnabled());
    }

    void fof2InsteadOfMofAndMufForMyPath() {
        QTemporaryDir dir;
        QVERIFY(AppendDayFile(dir.path(), At(kToday, 12, 0, 0), "Cyprus", OneLayer(16000)).IsOk());
        PropagationWindow window(nullptr, [] { return kToday; });
        window.SetArchiveFolder(dir.path());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QSize size = window.canvas->size();
        const QImage empty = RenderDayPlot({}, kToday, kDefaultIaruRegion, size);
        const QPoint mof = DayPlotPoint(size, 12, 16).toPoint();
        const QPoint fof2 = DayPlotPoint(size, 12, 6.1).toPoint();
        QImage painted = window.canvas->grab().toImage();
        QVERIFY(painted.pixel(mof) != empty.pixel(mof));
        QCOMPARE(painted.pixel(fof2), empty.pixel(fof2));
        window.showFoF2->click();
        painted = window.canvas->grab().toImage();
        QCOMPARE(painted.pixel(mof), empty.pixel(mof));
        QVERIFY(painted.pixel(fof2) != empty.pixel(fof2));

        QTest::keyClicks(window.myPath, "2500 km");
        QCOMPARE(window.myPathMuf->text(),
                 QStringLiteral("MUF about 17.3 MHz over 2500 km (1 hop), from the midpoint of "
                                "the path to Cyprus (foF2 6.1 MHz at 12:00 UTC), 250 km from your "
                                "path's midpoint along that path."));
        // A place needs the station's position; 38 degrees east puts the midpoints 1113 km apart.
        window.myPath->setText("0,38");
        QVERIFY(window.myPathMuf->text().startsWith("Your station's position is not set"));
        window.SetStationPosition(geo::Position{0, 0});
        QCOMPARE(window.myPathMuf->text(),
                 QStringLiteral("The nearest reading, the midpoint of the path to Cyprus (foF2 "
                                "6.1 MHz at 12:00 UTC), lies 1113 km from your path's midpoint: "
                                "beyond 1000 km the estimate does not apply."));
    }
};

QTEST_MAIN(TestPropagationWindow)
#include "tst_propagationwindow.moc"
