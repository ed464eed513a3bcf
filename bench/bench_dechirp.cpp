// Time the dechirp takes per ionogram column: one step's audio at 48 kHz (and 8 kHz) with a
// few modes and noise, through the analytic signal, the dechirp and the FFTs, onto the delay
// grid. The goal is at most 1 ms per column; the figure is printed, never judged.

#include "benchrow.h"
#include "ionogram/dechirp.h"
#include "simulation/simulatedionosphere.h"

#include <QElapsedTimer>
#include <QString>
#include <vector>

namespace {

constexpr int kColumns = 300; // about one sweep
constexpr double kChirpTime = 78;
constexpr double kDialKhz = 7000;

void Measure(double fs, double delayToMs) {
    using namespace ionogram;
    SimulatedIonosphere::Settings sky;
    sky.sampleRate = fs;
    sky.chirpTime = kChirpTime;
    sky.noiseRms = 0.01;
    sky.modes = {{3.2, 2000, 30000, 0.1, 0}, {7.5, 2000, 30000, 0.05, 0}};
    SimulatedIonosphere ionosphere(sky);
    const double crossing = sweep::CrossingInPeriod(SounderProfile{}, kChirpTime, kDialKhz);
    const double first = crossing - 0.5;
    std::vector<float> audio(static_cast<std::size_t>(fs)); // one second around the crossing
    ionosphere.Generate(kDialKhz, first, 1 / fs, audio);

    DechirpSettings settings;
    settings.sampleRate = fs;
    settings.delayToMs = delayToMs;
    QElapsedTimer planning;
    planning.start();
    DechirpColumn column(settings);
    const double planMs = planning.nsecsElapsed() / 1e6;

    std::vector<double> times;
    std::vector<float> snr;
    for (int i = 0; i < kColumns; ++i) {
        QElapsedTimer timer;
        timer.start();
        column.Compute(audio, first, 1 / fs, crossing, &snr);
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    const QString what =
        QString("dechirp per column, %1 kHz, delays 0-%2 ms").arg(fs / 1000).arg(delayToMs);
    bench::PrintRow(what,
                    QString("median %1 ms, 95% %2 ms")
                        .arg(bench::Median(times), 0, 'f', 3)
                        .arg(bench::Percentile(times, 0.95), 0, 'f', 3),
                    QString("%1 columns on synthetic audio; FFTW plans made once (%2 ms)")
                        .arg(kColumns)
                        .arg(planMs, 0, 'f', 0));
}

} // namespace

int main() {
    Measure(48000, 30);
    Measure(48000, 100);
    Measure(8000, 30);
    return 0;
}
