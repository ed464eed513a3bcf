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

// The k-th step of the default profile's sweep from kFirstMark, as a scheduler tells it: tuned at
// its mark, crossed half a step (0.5 s) later.
sweep::SlotTuning Step(int k, bool reached = true) {
    return sweep::SlotTuning{quint64(100 + k),     QStringLiteral("Cyprus"), 2100000 + 100000 * k,
                             kFirstMark + k + 0.5, kFirstMark + k,           reached};
}

// Records the default profile's sweeps, unsaved; each complete one lands in `complete`.
void RecordWithoutSaving(IonogramRecorder& recorder, std::vector<IonogramSweep>* complete) {
    IonogramChoice choice;
    choice.audioInput = QStringLiteral("radio");
    choice.save = false;
    recorder.Configure(choice, sweep::Profile{});
    QObject::connect(&recorder, &IonogramRecorder::SweepComplete,
                     [complete](const IonogramSweep& sweep) { complete->push_back(sweep); });
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
        std::vector<IonogramSweep> complete;
        RecordWithoutSaving(recorder, &complete);
        QStringList problems;
        connect(&recorder, &IonogramRecorder::Problem, this,
                [&problems](const QString& message) { problems << message; });

        recorder.SweepArmed(QStringLiteral("Cyprus"), kFirstMark, 78);
        recorder.SweepStarted(QStringLiteral("Cyprus"), kFirstMark);
        for (int k = 0; k < kSteps; ++k) {
            recorder.StepPlanned(Step(k));
            recorder.StepTuned(Step(k));
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

    // Two slots the sweep crosses at the same instant (fine steps of two frequencies, or
    // instants equal to the last bit): each outcome reaches its own column, in either order.
    void outcome_reachesItsOwnColumn_data() {
        QTest::addColumn<bool>("reversed"); // the second slot's outcome is told first
        QTest::newRow("told in order") << false;
        QTest::newRow("told reversed") << true;
    }
    void outcome_reachesItsOwnColumn() {
        QFETCH(bool, reversed);
        IonogramRecorder recorder([] { return kEpochNow; });
        std::vector<IonogramSweep> complete;
        RecordWithoutSaving(recorder, &complete);

        recorder.SweepStarted(QStringLiteral("Cyprus"), kFirstMark);
        const sweep::SlotTuning reached = Step(0);
        sweep::SlotTuning missed = Step(1, false);
        missed.crossing = reached.crossing;
        recorder.StepPlanned(reached);
        recorder.StepPlanned(missed);
        recorder.StepTuned(reversed ? missed : reached);
        recorder.StepTuned(reversed ? reached : missed);
        recorder.AudioPlaced(Noise(kEpochFirstMark - 0.5, 3));
        QVERIFY(recorder.EndSweep());

        QCOMPARE(complete.size(), std::size_t(1));
        const std::vector<std::vector<float>>& columns = complete.front().snrDb;
        QCOMPARE(columns.size(), std::size_t(2));
        QVERIFY(IonogramSweep::Usable(columns[0]));
        QVERIFY(!IonogramSweep::Usable(columns[1]));
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
        recorder.StepPlanned(Step(0));
        recorder.StepTuned(Step(0));
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
