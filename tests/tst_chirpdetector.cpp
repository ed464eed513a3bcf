// The chirp detector on synthetic audio with exactly known crossings: each rate and direction
// at its true instant, audio fed in pieces and with gaps, a strong carrier notched, and the
// signals of a busy band (Morse, RTTY, PSK, carriers) and jumps where audio was lost never taken
// for a sweep.

#include "ionogram/chirpdetector.h"
#include "simulation/bandsignals.h"
#include "simulation/simulatedionosphere.h"

#include <QTest>
#include <cmath>
#include <numbers>
#include <random>

using namespace ionogram;

Q_DECLARE_METATYPE(ionogram::Interferer)

namespace {

constexpr double kBase = 1796637600;  // epoch seconds, a five-minute mark (2026-12-07)
constexpr double kNoiseInBand = 0.01; // RMS of the noise within the passband
constexpr double kPi = std::numbers::pi;
constexpr double kFadeFromHz = 3000; // the tone fades out above the passband, below 8 kHz / 2
constexpr double kToneTopHz = 3600;

struct Chirp {
    double pass; // epoch seconds at which the tone is at 0 Hz
    double rateKhz;
    double snrDb; // per crossing, tone power over the noise in the passband
    bool falling = false;
};

struct Carrier {
    double hz;
    double powerOverNoise;
};

// White noise with kNoiseInBand in the passband, the chirps' tones and steady carriers.
std::vector<float> Audio(double fs, double first, double seconds, const std::vector<Chirp>& chirps,
                         const std::vector<Carrier>& carriers = {}, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss;
    const double whiteRms = kNoiseInBand * std::sqrt(fs / 2 / 2400);
    std::vector<float> out(std::size_t(seconds * fs));
    for (std::size_t k = 0; k < out.size(); ++k) {
        const double t = first + double(k) / fs;
        double x = whiteRms * gauss(random);
        for (const Chirp& c : chirps) {
            const double rate = c.rateKhz * 1000;
            const double u = c.falling ? c.pass - t : t - c.pass; // seconds from 0 Hz
            if (u >= 0 && rate * u < kToneTopHz) {
                const double fade = rate * u < kFadeFromHz
                                        ? 1
                                        : 0.5 * (1 + std::cos(kPi * (rate * u - kFadeFromHz) /
                                                              (kToneTopHz - kFadeFromHz)));
                const double amplitude = kNoiseInBand * std::sqrt(2 * std::pow(10, c.snrDb / 10));
                x += fade * amplitude * std::cos(kPi * rate * u * u);
            }
        }
        for (const Carrier& carrier : carriers) {
            const double amplitude = kNoiseInBand * std::sqrt(2 * carrier.powerOverNoise);
            x += amplitude * std::cos(2 * kPi * carrier.hz * (t - first));
        }
        out[k] = float(x);
    }
    return out;
}

// Everything the detector reports for the audio fed in blocks of blockSeconds, then a gap; the
// weak detections too when `weak`.
std::vector<ChirpDetection> Detect(ChirpDetector* detector, const std::vector<float>& audio,
                                   double first, double fs, double blockSeconds,
                                   bool weak = false) {
    std::vector<ChirpDetection> all;
    const auto block = std::size_t(blockSeconds * fs);
    for (std::size_t at = 0; at < audio.size(); at += block) {
        const std::size_t n = std::min(block, audio.size() - at);
        auto found =
            detector->Feed(std::span(audio).subspan(at, n), first + double(at) / fs, 1 / fs);
        all.insert(all.end(), found.begin(), found.end());
    }
    auto rest = detector->Gap();
    all.insert(all.end(), rest.begin(), rest.end());
    std::erase_if(all, [weak](const ChirpDetection& d) { return d.weak && !weak; });
    return all;
}

// The detection heard best within 50 ms of `time`; nullptr when none.
const ChirpDetection* Best(const std::vector<ChirpDetection>& found, double time) {
    const ChirpDetection* best = nullptr;
    for (const ChirpDetection& d : found) {
        if (std::abs(d.time - time) < 0.05 && (best == nullptr || d.snrDb > best->snrDb)) {
            best = &d;
        }
    }
    return best;
}

// The first detection further than 50 ms from `pass`, said with its time from `first`; empty
// where there is none.
QString HeardElsewhere(const std::vector<ChirpDetection>& found, double pass, double first) {
    for (const ChirpDetection& d : found) {
        if (std::abs(d.time - pass) >= 0.05) {
            return QString("heard at %1 s, %2 kHz/s, %3 dB")
                .arg(d.time - first)
                .arg(d.rateKhzPerS)
                .arg(d.snrDb);
        }
    }
    return {};
}

// One signal of a busy band over the noise, and a sounder sweeping 500 kHz/s heard 10 dB over the
// noise; at 7000 kHz its sweep passes 20 s into each minute.
SimulatedIonosphere::Settings BandWithSweep(double fs, const Interferer& signal) {
    SimulatedIonosphere::Settings sky;
    sky.sampleRate = fs;
    sky.noiseRms = kNoiseInBand;
    sky.interferers = {signal};
    SimulatedSounder sounder;
    sounder.profile.sweepRate = 500;
    sounder.profile.period = 60;
    sounder.chirpTime = 6;
    sounder.modes = {{0, 0, 1e6, AmplitudeOverNoise(kNoiseInBand, 10), 0}};
    sky.otherSounders = {sounder};
    return sky;
}

} // namespace

