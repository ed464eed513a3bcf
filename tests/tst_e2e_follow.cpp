// Two sounders with one radio, the whole program without a window: the simulated radio hears
// sounder A through a mode at 2 ms and sounder B (chirp time 5 s later, so every step of one falls
// on the same fraction of a second as a step of the other) through a mode at 6 ms, and writes its
// audio into a private PulseAudio server; `--follow A,B` must archive one ionogram per sounder,
// each with its columns on its own mode's delay and none on the other's, B over the delays saved
// with it and A over the ionogram's, and scale both into the day file.

#include "ionogram/dayfile.h"
#include "support/gzip.h"
#include "support/ionogramtable.h"
#include "support/pulseserver.h"
#include "support/radiosimprocess.h"
#include "support/settingsfile.h"
#include "testkit/headlessrun.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kPeriod = 300;
constexpr double kFirstStepKhz = 4100; // 4.1 to 7.0 MHz in 100 kHz steps at 100 kHz/s
constexpr int kSteps = 30;
// From now to A's first step: time for the radio and the program to start.
constexpr double kLead = 12;
constexpr double kDelayA = 2;
constexpr double kDelayB = 6;
// B's own delays shown (saved with it); A shows the ionogram's, 0 to 20 ms.
constexpr double kOwnFromB = 1;
constexpr double kOwnToB = 15;
constexpr double kOnDelayMs = 1.0; // a peak this near the mode's delay (filter and audio path)
constexpr double kFoundDb = 12;    // over the row's median: a mode
constexpr int kArchiveTimeoutMs = int((kLead + 36 + 2) * 1000) + 30000;
constexpr int kRunTimeoutMs = 10000;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? std::nan("") : values[values.size() / 2];
}

// The strongest cell within kOnDelayMs of a delay, over the row's median.
double StrengthNear(const Table& table, std::size_t row, double delayMs) {
    double best = -INFINITY;
    for (std::size_t cell = 0; cell < table.delaysMs.size(); ++cell) {
        if (std::abs(table.delaysMs[cell] - delayMs) <= kOnDelayMs) {
            best = std::max(best, table.snrDb[row][cell]);
        }
    }
    return best - Median(table.snrDb[row]);
}

} // namespace

