// The Hamlib backend driving the simulated IC-7300 through the Hamlib library itself, a model
// that cannot be opened, closing while Hamlib waits for a silent radio, and the model list.

#include "rig/hamlibmodels.h"
#include "rig/hamlibtuner.h"
#include "support/radiosimprocess.h"
#include "testkit/tunerecorder.h"

#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

namespace {

constexpr int kIc7300 = 3073;
constexpr int kSimAddress = 0x4E; // not the IC-7300's default 94: civaddr must reach Hamlib
constexpr int kWaitMs = 10000;

} // namespace

class TestHamlib : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void models_listEveryMakerAndModel() {
        const QList<HamlibModel> models = HamlibModels();
        const auto ic7300 = std::find_if(models.begin(), models.end(),
                                         [](const HamlibModel& m) { return m.number == kIc7300; });
        QVERIFY(ic7300 != models.end());
        QCOMPARE(ic7300->Label(), QString("Icom IC-7300 (3073)"));
        QVERIFY(std::is_sorted(models.begin(), models.end(), [](const auto& a, const auto& b) {
            return a.maker.compare(b.maker, Qt::CaseInsensitive) < 0;
        }));
        QCOMPARE(FindHamlibModel(kIc7300).model, QString("IC-7300"));
        QVERIFY(FindHamlibModel(-1).model.isEmpty());
    }

    void direct_tunesTheSimulatedIc7300() {
        RadioSimProcess radio;
        const QString device =
            radio.Start({QStringLiteral("--address"), QString::number(kSimAddress, 16)});
        QVERIFY2(!device.isEmpty(), qPrintable(radio.ErrorString()));
        HamlibTuner tuner(kIc7300, {device, QStringLiteral("19200"), kSimAddress});
        TuneRecorder recorder(tuner);
        QVERIFY(tuner.Connect().IsOk());
        QVERIFY2(WaitForConnected(tuner, kWaitMs), qPrintable(recorder.problems.join('\n')));

        const QList<std::int32_t> steps{2100000, 2200000, 2300000};
        for (int i = 0; i < steps.size(); ++i) {
            const TuneResult result = recorder.TuneAndWait(i + 1, steps[i], kWaitMs);
            QVERIFY2(result.outcome == TuneOutcome::Reached, qPrintable(result.message));
        }
        QTRY_COMPARE_WITH_TIMEOUT(recorder.display.value(recorder.display.size() - 1),
                                  QString("2,300.000"), kWaitMs);
        QVERIFY(recorder.problems.isEmpty());
        tuner.Shutdown();
        const QList<std::int32_t> sets = SetFrequencyFramesIn(radio.LogLines());
        QVERIFY(sets.size() >= steps.size());
        QCOMPARE(sets.sliced(sets.size() - steps.size()), steps);
    }

    // The interface goes away (unplugged, radio off) and comes back under the same name.
    void lostDevice_isOpenedAgain() {
        RadioSimProcess radio;
        QTemporaryDir folder;
        const QString link = folder.filePath(QStringLiteral("radio"));
        QVERIFY(!radio
                     .Start({QStringLiteral("--address"), QString::number(kSimAddress, 16),
                             QStringLiteral("--link"), link})
                     .isEmpty());
        HamlibTuner tuner(kIc7300, {link, QStringLiteral("19200"), kSimAddress});
        TuneRecorder recorder(tuner);
        QVERIFY(tuner.Connect().IsOk());
        QVERIFY(WaitForConnected(tuner, kWaitMs));
        QCOMPARE(recorder.TuneAndWait(1, 2100000, kWaitMs).outcome, TuneOutcome::Reached);

        QVERIFY(radio.Command(QStringLiteral("vanish 1000")).startsWith("ok"));
        const TuneResult lost = recorder.TuneAndWait(2, 2200000, kWaitMs);
        QCOMPARE(lost.outcome, TuneOutcome::Failed);
        QCOMPARE(recorder.problems.size(), 1);
        QVERIFY2(recorder.problems[0].contains("went away"), qPrintable(recorder.problems[0]));
        QVERIFY(!tuner.State().connected);
        QVERIFY(WaitForConnected(tuner, kWaitMs));
        QCOMPARE(recorder.TuneAndWait(3, 2300000, kWaitMs).outcome, TuneOutcome::Reached);
        QCOMPARE(recorder.problems.size(), 1);
    }

    void openFailure_isToldWithItsReasonAndWhatToCheck() {
        HamlibTuner tuner(kIc7300,
                          {QStringLiteral("/dev/no-such-radio"), QStringLiteral("19200"), 0});
        TuneRecorder recorder(tuner);
        QVERIFY(tuner.Connect().IsOk());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.problems.size(), 1, kWaitMs);
        const QString told = recorder.problems[0];
        QVERIFY2(told.startsWith(
                     "Hamlib could not open the Icom IC-7300 (Hamlib model 3073) on "
                     "/dev/no-such-radio at 19200 bit/s: there is no such device (IO error). "),
                 qPrintable(told));
        QVERIFY2(told.contains("Check that the model is your radio's"), qPrintable(told));
        QVERIFY(tuner.State().reconnecting);
        QCOMPARE(recorder.TuneAndWait(1, 2100000, kWaitMs).outcome, TuneOutcome::Failed);
        QVERIFY(recorder.results[0].message.contains("is not open"));
    }

    void unknownModel_isRefusedAtOnce() {
        HamlibTuner tuner(-1, {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("19200"), 0});
        TuneRecorder recorder(tuner);
        const Status status = tuner.Connect();
        QVERIFY(!status.IsOk());
        QVERIFY(status.Message().contains("Hamlib does not know a model -1"));
        QCOMPARE(recorder.problems, QStringList{status.Message()});
    }

    // Hamlib waits for a radio that never answers; closing does not wait with it.
    // A second connection to a device whose rig is still open (a worker left behind, or another
    // tuner still there) does not open the port twice: it says so, and connects once the first
    // has let go.
    void secondConnection_waitsForTheFirstToLetGo() {
        RadioSimProcess radio;
        const QString device =
            radio.Start({QStringLiteral("--address"), QString::number(kSimAddress, 16)});
        QVERIFY2(!device.isEmpty(), qPrintable(radio.ErrorString()));
        HamlibTuner first(kIc7300, {device, QStringLiteral("19200"), kSimAddress});
        QVERIFY(first.Connect().IsOk());
        QVERIFY(WaitForConnected(first, kWaitMs));
        HamlibTuner second(kIc7300, {device, QStringLiteral("19200"), kSimAddress});
        TuneRecorder recorder(second);
        QVERIFY(second.Connect().IsOk());
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.problems.isEmpty(),
                                 int(HamlibTuner::kLetGoWait.count()) + kWaitMs);
        QVERIFY2(recorder.problems.constFirst().contains(QStringLiteral("has not let go")),
                 qPrintable(recorder.problems.constFirst()));
        QVERIFY(!second.State().connected);
        first.Shutdown();
        QVERIFY2(WaitForConnected(second, int(HamlibTuner::kReopenInterval.count()) + kWaitMs),
                 qPrintable(recorder.problems.join('\n')));
    }

    void shutdown_leavesAWorkerInsideACallBehind() {
        RadioSimProcess radio;
        const QString device = radio.Start({QStringLiteral("--silent")});
        QVERIFY2(!device.isEmpty(), qPrintable(radio.ErrorString()));
        HamlibTuner tuner(kIc7300, {device, QStringLiteral("19200"), kSimAddress});
        TuneRecorder recorder(tuner);
        QVERIFY(tuner.Connect().IsOk());
        QVERIFY(radio.WaitForFramesReceived(1)); // rig_open is talking to the radio
        tuner.Tune(1, 2100000);
        tuner.Shutdown();
        QCOMPARE(recorder.results.size(), 1);
        QCOMPARE(recorder.results[0].outcome, TuneOutcome::Failed);
        QCOMPARE(tuner.State().connected, false);
    }
};

QTEST_MAIN(TestHamlib)
#include "tst_hamlib.moc"
