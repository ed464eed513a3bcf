// The ionogram from the receiver's audio: the dechirp on synthetic audio with exactly known
// delays, sample placement against a drifting card read at polls, and the archive files.

#include "core/units.h"
#include "ionogram/archive.h"
#include "ionogram/dechirp.h"
#include "ionogram/ionogram.h"
#include "ionogram/ionogramimage.h"
#include "simulation/simulatedionosphere.h"
#include "support/gzip.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <numbers>
#include <random>

using namespace ionogram;

namespace {

constexpr double kFoundDb = 12;            // a peak this far over the column's median is found
constexpr double kPeriodBase = 1796637600; // a five-minute mark, epoch seconds (2026-12-07)
constexpr double kChirpTime = 78;
constexpr double kNoiseRms = 0.01;
constexpr double kPi = std::numbers::pi;

double Crossing(double dialKhz) {
    return kPeriodBase + sweep::CrossingInPeriod(SounderProfile{}, kChirpTime, dialKhz);
}

// Audio from `from` to `to` seconds around the crossing of dialKhz, sampled exactly at fs.
struct Audio {
    std::vector<float> samples;
    double first = 0;
    double interval = 0;
};

Audio Record(SimulatedIonosphere* ionosphere, double dialKhz, double from, double to) {
    Audio audio;
    audio.interval = 1 / ionosphere->Config().sampleRate;
    audio.first = Crossing(dialKhz) + from;
    audio.samples.resize(std::size_t((to - from) / audio.interval));
    ionosphere->Generate(dialKhz, audio.first, audio.interval, audio.samples);
    return audio;
}

SimulatedIonosphere::Settings Sky(double fs, std::vector<PropagationMode> modes,
                                  std::uint32_t seed = 1) {
    SimulatedIonosphere::Settings sky;
    sky.sampleRate = fs;
    sky.chirpTime = kChirpTime;
    sky.noiseRms = kNoiseRms;
    sky.modes = std::move(modes);
    sky.seed = seed;
    return sky;
}

PropagationMode Mode(double delayMs, double amplitude, double phase = 0) {
    return PropagationMode{delayMs, SounderProfile{}.lowFrequency, SounderProfile{}.highFrequency,
                           amplitude, phase};
}

// The filter's own delay, known from its design: what the audio delay setting calibrates out.
double FilterDelayMs(double fs) {
    return PassbandFilter(fs).MeanGroupDelay() / units::kSecondsPerMillisecond;
}

std::vector<float> Column(double fs, const std::vector<PropagationMode>& modes,
                          std::uint32_t seed = 1, double dialKhz = 5000) {
    SimulatedIonosphere ionosphere(Sky(fs, modes, seed));
    DechirpSettings settings;
    settings.sampleRate = fs;
    settings.audioDelayMs = FilterDelayMs(fs);
    DechirpColumn column(settings);
    const Audio audio = Record(&ionosphere, dialKhz, -0.5, 0.3);
    std::vector<float> snr;
    if (!column.Compute(audio.samples, audio.first, audio.interval, Crossing(dialKhz), &snr)) {
        return {};
    }
    return snr;
}

int Peak(const std::vector<float>& snr, int from = 0, int to = -1) {
    const auto end = to < 0 ? snr.end() : snr.begin() + to;
    return int(std::max_element(snr.begin() + from, end) - snr.begin());
}

double CellMs(int cell) {
    return kDefaultDelayFromMs + cell * kDelayGridMs;
}

int CellOf(double ms) {
    return int(std::lround((ms - kDefaultDelayFromMs) / kDelayGridMs));
}

// A sound card whose clock runs ppm fast (or slow) delivering fragments of fragmentMs that a
// program reads at polls pollMs apart (plus up to jitterMs late), through a whole sweep of the
// ionogram. Samples of the lost span (seconds after the first mark) are never delivered.
IonogramSweep Sweep(double ppm, double fragmentMs, double pollMs, double jitterMs, double modeMs,
                    double lostAt = -1, double lostMs = 0) {
    constexpr double kFs = 48000;
    constexpr int kSteps = 280;
    constexpr double kLeadIn = 20;
    const SounderProfile profile;
    SimulatedIonosphere ionosphere(Sky(kFs, {Mode(modeMs, 0.05)}));
    IonogramSettings settings;
    settings.sampleRate = kFs;
    settings.audioDelayMs = FilterDelayMs(kFs);
    Ionogram ionogram(settings);
    ionogram.BeginSweep(kChirpTime);
    BlockPlacer placement(kFs);

    const double firstMark =
        Crossing(profile.lowFrequency + profile.stepSize) - sweep::HalfStep(profile);
    const double interval = 1 / (kFs * (1 + ppm * 1e-6)); // on the computer's clock
    const auto fragment =
        std::size_t(std::lround(fragmentMs * units::kSecondsPerMillisecond * kFs));
    const double start = firstMark - kLeadIn;
    const double end = firstMark + kSteps + 2;
    std::mt19937 random(7);
    std::uniform_real_distribution<double> jitter(0, jitterMs * units::kSecondsPerMillisecond);

    std::vector<float> pending;
    std::vector<float> block(fragment);
    std::int64_t produced = 0;
    int nextStep = 0;
    for (double poll = start; poll < end;
         poll += pollMs * units::kSecondsPerMillisecond + jitter(random)) {
        // Every fragment whose last sample is due by now is there to be read.
        while (start + double(produced + std::int64_t(fragment) - 1) * interval <= poll) {
            const double t = start + double(produced) * interval;
            const int step = int(std::floor(t - firstMark));
            const double dial = step >= 0 && step < kSteps
                                    ? profile.lowFrequency + profile.stepSize * (step + 1)
                                    : profile.lowFrequency;
            ionosphere.Generate(dial, t, interval, block);
            const double after = t - firstMark;
            if (!(after >= lostAt && after < lostAt + lostMs * units::kSecondsPerMillisecond)) {
                pending.insert(pending.end(), block.begin(), block.end());
            }
            produced += std::int64_t(fragment);
        }
        while (nextStep < kSteps && firstMark + nextStep <= poll) {
            const int index = ionogram.AddStep(
                profile.lowFrequency + profile.stepSize * (nextStep + 1), firstMark + nextStep);
            ionogram.SetReached(index, true);
            ++nextStep;
        }
        for (const PlacedBlock& placed : placement.Add(pending, poll)) {
            ionogram.AddAudio(placed);
        }
        pending.clear();
    }
    return ionogram.SweepComplete();
}

} // namespace