class TestChirpDetector : public QObject {
    Q_OBJECT

private slots:
    // A peak over the threshold is a crossing; one under it but over completingDb is passed on
    // marked weak; one under both is not heard. The same 10 dB crossing (some 20 dB out of the
    // filter) against thresholds around it.
    void peakUnderTheThreshold_markedWeak_data() {
        QTest::addColumn<double>("thresholdDb");
        QTest::addColumn<double>("completingDb");
        QTest::addColumn<int>("heard"); // 0 nothing, 1 weak, 2 a crossing
        QTest::newRow("over the threshold") << 15.0 << 10.0 << 2;
        QTest::newRow("between the two") << 40.0 << 15.0 << 1;
        QTest::newRow("under both") << 40.0 << 35.0 << 0;
    }
    void peakUnderTheThreshold_markedWeak() {
        QFETCH(double, thresholdDb);
        QFETCH(double, completingDb);
        QFETCH(int, heard);
        constexpr double fs = 8000;
        const double first = 1796601600;
        const double pass = first + 2.0137;
        const auto audio = Audio(fs, first, 4, {{pass, 500, 10, false}});
        ChirpDetectorSettings settings;
        settings.sampleRate = fs;
        settings.thresholdDb = thresholdDb;
        settings.completingDb = completingDb;
        ChirpDetector detector(settings);
        const auto found = Detect(&detector, audio, first, fs, 0.02, true);
        const ChirpDetection* best = Best(found, pass);
        QCOMPARE(best == nullptr ? 0 : best->weak ? 1 : 2, heard);
    }

    // The fastest rate's peaks are judged by how well the quarters of the band keep the sweep's
    // times as well as by their level: a clean sweep keeps time, at every decimated rate and in
    // both directions. It stays a crossing with the threshold just under its own SNR, and with
    // the threshold 1.5 dB over it, it is passed on weak but timed (it may begin a sounder).
    void fastestSweep_onTime_strongOrTimed_data() {
        QTest::addColumn<double>("fs");
        QTest::addColumn<bool>("falling");
        QTest::addColumn<double>("thresholdOverSnrDb");
        for (double fs : {8000.0, 44100.0, 48000.0}) {
            for (bool falling : {false, true}) {
                for (double over : {-1.0, 1.5}) {
                    QTest::addRow("%g Hz %s, threshold %+g dB", fs, falling ? "falling" : "rising",
                                  over)
                        << fs << falling << over;
                }
            }
        }
    }
    void fastestSweep_onTime_strongOrTimed() {
        QFETCH(double, fs);
        QFETCH(bool, falling);
        QFETCH(double, thresholdOverSnrDb);
        const double first = kBase;
        const double pass = first + 2.0137;
        const auto audio = Audio(fs, first, 4, {{pass, 500, 10, falling}});
        ChirpDetectorSettings settings;
        settings.sampleRate = fs;
        settings.completingDb = 5;
        ChirpDetector measuring(settings);
        const auto measured = Detect(&measuring, audio, first, fs, 0.02, true);
        const ChirpDetection* heard = Best(measured, pass);
        QVERIFY(heard != nullptr);
        settings.thresholdDb = heard->snrDb + thresholdOverSnrDb;
        ChirpDetector detector(settings);
        const auto found = Detect(&detector, audio, first, fs, 0.02, true);
        const ChirpDetection* best = Best(found, pass);
        QVERIFY(best != nullptr);
        QCOMPARE(best->rateKhzPerS, 500.0);
        QCOMPARE(best->weak, thresholdOverSnrDb > 0);
        QVERIFY2(best->timed == best->weak, qPrintable(QString("%1 dB").arg(best->snrDb)));
    }

