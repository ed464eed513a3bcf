// Audio capture from a private PulseAudio server: a ramp written into a pipe source in real time
// comes out whole and in order, each block stamped after it was written and before it reached
// the owner; an input that cannot be opened is reported with advice; a stalled capture stops;
// the stream over it says once that an input which failed delivers sound again; a resting
// stream holds nothing open, and the station rests its input while the next sweep is far.

#include "ionogram/audiocapture.h"
#include "ionogram/audiostream.h"
#include "station/station.h"
#include "support/pulseserver.h"

#include <QScopeGuard>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace ionogram;

namespace {

constexpr int kRate = 48000;
constexpr int kBlock = 960; // 20 ms, written when its last sample is due
constexpr double kBlockSeconds = double(kBlock) / kRate;
constexpr int kRampBlocks = 75; // 1.5 s
constexpr int kRampPeriod = 30000;
constexpr int kWaitMs = 20000;
constexpr int kLeadInLimit = 500; // blocks of silence before the capture must have begun

double Now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

qint16 RampValue(int index) {
    return qint16(index % kRampPeriod + 1); // never 0, so silence before it is told apart
}

// Writes silence into the FIFO in real time until told to begin, then kRampBlocks of the ramp,
// noting when each ramp block was written.
struct RampWriter {
    std::atomic<bool> begin{false};
    std::atomic<bool> quit{false};
    std::vector<double> written = std::vector<double>(kRampBlocks, 0);
    int rampBlocks = 0;
    bool failed = false;
    // While no stream records from it the source may stop reading its FIFO: a writer for a
    // resting stream drops what does not fit, as the simulated radio does, instead of blocking.
    bool dropWhenFull = false;

    void Run(const QString& fifo) {
        const int fd =
            ::open(fifo.toLocal8Bit().constData(), O_WRONLY | (dropWhenFull ? O_NONBLOCK : 0));
        if (fd < 0) {
            failed = true;
            return;
        }
        const double start = Now();
        std::vector<qint16> block(kBlock);
        for (int n = 0; n < kLeadInLimit + kRampBlocks && rampBlocks < kRampBlocks && !quit; ++n) {
            const double due = start + (n + 1) * kBlockSeconds;
            std::this_thread::sleep_for(std::chrono::duration<double>(due - Now()));
            const bool ramp = begin;
            for (int k = 0; k < kBlock; ++k) {
                block[std::size_t(k)] = ramp ? RampValue(rampBlocks * kBlock + k) : 0;
            }
            if (ramp) {
                written[std::size_t(rampBlocks++)] = Now();
            }
            const qint64 written = ::write(fd, block.data(), sizeof(qint16) * kBlock);
            if (written < 0 && errno == EAGAIN && dropWhenFull) {
                continue;
            }
            if (written != qint64(sizeof(qint16) * kBlock)) {
                failed = true;
                break;
            }
        }
        ::close(fd);
    }
};

} // namespace

class TestAudioCapture : public QObject {
    Q_OBJECT
    std::unique_ptr<PulseServer> pulse;
    QString fifo;

