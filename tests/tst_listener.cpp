// Listening in the station: the radio parked and parked again after a reconnection, the
// detector fed the placed audio with its gaps, sounders-heard.csv rewritten as sounders are
// confirmed, and a list of frequencies listened to in turn.

#include "ionogram/soundersheard.h"
#include "simulation/simulatedionosphere.h"
#include "station/listener.h"
#include "support/recordingtuner.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace ionogram;

namespace {

constexpr double kMidnight = 1796601600; // 2026-12-07T00:00:00Z
constexpr double kListenKhz = 7000;

// The simulated band's audio around each crossing of a 60 s sounder at 500 kHz/s (chirp time
// 54, 3 ms of delay), as placed blocks of 20 ms; each window follows a gap.
void FeedCrossings(Listener* listener, int crossings) {
    SimulatedIonosphere::Settings sky;
    sky.noiseRms = 0.01;
    SimulatedSounder sounder;
    sounder.profile.sweepRate = 500;
    sounder.profile.period = 60;
    sounder.chirpTime = 54;
    sounder.modes = {{3, 2000, 30000, 0.1, 0}};
    sky.otherSounders = {sounder};
    sky.interferers = {{1000, 0.03}};
    SimulatedIonosphere ionosphere(sky);
    const double fs = sky.sampleRate;
    for (int k = 0; k < crossings; ++k) {
        const double crossing = kMidnight + 36000 + 60 * k + 54 + kListenKhz / 500;
        for (int b = 0; b < 100; ++b) { // 2 s
            PlacedBlock block;
            block.samples.resize(960);
            block.firstSampleTime = crossing - 1.5 + b * 0.02;
            block.sampleInterval = 1 / fs;
            block.afterGap = b == 0 && k > 0;
            ionosphere.Generate(kListenKhz, block.firstSampleTime, block.sampleInterval,
                                block.samples);
            listener->AudioPlaced(block);
        }
    }
}

} // namespace

class TestListener : public QObject {
    Q_OBJECT

private slots:
    void parked_atStartAndAgainOnReconnect() {
        RecordingTuner tuner;
        Listener listener;
        listener.SetTuner(&tuner);
        listener.Start({kListenKhz});
        QCOMPARE(tuner.tuned, std::vector<std::int32_t>{7000000});
        QCOMPARE(tuner.bands.back(), std::make_pair(7000000, 7000000));
        tuner.SetConnected(true);
        tuner.SetConnected(false);
        tuner.SetConnected(true);
        QCOMPARE(tuner.tuned, (std::vector<std::int32_t>{7000000, 7000000, 7000000}));
        listener.Stop();
        tuner.SetConnected(false);
        tuner.SetConnected(true);
        QCOMPARE(tuner.tuned.size(), std::size_t(3));
    }

    void soundersHeard_writtenAsTheyAreConfirmed() {
        QTemporaryDir dir;
        RecordingTuner tuner;
        Listener listener;
        listener.SetTuner(&tuner);
        listener.SetArchiveFolder(dir.path());
        QSignalSpy confirmed(&listener, &Listener::SounderConfirmed);
        QSignalSpy detected(&listener, &Listener::Detected);
        listener.Start({kListenKhz});
        const QString path = dir.filePath(kSoundersHeardFile);
        FeedCrossings(&listener, 2);
        QVERIFY(!QFile::exists(path));
        QCOMPARE(confirmed.count(), 0);
        FeedCrossings(&listener, 3);
        QCOMPARE(confirmed.count(), 1);
        QVERIFY(detected.count() >= 3);
        const auto sounder = confirmed.first().at(1).value<HeardSounder>();
        QCOMPARE(sounder.rateKhzPerS, 500.0);
        QCOMPARE(sounder.periodS, 60.0);
        QVERIFY2(std::abs(sounder.chirpTimeS - 54.003) < 0.002,
                 qPrintable(QString::number(sounder.chirpTimeS)));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QString(kSoundersHeardHeader));
        QVERIFY2(lines[1].startsWith("500,60,54.00") && lines[1].endsWith(",7000"),
                 qPrintable(lines[1]));
    }

    void frequencies_listenedToInTurn() {
        RecordingTuner tuner;
        Listener listener;
        listener.SetTuner(&tuner);
        listener.Start({7000, 10000.5});
        const double dwell = Listener::DwellSeconds({50, 82, 100, 125, 500});
        QCOMPARE(dwell, 576.0); // 28 MHz at 50 kHz/s take 560 s
        PlacedBlock block;
        block.samples.assign(960, 0.0f);
        block.sampleInterval = 1 / 48000.0;
        for (double t : {0.0, dwell - 1, dwell + 1, 2 * dwell + 2}) {
            block.firstSampleTime = kMidnight + t;
            listener.AudioPlaced(block);
        }
        QCOMPARE(tuner.tuned, (std::vector<std::int32_t>{7000000, 10000500, 7000000}));
        QCOMPARE(listener.Heard().size(), std::size_t(2));
    }
};

QTEST_GUILESS_MAIN(TestListener)
#include "tst_listener.moc"