class TestIonogram : public QObject {
    Q_OBJECT
private slots:
    void modeComesOutAtItsDelay_data() {
        QTest::addColumn<double>("fs");
        QTest::addColumn<double>("delayMs");
        QTest::newRow("5 ms at 48 kHz") << 48000.0 << 5.0;
        QTest::newRow("20 ms at 48 kHz") << 48000.0 << 20.0;
        QTest::newRow("12.34 ms at 48 kHz") << 48000.0 << 12.34;
        QTest::newRow("5 ms at 8 kHz") << 8000.0 << 5.0;
        QTest::newRow("20 ms at 44.1 kHz") << 44100.0 << 20.0;
    }
    void modeComesOutAtItsDelay() {
        QFETCH(double, fs);
        QFETCH(double, delayMs);
        const std::vector<float> snr = Column(fs, {Mode(delayMs, 0.1)});
        QCOMPARE(int(snr.size()), CellOf(kDefaultDelayToMs) + 1);
        const int peak = Peak(snr);
        QVERIFY2(snr[peak] >= kFoundDb, qPrintable(QString::number(snr[peak])));
        QVERIFY2(std::abs(CellMs(peak) - delayMs) <= 0.1,
                 qPrintable(QString::number(CellMs(peak))));
    }

    void neededSpanIsTheColumns_data() {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("fromMs");
        QTest::addColumn<double>("toMs");
        QTest::addColumn<double>("audioMs");
        QTest::newRow("100 kHz/s, 0 to 20 ms") << 100.0 << 0.0 << 20.0 << 0.0;
        QTest::newRow("far sounder, 20 to 40 ms, card 3 ms") << 100.0 << 20.0 << 40.0 << 3.0;
        QTest::newRow("500 kHz/s, 0 to 10 ms") << 500.0 << 0.0 << 10.0 << 0.0;
    }
    void neededSpanIsTheColumns() {
        // The plan sizes its slots from NeededSpan; the column takes what it computes itself.
        ionogram::DechirpSettings settings;
        QFETCH(double, rate);
        settings.sweepRateKhzPerS = rate;
        QFETCH(double, fromMs);
        settings.delayFromMs = fromMs;
        QFETCH(double, toMs);
        settings.delayToMs = toMs;
        QFETCH(double, audioMs);
        settings.audioDelayMs = audioMs;
        const ionogram::DechirpColumn column(settings);
        const ionogram::DechirpColumn::Span span = ionogram::DechirpColumn::NeededSpan(settings);
        QCOMPARE(span.from, column.NeedFrom());
        QCOMPARE(span.to, column.NeedTo());
    }

