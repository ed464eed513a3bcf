// The whole ionogram path: the simulated radio hears a sounder through an ionosphere of known
// modes and writes its audio, on a sound card clock 100 ppm fast, into a pipe source of a private
// PulseAudio server; the real program without a window follows a short sweep on that radio,
// records the input and archives the sweep. Every mode must come out at its delay after one
// constant offset (the receiver's filter and the audio path), and nothing where there is none.
// The user's home is named with a letter outside ASCII and no archive folder is set, so the
// archive goes to the default folder inside that home.

#include "headless/commandline.h"
#include "ionogram/dayfile.h"
#include "ionogram/dayplot.h"
#include "ionogram/ionogramimage.h"
#include "simulation/ionolayer.h"
#include "simulation/simulatedionosphere.h"
#include "support/gzip.h"
#include "support/ionogramrun.h"
#include "support/ionogramtable.h"
#include "support/pulseserver.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>

namespace {

// A sweep of 10 steps 2 s apart: 3 to 12 MHz at 500 kHz/s, every minute.
const QStringList kProfile{"--period", "60",    "--sweep-rate", "500",    "--step",
                           "1000",     "--low", "2000",         "--high", "12000"};
constexpr double kPeriod = 60;
constexpr int kSteps = 10;
constexpr double kFirstStepKhz = 3000;
constexpr double kStepKhz = 1000;
// The first step comes this long after the chirp time is chosen: time for both to start, and
// for the program to fit the drifting card's clock over some seconds of audio first (a 6 s lead
// left the first columns 0.4 ms off when four whole-program tests shared two cores under the
// sanitizers).
constexpr double kLead = 14;
// The sweep (20 s), the archive's wait for the last step's audio and room for a slow machine.
constexpr int kArchiveTimeoutMs = int((kLead + 20 + 1.5) * 1000) + 30000;

struct Mode {
    double delayMs;
    double lowKhz;
    double highKhz;
    double amplitude;
};
// Two modes share 6 MHz, none reaches 11 MHz; each about 20 dB over the noise.
constexpr Mode kModes[] = {
    {3.2, 2000, 6500, 0.04}, {7.5, 5500, 10500, 0.03}, {12.0, 11500, 12000, 0.04}};
constexpr double kNoiseRms = 0.01;

constexpr double kFoundDb = 12; // over the row's median
// Away from the modes, and in a row where no mode exists, only a cell this strong would be a
// mode out of place: among the sweep's 2600 or so independent noise cells the strongest reaches
// about 11 dB, and one reaches the 12 dB of a find in about one run in 25 (even in the one row
// with no mode it did, 12.0 dB at 11 MHz under the sanitizers), but 15 dB in less than one run
// in a million.
constexpr double kOutOfPlaceDb = 15;
constexpr double kSpreadLimitMs = 0.25;
// A mode's peak is looked for this far around its delay: the constant offset is positive and
// below a millisecond; the modes lie far enough apart that the spans never overlap.
constexpr double kSearchBeforeMs = 1;
// The capture offset (sound server and placement) stays under this even on a loaded machine or
// under the sanitizers, where one run measured 1.01 ms.
constexpr double kLongestCaptureOffsetMs = 2;
constexpr double kSearchAfterMs = 2;
// A mode's own cells: its main lobe and the first sidelobes of the dechirp's taper, about 14 dB
// under the peak 0.7 ms either side, which rise over the threshold for a mode 26 dB strong.
constexpr double kModeSpanMs = 1.0;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? std::nan("") : values[values.size() / 2];
}

bool Exists(const Mode& mode, double khz) {
    return khz >= mode.lowKhz && khz <= mode.highKhz;
}

} // namespace

class TestE2eIonogram : public QObject {
    Q_OBJECT
private slots:
    void driftingCardThroughPulse_modesAtTheirDelays();
    void layerSweep_scaledIntoDayFileAndPlot();
};

