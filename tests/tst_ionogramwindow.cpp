// The live ionogram window: a strong echo is painted in the top colour of the palette where the
// layout puts its cell at any window size, pointing there reads its frequency, delay and SNR,
// and the last complete sweep stays on screen where the new one has no column yet; the scaled
// values show above it with each MOF marked under the frequency axis, and the day's archived
// sweeps are paged through with the keys; with several sounders followed, a tab each chooses
// the one shown.

#include "ionogram/archive.h"
#include "ionogram/ionogramimage.h"
#include "ui/ionogramwindow.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

using namespace ionogram;

namespace {

constexpr double kEchoKhz = 7300;
constexpr int kEchoStep = 52;      // 2100 kHz is step 0
constexpr int kEchoCell = 100;     // 5.00 ms
constexpr int kEchoHalfHeight = 5; // cells above and below, so it shows at any size
constexpr float kEchoDb = 30;

IonogramSweep Sweep(int startSecond, float background) {
    IonogramSweep sweep;
    sweep.chirpTime = 78;
    sweep.profile = QStringLiteral("test");
    sweep.startUtc = QDateTime(QDate(2026, 12, 7), QTime(10, 15, startSecond), Qt::UTC);
    for (double khz = 2100; khz <= 30000; khz += 100) {
        sweep.frequenciesKhz.push_back(khz);
        sweep.snrDb.push_back(std::vector<float>(std::size_t(sweep.DelayCount()), background));
    }
    return sweep;
}

IonogramSweep WithEcho() {
    IonogramSweep sweep = Sweep(20, 0);
    for (int cell = kEchoCell - kEchoHalfHeight; cell <= kEchoCell + kEchoHalfHeight; ++cell) {
        sweep.snrDb[kEchoStep][std::size_t(cell)] = kEchoDb;
    }
    return sweep;
}

QRgb PixelAt(IonogramWindow& window, QPoint where) {
    return window.canvas->grab().toImage().pixel(where) & RGB_MASK;
}

QString PointAt(IonogramWindow& window, QPoint where) {
    QMouseEvent move(QEvent::MouseMove, QPointF(where), window.canvas->mapToGlobal(QPointF(where)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window.canvas, &move);
    return window.pointed->text();
}

// A trace at 5.00 ms from kEchoKhz up to lastKhz, one cell high.
IonogramSweep WithTrace(int startMinute, double lastKhz) {
    IonogramSweep sweep = Sweep(20, 0);
    sweep.startUtc = sweep.startUtc.addSecs(60 * startMinute);
    for (std::size_t step = 0; step < sweep.frequenciesKhz.size(); ++step) {
        if (sweep.frequenciesKhz[step] >= kEchoKhz && sweep.frequenciesKhz[step] <= lastKhz) {
            sweep.snrDb[step][kEchoCell] = kEchoDb;
        }
    }
    return sweep;
}

ScaledTrace Trace(int number, double mofKhz, double minDelayMs) {
    ScaledTrace trace;
    trace.number = number;
    trace.mofKhz = mofKhz;
    trace.minDelayMs = minDelayMs;
    return trace;
}

IonogramLayout LayoutOf(IonogramWindow& window, const IonogramSweep& sweep) {
    return LayoutIonogram(window.canvas->rect(), window.canvas->fontMetrics().height(), sweep);
}

} // namespace

Q_DECLARE_METATYPE(ScaledSweep)

class TestIonogramWindow : public QObject {
    Q_OBJECT

private slots:
    void echoPaintedAndReadWhereItIs_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("first size") << QSize();
        QTest::newRow("large") << QSize(1700, 1100);
        QTest::newRow("small") << QSize(600, 400);
    }
    void echoPaintedAndReadWhereItIs() {
        QFETCH(QSize, size);
        IonogramWindow window;
        const IonogramSweep sweep = WithEcho();
        window.ShowSweep(sweep, 60);
        if (size.isValid()) {
            window.resize(size);
        }
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(
            window.windowTitle(),
            QStringLiteral("Ionogram, chirp time 78 s, test, sweep from 2026-12-07 10:15:20 UTC"));

        const IonogramLayout layout = LayoutOf(window, sweep);
        const QPoint echo = layout.CellRect(kEchoKhz, kEchoCell).center();
        QCOMPARE(PixelAt(window, echo), Viridis(1) & RGB_MASK);
        const QPoint beside = layout.CellRect(kEchoKhz - 200, kEchoCell).center();
        QCOMPARE(PixelAt(window, beside), Viridis(0) & RGB_MASK);

        QCOMPARE(PointAt(window, echo),
                 QStringLiteral("7.300 MHz, delay 5.00 ms (1499 km), SNR 30.0 dB"));
        QCOMPARE(PointAt(window, beside),
                 QStringLiteral("7.100 MHz, delay 5.00 ms (1499 km), SNR 0.0 dB"));
        QCOMPARE(PointAt(window, layout.plot.topLeft() - QPoint(2, 2)),
                 QStringLiteral("Point at the ionogram to read a cell's frequency, delay and "
                                "SNR."));
    }