    void equalModesAtAndAboveTwentyMsEqualStrength() {
        // A flat window: a mode at 20 ms is as strong as one at 5 ms.
        const std::vector<float> near = Column(48000, {Mode(5, 0.1)});
        const std::vector<float> far = Column(48000, {Mode(20, 0.1)});
        QVERIFY2(std::abs(near[Peak(near)] - far[Peak(far)]) < 1.5,
                 qPrintable(QString("%1 %2").arg(near[Peak(near)]).arg(far[Peak(far)])));
    }

    void twoModesOneMsApartResolved_data() {
        QTest::addColumn<double>("phase");
        for (double phase : {0.0, 0.5 * kPi, kPi, 1.5 * kPi}) {
            QTest::newRow(qPrintable(QString("relative phase %1 rad").arg(phase, 0, 'f', 2)))
                << phase;
        }
    }
    void twoModesOneMsApartResolved() {
        QFETCH(double, phase);
        const std::vector<float> snr = Column(48000, {Mode(8, 0.1), Mode(9, 0.1, phase)});
        const int first = Peak(snr, CellOf(7.7), CellOf(8.3));
        const int second = Peak(snr, CellOf(8.7), CellOf(9.3));
        const float dip = *std::min_element(snr.begin() + first, snr.begin() + second);
        QVERIFY(snr[first] >= kFoundDb && snr[second] >= kFoundDb);
        // Each a local peak near its delay, with a clear dip between them.
        QVERIFY2(std::abs(CellMs(first) - 8) <= 0.2 && std::abs(CellMs(second) - 9) <= 0.2,
                 qPrintable(QString("%1 %2").arg(CellMs(first)).arg(CellMs(second))));
        QVERIFY2(std::min(snr[first], snr[second]) - dip >= 3,
                 qPrintable(QString("%1 %2 %3").arg(snr[first]).arg(snr[second]).arg(dip)));
    }

    void strongModesSidelobesFarBelowIt_data() {
        QTest::addColumn<double>("delayMs");
        QTest::newRow("5 ms") << 5.0;
        QTest::newRow("12.34 ms") << 12.34;
    }
    void strongModesSidelobesFarBelowIt() {
        // A strong mode: beyond its main lobe the column stays 19 dB under it (a Tukey taper with
        // 400 Hz ramps left sidelobes 13 dB under it, 0.7 ms from it).
        QFETCH(double, delayMs);
        const std::vector<float> snr = Column(48000, {Mode(delayMs, 1.0)});
        const int peak = Peak(snr);
        float beside = -100;
        for (int cell = 0; cell < int(snr.size()); ++cell) {
            const double apart = std::abs(CellMs(cell) - delayMs);
            if (apart >= 0.6 && apart <= 3) {
                beside = std::max(beside, snr[cell]);
            }
        }
        QVERIFY2(snr[peak] - beside >= 19, qPrintable(QString("%1 %2").arg(snr[peak]).arg(beside)));
    }

    void weakModeFound_data() {
        // The dechirp gains B·T = 2400 Hz × 24 ms (17.6 dB): a mode 6 dB below the noise in the
        // passband comes out about 13 dB over the median, at the edge of the 12 dB a find needs.
        QTest::addColumn<double>("levelDb"); // the mode's power over the in-band noise's
        QTest::addColumn<double>("foundShare");
        QTest::newRow("6 dB below the noise") << -6.0 << 0.5;
        QTest::newRow("3 dB below the noise") << -3.0 << 0.9;
    }
    void weakModeFound() {
        QFETCH(double, levelDb);
        QFETCH(double, foundShare);
        constexpr int kColumns = 30;
        constexpr double kModeMs = 11;
        // A tone of amplitude a carries a²/2.
        const double amplitude = kNoiseRms * std::sqrt(2 * std::pow(10.0, levelDb / 10));
        int found = 0;
        for (int i = 0; i < kColumns; ++i) {
            const std::vector<float> snr = Column(48000, {Mode(kModeMs, amplitude)}, 200 + i);
            const int peak = Peak(snr);
            found += snr[peak] >= kFoundDb && std::abs(CellMs(peak) - kModeMs) <= 0.2;
        }
        QVERIFY2(found >= foundShare * kColumns, qPrintable(QString::number(found)));
    }

