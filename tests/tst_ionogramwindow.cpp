// The live ionogram window: a strong echo is painted in the top colour of the palette where the
// layout puts its cell at any window size, pointing there reads its frequency, delay and SNR,
// and the last complete sweep stays on screen where the new one has no column yet.

#include "ionogram/ionogramimage.h"
#include "ui/ionogramwindow.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
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

IonogramLayout LayoutOf(IonogramWindow& window, const IonogramSweep& sweep) {
    return LayoutIonogram(window.canvas->rect(), window.canvas->fontMetrics().height(), sweep);
}

} // namespace

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
};

QTEST_MAIN(TestIonogramWindow)
#include "tst_ionogramwindow.moc"