    void crossing_atItsInstantRateAndDirection_data() {
        QTest::addColumn<double>("fs");
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("falling");
        for (double fs : {48000.0, 16000.0}) {
            for (double rate : {50.0, 82.0, 100.0, 125.0, 500.0}) {
                for (bool falling : {false, true}) {
                    QTest::addRow("%g Hz %g kHz/s %s", fs, rate, falling ? "falling" : "rising")
                        << fs << rate << falling;
                }
            }
        }
    }
    void crossing_atItsInstantRateAndDirection() {
        QFETCH(double, fs);
        QFETCH(double, rate);
        QFETCH(bool, falling);
        const double first = kBase + 0.25;
        const double pass = first + 2.0137; // off the sample grid
        const auto audio = Audio(fs, first, 4, {{pass, rate, 10, falling}});
        ChirpDetectorSettings settings;
        settings.sampleRate = fs;
        settings.thresholdDb = 15; // noise alone stays under it (e^-31 per lag)
        ChirpDetector detector(settings);
        const auto found = Detect(&detector, audio, first, fs, 0.02);
        const ChirpDetection* best = Best(found, pass);
        QVERIFY(best != nullptr);
        QCOMPARE(best->rateKhzPerS, rate);
        QCOMPARE(best->falling, falling);
        QVERIFY2(std::abs(best->time - pass) < 0.0002,
                 qPrintable(QString::number((best->time - pass) * 1000) + " ms off"));
        // The matched filter's gain over 2.4 kHz for 2.4/R s, less a few dB of losses.
        const double gainDb = 10 * std::log10(2400 * 2.4 / rate);
        QVERIFY2(best->snrDb > 10 + gainDb - 4, qPrintable(QString::number(best->snrDb)));
        // Other filters may hear part of it, weaker, while it sweeps from 0 Hz to the top of the
        // passband (the grouping keeps the best); nothing else is heard.
        const double span = 2700 / (rate * 1000) + 0.005;
        for (const ChirpDetection& d : found) {
            QVERIFY2(std::abs(d.time - pass) < span,
                     qPrintable(QString("also heard %1 ms away at %2 kHz/s, %3 dB")
                                    .arg((d.time - pass) * 1000)
                                    .arg(d.rateKhzPerS)
                                    .arg(d.snrDb)));
        }
    }