    void noiseAloneFindsNothing() {
        constexpr int kColumns = 100;
        int falseFinds = 0;
        for (int i = 0; i < kColumns; ++i) {
            const std::vector<float> snr = Column(48000, {}, 100 + i, 2000 + 100 * i);
            QVERIFY(!snr.empty());
            falseFinds += snr[Peak(snr)] >= kFoundDb;
        }
        QVERIFY2(falseFinds <= kColumns / 20, qPrintable(QString::number(falseFinds)));
    }

    void silenceOrShortAudioGivesNoColumn() {
        DechirpColumn column(DechirpSettings{});
        std::vector<float> snr;
        const std::vector<float> silence(48000, 0.0f);
        QVERIFY(!column.Compute(silence, 0, 1 / 48000.0, 0.5, &snr));
        QVERIFY(!column.Compute(std::vector<float>(100, 0.1f), 0, 1 / 48000.0, 0.5, &snr));
        QVERIFY(snr.empty());
    }

    void driftingCardReadAtPolls_data() {
        QTest::addColumn<double>("ppm");
        QTest::addColumn<double>("fragmentMs");
        QTest::addColumn<double>("jitterMs");
        QTest::addColumn<double>("toleranceMs");
        QTest::newRow("100 ppm fast, 1 ms fragments") << 100.0 << 1.0 << 2.0 << 0.2;
        QTest::newRow("100 ppm slow, 1 ms fragments") << -100.0 << 1.0 << 2.0 << 0.2;
        // Whole 20 ms blocks tell the card's position only to a block until many polls have
        // fallen at different places in them: the first half minute is less sure.
        QTest::newRow("100 ppm fast, 20 ms blocks") << 100.0 << 20.0 << 10.0 << 0.35;
        QTest::newRow("100 ppm slow, 20 ms blocks") << -100.0 << 20.0 << 10.0 << 0.35;
    }
    void driftingCardReadAtPolls() {
        QFETCH(double, ppm);
        QFETCH(double, fragmentMs);
        QFETCH(double, jitterMs);
        QFETCH(double, toleranceMs);
        constexpr double kModeMs = 7.3;
        const IonogramSweep sweep = Sweep(ppm, fragmentMs, 50, jitterMs, kModeMs);
        QCOMPARE(int(sweep.snrDb.size()), 280);
        double worst = 0;
        for (const std::vector<float>& row : sweep.snrDb) {
            QVERIFY(IonogramSweep::Usable(row));
            QVERIFY(row[Peak(row)] >= kFoundDb);
            worst = std::max(worst, std::abs(CellMs(Peak(row)) - kModeMs));
        }
        QVERIFY2(worst <= toleranceMs, qPrintable(QString("worst %1 ms").arg(worst)));
    }

    void lostSamplesBlankColumnsNeverShift() {
        constexpr double kModeMs = 7.3;
        constexpr int kGapStep = 100;
        // 30 ms lost inside step 100's window.
        const IonogramSweep sweep = Sweep(50, 1, 50, 2, kModeMs, kGapStep + 0.52, 30);
        QVERIFY(!IonogramSweep::Usable(sweep.snrDb[kGapStep]));
        int usable = 0;
        for (std::size_t step = 0; step < sweep.snrDb.size(); ++step) {
            const std::vector<float>& row = sweep.snrDb[step];
            if (IonogramSweep::Usable(row)) {
                ++usable;
                QVERIFY2(std::abs(CellMs(Peak(row)) - kModeMs) <= 0.2,
                         qPrintable(QString("step %1 at %2 ms").arg(step).arg(CellMs(Peak(row)))));
            }
        }
        QVERIFY2(usable >= 280 - 10, qPrintable(QString::number(usable)));
    }