    // A pipe source loaded as a module of its own, to be unloaded by its index.
    bool LoadPipeSource(const QString& name, const QString& file, QString* index, QString* error) {
        return pulse->Pactl({QStringLiteral("load-module"), QStringLiteral("module-pipe-source"),
                             QStringLiteral("source_name=") + name, QStringLiteral("file=") + file,
                             QStringLiteral("format=s16le"), QStringLiteral("rate=48000"),
                             QStringLiteral("channels=1")},
                            error, index);
    }

private slots:
    void initTestCase() {
        if (!PulseServer::Installed()) {
            QSKIP("pulseaudio and pactl are not installed");
        }
        pulse = std::make_unique<PulseServer>();
        QString error;
        QVERIFY2(pulse->Start(&error), qPrintable(error));
        // An output first, so its monitor comes before the radio in the server's own order.
        QVERIFY2(pulse->Pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                               QStringLiteral("sink_name=speakers")},
                              &error),
                 qPrintable(error));
        fifo = pulse->FilePath(QStringLiteral("radio.fifo"));
        QVERIFY2(pulse->AddPipeSource(QStringLiteral("radio"), fifo, kRate, &error),
                 qPrintable(error));
    }

    void cleanupTestCase() { pulse.reset(); }

    void inputsListedWithMonitorsLast() {
        const std::vector<AudioInput> inputs = ListAudioInputs();
        auto position = [&inputs](const QString& id) {
            return std::find_if(inputs.begin(), inputs.end(),
                                [&id](const AudioInput& input) { return input.id == id; }) -
                   inputs.begin();
        };
        const auto radio = position(QStringLiteral("radio"));
        const auto monitor = position(QStringLiteral("speakers.monitor"));
        QCOMPARE(inputs.size(), std::size_t(2));
        QVERIFY(radio < monitor && monitor < 2);
        QVERIFY(inputs[std::size_t(radio)].description.contains(fifo));
    }

    void rampArrivesWholeAndStampedInOrder() {
        AudioCapture capture;
        QVector<qint16> ramp; // samples from the ramp's first on
        struct Block {
            qsizetype end; // one past its last sample in ramp
            double arrival;
            double handed;
        };
        std::vector<Block> blocks;
        RampWriter writer;
        connect(&capture, &AudioCapture::Audio, this,
                [&](const QVector<qint16>& samples, double arrival) {
                    const double handed = Now();
                    writer.begin = true; // the capture runs: the ramp may begin
                    for (qint16 sample : samples) {
                        if (!ramp.isEmpty() || sample != 0) {
                            ramp.append(sample);
                        }
                    }
                    if (!ramp.isEmpty()) {
                        blocks.push_back({ramp.size(), arrival, handed});
                    }
                });
        QStringList failed;
        connect(&capture, &AudioCapture::Failed, this,
                [&failed](const Status& status) { failed << status.Message(); });
        capture.Start(QStringLiteral("radio"), kRate);
        std::thread thread([&writer, this] { writer.Run(fifo); });
        // All but the last two fragments, which the server may still hold when the writer ends.
        const qsizetype expected = qsizetype(kRampBlocks - 2) * kBlock;
        QTRY_VERIFY_WITH_TIMEOUT(ramp.size() >= expected || !failed.isEmpty() || writer.failed,
                                 kWaitMs);
        thread.join();
        QVERIFY(!writer.failed);
        QCOMPARE(failed, QStringList());
        QCOMPARE(writer.rampBlocks, kRampBlocks);

        for (qsizetype i = 0; i < ramp.size(); ++i) {
            if (ramp[i] != RampValue(int(i))) {
                QFAIL(qPrintable(QStringLiteral("sample %1 of the ramp is %2, not %3")
                                     .arg(i)
                                     .arg(ramp[i])
                                     .arg(RampValue(int(i)))));
            }
        }
        QVERIFY(ramp.size() <= qsizetype(kRampBlocks) * kBlock);
        double previous = 0;
        for (const Block& block : blocks) {
            const double lastWritten = writer.written[std::size_t((block.end - 1) / kBlock)];
            QVERIFY2(block.arrival >= lastWritten,
                     qPrintable(QStringLiteral("arrival %1 s before the block was written")
                                    .arg(lastWritten - block.arrival)));
            QVERIFY(block.arrival <= block.handed);
            QVERIFY(block.arrival >= previous);
            previous = block.arrival;
        }

        // The writer has ended: the source stalls, and stopping still returns.
        QVERIFY(capture.Running());
        capture.Stop();
        QVERIFY(!capture.Running());
    }

    void inputRemovedWhileCapturingIsReported() {
        QString error;
        QString index;
        const QString spare = pulse->FilePath(QStringLiteral("spare.fifo"));
        QVERIFY2(LoadPipeSource(QStringLiteral("spare"), spare, &index, &error), qPrintable(error));
        AudioCapture capture;
        bool heard = false;
        QStringList failed;
        connect(&capture, &AudioCapture::Audio, this, [&heard] { heard = true; });
        connect(&capture, &AudioCapture::Failed, this,
                [&failed](const Status& status) { failed << status.Message(); });
        capture.Start(QStringLiteral("spare"), kRate);
        RampWriter writer;
        std::thread thread([&writer, &spare] { writer.Run(spare); });
        QTRY_VERIFY_WITH_TIMEOUT(heard || !failed.isEmpty(), kWaitMs);
        writer.quit = true;
        thread.join();
        QVERIFY(pulse->Pactl({QStringLiteral("unload-module"), index.trimmed()}, &error));
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty(), kWaitMs);
        QCOMPARE(failed, QStringList{AudioStopFailure(QStringLiteral("spare"),
                                                      QStringLiteral("Entity killed"))});
        QVERIFY(!capture.Running());
    }

    void cannotOpen_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<QString>("message");
        QTest::newRow("no such input")
            << "nosuch" << kRate << QByteArray()
            << "The audio input \"nosuch\" cannot be opened: No such entity. Choose an input in "
               "Configure > Audio Input..., and check that the radio's USB audio is plugged in.";
        QTest::newRow("no server")
            << "radio" << kRate << QByteArray("unix:/nonexistent/pulse/native")
            << AudioOpenFailure(QStringLiteral("radio"), QStringLiteral("Connection refused"));
        QTest::newRow("rate below 8 kHz")
            << "radio" << 4000 << QByteArray()
            << AudioOpenFailure(QStringLiteral("radio"), QStringLiteral("Invalid argument"));
        QTest::newRow("default input named as such")
            << "" << kRate << QByteArray("unix:/nonexistent/pulse/native")
            << AudioOpenFailure(QString(), QStringLiteral("Connection refused"));
    }
    void cannotOpen() {
        QFETCH(QString, input);
        QFETCH(int, rate);
        QFETCH(QByteArray, server);
        QFETCH(QString, message);
        if (!server.isEmpty()) {
            qputenv("PULSE_SERVER", server);
        }
        const auto restore = qScopeGuard([] { qunsetenv("PULSE_SERVER"); });
        AudioCapture capture;
        QStringList told;
        connect(&capture, &AudioCapture::Failed, this,
                [&told](const Status& status) { told << status.Message(); });
        capture.Start(input, rate);
        QTRY_VERIFY_WITH_TIMEOUT(!told.isEmpty(), kWaitMs);
        QCOMPARE(told, QStringList{message});
        QVERIFY(!capture.Running());
    }

    void inputThatAppearsLater_streamSaysSoOnce() {
        AudioStream stream;
        QStringList problems;
        QStringList notices;
        connect(&stream, &AudioStream::Problem, this,
                [&problems](const QString& message) { problems << message; });
        connect(&stream, &AudioStream::Notice, this,
                [&notices](const QString& message) { notices << message; });
        stream.Listen(QStringLiteral("late"));
        QTRY_VERIFY_WITH_TIMEOUT(!problems.isEmpty(), kWaitMs);
        QString error;
        QString index;
        const QString late = pulse->FilePath(QStringLiteral("late.fifo"));
        QVERIFY2(LoadPipeSource(QStringLiteral("late"), late, &index, &error), qPrintable(error));
        RampWriter writer;
        std::thread thread([&writer, &late] { writer.Run(late); });
        QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), kWaitMs);
        QTest::qWait(int(kBlockSeconds * 1000 * 10)); // more sound: no second notice
        writer.quit = true;
        thread.join();
        stream.Stop();
        QVERIFY(pulse->Pactl({QStringLiteral("unload-module"), index.trimmed()}, &error));
        QCOMPARE(problems, QStringList{AudioOpenFailure(QStringLiteral("late"),
                                                        QStringLiteral("No such entity"))});
        QCOMPARE(notices, QStringList{"The audio input \"late\" is delivering sound again."});
    }

    // A resting stream holds no record stream on the server (so neither wakes for its blocks),
    // and places sound again once woken.
    void restingStream_holdsNoStreamAndWakesToPlaceAgain() {
        const auto recordStreams = [this] {
            QString error;
            QString output;
            return pulse->Pactl({QStringLiteral("list"), QStringLiteral("short"),
                                 QStringLiteral("source-outputs")},
                                &error, &output)
                       ? int(output.split('\n', Qt::SkipEmptyParts).size())
                       : -1;
        };
        AudioStream stream;
        int placed = 0;
        connect(&stream, &AudioStream::Placed, this, [&placed] { ++placed; });
        RampWriter writer;
        writer.dropWhenFull = true;
        std::thread thread([&writer, this] { writer.Run(fifo); });
        stream.Listen(QStringLiteral("radio"));
        QTRY_COMPARE_WITH_TIMEOUT(recordStreams(), 1, kWaitMs);
        stream.SetResting(true);
        QTRY_COMPARE_WITH_TIMEOUT(recordStreams(), 0, kWaitMs);
        QCOMPARE(placed, 0);
        stream.SetResting(false);
        QTRY_VERIFY_WITH_TIMEOUT(placed > 0, kWaitMs);
        QVERIFY(!stream.Resting());
        writer.quit = true;
        thread.join();
        stream.Stop();
    }

    // Armed with the first step minutes away, the station lets its input rest once it has
    // delivered sound, and wakes it when the step is under kAudioWakeLead away.
    void station_restsTheInputWhileTheSweepIsFar() {
        double now = 1000; // the station's clock, seconds since midnight
        Station station([&now] { return now; });
        RampWriter writer;
        writer.dropWhenFull = true;
        std::thread thread([&writer, this] { writer.Run(fifo); });
        const auto stop = qScopeGuard([&] {
            writer.quit = true;
            thread.join();
        });
        IonogramChoice choice;
        choice.audioInput = QStringLiteral("radio");
        choice.save = false;
        station.ConfigureIonogram(choice);
        station.SetChirpText(QStringLiteral("250")); // the sweep from 1150 s: first step 1171 s
        station.Start();
        const std::optional<double> next = station.Scheduler().SecondsToNextTuning();
        QVERIFY(next && *next > Station::kAudioRestAbove);
        QTRY_VERIFY_WITH_TIMEOUT(station.Audio().Delivered(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(station.Audio().Resting(), kWaitMs);
        now += *next - (Station::kAudioWakeLead - 1);
        QTRY_VERIFY_WITH_TIMEOUT(!station.Audio().Resting(), kWaitMs);
        station.Shutdown();
    }
};

QTEST_GUILESS_MAIN(TestAudioCapture)
#include "tst_audiocapture.moc"