    // The stream is the same whether it comes in one piece or many; a jump in time or a gap
    // splits it, and a crossing on either side is still placed right.
    void pieces_andGaps_placeCrossingsAlike_data() {
        QTest::addColumn<double>("blockSeconds");
        QTest::addRow("one piece") << 10.0;
        QTest::addRow("20 ms pieces") << 0.02;
        QTest::addRow("odd pieces") << 0.0137;
    }
    void pieces_andGaps_placeCrossingsAlike() {
        QFETCH(double, blockSeconds);
        constexpr double fs = 48000;
        const double first = kBase;
        const std::vector<Chirp> chirps{{first + 1.5, 100, 8}, {first + 3.25, 500, 8}};
        const auto audio = Audio(fs, first, 5, chirps);
        ChirpDetector whole({fs});
        const auto found = Detect(&whole, audio, first, fs, blockSeconds);
        for (const Chirp& c : chirps) {
            const ChirpDetection* best = Best(found, c.pass);
            QVERIFY(best != nullptr);
            QCOMPARE(best->rateKhzPerS, c.rateKhz);
            QVERIFY(std::abs(best->time - c.pass) < 0.0002);
        }

        // The same audio with the second between 2.4 and 3 s lost: the stream before the gap
        // must not be joined to the one after it.
        ChirpDetector gapped({fs});
        const auto cut = std::size_t(2.4 * fs), resume = std::size_t(3.0 * fs);
        std::vector<ChirpDetection> heard = gapped.Feed(std::span(audio).first(cut), first, 1 / fs);
        auto after =
            gapped.Feed(std::span(audio).subspan(resume), first + double(resume) / fs, 1 / fs);
        heard.insert(heard.end(), after.begin(), after.end());
        after = gapped.Gap();
        heard.insert(heard.end(), after.begin(), after.end());
        for (const Chirp& c : chirps) {
            const ChirpDetection* best = Best(heard, c.pass);
            QVERIFY(best != nullptr);
            QVERIFY(std::abs(best->time - c.pass) < 0.0002);
        }
    }

    // Keyed and shifted carriers 30 dB over the noise make edges in part of the band only, and
    // speech makes noise-like bursts; none is a sweep, and a 500 kHz/s crossing at 10 dB among them
    // is heard all the same. The threshold is raised so that noise alone stays under it (e^-31 per
    // lag).
    void busyBand_onlyTheSweepIsHeard_data() {
        QTest::addColumn<Interferer>("signal");
        using Keying = Interferer::Keying;
        const double level = AmplitudeOverNoise(kNoiseInBand, 30);
        QTest::newRow("Morse 12 wpm") << Interferer{700, level, Keying::OnOff, MorseDotSeconds(12)};
        QTest::newRow("Morse 20 wpm") << Interferer{700, level, Keying::OnOff, MorseDotSeconds(20)};
        QTest::newRow("Morse 30 wpm")
            << Interferer{1500, level, Keying::OnOff, MorseDotSeconds(30)};
        QTest::newRow("RTTY 45 baud") << Interferer{2125, level, Keying::Shift, 1 / 45.45};
        QTest::newRow("RTTY 75 baud") << Interferer{1275, level, Keying::Shift, 1 / 75.0};
        QTest::newRow("PSK31") << Interferer{1000, level, Keying::Psk, 1 / 31.25};
        QTest::newRow("steady carrier") << Interferer{1800, level, Keying::Steady};
        QTest::newRow("SSB speech") << Interferer{1200, level, Keying::Speech};
    }
    void busyBand_onlyTheSweepIsHeard() {
        QFETCH(Interferer, signal);
        constexpr double fs = 8000;
        constexpr double kSeconds = 40;
        SimulatedIonosphere ionosphere(BandWithSweep(fs, signal));
        // The sweep passes 7000 kHz 14 s after its period starts, at 20 s into the minute.
        const double first = kBase;
        const double pass = first + 20 + ionosphere.Filter().MeanGroupDelay();
        std::vector<float> audio(std::size_t(kSeconds * fs));
        ionosphere.Generate(7000, first, 1 / fs, audio);
        ChirpDetectorSettings settings;
        settings.sampleRate = fs;
        settings.thresholdDb = 15;
        ChirpDetector detector(settings);
        const auto found = Detect(&detector, audio, first, fs, 0.02);
        QVERIFY(Best(found, pass) != nullptr);
        QCOMPARE(Best(found, pass)->rateKhzPerS, 500.0);
        const QString elsewhere = HeardElsewhere(found, pass, first);
        QVERIFY2(elsewhere.isEmpty(), qPrintable(elsewhere));
    }