    void placerTellsBreaksFromLatency_data() {
        // At 20 s into a card read every 50 ms: what happens, and whether it is a break.
        QTest::addColumn<double>("lostMs");    // samples never delivered
        QTest::addColumn<double>("lateMs");    // one poll this late, all samples still there
        QTest::addColumn<double>("clockStep"); // the computer's clock set by this (s)
        QTest::addColumn<int>("breaks");
        QTest::newRow("undisturbed") << 0.0 << 0.0 << 0.0 << 0;
        QTest::newRow("one poll 300 ms late") << 0.0 << 300.0 << 0.0 << 0;
        QTest::newRow("30 ms of samples lost") << 30.0 << 0.0 << 0.0 << 1;
        QTest::newRow("clock set back 1 s") << 0.0 << 0.0 << -1.0 << 1;
    }
    void placerTellsBreaksFromLatency() {
        QFETCH(double, lostMs);
        QFETCH(double, lateMs);
        QFETCH(double, clockStep);
        QFETCH(int, breaks);
        constexpr double kFs = 48000;
        constexpr double kPoll = 0.05;
        constexpr double kEvent = 20;
        constexpr double kEnd = 40;
        const double interval = 1 / (kFs * (1 + 80e-6)); // a card 80 ppm fast
        SamplePlacer placer(kFs);
        std::int64_t made = 0;      // samples the card has made
        std::int64_t delivered = 0; // samples handed over
        double lostFrom = 0;        // card time the loss began
        for (double t = kPoll; t < kEnd; t += kPoll) {
            const bool late = lateMs > 0 && t >= kEvent && t < kEvent + kPoll;
            const double poll = t + (late ? lateMs * units::kSecondsPerMillisecond : 0);
            const std::int64_t due = std::int64_t(poll / interval);
            std::int64_t count = due - made;
            if (lostMs > 0 && made <= std::int64_t(kEvent / interval) &&
                due > std::int64_t(kEvent / interval)) {
                lostFrom = kEvent;
                count -=
                    std::int64_t(lostMs * units::kSecondsPerMillisecond / interval); // an overrun
            }
            made = due;
            const double shown = poll + (t >= kEvent ? clockStep : 0);
            placer.AddBlock(shown, count);
            delivered += count;
            if (late) {
                t += lateMs * units::kSecondsPerMillisecond -
                     kPoll; // the next poll comes a period later
            }
        }
        QCOMPARE(placer.Breaks(), breaks);
        // A sample 10 s before the end lies where the card made it (on the clock as shown).
        const std::int64_t index = delivered - std::int64_t(10 / interval);
        const std::int64_t card =
            lostMs > 0 && lostFrom > 0
                ? index + std::int64_t(lostMs * units::kSecondsPerMillisecond / interval)
                : index;
        const std::optional<double> placed = placer.TimeOf(index);
        QVERIFY(placed.has_value());
        QVERIFY2(std::abs(*placed - (double(card + 1) * interval + clockStep)) < 0.2e-3,
                 qPrintable(QString::number((*placed - (card + 1) * interval - clockStep) * 1e3)));
    }

    // A program that begins reading late (a busy start) gets the card's first seconds in one
    // burst of fragments; once the stretch has settled, every sample it places lies where the
    // card made it, although the history is still short.
    void placerAfterStartupBacklog_data() {
        QTest::addColumn<double>("ppm");
        QTest::addColumn<double>("backlog"); // seconds of audio waiting at the first read
        QTest::newRow("read from the start") << 100.0 << 0.0;
        QTest::newRow("3 s waiting, card fast") << 100.0 << 3.0;
        QTest::newRow("5 s waiting, card slow") << -100.0 << 5.0;
    }
    void placerAfterStartupBacklog() {
        QFETCH(double, ppm);
        QFETCH(double, backlog);
        constexpr double kFs = 48000;
        constexpr std::int64_t kFragment = 960;   // 20 ms
        constexpr double kDrainInterval = 0.0005; // the waiting fragments, read one by one
        constexpr double kSettled = 7;            // seconds of reading before samples are checked
        const double interval = 1 / (kFs * (1 + ppm * 1e-6));
        std::mt19937 random(3);
        std::uniform_real_distribution<double> latency(0, 0.002);
        SamplePlacer placer(kFs);
        std::int64_t made = 0;
        for (int fragment = 0; double(made) * interval < backlog + kSettled; ++fragment) {
            made += kFragment;
            const double due = double(made) * interval;
            const double reached = backlog + fragment * kDrainInterval;
            placer.AddBlock(std::max(due, reached) + latency(random), kFragment);
        }
        double worst = 0;
        int checked = 0;
        for (std::int64_t index = 0; index < made; index += std::int64_t(kFs / 4)) {
            if (const std::optional<double> placed = placer.TimeOf(index)) {
                worst = std::max(worst, std::abs(*placed - double(index + 1) * interval));
                ++checked;
            }
        }
        QVERIFY2(checked >= 4 * 6, qPrintable(QString::number(checked)));
        QVERIFY2(worst < 0.2e-3, qPrintable(QStringLiteral("%1 ms off").arg(worst * 1e3)));
    }

