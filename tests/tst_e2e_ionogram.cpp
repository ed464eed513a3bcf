// The whole ionogram path: the simulated radio hears a sounder through an ionosphere of known
// modes and writes its audio, on a sound card clock 100 ppm fast, into a pipe source of a private
// PulseAudio server; the real program without a window follows a short sweep on that radio,
// records the input and archives the sweep. Every mode must come out at its delay after one
// constant offset (the receiver's filter and the audio path), and nothing where there is none.
// The user's home is named with a letter outside ASCII and no archive folder is set, so the
// archive goes to the default folder inside that home.

#include "headless/commandline.h"
#include "ionogram/ionogramimage.h"
#include "support/gzip.h"
#include "support/pulseserver.h"
#include "support/radiosimprocess.h"
#include "support/settingsfile.h"
#include "testkit/headlessrun.h"

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

constexpr int kSampleRate = 48000;
// A sweep of 10 steps 2 s apart: 3 to 12 MHz at 500 kHz/s, every minute.
const QStringList kProfile{"--period", "60",    "--sweep-rate", "500",    "--step",
                           "1000",     "--low", "2000",         "--high", "12000"};
constexpr double kPeriod = 60;
constexpr int kSteps = 10;
constexpr double kFirstStepKhz = 3000;
constexpr double kStepKhz = 1000;
// The first step comes this long after the chirp time is chosen: time for both to start.
constexpr double kLead = 6;
// The sweep (20 s), the archive's wait for the last step's audio and room for a slow machine.
constexpr int kArchiveTimeoutMs = int((kLead + 20 + 1.5) * 1000) + 30000;
constexpr int kRunTimeoutMs = 10000;
constexpr char kRadioAddressDecimal[] = "78"; // 4E

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
// Away from the modes of a row that has some, only a cell this strong would be a mode out of
// place: among the sweep's 2600 or so independent noise cells the strongest reaches about 11 dB,
// and one passes 12 dB in about one run in 25, but 15 dB in less than one in a million.
constexpr double kOutOfPlaceDb = 15;
constexpr double kSpreadLimitMs = 0.25;
// A mode's peak is looked for this far around its delay: the constant offset is positive and
// below a millisecond; the modes lie far enough apart that the spans never overlap.
constexpr double kSearchBeforeMs = 1;
constexpr double kSearchAfterMs = 2;
// A mode's own cells: its main lobe and the first sidelobes of the dechirp's taper, about 14 dB
// under the peak 0.7 ms either side, which rise over the threshold for a mode 26 dB strong.
constexpr double kModeSpanMs = 1.0;

struct Table {
    std::vector<double> delaysMs;
    std::vector<double> frequenciesKhz;
    std::vector<std::vector<double>> snrDb;
};

// The archive's table: "#" comments, the header of delays, one row per step.
Table ReadTable(const QByteArray& csv) {
    Table table;
    for (const QByteArray& line : csv.split('\n')) {
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        const QList<QByteArray> fields = line.split(',');
        std::vector<double> values;
        for (qsizetype i = 1; i < fields.size(); ++i) {
            values.push_back(fields[i].toDouble());
        }
        if (fields.first() == "frequency_khz") {
            table.delaysMs = values;
        } else {
            table.frequenciesKhz.push_back(fields.first().toDouble());
            table.snrDb.push_back(values);
        }
    }
    return table;
}

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
};

