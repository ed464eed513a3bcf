// How long the live ionogram takes to paint, which is how long a paint can hold up the event loop
// that times the radio's tuning: a whole 2-30 MHz sweep (280 columns of 0-20 ms) painted afresh,
// against the last picture only stretched to a new size, as the window does while it is being
// resized. Painted into images at a window's sizes, on the offscreen platform.

#include "benchrow.h"
#include "ionogram/ionogram.h"
#include "ionogram/ionogramimage.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <random>

namespace {

constexpr int kSteps = 280;
constexpr double kLowKhz = 2000;
constexpr double kStepKhz = 100;
constexpr int kRepeats = 40;
constexpr QSize kSizes[] = {{900, 600}, {1200, 800}, {1700, 1100}};

ionogram::IonogramSweep NoiseSweep() {
    ionogram::IonogramSweep sweep;
    sweep.sounder = QStringLiteral("bench");
    sweep.startUtc = QDateTime(QDate(2026, 12, 7), QTime(10, 15), Qt::UTC);
    std::mt19937 random(7);
    std::exponential_distribution<float> noise(1.0f);
    for (int step = 0; step < kSteps; ++step) {
        sweep.frequenciesKhz.push_back(kLowKhz + kStepKhz * (step + 1));
        std::vector<float> row(std::size_t(sweep.DelayCount()));
        for (float& cell : row) {
            cell = 10 * std::log10(noise(random) + 1e-3f); // dB over the column's median
        }
        sweep.snrDb.push_back(std::move(row));
    }
    return sweep;
}

template <typename Paint> std::vector<double> TimeMs(Paint paint) {
    std::vector<double> ms;
    for (int i = 0; i < kRepeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        paint();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    return ms;
}

QString Figures(const std::vector<double>& ms) {
    return QStringLiteral("median %1 ms, p95 %2 ms")
        .arg(bench::Percentile(ms, 0.5), 0, 'f', 2)
        .arg(bench::Percentile(ms, 0.95), 0, 'f', 2);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const ionogram::IonogramSweep sweep = NoiseSweep();
    ionogram::IonogramPaintOptions options;
    options.receivingColumn = kSteps - 1;
    const QString method = QStringLiteral("%1 columns of %2 cells, %3 paints into an RGB32 image")
                               .arg(kSteps)
                               .arg(sweep.DelayCount())
                               .arg(kRepeats);
    for (const QSize size : kSizes) {
        QImage target(size, QImage::Format_RGB32);
        const QString at = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        bench::PrintRow(QStringLiteral("Live ionogram painted whole, %1").arg(at),
                        Figures(TimeMs([&] {
                            QPainter painter(&target);
                            ionogram::PaintIonogram(painter, target.rect(), sweep, options);
                        })),
                        method);
        QImage last(size - QSize(40, 30), QImage::Format_RGB32);
        {
            QPainter painter(&last);
            ionogram::PaintIonogram(painter, last.rect(), sweep, options);
        }
        bench::PrintRow(QStringLiteral("Live ionogram stretched while resizing, %1").arg(at),
                        Figures(TimeMs([&] {
                            QPainter painter(&target);
                            painter.drawImage(target.rect(), last);
                        })),
                        QStringLiteral("the last picture, 40x30 pixels smaller, drawn to the "
                                       "new size; %1 paints")
                            .arg(kRepeats));
    }
    return 0;
}
