// Listening on one frequency, measured through the real detector and grouping on the simulated
// band, faster than real time:
//  - the test band (100 kHz/s 300:78, 82 kHz/s 720:41, 500 kHz/s 60:54, noise and two steady
//    carriers) at 6 dB per crossing in the passband, 100 runs with random start times, path
//    delays and carriers: how often each sounder is confirmed with the right rate and period
//    within three of its periods, and how far its chirp time lies from the truth plus the path
//    delay. Only the audio around the crossings is fed, with gaps between (Gap());
//  - 24 hours of noise with steady and keyed carriers (on-off and RTTY-like shifts) fed at
//    8 kHz, which the detector takes as it is: false detections and false sounders;
//  - the test band again with a busy ham band beside it (Morse, RTTY, PSK at 10-30 dB);
//  - hours of a busy band (a new draw of Morse at 12-30 words per minute, RTTY at 45 or 75 baud,
//    a PSK-like carrier and a steady one, each 10-30 dB over the noise, every ten minutes), and
//    a quarter as long with SSB speech-like bursts at 0-30 dB added: false crossings per rate;
//  - the grouping's cost per crossing and per refresh of the lists with a day of crossings;
//  - the CPU time the detector takes per second of 48 kHz audio, all rates together.
//  - the listening test's band without its sounder, at 48 kHz: false crossings per hour (each
//    noted), and with 20 ms of audio lost every 10 s.
// Usage: bench_detector [runs [hours]] (defaults 100 and 24; both sets of test band runs and
// the 24 h sets take their size from these, the listening test's band a quarter of the hours).
// TAVMIROK_DETECTOR_LISTEN_BAND_ONLY=1 runs the listening test's band alone, for the hours.

#include "benchrow.h"
#include "ionogram/chirpdetector.h"
#include "ionogram/soundergrouper.h"
#include "simulation/simulatedionosphere.h"

#include <QString>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <map>
#include <random>

using namespace ionogram;