void TestE2eIonogram::driftingCardThroughPulse_modesAtTheirDelays() {
    if (!PulseServer::Installed()) {
        QSKIP("pulseaudio and pactl are not installed (scripts/test installs them)");
    }
    PulseServer pulse;
    QString error;
    QVERIFY2(pulse.Start(&error), qPrintable(error));
    const QString fifo = pulse.FilePath(QStringLiteral("radio.fifo"));
    QVERIFY2(pulse.AddPipeSource(QStringLiteral("radio"), fifo, kSampleRate, &error),
             qPrintable(error));

    // The chirp time whose sweep takes its first step kLead seconds from now: the short period
    // lets the real clock serve, so radio and program need no faked time.
    QProcess print;
    print.start(QStringLiteral(TAVMIROK_RADIOSIM),
                kProfile + QStringList{QStringLiteral("--print-sweep-start"), QStringLiteral("0")});
    QVERIFY(print.waitForFinished(kRunTimeoutMs));
    const double untilFirst =
        QString::fromLatin1(print.readAllStandardOutput()).section(u' ', 0, 0).toDouble();
    const double chirp = std::fmod(std::fmod(kLead - untilFirst, kPeriod) + kPeriod, kPeriod);
    const QString chirpText = QString::number(std::floor(chirp * 10) / 10, 'f', 1);

    QStringList radioArguments = kProfile;
    radioArguments << "--chirp" << chirpText << "--audio" << fifo << "--audio-ppm"
                   << "100"
                   << "--noise" << QString::number(kNoiseRms);
    for (const Mode& mode : kModes) {
        radioArguments << "--mode"
                       << QStringLiteral("%1:%2-%3:%4")
                              .arg(mode.delayMs)
                              .arg(mode.lowKhz)
                              .arg(mode.highKhz)
                              .arg(mode.amplitude);
    }
    RadioSimProcess radio;
    const QString device = radio.Start(radioArguments);
    QVERIFY2(!device.isEmpty(), qPrintable(radio.ErrorString()));

    QTemporaryDir folder;
    SettingsValues settings;
    settings.comPort = device;
    settings.chirpTime = chirpText;
    settings.radioAddress = QLatin1String(kRadioAddressDecimal);
    WriteSettingsFile(folder.filePath(QStringLiteral("Tavmirok/Tavmirok.conf")), settings);
    // No archive folder is set: the default one lies in a home whose name is not ASCII.
    const QString home = folder.filePath(QStringLiteral("j\u00f8rgen"));
    QVERIFY(QDir().mkpath(home));

    QProcess program;
    PrepareWindowless(program, folder.path(), qEnvironmentVariable("XDG_RUNTIME_DIR"));
    QProcessEnvironment environment = program.processEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TAVMIROK_PROGRAM),
                  QStringList{"--headless", "--audio-input", "radio"} + kProfile);
    QVERIFY(program.waitForStarted(kRunTimeoutMs));
    QString log;
    const QRegularExpression archived(QStringLiteral("Z ionogram archived: (\\S+\\.png) "));
    QRegularExpressionMatch match;
    QTRY_VERIFY2_WITH_TIMEOUT(
        (log += QString::fromLocal8Bit(program.readAllStandardError()),
         (match = archived.match(log)).hasMatch() || program.state() == QProcess::NotRunning),
        qPrintable(log), kArchiveTimeoutMs);
    program.terminate();
    QVERIFY(program.waitForFinished(kRunTimeoutMs));
    log += QString::fromLocal8Bit(program.readAllStandardError());
    QVERIFY2(match.hasMatch(), qPrintable(log));
    QCOMPARE(program.exitCode(), headless::kExitOk);
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
            // Where no mode exists at all, nothing rises to the threshold of a find.
            const double limit = std::any_of(std::begin(kModes), std::end(kModes),
                                             [&](const Mode& mode) { return Exists(mode, khz); })
                                     ? kOutOfPlaceDb
                                     : kFoundDb;
            QVERIFY2(nearMode || table.snrDb[row][cell] - medians[row] < limit,
                     qPrintable(QStringLiteral("%1 dB at %2 kHz, %3 ms where no mode is")
                                    .arg(table.snrDb[row][cell] - medians[row])
                                    .arg(khz)
                                    .arg(ms)));
        }
    }
    qInfo("strongest cell away from the modes: %.1f dB over its row's median", strongestElsewhere);
}

QTEST_GUILESS_MAIN(TestE2eIonogram)
#include "tst_e2e_ionogram.moc"