    // Placed blocks carry every sample that can be placed exactly once, in order, at its true
    // time; samples lost on the way are left out and the block after them is marked.
    void blockPlacer_data() {
        QTest::addColumn<double>("lostAt"); // seconds into the audio; -1: nothing lost
        QTest::addColumn<int>("gaps");
        QTest::newRow("steady card") << -1.0 << 0;
        QTest::newRow("half a second lost") << 12.0 << 1;
    }
    void blockPlacer() {
        QFETCH(double, lostAt);
        QFETCH(int, gaps);
        constexpr double kFs = 48000;
        constexpr std::int64_t kFragment = 960;
        constexpr double kLostSeconds = 0.5;
        const double start = kPeriodBase;
        BlockPlacer placement(kFs);
        std::vector<PlacedBlock> placed;
        std::vector<float> fragment(std::size_t(kFragment), 0);
        for (std::int64_t first = 0; first < std::int64_t(30 * kFs); first += kFragment) {
            const double t = double(first) / kFs;
            if (t >= lostAt && t < lostAt + kLostSeconds) {
                continue;
            }
            for (std::int64_t k = 0; k < kFragment; ++k) {
                fragment[std::size_t(k)] = float(first + k); // each sample names its index
            }
            // Arrives the moment its last sample is there: the envelope itself.
            const double arrival = start + double(first + kFragment - 1) / kFs;
            for (PlacedBlock& block : placement.Add(fragment, arrival)) {
                placed.push_back(std::move(block));
            }
        }
        QVERIFY(!placed.empty());
        int marked = 0;
        double next = placed.front().samples.front();
        for (const PlacedBlock& block : placed) {
            marked += block.afterGap ? 1 : 0;
            if (!block.afterGap) {
                QCOMPARE(double(block.samples.front()), next);
            }
            QVERIFY(std::abs(block.sampleInterval * kFs - 1) < 1e-9);
            for (std::size_t k = 0; k < block.samples.size(); k += 97) {
                const double truth = start + double(block.samples[k]) / kFs;
                const double time = block.firstSampleTime + double(k) * block.sampleInterval;
                QVERIFY2(std::abs(time - truth) < 1e-6, qPrintable(QString::number(time - truth)));
            }
            next = double(block.samples.back()) + 1;
        }
        QCOMPARE(marked, gaps);
    }

    void stepNotReachedOrWithoutAudioIsNan() {
        Ionogram ionogram(IonogramSettings{});
        ionogram.BeginSweep(kChirpTime);
        const int missed = ionogram.AddStep(2100, kPeriodBase + 98.5);
        ionogram.SetReached(missed, false);
        ionogram.AddStep(2200, kPeriodBase + 99.5); // reached, but no audio ever came
        const IonogramSweep sweep = ionogram.SweepComplete();
        QCOMPARE(int(sweep.snrDb.size()), 2);
        QVERIFY(std::isnan(sweep.snrDb[0][0]) && std::isnan(sweep.snrDb[1][7]));
        QCOMPARE(sweep.startUtc, QDateTime(QDate(2026, 12, 7), QTime(10, 1, 38), Qt::UTC));
        QCOMPARE(ionogram.Sweep().snrDb.size(), std::size_t(0)); // the next sweep starts empty
    }

    void epochFromSecondsOfDay_data() {
        QTest::addColumn<double>("secondsOfDay");
        QTest::addColumn<double>("now");
        QTest::addColumn<double>("epoch");
        QTest::newRow("same day") << 36098.5 << kPeriodBase << kPeriodBase - 36000 + 36098.5;
        QTest::newRow("just before midnight, now after")
            << 86399.0 << kPeriodBase - 36000 + 86400 + 5 << kPeriodBase - 36000 + 86399;
        QTest::newRow("just after midnight, now before")
            << 2.0 << kPeriodBase - 36000 + 86398 << kPeriodBase - 36000 + 86402;
    }
    void epochFromSecondsOfDay() {
        QFETCH(double, secondsOfDay);
        QFETCH(double, now);
        QFETCH(double, epoch);
        QCOMPARE(EpochFromSecondsOfDay(secondsOfDay, now), epoch);
    }