class TestE2eFollow : public QObject {
    Q_OBJECT
private slots:
    void twoSounders_oneIonogramEach() {
        if (!PulseServer::Installed()) {
            QSKIP("pulseaudio and pactl are not installed (scripts/test installs them)");
        }
        PulseServer pulse;
        QString error;
        const QString fifo = pulse.StartWithRadioInput(&error);
        QVERIFY2(!fifo.isEmpty(), qPrintable(error));

        // Whole-second chirp times whose first steps come kLead and kLead + 5 s from now.
        const QTime now = QDateTime::currentDateTimeUtc().time();
        const double secondOfDay = now.msecsSinceStartOfDay() / 1000.0;
        const double chirpA =
            std::fmod(std::ceil(secondOfDay + kLead - kFirstStepKhz / 100) + 86400, kPeriod);
        const double chirpB = std::fmod(chirpA + 5, kPeriod);

        RadioSimProcess radio;
        const QString device =
            radio.Start({"--chirp", QString::number(chirpA), "--audio", fifo, "--noise", "0.01",
                         "--mode", QStringLiteral("%1:2000-30000:0.04").arg(kDelayA), "--sounder",
                         QStringLiteral("100:300:%1:%2:0.04").arg(chirpB).arg(kDelayB)});
        QVERIFY2(!device.isEmpty(), qPrintable(radio.ErrorString()));

        QTemporaryDir folder;
        SettingsValues values;
        values.comPort = device;
        values.radioAddress = QStringLiteral("78");
        const QString file = folder.filePath(QStringLiteral("Tavmirok/Tavmirok.conf"));
        WriteSettingsFile(file, values);
        {
            QSettings store(file, QSettings::IniFormat);
            store.beginWriteArray(QStringLiteral("sounders"), 2);
            for (const int i : {0, 1}) {
                store.setArrayIndex(i);
                store.setValue("Name", i == 0 ? "A" : "B");
                store.setValue("ChirpTime", QString::number(i == 0 ? chirpA : chirpB));
                store.setValue("LowFrequency", "4000");
                store.setValue("HighFrequency", "7000");
                if (i == 1) {
                    store.setValue("MinDelay", QString::number(kOwnFromB));
                    store.setValue("MaxDelay", QString::number(kOwnToB));
                }
            }
            store.endArray();
        }

        QProcess program;
        PrepareWindowless(program, folder.path(), qEnvironmentVariable("XDG_RUNTIME_DIR"));
        program.start(QStringLiteral(TAVMIROK_PROGRAM),
                      {"--headless", "--follow", "A,B", "--audio-input", "radio", "--folder",
                       folder.filePath("archive")});
        QVERIFY(program.waitForStarted(kRunTimeoutMs));
        QString log;
        const QRegularExpression archived(QStringLiteral("Z ionogram archived: (\\S+\\.png) "));
        const QRegularExpression dayFile(QStringLiteral("day file: (\\S+\\.csv),"));
        QTRY_VERIFY2_WITH_TIMEOUT((log += QString::fromLocal8Bit(program.readAllStandardError()),
                                   (log.count(archived) >= 2 && log.count(dayFile) >= 2) ||
                                       program.state() == QProcess::NotRunning),
                                  qPrintable(log), kArchiveTimeoutMs);
        program.terminate();
        QVERIFY(program.waitForFinished(kRunTimeoutMs));
        QVERIFY2(!log.contains(QStringLiteral("problem: ")), qPrintable(log));

        // Both sweeps scaled into the day file under their sounders' names.
        QFile day(dayFile.match(log).captured(1));
        QVERIFY2(day.open(QIODevice::ReadOnly), qPrintable(log));
        int skipped = 0;
        QStringList scaledSounders;
        for (const ionogram::DayRow& row : ionogram::ParseDayFile(day.readAll(), &skipped)) {
            scaledSounders.append(row.sounder);
        }
        QVERIFY2(scaledSounders.contains("A") && scaledSounders.contains("B"),
                 qPrintable(scaledSounders.join(',')));

        for (const auto& [name, own, other, from, to] :
             {std::tuple{"A", kDelayA, kDelayB, 0.0, 20.0},
              std::tuple{"B", kDelayB, kDelayA, kOwnFromB, kOwnToB}}) {
            // Each sweep's lines name its sounder.
            for (const char* line : {"Z sweep started (%1): first step at ",
                                     "Z sweep ended (%1): ", "Z sweep scaled (%1): "}) {
                QVERIFY2(log.contains(QString::fromLatin1(line).arg(name)),
                         qPrintable(QString::fromLatin1(line).arg(name) + log));
            }
            QString png;
            for (auto it = archived.globalMatch(log); it.hasNext();) {
                const QString path = it.next().captured(1);
                png = path.endsWith(QStringLiteral("-%1.png").arg(name)) ? path : png;
            }
            QVERIFY2(!png.isEmpty(), qPrintable(log));
            QFile csv(png.chopped(4) + QStringLiteral(".csv.gz"));
            QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(csv.fileName()));
            const QByteArray text = Gunzip(csv.readAll());
            QVERIFY(text.contains(QByteArray("# sounder: ") + name + "\n"));
            const Table table = ReadTable(text);
            // (Where a step is missing, which steps were archived and what the run said.)
            QStringList archivedKhz;
            for (double khz : table.frequenciesKhz) {
                archivedKhz << QString::number(khz);
            }
            QStringList sweepLines;
            for (const QString& line : log.split('\n')) {
                if (line.contains(QStringLiteral(" (%1)").arg(name))) {
                    sweepLines << line;
                }
            }
            QVERIFY2(int(table.frequenciesKhz.size()) == kSteps,
                     qPrintable(QStringLiteral("steps archived at %1 kHz; %2")
                                    .arg(archivedKhz.join(','), sweepLines.join('\n'))));
            QCOMPARE(table.delaysMs.front(), from);
            QVERIFY2(std::abs(table.delaysMs.back() - to) < 0.1, qPrintable(csv.fileName()));
            int onOwn = 0;
            for (std::size_t row = 0; row < table.snrDb.size(); ++row) {
                onOwn += StrengthNear(table, row, own) >= kFoundDb ? 1 : 0;
                QVERIFY2(StrengthNear(table, row, other) < kFoundDb,
                         qPrintable(QStringLiteral("%1 at %2 kHz: the other's mode")
                                        .arg(name)
                                        .arg(table.frequenciesKhz[row])));
            }
            qInfo("%s: %d of %d columns on its own mode", name, onOwn, kSteps);
            QVERIFY(onOwn >= int(std::ceil(0.9 * kSteps)));
        }
    }
};

QTEST_GUILESS_MAIN(TestE2eFollow)
#include "tst_e2e_follow.moc"