namespace {

constexpr double kDialKhz = 7000;
constexpr double kMidnight = 1796601600; // 2026-12-07T00:00:00Z
constexpr double kNoiseRms = 0.01;
constexpr double kCrossingSnrDb = 6;
constexpr double kCarrierPowerOverNoise = 3.5; // each of two: 7 times the noise together
constexpr double kLeadS = 1.5;                 // audio fed before a crossing
constexpr double kTrailS = 0.5;                // and after it
constexpr double kChirpToleranceS = 0.005;
constexpr double kBlockS = 0.02;

struct Truth {
    double rate;
    double period;
    double chirp;
};
constexpr Truth kBand[] = {{100, 300, 78}, {82, 720, 41}, {500, 60, 54}};

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

SimulatedSounder Sounder(const Truth& truth, double delayMs, double amplitude) {
    SimulatedSounder s;
    s.profile.sweepRate = truth.rate;
    s.profile.period = truth.period;
    s.chirpTime = truth.chirp;
    s.modes = {{delayMs, 0, 1e6, amplitude, 0}};
    return s;
}

// Feeds [from, to) of the ionosphere's audio in 20 ms blocks; returns the CPU seconds the
// detector took, detections into `found`.
double Feed(SimulatedIonosphere* sky, ChirpDetector* detector, double from, double to,
            std::vector<ChirpDetection>* found) {
    const double fs = sky->Config().sampleRate;
    const auto block = std::size_t(std::lround(kBlockS * fs));
    std::vector<float> audio(block);
    double cpu = 0;
    const auto blocks = std::size_t((to - from) / kBlockS);
    for (std::size_t b = 0; b < blocks; ++b) {
        const double first = from + double(b * block) / fs;
        sky->Generate(kDialKhz, first, 1 / fs, audio);
        const double start = CpuSeconds();
        auto heard = detector->Feed(audio, first, 1 / fs);
        cpu += CpuSeconds() - start;
        found->insert(found->end(), heard.begin(), heard.end());
    }
    return cpu;
}

double OffPeriod(double a, double b, double period) {
    const double d = std::fmod(a - b + 10 * period, period);
    return std::min(d, period - d);
}

// A busy band's draw: Morse, RTTY, a PSK-like carrier and a steady one at 10-30 dB over the
// noise, anywhere in the passband; SSB speech-like bursts at 0-30 dB too when `speech`.
std::vector<Interferer> BusyBand(std::mt19937* random, bool speech) {
    std::uniform_real_distribution<double> uniform(0, 1);
    const auto hz = [&] { return 400 + 1900 * uniform(*random); };
    const auto level = [&](double low) {
        return AmplitudeOverNoise(kNoiseRms, low + (30 - low) * uniform(*random));
    };
    using Keying = Interferer::Keying;
    std::vector<Interferer> band{
        {hz(), level(10), Keying::OnOff, MorseDotSeconds(12 + 18 * uniform(*random))},
        {hz(), level(10), Keying::Shift, uniform(*random) < 0.5 ? 1 / 45.45 : 1 / 75.0},
        {hz(), level(10), Keying::Psk, 1 / 31.25},
        {hz(), level(10), Keying::Steady}};
    if (speech) {
        band.push_back({500 + 1500 * uniform(*random), level(0), Keying::Speech});
    }
    return band;
}

void TestBand(int runs, bool busy) {
    std::vector<int> found(std::size(kBand), 0);
    std::vector<std::vector<double>> chirpErrorsMs(std::size(kBand));
    std::vector<double> falseSounders;
    std::vector<std::vector<double>> crossingSnr(std::size(kBand));
    int ghostRuns = 0;
    const double amplitude = kNoiseRms * std::sqrt(2 * std::pow(10, kCrossingSnrDb / 10));
    for (int run = 0; run < runs; ++run) {
        std::mt19937 random(1000 + run);
        std::uniform_real_distribution<double> uniform(0, 1);
        const double start = kMidnight + std::floor(uniform(random) * 86000);
        SimulatedIonosphere::Settings sky;
        sky.sampleRate = 48000;
        sky.noiseRms = kNoiseRms;
        sky.seed = 7 + run;
        std::vector<double> delays;
        for (const Truth& truth : kBand) {
            delays.push_back(1 + 19 * uniform(random));
            sky.otherSounders.push_back(Sounder(truth, delays.back(), amplitude));
        }
        for (int c = 0; c < 2; ++c) {
            sky.interferers.push_back(
                {400 + 2000 * uniform(random), kNoiseRms * std::sqrt(2 * kCarrierPowerOverNoise)});
        }
        if (busy) {
            const auto band = BusyBand(&random, false);
            sky.interferers.insert(sky.interferers.end(), band.begin(), band.end());
        }
        // Windows around every crossing within three of the slowest period, joined where they
        // overlap.
        // Listening starts kLeadS after `start`, so that every crossing has its lead-in.
        const double listening = start + kLeadS;
        const double end = listening + 3 * 720;
        std::vector<std::pair<double, double>> windows;
        for (const Truth& truth : kBand) {
            const double inPeriod = truth.chirp + kDialKhz / truth.rate;
            // The sweep passes the dial frequency inPeriod after each period's start, which
            // may lie beyond the period itself.
            for (double t = std::floor((start - kMidnight) / truth.period) * truth.period +
                            kMidnight + std::fmod(inPeriod, truth.period);
                 t < end; t += truth.period) {
                if (t - kLeadS >= start) {
                    windows.emplace_back(t - kLeadS, t + kTrailS);
                }
            }
        }
        std::sort(windows.begin(), windows.end());
        std::vector<std::pair<double, double>> joined;
        for (const auto& w : windows) {
            if (!joined.empty() && w.first <= joined.back().second) {
                joined.back().second = std::max(joined.back().second, w.second);
            } else {
                joined.push_back(w);
            }
        }
        SimulatedIonosphere ionosphere(sky);
        ChirpDetector detector({48000});
        SounderGrouper grouper(kDialKhz);
        std::vector<double> confirmedAt(std::size(kBand), 0);
        for (const auto& [from, to] : joined) {
            std::vector<ChirpDetection> heard;
            Feed(&ionosphere, &detector, from, to, &heard);
            auto rest = detector.Gap();
            heard.insert(heard.end(), rest.begin(), rest.end());
            for (const ChirpDetection& d : heard) {
                for (std::size_t i = 0; i < std::size(kBand) && !d.weak; ++i) {
                    const double truth =
                        kBand[i].chirp + kDialKhz / kBand[i].rate + delays[i] / 1000;
                    if (d.rateKhzPerS == kBand[i].rate && !d.falling &&
                        OffPeriod(d.time - kMidnight, truth, kBand[i].period) < kChirpToleranceS) {
                        crossingSnr[i].push_back(d.snrDb);
                    }
                }
                if (!grouper.Add(d)) {
                    continue;
                }
                for (std::size_t i = 0; i < std::size(kBand); ++i) {
                    for (const HeardSounder& s : grouper.Confirmed()) {
                        if (confirmedAt[i] == 0 && s.rateKhzPerS == kBand[i].rate &&
                            s.periodS == kBand[i].period) {
                            confirmedAt[i] = d.time;
                        }
                    }
                }
            }
        }
        int ghosts = 0;
        for (const HeardSounder& s : grouper.Confirmed()) {
            bool real = false;
            for (std::size_t i = 0; i < std::size(kBand); ++i) {
                const Truth& truth = kBand[i];
                if (s.rateKhzPerS != truth.rate || s.periodS != truth.period) {
                    continue;
                }
                const double error =
                    OffPeriod(s.chirpTimeS, truth.chirp + delays[i] / 1000, truth.period);
                real = true;
                chirpErrorsMs[i].push_back(error * 1000);
                if (confirmedAt[i] > 0 && confirmedAt[i] < listening + 3 * truth.period &&
                    error <= kChirpToleranceS) {
                    ++found[i];
                } else {
                    bench::Note(QString("run %1: %2 kHz/s %3:%4 confirmed after %5 s, chirp time "
                                        "%6 s, %7 ms off")
                                    .arg(run)
                                    .arg(truth.rate)
                                    .arg(truth.period)
                                    .arg(truth.chirp)
                                    .arg(confirmedAt[i] - listening, 0, 'f', 1)
                                    .arg(s.chirpTimeS, 0, 'f', 4)
                                    .arg(error * 1000, 0, 'f', 1));
                }
            }
            ghosts += real ? 0 : 1;
        }
        for (std::size_t i = 0; i < std::size(kBand); ++i) {
            if (confirmedAt[i] == 0) {
                bench::Note(QString("run %1: %2 kHz/s %3:%4 not confirmed")
                                .arg(run)
                                .arg(kBand[i].rate)
                                .arg(kBand[i].period)
                                .arg(kBand[i].chirp));
            }
        }
        falseSounders.push_back(ghosts);
        ghostRuns += ghosts > 0 ? 1 : 0;
    }
    const QString beside = busy ? ", Morse, RTTY and PSK at 10-30 dB" : "";
    for (std::size_t i = 0; i < std::size(kBand); ++i) {
        const Truth& t = kBand[i];
        const QString name = QString("%1 kHz/s %2:%3%4")
                                 .arg(t.rate)
                                 .arg(t.period)
                                 .arg(t.chirp)
                                 .arg(busy ? " on a busy band" : "");
        bench::PrintRow(QString("listen: %1 at 6 dB found within 3 periods").arg(name),
                        QString("%1 of %2 runs").arg(found[i]).arg(runs),
                        "bench_detector: test band at 7000 kHz, 48 kHz audio around the crossings, "
                        "random start, path delay 1-20 ms, two carriers 7x the noise" +
                            beside + "; rate, period right and chirp time within 5 ms");
        bench::PrintRow(
            QString("listen: %1 crossings at 6 dB, SNR 10th percentile / median").arg(name),
            QString("%1 / %2 dB (%3 detected)")
                .arg(bench::Percentile(crossingSnr[i], 0.1), 0, 'f', 1)
                .arg(bench::Median(crossingSnr[i]), 0, 'f', 1)
                .arg(crossingSnr[i].size()),
            "bench_detector: matched filter output over its floor, detections at the "
            "true rate and time");
        bench::PrintRow(
            QString("listen: %1 chirp time error, median / max").arg(name),
            QString("%1 / %2 ms")
                .arg(bench::Median(chirpErrorsMs[i]), 0, 'f', 2)
                .arg(chirpErrorsMs[i].empty()
                         ? std::nan("")
                         : *std::max_element(chirpErrorsMs[i].begin(), chirpErrorsMs[i].end()),
                     0, 'f', 2),
            "bench_detector: against chirp time + path delay, the simulated "
            "passband's own 0.3 ms included");
    }
    bench::PrintRow(QString("listen: false sounders in the test band runs%1")
                        .arg(busy ? " on a busy band" : ""),
                    QString("%1 runs of %2 with one").arg(ghostRuns).arg(runs),
                    "bench_detector: confirmed sounders matching no true rate and period");
}

void Interference(double hours) {
    constexpr double fs = 8000;
    SimulatedIonosphere::Settings sky;
    sky.sampleRate = fs;
    sky.noiseRms = kNoiseRms;
    sky.seed = 99;
    const double steady = kNoiseRms * std::sqrt(2 * kCarrierPowerOverNoise);
    using Keying = Interferer::Keying;
    sky.interferers = {{730, steady, Keying::Steady},
                       {1910, steady, Keying::Steady},
                       {1200, 4 * steady, Keying::OnOff},
                       {2215, 2 * steady, Keying::Shift, 0.022, 170}};
    SimulatedIonosphere ionosphere(sky);
    ChirpDetector detector({fs});
    SounderGrouper grouper(kDialKhz);
    std::vector<ChirpDetection> heard;
    const double start = kMidnight;
    double cpu = 0;
    constexpr double kChunkS = 600;
    for (double t = start; t < start + hours * 3600; t += kChunkS) {
        std::vector<ChirpDetection> found;
        cpu += Feed(&ionosphere, &detector, t, t + kChunkS, &found);
        for (const ChirpDetection& d : found) {
            // A weak detection counts only where the grouping takes it as a crossing.
            if (grouper.Add(d) || !d.weak) {
                heard.push_back(d);
            }
        }
    }
    bench::PrintRow(
        QString("listen: false detections in %1 h of noise and carriers").arg(hours),
        QString("%1 (%2 crossings after merging)").arg(heard.size()).arg(grouper.CrossingCount()),
        "bench_detector: 8 kHz audio, two steady carriers 3.5x the noise power each, an "
        "on-off keyed carrier 56x, an RTTY-like 170 Hz shift at 45 baud 14x, keyed "
        "with 5 ms edges");
    bench::PrintRow(QString("listen: false sounders in %1 h of noise and carriers").arg(hours),
                    QString("%1 confirmed, %2 unconfirmed")
                        .arg(grouper.Confirmed().size())
                        .arg(grouper.Unconfirmed().size()),
                    "bench_detector: the same audio through the grouping");
    bench::PrintRow("listen: detector CPU per second of 8 kHz audio",
                    QString("%1 % of a core").arg(100 * cpu / (hours * 3600), 0, 'f', 3),
                    "bench_detector: thread CPU time of Feed over the 24 h run");
}

// Hours of busy band at 8 kHz, a new draw of signals every ten minutes: false crossings per
// rate (both directions), and what the grouping makes of them.
void Busy(double hours, bool speech) {
    constexpr double fs = 8000;
    constexpr double kDrawS = 600;
    std::mt19937 random(speech ? 31 : 13);
    ChirpDetector detector({fs});
    SounderGrouper grouper(kDialKhz);
    std::map<double, int> perRate;
    for (double rate : detector.Settings().ratesKhzPerS) {
        perRate[rate] = 0;
    }
    int total = 0;
    std::size_t mostUnconfirmed = 0;
    for (double t = kMidnight; t < kMidnight + hours * 3600; t += kDrawS) {
        SimulatedIonosphere::Settings sky;
        sky.sampleRate = fs;
        sky.noiseRms = kNoiseRms;
        sky.seed = std::uint32_t(random());
        sky.interferers = BusyBand(&random, speech);
        SimulatedIonosphere ionosphere(sky);
        std::vector<ChirpDetection> found;
        Feed(&ionosphere, &detector, t, t + kDrawS, &found);
        // Each draw is heard as after a retune: every signal cut off at once would be a click
        // at whole ten minutes, which the grouping would take for a sounder.
        const auto rest = detector.Gap();
        found.insert(found.end(), rest.begin(), rest.end());
        detector.Reset();
        for (const ChirpDetection& d : found) {
            if (grouper.Add(d) || !d.weak) {
                ++perRate[d.rateKhzPerS];
                ++total;
            }
        }
        mostUnconfirmed = std::max(mostUnconfirmed, grouper.Unconfirmed().size());
    }
    QString rates;
    for (const auto& [rate, count] : perRate) {
        rates += QString("%1%2: %3")
                     .arg(rates.isEmpty() ? "" : ", ")
                     .arg(rate)
                     .arg(count / hours, 0, 'f', 1);
    }
    const QString what = speech ? "busy band with SSB speech" : "busy band";
    bench::PrintRow(QString("listen: false crossings per hour of %1, by rate (kHz/s)").arg(what),
                    QString("%1 (all: %2 in %3 h)").arg(rates).arg(total).arg(hours),
                    QString("bench_detector: 8 kHz audio, a new draw every 10 min (as after a "
                            "retune) of Morse at "
                            "12-30 wpm with 5 ms edges, RTTY 170 Hz at 45 or 75 baud, PSK31-like "
                            "and a steady carrier, each 10-30 dB over the noise in the passband%1")
                        .arg(speech ? ", and SSB speech-like bursts at 0-30 dB" : ""));
    bench::PrintRow(QString("listen: false sounders in %1 h of %2").arg(hours).arg(what),
                    QString("%1 confirmed, at most %2 unconfirmed rows")
                        .arg(grouper.Confirmed().size())
                        .arg(mostUnconfirmed),
                    "bench_detector: the same audio through the grouping, unconfirmed rows "
                    "counted after every draw");
}

// The listening test's band without its sounder (Morse at 20 words per minute on 700 Hz,
// 0.126 of full scale, and RTTY at 45.45 baud on 2125 Hz, 0.05, over noise of RMS 0.01, as
// tools/radiosim makes it at 48 kHz): the false crossings the program would log there, per hour,
// so that the test's bound on them can be set from a rate and not from one run. With
// `overrunEveryS`, a 20 ms block of the audio is lost that often, unseen, as when the sound
// card overruns on a loaded machine: the audio jumps while its times run on.
void ListeningTestBand(double hours, double overrunEveryS) {
    constexpr double fs = 48000;
    SimulatedIonosphere::Settings sky;
    sky.sampleRate = fs;
    sky.noiseRms = kNoiseRms;
    sky.seed = 41;
    using Keying = Interferer::Keying;
    sky.interferers = {{700, 0.126, Keying::OnOff, MorseDotSeconds(20)},
                       {2125, 0.05, Keying::Shift, 1 / 45.45}};
    SimulatedIonosphere ionosphere(sky);
    ChirpDetector detector({fs});
    SounderGrouper grouper(kDialKhz);
    const auto block = std::size_t(std::lround(kBlockS * fs));
    std::vector<float> audio(block);
    int logged = 0;
    double lost = 0; // seconds of audio lost so far
    const auto blocks = std::size_t(hours * 3600 / kBlockS);
    for (std::size_t b = 0; b < blocks; ++b) {
        const double first = kMidnight + double(b * block) / fs;
        if (overrunEveryS > 0 && std::floor((first - kMidnight) / overrunEveryS) >
                                     std::floor((first - kMidnight - kBlockS) / overrunEveryS)) {
            // The receiver's audio runs on through its filter; the block never arrives.
            ionosphere.Generate(kDialKhz, first + lost, 1 / fs, audio);
            lost += kBlockS;
        }
        ionosphere.Generate(kDialKhz, first + lost, 1 / fs, audio);
        for (const ChirpDetection& d : detector.Feed(audio, first, 1 / fs)) {
            if (!grouper.Add(d) && d.weak) {
                continue;
            }
            ++logged;
            if (overrunEveryS == 0) {
                bench::Note(QString("%1 s: %2 kHz/s%3, %4 dB%5")
                                .arg(d.time - kMidnight, 0, 'f', 3)
                                .arg(d.rateKhzPerS)
                                .arg(d.falling ? " falling" : "")
                                .arg(d.snrDb, 0, 'f', 1)
                                .arg(d.weak ? (d.timed ? " (weak, timed)" : " (weak)") : ""));
            }
        }
    }
    bench::PrintRow(
        QString("listen: false crossings per hour beside the listening test's Morse "
                "and RTTY%1")
            .arg(overrunEveryS > 0 ? QString(", a block lost every %1 s").arg(overrunEveryS)
                                   : QString()),
        QString("%1 (%2 in %3 h)").arg(logged / hours, 0, 'f', 1).arg(logged).arg(hours),
        "bench_detector: 48 kHz audio, Morse 20 wpm at 700 Hz 0.126, RTTY 45.45 baud "
        "at 2125 Hz 0.05, noise RMS 0.01; logged: strong, or taken by the grouping");
}

// A day of crossings as a busy band gave them before the detector told chirps from keyed
// carriers (about 1000 an hour at random, mostly 500 kHz/s), with the test band's sounders:
// the grouping's cost per crossing, and the worst refresh of both lists.
void Grouping() {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> uniform(0, 1);
    std::vector<ChirpDetection> day;
    const double rates[] = {50, 82, 100, 125, 500, 500, 500, 500};
    for (int i = 0; i < 24000; ++i) {
        day.push_back({kMidnight + 86400 * uniform(random), rates[random() % std::size(rates)],
                       12 + 4 * uniform(random), (random() & 1) != 0});
    }
    for (const Truth& truth : kBand) {
        for (double t = kMidnight + truth.chirp + kDialKhz / truth.rate; t < kMidnight + 86400;
             t += truth.period) {
            day.push_back({t, truth.rate, 20, false});
        }
    }
    std::sort(day.begin(), day.end(),
              [](const ChirpDetection& a, const ChirpDetection& b) { return a.time < b.time; });
    SounderGrouper grouper(kDialKhz);
    double adding = 0;
    double worstRefresh = 0;
    std::size_t rows = 0;
    for (std::size_t i = 0; i < day.size(); ++i) {
        double start = CpuSeconds();
        grouper.Add(day[i]);
        adding += CpuSeconds() - start;
        if (i % 100 == 0) {
            start = CpuSeconds();
            rows = grouper.Confirmed().size() + grouper.Unconfirmed().size();
            worstRefresh = std::max(worstRefresh, CpuSeconds() - start);
        }
    }
    bench::PrintRow("listen: grouping a day of crossings, per crossing / worst refresh",
                    QString("%1 us / %2 ms (%3 rows at the end)")
                        .arg(1e6 * adding / double(day.size()), 0, 'f', 1)
                        .arg(1000 * worstRefresh, 0, 'f', 3)
                        .arg(rows),
                    QString("bench_detector: %1 crossings over 24 h, 24000 of them false at "
                            "random; both lists read every 100 crossings")
                        .arg(day.size()));
}

void CpuAt48k() {
    constexpr double seconds = 120;
    SimulatedIonosphere::Settings sky;
    sky.sampleRate = 48000;
    sky.noiseRms = kNoiseRms;
    for (const Truth& truth : kBand) {
        sky.otherSounders.push_back(Sounder(truth, 3, 0.03));
    }
    sky.interferers = {{800, 0.03}, {1900, 0.03}};
    SimulatedIonosphere ionosphere(sky);
    ChirpDetector detector({48000});
    std::vector<ChirpDetection> found;
    const double cpu =
        Feed(&ionosphere, &detector, kMidnight + 3600, kMidnight + 3600 + seconds, &found);
    bench::PrintRow("listen: detector CPU per second of 48 kHz audio",
                    QString("%1 % of a core (%2 ms per second)")
                        .arg(100 * cpu / seconds, 0, 'f', 3)
                        .arg(1000 * cpu / seconds, 0, 'f', 3),
                    "bench_detector: thread CPU time of Feed, 120 s of the test band in 20 ms "
                    "blocks, rates 50, 82, 100, 125, 500 kHz/s rising and falling");
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(0, std::atoi(argv[1])) : 100;
    const double hours = argc > 2 ? std::max(0.01, std::atof(argv[2])) : 24;
    if (qEnvironmentVariableIsSet("TAVMIROK_DETECTOR_LISTEN_BAND_ONLY")) {
        ListeningTestBand(hours, 0);
        ListeningTestBand(hours, 10);
        return 0;
    }
    CpuAt48k();
    Grouping();
    if (runs > 0) {
        TestBand(runs, false);
        TestBand(runs, true);
    }
    Interference(hours);
    ListeningTestBand(hours / 4, 0);
    ListeningTestBand(hours / 4, 10);
    Busy(hours, false);
    Busy(hours / 4, true);
    return 0;
}