    void pictureSpansTheProfilesBand_data() {
        QTest::addColumn<double>("lowKhz");
        QTest::addColumn<double>("highKhz");
        QTest::addColumn<double>("lowMhz");
        QTest::addColumn<double>("highMhz");
        // Steps 2.1 to 2.5 MHz so far: the axis already spans the whole band.
        QTest::newRow("2 to 16 MHz") << 2000.0 << 16000.0 << 2.0 << 16.0;
        QTest::newRow("no band: 2 to 30 MHz") << 0.0 << 0.0 << 2.0 << 30.0;
        // A step beyond the band widens the axis to its strip.
        QTest::newRow("2.2 to 2.4 MHz") << 2200.0 << 2400.0 << 2.05 << 2.55;
    }
    void pictureSpansTheProfilesBand() {
        QFETCH(double, lowKhz);
        QFETCH(double, highKhz);
        QFETCH(double, lowMhz);
        QFETCH(double, highMhz);
        IonogramSweep sweep;
        sweep.lowKhz = lowKhz;
        sweep.highKhz = highKhz;
        sweep.frequenciesKhz = {2100, 2200, 2300, 2400, 2500};
        const IonogramLayout layout = LayoutIonogram(QRect(0, 0, 1200, 700), 15, sweep);
        QCOMPARE(layout.lowMhz, lowMhz);
        QCOMPARE(layout.highMhz, highMhz);
    }

    void columnOffTheGrid_meetsItsNeighbourButALeftOutOneShows() {
        // 2300 kHz moved to 2330 (another sounder's slot), 2500 left out.
        IonogramSweep sweep;
        sweep.lowKhz = 2000;
        sweep.highKhz = 2700;
        sweep.frequenciesKhz = {2100, 2200, 2330, 2400, 2600};
        const float strong = kPaletteHighDb;
        sweep.snrDb.assign(sweep.frequenciesKhz.size(),
                           std::vector<float>(std::size_t(sweep.DelayCount()), strong));
        QImage image(700, 400, QImage::Format_RGB32);
        QPainter painter(&image);
        IonogramPaintOptions plain;
        plain.text = false;
        const IonogramLayout layout = PaintIonogram(painter, image.rect(), sweep, plain);
        painter.end();
        const int y = layout.plot.center().y();
        const auto colourAt = [&](double khz) {
            return image.pixel(int(std::lround(layout.XOf(khz / 1000))), y) & RGB_MASK;
        };
        QCOMPARE(colourAt(2265), Viridis(1) & RGB_MASK); // between 2200's strip and 2330's
        QVERIFY(colourAt(2500) != (Viridis(1) & RGB_MASK));
    }

    void archiveName_data() {
        QTest::addColumn<double>("chirp");
        QTest::addColumn<QString>("sounder");
        QTest::addColumn<QString>("name");
        QTest::newRow("whole") << 78.0 << QString() << "20261207-101638Z-c78";
        QTest::newRow("half") << 78.5 << QString() << "20261207-101638Z-c78.5";
        QTest::newRow("zero") << 0.0 << QString() << "20261207-101638Z-c0";
        QTest::newRow("a sounder's name, refused characters replaced")
            << 78.0 << "Cyprus/1: a\\b*c?\"d<e>f|g"
            << "20261207-101638Z-c78-Cyprus_1_ a_b_c__d_e_f_g";
    }
    void archiveName() {
        QFETCH(double, chirp);
        QFETCH(QString, sounder);
        QFETCH(QString, name);
        const QDateTime start(QDate(2026, 12, 7), QTime(10, 16, 38), Qt::UTC);
        QCOMPARE(ArchiveBaseName(start, chirp, sounder), name);
    }