    void resized_paintedWholeOnceTheSizeSettles() {
        // While the size changes the last picture is only stretched; once it settles the
        // window must show the whole picture at the new size, as painted afresh.
        IonogramWindow window;
        const IonogramSweep sweep = WithEcho();
        window.ShowSweep(sweep, 60);
        window.resize(600, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.canvas->grab();
        window.resize(1200, 800);
        QTRY_VERIFY(window.canvas->width() > 700);
        QImage whole(window.canvas->size(), QImage::Format_RGB32);
        {
            QPainter painter(&whole);
            painter.setFont(window.canvas->font());
            IonogramPaintOptions options;
            options.receivingColumn = 60;
            PaintIonogram(painter, whole.rect(), sweep, options);
        }
        const auto shown = [&window] {
            return window.canvas->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        QTRY_VERIFY(shown() == whole);
    }

    void lastSweepShownWhereNewHasNoColumn() {
        IonogramWindow window;
        window.ShowSweep(WithEcho(), -1);
        // The next sweep, five minutes on: ten columns in, the rest still to come.
        IonogramSweep next = Sweep(20, std::nanf(""));
        next.startUtc = next.startUtc.addSecs(300);
        const float nextDb = 15;
        for (int step = 0; step < 10; ++step) {
            std::fill(next.snrDb[std::size_t(step)].begin(), next.snrDb[std::size_t(step)].end(),
                      nextDb);
        }
        window.ShowSweep(next, 10);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const IonogramLayout layout = LayoutOf(window, next);
        const QPoint echo = layout.CellRect(kEchoKhz, kEchoCell).center();
        QCOMPARE(PixelAt(window, echo), Viridis(1) & RGB_MASK);
        QCOMPARE(PointAt(window, echo),
                 QStringLiteral("7.300 MHz, delay 5.00 ms (1499 km), SNR 30.0 dB"));
        const QPoint fresh = layout.CellRect(2600, kEchoCell).center();
        QCOMPARE(PixelAt(window, fresh), Viridis(nextDb / kPaletteHighDb) & RGB_MASK);
        QCOMPARE(PointAt(window, fresh),
                 QStringLiteral("2.600 MHz, delay 5.00 ms (1499 km), SNR 15.0 dB"));
    }

    void scaledText_data() {
        QTest::addColumn<ScaledSweep>("scaled");
        QTest::addColumn<QString>("text");
        QTest::newRow("closed path") << ScaledSweep() << "no trace";
        QTest::newRow("one trace")
            << ScaledSweep{{Trace(1, 13450, 5.921)}} << "1: MOF 13.45 MHz, 5.92 ms";
        QTest::newRow("two traces") << ScaledSweep{{Trace(1, 13450, 5.92), Trace(2, 9804, 11.4)}}
                                    << "1: MOF 13.45 MHz, 5.92 ms;  2: MOF 9.80 MHz, 11.40 ms";
        // With the path known, each trace's mode; none for a trace that says nothing of it.
        ScaledSweep moded{{Trace(1, 13450, 5.92), Trace(2, 9804, 11.4)}};
        geo::PathLayer unknown;
        unknown.error = "too short";
        moded.geometry = SweepGeometry{{}, {geo::PathLayer{{}, "1F"}, unknown}};
        QTest::newRow("modes") << moded
                               << "1: 1F MOF 13.45 MHz, 5.92 ms;  2: MOF 9.80 MHz, 11.40 ms";
    }
    void scaledText() {
        QFETCH(ScaledSweep, scaled);
        QFETCH(QString, text);
        QCOMPARE(IonogramWindow::ScaledText(scaled), text);
    }

    void scaledValuesShownAndMofsMarked() {
        IonogramWindow window;
        const IonogramSweep sweep = WithEcho();
        window.ShowSweep(sweep, -1);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.scaledValues->text(),
                 QStringLiteral("Scaled values follow when the sweep is complete."));
        const IonogramLayout layout = LayoutOf(window, sweep);
        const int belowAxis = layout.plot.bottom() + window.fontMetrics().height() / 2;
        const QPoint mark(int(std::lround(layout.XOf(7.35))), belowAxis);
        QVERIFY(PixelAt(window, mark) != IonogramWindow::kMofMarkColour);

        IonogramSweep other = sweep;
        other.startUtc = other.startUtc.addSecs(300);
        window.ShowScaled(other, ScaledSweep{{Trace(1, 20000, 9)}}); // not the sweep shown
        QCOMPARE(window.scaledValues->text(),
                 QStringLiteral("Scaled values follow when the sweep is complete."));
        const ScaledSweep scaled{{Trace(1, 7350, 5), Trace(2, 12000, 10)}};
        window.ShowScaled(sweep, scaled);
        QCOMPARE(window.scaledValues->text(), IonogramWindow::ScaledText(scaled));
        QCOMPARE(PixelAt(window, mark), IonogramWindow::kMofMarkColour);
        QCOMPARE(PixelAt(window, QPoint(int(std::lround(layout.XOf(12))), belowAxis)),
                 IonogramWindow::kMofMarkColour);
    }

    void pagesThroughTheDaysArchive() {
        QTemporaryDir dir;
        // The day's sweeps at 10:15, 10:20 (a trace to 8.1 MHz), 10:25, a damaged table at
        // 10:27, the live one at 10:30 (archived too), and one of the day after.
        for (const IonogramSweep& archived :
             {WithTrace(0, 0), WithTrace(5, 8100), WithTrace(10, 0), WithTrace(15, 0)}) {
            QVERIFY(WriteArchive(archived, dir.path()).IsOk());
        }
        IonogramSweep nextDay = WithTrace(0, 0);
        nextDay.startUtc = nextDay.startUtc.addDays(1);
        QVERIFY(WriteArchive(nextDay, dir.path()).IsOk());
        QFile damaged(dir.filePath("20261207-102700Z-c78.csv.gz"));
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write("not gzip") > 0);
        damaged.close();

        IonogramWindow window;
        window.SetArchiveFolder(dir.path());
        const IonogramSweep live = WithTrace(15, 0);
        window.ShowSweep(live, -1);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(!window.nextButton->isEnabled());

        const QString title = QStringLiteral("Ionogram, chirp time 78 s, test, sweep from "
                                             "2026-12-07 %1 UTC");
        QTest::keyClick(&window, Qt::Key_PageUp);
        QCOMPARE(window.windowTitle(), title.arg("10:25:20"));
        QCOMPARE(window.paging->text(),
                 QStringLiteral("Archived sweep 3 of 5 on 2026-12-07. Not readable (damaged, "
                                "or not an ionogram table): %1.")
                     .arg(QDir::toNativeSeparators(damaged.fileName())));
        QCOMPARE(window.scaledValues->text(), QStringLiteral("no trace"));

        // A sweep arriving meanwhile is kept for later, not shown.
        window.ShowSweep(WithTrace(20, 0), 3);
        QCOMPARE(window.windowTitle(), title.arg("10:25:20"));

        QTest::keyClick(&window, Qt::Key_PageUp);
        QCOMPARE(window.windowTitle(), title.arg("10:20:20"));
        QCOMPARE(window.scaledValues->text(), QStringLiteral("1: MOF 8.15 MHz, 5.00 ms"));
        QCOMPARE(window.paging->text(), QStringLiteral("Archived sweep 2 of 5 on 2026-12-07."));
        // The archived trace is painted (one cell: less than a pixel high at this size).
        const IonogramLayout layout = LayoutOf(window, live);
        const QImage painted = window.canvas->grab().toImage();
        const QRect cell = layout.CellRect(7500, kEchoCell);
        bool tracePainted = false;
        for (int y = cell.top() - 1; y <= cell.bottom() + 1; ++y) {
            tracePainted |=
                (painted.pixel(cell.center().x(), y) & RGB_MASK) == (Viridis(1) & RGB_MASK);
        }
        QVERIFY(tracePainted);

        QTest::keyClick(&window, Qt::Key_PageUp);
        QTest::keyClick(&window, Qt::Key_PageUp);
        QCOMPARE(window.windowTitle(), title.arg("10:15:20"));
        QCOMPARE(window.paging->text(),
                 QStringLiteral("No earlier sweep archived on 2026-12-07 in %1.")
                     .arg(QDir::toNativeSeparators(dir.path())));

        window.nextButton->click();
        QCOMPARE(window.windowTitle(), title.arg("10:20:20"));
        QTest::keyClick(&window, Qt::Key_End);
        QCOMPARE(window.windowTitle(), title.arg("10:35:20"));
        QCOMPARE(window.paging->text(),
                 QStringLiteral("Latest sweep. Page Up: archived sweeps of the day."));
        QCOMPARE(window.scaledValues->text(),
                 QStringLiteral("Scaled values follow when the sweep is complete."));
    }