    // The simulated talker falls silent only between syllables: speech cut off in the middle of
    // one would stop with a step, a broadband click that filters rightly take for a sweep.
    void speech_fallsSilentOnlyBetweenSyllables() {
        constexpr double fs = 8000;
        const Interferer talker{1000, 1, Interferer::Keying::Speech};
        BandSignal speech(talker, 3, 0);
        double lastLoud = 0; // of the last millisecond before each silence
        double previous = 0;
        std::vector<double> recent;
        int silences = 0;
        for (int k = 0; k < int(120 * fs); ++k) {
            const double x = speech.Next(kBase + k / fs, 1 / fs);
            if (x == 0 && previous != 0) {
                ++silences;
                for (double v : recent) {
                    lastLoud = std::max(lastLoud, std::abs(v));
                }
            }
            recent.push_back(x);
            if (recent.size() > std::size_t(fs / 1000)) {
                recent.erase(recent.begin());
            }
            previous = x;
        }
        QVERIFY(silences > 100);
        QVERIFY2(lastLoud < 0.01, qPrintable(QString::number(lastLoud)));
    }

    // The receiver's audio beside RTTY with 20 ms lost every 0.45 s, unmarked, as a sound card's
    // overruns lose it: each loss is a jump in the waveform, a click, which is no sweep (one of
    // them was heard as a 500 kHz/s crossing at 16 dB); the sweep that crosses between two of
    // them is still heard.
    void lostAudio_jumpsAreNoSweeps() {
        const Interferer rtty{2125, AmplitudeOverNoise(kNoiseInBand, 20), Interferer::Keying::Shift,
                              1 / 45.45};
        constexpr double fs = 48000;
        constexpr double kSeconds = 30;
        constexpr double kLossEveryS = 0.45;
        constexpr auto kLost = std::size_t(0.02 * fs);
        SimulatedIonosphere ionosphere(BandWithSweep(fs, rtty));
        // The sweep passes 7000 kHz 14 s after its period starts, at 20 s into the minute; the
        // losses before it move it on in the audio by as much.
        const double first = kBase;
        std::vector<float> heard(std::size_t(kSeconds * fs) + kLost * 80);
        ionosphere.Generate(7000, first, 1 / fs, heard);
        std::vector<float> audio;
        double pass = first + 20 + ionosphere.Filter().MeanGroupDelay();
        for (std::size_t at = 0; audio.size() < std::size_t(kSeconds * fs);) {
            const std::size_t keep = std::size_t(kLossEveryS * fs) - kLost;
            audio.insert(audio.end(), heard.begin() + long(at), heard.begin() + long(at + keep));
            at += keep + kLost;
            if (double(at) / fs < 20) {
                pass -= kLost / fs;
            }
        }
        ChirpDetector detector({fs});
        const auto found = Detect(&detector, audio, first, fs, 0.02);
        QVERIFY(Best(found, pass) != nullptr);
        const QString elsewhere = HeardElsewhere(found, pass, first);
        QVERIFY2(elsewhere.isEmpty(), qPrintable(elsewhere));
    }

    // A carrier far stronger than the noise is notched: the crossing stands about as far over
    // the floor as without it.
    void strongCarriers_areNotched() {
        constexpr double fs = 16000;
        const double first = kBase;
        const Chirp chirp{first + 6.3, 500, 6};
        double clean = 0;
        double withCarriers = 0;
        for (bool carriers : {false, true}) {
            const auto audio = Audio(fs, first, 8, {chirp},
                                     carriers ? std::vector<Carrier>{{1000, 30}, {1875.5, 30}}
                                              : std::vector<Carrier>{});
            ChirpDetector detector({fs});
            const auto found = Detect(&detector, audio, first, fs, 0.02);
            const ChirpDetection* best = Best(found, chirp.pass);
            QVERIFY(best != nullptr);
            (carriers ? withCarriers : clean) = best->snrDb;
        }
        QVERIFY2(withCarriers > clean - 2,
                 qPrintable(
                     QString("%1 dB with the carriers, %2 without").arg(withCarriers).arg(clean)));
    }
};

QTEST_GUILESS_MAIN(TestChirpDetector)
#include "tst_chirpdetector.moc"