void TestE2eIonogram::driftingCardThroughPulse_modesAtTheirDelays() {
    if (!PulseServer::Installed()) {
        QSKIP("pulseaudio and pactl are not installed (scripts/test installs them)");
    }
    QStringList radioArguments{"--audio-ppm", "100", "--noise", QString::number(kNoiseRms)};
    for (const Mode& mode : kModes) {
        radioArguments << "--mode"
                       << QStringLiteral("%1:%2-%3:%4")
                              .arg(mode.delayMs)
                              .arg(mode.lowKhz)
                              .arg(mode.highKhz)
                              .arg(mode.amplitude);
    }
    IonogramRun run;
    // No archive folder is set: the default one lies in a home whose name is not ASCII.
    const QString home = run.folder.filePath(QStringLiteral("j\u00f8rgen"));
    QVERIFY2(run.Start(QStringLiteral(TAVMIROK_PROGRAM), kProfile, kPeriod, kLead, radioArguments,
                       {}, home),
             qPrintable(run.Error()));
    const QRegularExpressionMatch match =
        run.WaitFor(QRegularExpression(QStringLiteral("Z ionogram archived: (\\S+\\.png) ")),
                    kArchiveTimeoutMs);
    QVERIFY(run.Finish());
    const QString& log = run.log;
    QVERIFY2(match.hasMatch(), qPrintable(log));
    QCOMPARE(run.program.exitCode(), headless::kExitOk);
    QVERIFY2(log.contains(QStringLiteral("Z sweep ended: %1 steps, 0 not answered by the radio, "
                                         "0 not sent\n")
                              .arg(kSteps)),
             qPrintable(log));
    QVERIFY2(!log.contains(QStringLiteral("problem: ")), qPrintable(log));

    const QString png = match.captured(1);
    QVERIFY2(png.startsWith(home + QStringLiteral("/.local/share/Tavmirok/ionograms/")),
             qPrintable(png));
    const QImage picture(png);
    QCOMPARE(picture.size(), ionogram::kIonogramImageSize);
    QFile csv(png.chopped(int(qstrlen(".png"))) + QStringLiteral(".csv.gz"));
    QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(csv.fileName()));
    const Table table = ReadTable(Gunzip(csv.readAll()));
    QCOMPARE(int(table.frequenciesKhz.size()), kSteps);

    // Each mode's peak in every row where it exists, against its delay.
    struct Found {
        double khz;
        double modelMs;
        double peakMs;
        double overMedianDb;
    };
    std::vector<Found> found;
    std::vector<double> medians;
    for (std::size_t row = 0; row < table.snrDb.size(); ++row) {
        const double khz = table.frequenciesKhz[row];
        QCOMPARE(khz, kFirstStepKhz + double(row) * kStepKhz);
        const std::vector<double>& snr = table.snrDb[row];
        QCOMPARE(snr.size(), table.delaysMs.size());
        medians.push_back(Median(snr));
        for (const Mode& mode : kModes) {
            if (!Exists(mode, khz)) {
                continue;
            }
            std::size_t peak = 0;
            double best = -INFINITY;
            for (std::size_t cell = 0; cell < snr.size(); ++cell) {
                const double ms = table.delaysMs[cell];
                if (ms >= mode.delayMs - kSearchBeforeMs && ms <= mode.delayMs + kSearchAfterMs &&
                    snr[cell] > best) {
                    best = snr[cell];
                    peak = cell;
                }
            }
            found.push_back({khz, mode.delayMs, table.delaysMs[peak], best - medians.back()});
        }
    }
    std::vector<double> differences;
    for (const Found& f : found) {
        differences.push_back(f.peakMs - f.modelMs);
    }
    const double offset = Median(differences);
    double lowest = INFINITY;
    double highest = -INFINITY;
    for (const Found& f : found) {
        const double error = f.peakMs - f.modelMs - offset;
        lowest = std::min(lowest, error);
        highest = std::max(highest, error);
        const QString where = QStringLiteral("mode %1 ms at %2 kHz: peak %3 ms, %4 dB (offset %5)")
                                  .arg(f.modelMs)
                                  .arg(f.khz)
                                  .arg(f.peakMs)
                                  .arg(f.overMedianDb)
                                  .arg(offset);
        QVERIFY2(f.overMedianDb >= kFoundDb, qPrintable(where));
        QVERIFY2(std::abs(error) <= kSpreadLimitMs, qPrintable(where));
    }
    qInfo("offset %.2f ms; %zu peaks from %+.2f to %+.2f ms of model + offset", offset,
          found.size(), lowest, highest);

    // Away from every mode nothing stands out of the noise.
    double strongestElsewhere = -INFINITY;
    for (std::size_t row = 0; row < table.snrDb.size(); ++row) {
        const double khz = table.frequenciesKhz[row];
        for (std::size_t cell = 0; cell < table.delaysMs.size(); ++cell) {
            const double ms = table.delaysMs[cell];
            const bool nearMode =
                std::any_of(std::begin(kModes), std::end(kModes), [&](const Mode& mode) {
                    return Exists(mode, khz) && std::abs(ms - mode.delayMs - offset) <= kModeSpanMs;
                });
            if (!nearMode) {
                strongestElsewhere =
                    std::max(strongestElsewhere, table.snrDb[row][cell] - medians[row]);
            }
            QVERIFY2(nearMode || table.snrDb[row][cell] - medians[row] < kOutOfPlaceDb,
                     qPrintable(QStringLiteral("%1 dB at %2 kHz, %3 ms where no mode is")
                                    .arg(table.snrDb[row][cell] - medians[row])
                                    .arg(khz)
                                    .arg(ms)));
        }
    }
    qInfo("strongest cell away from the modes: %.1f dB over its row's median", strongestElsewhere);
}