    void archiveWrittenWholeAndReadable() {
        // A comma-decimal locale must not leak into the table.
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        QLocale::setDefault(QLocale(QLocale::German));
        IonogramSweep sweep;
        sweep.chirpTime = 78.5;
        sweep.profile = "test profile";
        sweep.startUtc = QDateTime(QDate(2026, 12, 7), QTime(10, 16, 38), Qt::UTC);
        sweep.audioInput = "radio";
        sweep.sampleRate = 48000;
        sweep.audioDelayMs = 0.4;
        sweep.delayFromMs = 0;
        sweep.delayToMs = 1;
        sweep.frequenciesKhz = {2100, 2200};
        std::vector<float> row(21);
        for (int i = 0; i < 21; ++i) {
            row[i] = float(i) - 0.26f;
        }
        row[0] = -1000; // clamped to the floor
        sweep.snrDb = {row, std::vector<float>(21, std::nanf(""))};
        QTemporaryDir dir;
        const QString folder = dir.filePath("archive/new");
        const Status status = WriteArchive(sweep, folder);
        QVERIFY2(status.IsOk(), qPrintable(status.Message()));
        QCOMPARE(QDir(folder).entryList(QDir::Files),
                 QStringList({"20261207-101638Z-c78.5.csv.gz", "20261207-101638Z-c78.5.png"}));

        QFile file(folder + "/20261207-101638Z-c78.5.csv.gz");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = ::Gunzip(file.readAll()).split('\n');
        QCOMPARE(lines.size(), 7 + 3 + 1); // comments, header, two steps, final newline
        for (int i = 0; i < 7; ++i) {
            QVERIFY(lines[i].startsWith("# "));
        }
        QVERIFY(lines[0].contains("78.5"));
        QVERIFY(lines[2].contains("2026-12-07 10:16:38 UTC"));
        const QList<QByteArray> header = lines[7].split(',');
        QCOMPARE(header.size(), 22);
        QCOMPARE(header[0], QByteArray("frequency_khz"));
        QCOMPARE(header[1], QByteArray("0.00"));
        QCOMPARE(header[2], QByteArray("0.05"));
        QCOMPARE(header[21], QByteArray("1.00"));
        const QList<QByteArray> first = lines[8].split(',');
        QCOMPARE(first.size(), 22);
        QCOMPARE(first[0], QByteArray("2100"));
        QCOMPARE(first[1], QByteArray("-30.0"));
        QCOMPARE(first[3], QByteArray("1.7"));
        const QList<QByteArray> blank = lines[9].split(',');
        QCOMPARE(blank[0], QByteArray("2200"));
        QCOMPARE(blank.count("nan"), 21);

        const QImage picture(folder + "/20261207-101638Z-c78.5.png");
        QCOMPARE(picture.size(), kIonogramImageSize);

        // Read back as the window pages: the same sweep to the table's precision.
        const QStringList tables = ArchivedTables(folder, sweep.startUtc.date());
        QCOMPARE(tables, QStringList({folder + "/20261207-101638Z-c78.5.csv.gz"}));
        QVERIFY(ArchivedTables(folder, sweep.startUtc.date().addDays(1)).isEmpty());
        const std::optional<IonogramSweep> read = ReadArchivedTable(tables.first());
        QVERIFY(read);
        QCOMPARE(read->chirpTime, sweep.chirpTime);
        QCOMPARE(read->profile, sweep.profile);
        QCOMPARE(read->startUtc, sweep.startUtc);
        QCOMPARE(read->audioInput, sweep.audioInput);
        QCOMPARE(read->sampleRate, sweep.sampleRate);
        QCOMPARE(read->audioDelayMs, sweep.audioDelayMs);
        QCOMPARE(read->delayFromMs, sweep.delayFromMs);
        QCOMPARE(read->delayToMs, sweep.delayToMs);
        QCOMPARE(read->frequenciesKhz, sweep.frequenciesKhz);
        QCOMPARE(read->snrDb.size(), sweep.snrDb.size());
        QCOMPARE(read->snrDb[0][0], float(kSnrFloorDb));
        for (std::size_t cell = 1; cell < row.size(); ++cell) {
            QCOMPARE(read->snrDb[0][cell], std::round(row[cell] * 10) / 10);
        }
        QVERIFY(!IonogramSweep::Usable(read->snrDb[1]));
        sweep.sounder = "Cyprus, west";
        QCOMPARE(ParseCsvText(CsvText(sweep))->sounder, sweep.sounder);
        // A table cut short is refused, not read as a shorter sweep.
        QVERIFY(!ParseCsvText(CsvText(sweep).chopped(3)));
        std::setlocale(LC_NUMERIC, "C");
        QLocale::setDefault(QLocale::c());
    }

    void archiveFolderNotWritableIsReported() {
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        IonogramSweep sweep;
        sweep.startUtc = QDateTime(QDate(2026, 12, 7), QTime(10, 16, 38), Qt::UTC);
        const Status status = WriteArchive(sweep, dir.filePath("file/archive"));
        QVERIFY(!status.IsOk());
        QVERIFY(status.Message().contains("folder"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList({"file"}));
    }
};

QTEST_MAIN(TestIonogram)
#include "tst_ionogram.moc"
