// How long the work at the end of a sweep takes on the thread it runs on: writing the archive
// (the table and the picture) and scaling the sweep into the day file and redrawing the day plot.
// While several sounders are followed, the plan's slots of the others come due meanwhile: work
// on the event loop's thread longer than a slot's tuning margin loses their columns. A 2 to 30
// MHz sweep of noise over 0 to 20 ms (280 columns), a day file growing to 576 sweeps (two
// sounders every 300 s). Wall-clock times, medians and largest of kRuns; printed, never judged.

#include "benchrow.h"
#include "ionogram/archive.h"
#include "ionogram/dayfile.h"
#include "ionogram/dayplot.h"
#include "ionogram/scaler.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <chrono>
#include <random>

using namespace ionogram;

namespace {

constexpr int kRuns = 12;
constexpr int kDaySweeps = 576;

double Ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

IonogramSweep NoiseSweep(std::mt19937& random, const QDateTime& start) {
    IonogramSweep sweep;
    sweep.sounder = QStringLiteral("Cyprus");
    sweep.chirpTime = 78;
    sweep.profile = QStringLiteral("100 kHz/s, 2-30 MHz, 100 kHz steps, every 300 s");
    sweep.startUtc = start;
    sweep.lowKhz = 2000;
    sweep.highKhz = 30000;
    std::exponential_distribution<float> power(1);
    for (double khz = 2100; khz <= 30000; khz += 100) {
        sweep.frequenciesKhz.push_back(khz);
        std::vector<float> row(std::size_t(sweep.DelayCount()));
        for (float& cell : row) {
            cell = 10 * std::log10(power(random));
        }
        sweep.snrDb.push_back(row);
    }
    return sweep;
}

void Row(const QString& what, const std::vector<double>& ms) {
    bench::PrintRow(
        what,
        QStringLiteral("median %1 ms, largest %2 ms")
            .arg(bench::Median(ms), 0, 'f', 1)
            .arg(*std::max_element(ms.begin(), ms.end()), 0, 'f', 1),
        QStringLiteral("bench_archive: %1 runs, wall clock, offscreen platform").arg(kRuns));
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    std::mt19937 random(19);
    const QDateTime day(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
    // The day so far: all but the last kRuns sweeps scaled already.
    for (int i = 0; i < kDaySweeps - kRuns; ++i) {
        ScaledSweep scaled;
        ScaledTrace trace;
        trace.number = 1;
        trace.mofKhz = 9000 + 30 * (i % 100);
        trace.minDelayMs = 5;
        scaled.traces.push_back(trace);
        AppendDayFile(dir.path(), day.addSecs(150 * i), QStringLiteral("Cyprus"), scaled);
    }
    std::vector<double> archive, scale, dayRecord;
    for (int run = 0; run < kRuns; ++run) {
        const IonogramSweep sweep =
            NoiseSweep(random, day.addSecs(150 * (kDaySweeps - kRuns + run)));
        auto start = std::chrono::steady_clock::now();
        if (!WriteArchive(sweep, dir.path(), true).IsOk()) {
            bench::Note(QStringLiteral("the archive could not be written"));
            return 1;
        }
        archive.push_back(Ms(start));
        start = std::chrono::steady_clock::now();
        const ScaledSweep scaled = ScaleSweep(sweep);
        scale.push_back(Ms(start));
        start = std::chrono::steady_clock::now();
        AppendDayFile(dir.path(), sweep.startUtc, sweep.sounder, scaled);
        WriteDayPlot(dir.path(), sweep.startUtc.date(), 1);
        dayRecord.push_back(Ms(start));
    }
    Row(QStringLiteral("archive of one sweep (table and picture)"), archive);
    Row(QStringLiteral("scaling one sweep"), scale);
    Row(QStringLiteral("day file row and day plot, %1 sweeps in the day").arg(kDaySweeps),
        dayRecord);
    return 0;
}