void TestE2eIonogram::layerSweep_scaledIntoDayFileAndPlot() {
    if (!PulseServer::Installed()) {
        QSKIP("pulseaudio and pactl are not installed (scripts/test installs them)");
    }
    // 2.2 to 14 MHz in 200 kHz steps 0.4 s apart, every minute; a layer with its nose at 11.23 MHz.
    const QStringList profile{"--period", "60",    "--sweep-rate", "500",    "--step",
                              "200",      "--low", "2000",         "--high", "14000"};
    constexpr double kFirstKhz = 2200;
    const ionogram::IonosphericLayer layer{5000, 300, 100, 1500, 1, 0.05};
    const QString layerText = QStringLiteral("5000:300:100:1500:1:0.05");
    // Time for the sound server, the radio's audio and the capture to be running before the
    // first step, so that the trace starts there.
    constexpr double kLayerLead = 15;
    constexpr int kScaledTimeoutMs = int((kLayerLead + 24 + 1.5) * 1000) + 30000;
    IonogramRun run;
    const QString home = run.folder.filePath(QStringLiteral("home"));
    // The two ends of a 1500 km path along the equator.
    QVERIFY2(run.Start(QStringLiteral(TAVMIROK_PROGRAM), profile, kPeriod, kLayerLead,
                       {"--noise", QString::number(kNoiseRms), "--layer", layerText},
                       {"--locator", "0,0", "--sounder-at", "0,13.48985"}, home),
             qPrintable(run.Error()));
    const QRegularExpressionMatch day = run.WaitFor(
        QRegularExpression(QStringLiteral("Z day file: (\\S+\\.csv), day plot: (\\S+\\.png)\n")),
        kScaledTimeoutMs);
    QVERIFY(run.Finish());
    QVERIFY2(day.hasMatch(), qPrintable(run.log));
    QVERIFY2(run.log.contains(QStringLiteral("Z sweep scaled: trace 1 MOF ")), qPrintable(run.log));
    QVERIFY2(!run.log.contains(QStringLiteral("problem: ")), qPrintable(run.log));

    QFile file(day.captured(1));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    const std::vector<ionogram::DayRow> rows = ionogram::ParseDayFile(text);
    QVERIFY2(rows.size() == 1, text.constData());
    const ionogram::ScaledTrace& trace = rows[0].trace;
    // No audio delay is set: the least delay comes out later than the model's by the capture
    // offset, the receiver's filter (its mean group delay) and the audio path together, one
    // constant below a millisecond (the modes' case above measures it).
    const double filterMs =
        ionogram::PassbandFilter(IonogramRun::kSampleRate).MeanGroupDelay() * 1000;
    const double modelMs = ionogram::LayerRays(layer, kFirstKhz).front().delayMs;
    const double offsetMs = trace.minDelayMs - modelMs;
    const QString found = QStringLiteral("LOF %1 MOF %2 (model %3) least %4 ms (model %5, capture "
                                         "offset %6 ms, the filter's part %7 ms)")
                              .arg(trace.lofKhz)
                              .arg(trace.mofKhz)
                              .arg(ionogram::LayerMofKhz(layer))
                              .arg(trace.minDelayMs)
                              .arg(modelMs)
                              .arg(offsetMs)
                              .arg(filterMs);
    qInfo("%s", qPrintable(found));
    QCOMPARE(trace.number, 1);
    // The log's step lines show when each step was sent, should the first column be missing.
    QVERIFY2(trace.lofKhz == kFirstKhz, qPrintable(found + '\n' + run.log));
    QVERIFY2(std::abs(trace.mofKhz - ionogram::LayerMofKhz(layer)) <= 100, qPrintable(found));
    QVERIFY2(offsetMs >= filterMs - 0.1 && offsetMs < kLongestCaptureOffsetMs, qPrintable(found));
    QCOMPARE(QImage(day.captured(2)).size(), ionogram::kDayPlotSize);
    // Read as a layer over the path's midpoint (how well is measured by bench_geometry).
    QVERIFY2(!rows[0].mode.isEmpty() && !std::isnan(rows[0].fof2Mhz), text.constData());
    QVERIFY2(text.contains(",1500.0,90.0,0.0000,6.7449,JJ30ia,"), text.constData());
    QVERIFY2(run.log.contains(QStringLiteral(" at the midpoint JJ30ia")), qPrintable(run.log));
}

QTEST_GUILESS_MAIN(TestE2eIonogram)
#include "tst_e2e_ionogram.moc"