    void sounderTabs_chooseTheSounderShown_keptWhileOthersArrive() {
        QTemporaryDir dir;
        IonogramWindow window;
        window.SetArchiveFolder(dir.path());
        window.SetSounders({QStringLiteral("A")});
        QVERIFY(window.sounderTabs->isHidden()); // one sounder: as from the single profile
        window.SetSounders({QStringLiteral("A"), QStringLiteral("B-2")});
        QVERIFY(!window.sounderTabs->isHidden());
        QCOMPARE(window.sounderTabs->count(), 2);

        IonogramSweep a = WithEcho();
        a.sounder = QStringLiteral("A");
        IonogramSweep b = Sweep(25, 0);
        b.sounder = QStringLiteral("B-2");
        IonogramSweep other = WithEcho();
        other.sounder = QStringLiteral("not followed");
        other.startUtc = other.startUtc.addSecs(60);
        // Each archived under its own name; B-2's twice ("-" in a name does not confuse them).
        for (const IonogramSweep& archived : {a, b, Sweep(5, 0)}) {
            IonogramSweep named = archived;
            named.sounder = named.sounder.isEmpty() ? b.sounder : named.sounder;
            QVERIFY(WriteArchive(named, dir.path(), true).IsOk());
        }
        window.ShowSweep(a, -1);
        window.ShowSweep(b, 3);
        window.ShowSweep(other, 3);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QString titleA = IonogramTitle(a);
        const QPoint echo = LayoutOf(window, a).CellRect(kEchoKhz, kEchoCell).center();
        QCOMPARE(window.ShownSounder(), QStringLiteral("A"));
        QCOMPARE(window.windowTitle(), titleA);
        QCOMPARE(PixelAt(window, echo), Viridis(1) & RGB_MASK);

        QTest::keyClick(&window, Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(window.windowTitle(), IonogramTitle(b));
        QCOMPARE(PixelAt(window, echo), Viridis(0) & RGB_MASK);
        // A's sweep scaled and its next sweep coming in leave B-2 on screen.
        window.ShowScaled(a, ScaledSweep{{Trace(1, 7350, 5)}});
        IonogramSweep nextA = a;
        nextA.startUtc = nextA.startUtc.addSecs(300);
        window.ShowSweep(nextA, 1);
        QCOMPARE(window.windowTitle(), IonogramTitle(b));
        QCOMPARE(window.scaledValues->text(),
                 QStringLiteral("Scaled values follow when the sweep is complete."));
        // Paging keeps to B-2's tables.
        QTest::keyClick(&window, Qt::Key_PageUp);
        QCOMPARE(window.paging->text(), QStringLiteral("Archived sweep 1 of 2 on 2026-12-07."));
        QCOMPARE(window.windowTitle(), IonogramTitle(Sweep(5, 0)));

        // Back on A: its newest sweep, with the last one's echo where the new has no column.
        window.sounderTabs->setCurrentIndex(0);
        QCOMPARE(window.windowTitle(), IonogramTitle(nextA));
        QCOMPARE(window.paging->text(),
                 QStringLiteral("Latest sweep. Page Up: archived sweeps of the day."));
        QCOMPARE(PixelAt(window, echo), Viridis(1) & RGB_MASK);
        // B-2 no longer followed: its tab goes, A's choice stays.
        window.SetSounders({QStringLiteral("C"), QStringLiteral("A")});
        QCOMPARE(window.ShownSounder(), QStringLiteral("A"));
        QCOMPARE(window.windowTitle(), IonogramTitle(nextA));
    }
};

QTEST_MAIN(TestIonogramWindow)
#include "tst_ionogramwindow.moc"
