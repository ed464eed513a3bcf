// A simulated day of two sounders scaled into a day file and its day plot: every ten minutes a
// sweep of each through the real dechirp and the scaler, over an F layer whose critical
// frequency rises in the morning and falls at night. Makes the picture of the day plot in docs/.
//
//   tavmirok-simulated-day FOLDER [IARU_REGION]

#include "ionogram/dayfile.h"
#include "ionogram/dayplot.h"
#include "ionogram/scaler.h"
#include "testkit/syntheticsweep.h"

#include <QDate>
#include <QGuiApplication>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr double kSampleRate = 48000;
constexpr double kChirpTime = 78;
constexpr double kNoiseRms = 0.01;
constexpr int kMinutesApart = 10;
constexpr int kMinutesPerDay = 24 * 60;
const QDate kDay(2026, 12, 7);

// The F layer's critical frequency at hours UTC: a night floor, a day hump from 06 to 20 UTC.
double CriticalKhz(double hours) {
    constexpr double kNightKhz = 2800;
    constexpr double kDayRiseKhz = 5200;
    constexpr double kSunrise = 6;
    constexpr double kDayLength = 14;
    const double x = (hours - kSunrise) / kDayLength;
    return kNightKhz +
           (x > 0 && x < 1 ? kDayRiseKhz * std::pow(std::sin(std::numbers::pi * x), 1.5) : 0);
}

struct Path {
    const char* sounder;
    double rangeKm;
    double amplitude;
};
constexpr Path kPaths[] = {{"Cyprus", 2400, 0.03}, {"300:78", 900, 0.05}};

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv); // fonts for the plot's text (QT_QPA_PLATFORM=offscreen)
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FOLDER [IARU_REGION]\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const int region = argc > 2 ? std::atoi(argv[2]) : ionogram::kDefaultIaruRegion;
    SyntheticSweeps sweeps(kSampleRate, kChirpTime, kNoiseRms);
    std::uint32_t seed = 1;
    for (int minute = 0; minute < kMinutesPerDay; minute += kMinutesApart) {
        for (const Path& path : kPaths) {
            const double hours = minute / 60.0;
            const ionogram::IonosphericLayer layer{CriticalKhz(hours), 300, 100,
                                                   path.rangeKm,       1,   path.amplitude};
            const ionogram::ScaledSweep scaled = ionogram::ScaleSweep(sweeps.Make({layer}, seed++));
            const QDateTime start(kDay, QTime(0, 0).addSecs(minute * 60), Qt::UTC);
            const Status written = ionogram::AppendDayFile(folder, start, path.sounder, scaled);
            if (!written.IsOk()) {
                std::fprintf(stderr, "%s\n", qPrintable(written.Message()));
                return 1;
            }
            std::printf("%s %s model MOF %.0f kHz, scaled %s\n",
                        qPrintable(start.toString(Qt::ISODate)), path.sounder,
                        ionogram::LayerMofKhz(layer),
                        scaled.traces.empty()
                            ? "no trace"
                            : qPrintable(QString::number(scaled.traces[0].mofKhz, 'f', 0)));
        }
    }
    const Status plotted = ionogram::WriteDayPlot(folder, kDay, region);
    if (!plotted.IsOk()) {
        std::fprintf(stderr, "%s\n", qPrintable(plotted.Message()));
        return 1;
    }
    return 0;
}
