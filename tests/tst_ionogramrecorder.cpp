// The recorder's "ionogram complete" event: each sweep's ionogram is handed on once, with its
// sounder, and marked cut short when a clock jump, a new arming or the end of following ended it or
// most of its audio was missing. When saving, it is complete once its archive is written, which
// happens off the event loop that times the radio's steps.

#include "station/ionogramrecorder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <random>

using namespace ionogram;

namespace {

constexpr double kEpochNow = 1796637600 + 60; // 2026-12-07 10:01 UTC
constexpr double kFirstMark = 36098.5;        // seconds since UTC midnight
constexpr double kEpochFirstMark = kEpochNow - 60 + 98.5;
constexpr int kSteps = 3;
constexpr double kRate = IonogramRecorder::kSampleRate;

// Noise placed on the clock from `from` for `seconds` (epoch seconds), as the stream hands it on.
PlacedBlock Noise(double from, double seconds) {
    std::mt19937 random(3);
    std::normal_distribution<float> noise(0, 0.1f);
    PlacedBlock block;
    block.samples.resize(std::size_t(seconds * kRate));
    for (float& sample : block.samples) {
        sample = noise(random);
    }
    block.firstSampleTime = from;
    block.sampleInterval = 1 / kRate;
    return block;
}

} // namespace

class TestIonogramRecorder : public QObject {
    Q_OBJECT
private slots:
    void sweepComplete_data() {
        QTest::addColumn<QString>("end");   // how the sweep ends
        QTest::addColumn<double>("audioS"); // seconds of audio from just before the first mark
        QTest::addColumn<int>("usable");
        QTest::addColumn<bool>("cutShort");
        QTest::newRow("complete") << "complete" << 5.0 << 3 << false;
        QTest::newRow("audio for one column of three") << "complete" << 1.5 << 1 << true;
        QTest::newRow("ended by a new arming") << "rearmed" << 5.0 << 3 << true;
        QTest::newRow("clock jumped") << "clock" << 5.0 << 3 << true;
        QTest::newRow("no longer followed") << "ended" << 5.0 << 3 << true;
    }
    void sweepComplete() {
        QFETCH(QString, end);
        QFETCH(double, audioS);
        QFETCH(int, usable);
        QFETCH(bool, cutShort);
        IonogramRecorder recorder([] { return kEpochNow; });
        IonogramChoice choice;
        choice.audioInput = QStringLiteral("radio");
        choice.save = false;
        recorder.Configure(choice, sweep::Profile{});
        std::vector<IonogramSweep> complete;
        connect(&recorder, &IonogramRecorder::SweepComplete, this,
                [&complete](const IonogramSweep& sweep) { complete.push_back(sweep); });
        QStringList problems;
        connect(&recorder, &IonogramRecorder::Problem, this,
                [&problems](const QString& message) { problems << message; });

        recorder.SweepArmed(QStringLiteral("Cyprus"), kFirstMark, 78);
        recorder.SweepStarted(QStringLiteral("Cyprus"), kFirstMark);
        for (int k = 0; k < kSteps; ++k) {
            recorder.StepPlanned(2100000 + 100000 * k, kFirstMark + k);
            recorder.StepTuned(2100000 + 100000 * k, kFirstMark + k, true);
        }
        recorder.AudioPlaced(Noise(kEpochFirstMark - 0.5, audioS));
        if (end == QLatin1String("clock")) {
            recorder.ClockChanged();
            QCOMPARE(problems.size(), 1);
        } else if (end == QLatin1String("ended")) {
            QVERIFY(recorder.EndSweep());
            QVERIFY(!recorder.EndSweep()); // handed on once
        } else {
            recorder.SweepEnded(QStringLiteral("Cyprus"), end == QLatin1String("complete"));
            QVERIFY(complete.empty()); // its last column may still be waiting for audio
            // The next sweep starts before the wait is over: the last one is whole now.
            recorder.SweepArmed(QStringLiteral("Cyprus"), kFirstMark + 300, 78);
            recorder.SweepStarted(QStringLiteral("Cyprus"), kFirstMark + 300);
        }
        QCOMPARE(complete.size(), std::size_t(1));
        const IonogramSweep& sweep = complete.front();
        QCOMPARE(sweep.sounder, QStringLiteral("Cyprus"));
        QCOMPARE(sweep.chirpTime, 78.0);
        QCOMPARE(int(sweep.snrDb.size()), kSteps);
        QCOMPARE(int(std::count_if(sweep.snrDb.begin(), sweep.snrDb.end(), &IonogramSweep::Usable)),
                 usable);
        QCOMPARE(sweep.cutShort, cutShort);
    }

    void saved_completeOnceWrittenOffTheEventLoop() {
        QTemporaryDir dir;
        IonogramRecorder recorder([] { return kEpochNow; });
        IonogramChoice choice;
        choice.audioInput = QStringLiteral("radio");
        choice.folder = dir.path();
        recorder.Configure(choice, sweep::Profile{});
        recorder.NameArchivesBySounder(true);
        std::vector<IonogramSweep> complete;
        connect(&recorder, &IonogramRecorder::SweepComplete, this,
                [&complete](const IonogramSweep& sweep) { complete.push_back(sweep); });
        QStringList archived;
        connect(&recorder, &IonogramRecorder::Archived, this,
                [&archived](const QString& png) { archived << png; });

        recorder.SweepArmed(QStringLiteral("Far"), kFirstMark, 78);
        recorder.SweepStarted(QStringLiteral("Far"), kFirstMark);
        recorder.StepPlanned(2100000, kFirstMark);
        recorder.StepTuned(2100000, kFirstMark, true);
        recorder.AudioPlaced(Noise(kEpochFirstMark - 0.5, 1.5));
        recorder.ClockChanged();   // ends the sweep at once
        QVERIFY(complete.empty()); // the writing has not held up the caller
        QTRY_COMPARE(complete.size(), std::size_t(1));
        QCOMPARE(archived.size(), 1);
        QVERIFY(archived[0].endsWith(QStringLiteral("Z-c78-Far.png")));
        QVERIFY(QFile::exists(archived[0]));
        QVERIFY(QFile::exists(archived[0].chopped(4) + QStringLiteral(".csv.gz")));
    }
};

QTEST_GUILESS_MAIN(TestIonogramRecorder)
#include "tst_ionogramrecorder.moc"
