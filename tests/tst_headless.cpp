// The windowless run: its log lines, and the program itself with --headless and no display
// against the simulated radio: refused options end it before the port is opened; a sweep's steps
// reach the radio on their marks; SIGTERM during a wait for a silent radio ends it cleanly.

#include "headless/clocksync.h"
#include "headless/commandline.h"
#include "headless/logtext.h"
#include "support/radiosimprocess.h"
#include "sweep/schedule.h"
#include "testkit/headlessrun.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <cmath>
#include <csignal>
#include <sys/timex.h>

namespace {

constexpr int kRunTimeoutMs = 10000;
constexpr int kStepsChecked = 4;
// The sweep starts this long after the program is launched (on the faked clock).
constexpr double kLead = 8;
constexpr double kChirpTime = 78;
// A step reaches the radio after its mark and within half a step.
constexpr double kEarlyMargin = 0.05;
constexpr double kLateLimit = 0.5;
constexpr int kRadioAddress = 0x4E;
// A signal sent this soon after a step's frame reached the silent radio finds the step's wait
// for its answer (at most half a step) still open.
constexpr double kSurelyWaiting = 0.3;

QString SettingsFile(const QString& configHome) {
    return configHome + QStringLiteral("/Tavmirok/Tavmirok.conf");
}

void WriteSettings(const QString& configHome, const QString& port, const QString& chirp) {
    QSettings store(SettingsFile(configHome), QSettings::IniFormat);
    store.beginGroup(QStringLiteral("settings"));
    store.setValue(QStringLiteral("comport"), port);
    store.setValue(QStringLiteral("BaudRate"), QStringLiteral("19200"));
    store.setValue(QStringLiteral("ChirpTime"), chirp);
    store.setValue(QStringLiteral("RadioAddress"), QString::number(kRadioAddress));
    store.endGroup();
    // Two saved sounders, neither followed, for --follow.
    store.beginWriteArray(QStringLiteral("sounders"), 2);
    for (const int i : {0, 1}) {
        store.setArrayIndex(i);
        store.setValue(QStringLiteral("Name"),
                       i == 0 ? QStringLiteral("A") : QStringLiteral("B, east"));
        store.setValue(QStringLiteral("ChirpTime"), QString::number(10 + 5 * i));
    }
    store.endArray();
    store.sync();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT
private slots:
    void logLine_data();
    void logLine();
    void clockSync_data();
    void clockSync();
    void refusedValue_endsBeforeThePortOpens_data();
    void refusedValue_endsBeforeThePortOpens();
    void sweep_stepsOnMarks_sigtermEndsSilentWait();
};

void TestHeadless::logLine_data() {
    QTest::addColumn<QString>("actual");
    QTest::addColumn<QString>("expected");
    using namespace headless;
    RigState open;
    open.backend = QStringLiteral("civ");
    open.endpoint = QStringLiteral("COM2 (/dev/ttyS1)");
    open.speed = QStringLiteral("19200");
    open.connected = true;
    open.radio = QStringLiteral("4E");
    RigState gone = open;
    gone.connected = false;
    gone.reconnecting = true;
    gone.problem = QStringLiteral("gone");
    RigState silent = open;
    silent.answering = false;
    RigState refusing = open;
    refusing.refusing = true;
    RigState network = open;
    network.backend = QStringLiteral("network");
    network.radio = QStringLiteral("model 3073");
    network.speed.clear();
    RigState failed = open;
    failed.connected = false;
    failed.problem = QStringLiteral("there is no such device");

    const QDateTime utc(QDate(2026, 12, 7), QTime(16, 10, 16, 123), Qt::UTC);
    QTest::newRow("line") << LogLine(utc, QStringLiteral("a\nb")) << "2026-12-07T16:10:16.123Z a b";
    QTest::newRow("line from local time")
        << LogLine(utc.toOffsetFromUtc(3600), QStringLiteral("x")) << "2026-12-07T16:10:16.123Z x";
    QTest::newRow("time of day") << TimeOfDay(58838.5) << "16:20:38.500";
    QTest::newRow("time of day wraps") << TimeOfDay(86400.25) << "00:00:00.250";
    QTest::newRow("port open") << PortText(open) << "port COM2 (/dev/ttyS1) at 19200 bit/s: open";
    QTest::newRow("port gone") << PortText(gone) << "port COM2 (/dev/ttyS1): gone, trying again";
    QTest::newRow("port failed") << PortText(failed)
                                 << "port COM2 (/dev/ttyS1): not open: there is no such device";
    QTest::newRow("port no speed") << PortText(network) << "port COM2 (/dev/ttyS1): open";
    QTest::newRow("radio answers") << RadioText(open) << "radio at address 4E: answering";
    QTest::newRow("radio silent") << RadioText(silent) << "radio at address 4E: not answering";
    QTest::newRow("radio NG") << RadioText(refusing)
                              << "radio at address 4E: refuses commands (NG)";
    QTest::newRow("radio by model") << RadioText(network) << "radio model 3073: answering";
    QTest::newRow("changes: none") << RigChanges(open, open).join(u'|') << "";
    RigState goneAnotherWay = gone;
    goneAnotherWay.problem = QStringLiteral("there is no such device");
    QTest::newRow("changes: none told") << RigChanges(gone, goneAnotherWay).join(u'|') << "";
    QTest::newRow("changes: port lost")
        << RigChanges(open, gone).join(u'|') << "port COM2 (/dev/ttyS1): gone, trying again";
    QTest::newRow("changes: silence")
        << RigChanges(open, silent).join(u'|') << "radio at address 4E: not answering";
    QTest::newRow("changes: answers again")
        << RigChanges(silent, open).join(u'|') << "radio at address 4E: answering";
    QTest::newRow("changes: both") << RigChanges(silent, failed).join(u'|')
                                   << "port COM2 (/dev/ttyS1): not open: there is no such "
                                      "device|radio at address 4E: answering";
    QTest::newRow("waiting") << WaitingText(58838.5, QStringLiteral("78.5"), 2000000)
                             << "waiting at 2.000 MHz; the next sweep's first step is at "
                                "16:20:38.500 (chirp time 78.5)";
    QTest::newRow("sweep start") << SweepStartText(58838.5)
                                 << "sweep started: first step at 16:20:38.500";
    QTest::newRow("sweep end") << SweepEndText({280, 3, 1}, true)
                               << "sweep ended: 280 steps, 3 not answered by the radio, 1 not sent";
    QTest::newRow("sweep cut short")
        << SweepEndText({12, 0, 0}, false)
        << "sweep cut short: 12 steps, 0 not answered by the radio, 0 not sent";
    QTest::newRow("followed sweep start")
        << SweepStartText(58838.5, QStringLiteral("Cyprus")) + u'|' +
               SweepEndText({140, 0, 2}, false, QStringLiteral("Cyprus"))
        << "sweep started (Cyprus): first step at 16:20:38.500|sweep cut short (Cyprus): 140 "
           "steps, 0 not answered by the radio, 2 not sent";
    QTest::newRow("step reached") << StepText(2100000, 58838.5, true, true)
                                  << "step 2.100 MHz, mark 16:20:38.500: reached";
    QTest::newRow("step unanswered") << StepText(30000000, 59117.5, true, false)
                                     << "step 30.000 MHz, mark 16:25:17.500: sent, not answered";
    QTest::newRow("step not sent")
        << StepText(2200000, 58839.5, false, true) << "step 2.200 MHz, mark 16:20:39.500: not sent";
    QTest::newRow("archived") << ArchivedText(QStringLiteral("/home/j\u00f8rgen/a.png"))
                              << QStringLiteral("ionogram archived: /home/j\u00f8rgen/a.png (and "
                                                "its .csv.gz)");
    QTest::newRow("stop") << StopText(SIGTERM) << "SIGTERM received: stopping";
    ionogram::ScaledSweep scaled;
    QTest::newRow("scaled, no trace") << ScaledText(scaled) << "sweep scaled: no trace";
    scaled.traces = {{1, 2100, 13450, 5.9249, 4400, 27.3}, {2, 2100, 9050, 7.06, 2100, 14}};
    QTest::newRow("scaled") << ScaledText(scaled)
                            << "sweep scaled: trace 1 MOF 13.45 MHz, least delay 5.92 ms";
    QTest::newRow("followed, scaled") << ScaledText(scaled, QStringLiteral("A"))
                                      << "sweep scaled (A): trace 1 MOF 13.45 MHz, least delay "
                                         "5.92 ms";
    geo::PathLayer f2{.mode = "1F", .hops = 1, .method = "fit", .criticalKhz = 6104};
    f2.peakKm = 300;
    scaled.geometry = ionogram::SweepGeometry{{2590, 120, {40, 20}, "KN20aa"}, {f2, {}}};
    scaled.geometry->layers[1].error = "the least delay is shorter than the path allows";
    QTest::newRow("scaled, with the path")
        << ScaledText(scaled)
        << "sweep scaled: trace 1 MOF 13.45 MHz, least delay 5.92 ms, mode 1F, foF2 6.10 MHz at "
           "the midpoint KN20aa; trace 2 MOF 9.05 MHz, least delay 7.06 ms (the least delay is "
           "shorter than the path allows)";
    const auto bands = ionogram::AmateurBands(ionogram::kDefaultIaruRegion);
    QTest::newRow("band opened") << BandChangeTexts(13850, 14450, bands).join(u'|')
                                 << "band opened: 20 m (trace 1 MOF 14.45 MHz, was 13.85 MHz)";
    QTest::newRow("bands closed, no trace")
        << BandChangeTexts(7150, std::nan(""), bands).join(u'|')
        << "band closed: 160 m (no trace, was 7.15 MHz)|band closed: 80 m (no trace, was 7.15 "
           "MHz)|band closed: 60 m (no trace, was 7.15 MHz)|band closed: 40 m (no trace, was "
           "7.15 MHz)";
    QTest::newRow("day recorded")
        << DayRecordedText("/a/scaled-2026-12-07.csv", "/a/scaled-2026-12-07.png")
        << "day file: /a/scaled-2026-12-07.csv, day plot: /a/scaled-2026-12-07.png";
    QTest::newRow("no band crossed") << BandChangeTexts(14100, 14300, bands).join(u'|') << "";
    QTest::newRow("listening") << ListeningText({7000})
                               << "listening for sounders on 7000 kHz; the sweep is not followed";
    QTest::newRow("listening in turn")
        << ListeningText({7000, 10100.5})
        << "listening for sounders on 7000 kHz, 10100.5 kHz in turn; the sweep is not followed";
    // 1796669060.123 is 18:44:20.123 UTC.
    QTest::newRow("detection") << DetectionText(7000, {1796669060.123, 500, 15.24, false})
                               << "heard at 7000 kHz: 500 kHz/s rising crossing at 18:44:20.123, "
                                  "15.2 dB";
    QTest::newRow("falling detection")
        << DetectionText(7000, {1796669060.123, 100, 9.96, true})
        << "heard at 7000 kHz: 100 kHz/s falling (LSB?) crossing at 18:44:20.123, 10.0 dB";
    ionogram::HeardSounder sounder{500, 60, 54.0034, 3, 15.26, 0, 0, true};
    QTest::newRow("confirmed") << ConfirmedText(7000, sounder)
                               << "sounder confirmed at 7000 kHz: 500 kHz/s 60:54.003, heard 3 "
                                  "times, 15.3 dB";
}

void TestHeadless::logLine() {
    QFETCH(QString, actual);
    QFETCH(QString, expected);
    QCOMPARE(actual, expected);
}

void TestHeadless::clockSync_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("expected");
    using headless::ClockSync;
    QTest::newRow("ok, synchronised") << TIME_OK << 0 << int(ClockSync::Synchronised);
    QTest::newRow("leap second due") << TIME_INS << STA_PLL << int(ClockSync::Synchronised);
    QTest::newRow("unsync flag") << TIME_OK << STA_UNSYNC << int(ClockSync::Unsynchronised);
    QTest::newRow("time error") << TIME_ERROR << 0 << int(ClockSync::Unsynchronised);
    QTest::newRow("call failed") << -1 << 0 << int(ClockSync::Unknown);
}

void TestHeadless::clockSync() {
    QFETCH(int, result);
    QFETCH(int, status);
    QFETCH(int, expected);
    QCOMPARE(int(headless::ClockSyncFrom(result, status)), expected);
}

void TestHeadless::refusedValue_endsBeforeThePortOpens_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("storedChirp");
    QTest::addColumn<QString>("reasonStart");
    const QString headless = QStringLiteral("--headless");
    QTest::newRow("port") << QStringList{headless, "--port", "ttyUSB0"} << "78"
                          << "tavmirok: --port: The serial port \"ttyUSB0\"";
    QTest::newRow("baud") << QStringList{headless, "--baud=fast"} << "78"
                          << "tavmirok: --baud: The line speed \"fast\"";
    QTest::newRow("address") << QStringList{headless, "--address", "4G"} << "78"
                             << "tavmirok: --address: \"4G\" is not a hexadecimal address.";
    QTest::newRow("chirp") << QStringList{headless, "--chirp", "300"} << "78"
                           << "tavmirok: --chirp: The chirp time \"300\"";
    QTest::newRow("sweep too slow for its period")
        << QStringList{headless, "--sweep-rate", "50"} << "78"
        << "tavmirok: --sweep-rate: The sweep from 2 to 30 MHz at 50 kHz/s";
    QTest::newRow("chirp beyond a shorter period")
        << QStringList{headless, "--period", "60", "--sweep-rate", "500", "--step", "1000"} << "78"
        << "tavmirok: The value stored in ";
    QTest::newRow("rig backend") << QStringList{headless, "--rig", "icom"} << "78"
                                 << "tavmirok: --rig: ";
    QTest::newRow("stored chirp") << QStringList{headless} << "soon"
                                  << "tavmirok: The value stored in ";
    QTest::newRow("unknown option") << QStringList{headless, "--frobnicate"} << "78"
                                    << "tavmirok: Unknown option 'frobnicate'.";
    QTest::newRow("follow an unknown name")
        << QStringList{headless, "--follow", "A,C"} << "78"
        << "tavmirok: --follow: no saved sounder is called \"C\". The saved sounders are \"A\", "
           "\"B, east\".";
    QTest::newRow("follow with a chirp time")
        << QStringList{headless, "--follow", "A", "--chirp", "12"} << "78"
        << "tavmirok: --follow follows saved sounders, each with its own chirp time and sweep: "
           "leave out --chirp.";
    QTest::newRow("follow more than the radio serves")
        << QStringList{headless, "--follow", "A", "--follow", "B, east", "--tuning-time", "900"}
        << "soon"
        << "tavmirok: --follow: The radio cannot listen to all of A, B, east: ";
    QTest::newRow("no --headless") << QStringList{"--chirp", "12"} << "78"
                                   << "tavmirok: These options are for the run without a window";
    QTest::newRow("listen, not a frequency") << QStringList{headless, "--listen", "7 MHz"} << "78"
                                             << "tavmirok: --listen: \"7 MHz\" is not a frequency";
    QTest::newRow("listen and follow")
        << QStringList{headless, "--listen", "7000", "--chirp", "12"} << "78"
        << "tavmirok: --listen listens instead of following a sounder: leave out --chirp.";
    QTest::newRow("locator") << QStringList{headless, "--locator", "ZZ99"} << "78"
                             << "tavmirok: --locator: \"ZZ99\" is not a Maidenhead locator";
    QTest::newRow("sounder position off the globe")
        << QStringList{headless, "--sounder-at", "95,10"} << "78"
        << "tavmirok: --sounder-at: latitude 95 lies outside -90 to 90 degrees.";
    QTest::newRow("http, not an address")
        << QStringList{headless, "--http", "[::1]8073"} << "78"
        << "tavmirok: --http: \"[::1]8073\" is not [ADDRESS:]PORT";
    QTest::newRow("token file without http")
        << QStringList{headless, "--http-token-file", "/tmp/token"} << "78"
        << "tavmirok: --http-token-file is the token of the web server: add --http.";
    QTest::newRow("token file unreadable")
        << QStringList{headless, "--http", "1", "--http-token-file", "/nonexistent/token"} << "78"
        << "tavmirok: --http-token-file: the token file /nonexistent/token cannot be read";
    QTest::newRow("publish without a callsign")
        << QStringList{headless, "--locator", "JO62qm", "--publish", "mqtt://127.0.0.1"} << "78"
        << "tavmirok: --publish: No callsign is set: give the station's callsign";
    QTest::newRow("publish, not a broker")
        << QStringList{headless, "--publish", "http://127.0.0.1"} << "78"
        << "tavmirok: --publish: \"http://127.0.0.1\" is not a broker's address";
    QTest::newRow("callsign with a space") << QStringList{headless, "--callsign", "DL 0ABC"} << "78"
                                           << "tavmirok: --callsign: \"DL 0ABC\" may hold only";
    QTest::newRow("collect with a radio")
        << QStringList{headless, "--collect", "mqtt://127.0.0.1", "--port", "/dev/ttyS0"} << "78"
        << "tavmirok: --collect collects from the broker without a radio: leave out --port.";
    QTest::newRow("collect with commands")
        << QStringList{headless, "--collect",         "mqtt://127.0.0.1", "--http",
                       "8073",   "--http-token-file", "/tmp/token"}
        << "78"
        << "tavmirok: --collect serves its map read-only, without commands: leave out "
           "--http-token-file.";
    QTest::newRow("listen without audio")
        << QStringList{headless, "--listen", "7000", "--audio-input", ""} << "78"
        << "tavmirok: --listen needs the radio's audio: choose an audio input";
}

void TestHeadless::refusedValue_endsBeforeThePortOpens() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, storedChirp);
    QFETCH(QString, reasonStart);
    RadioSimProcess radio;
    const QString device = radio.Start();
    QVERIFY2(!device.isEmpty(), qPrintable(radio.ErrorString()));
    QTemporaryDir folder;
    WriteSettings(folder.path(), device, storedChirp);
    const QByteArray stored = ReadFile(SettingsFile(folder.path()));

    QProcess program;
    PrepareWindowless(program, folder);
    program.start(QStringLiteral(TAVMIROK_PROGRAM), arguments);
    QVERIFY(program.waitForFinished(kRunTimeoutMs));
    const QStringList errors =
        QString::fromLocal8Bit(program.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts);

    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), headless::kExitRefused);
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().startsWith(reasonStart), qPrintable(errors.first()));
    // Nothing reached the radio (a run that got as far as the port tunes 2 MHz at once).
    QVERIFY(radio.Command(QStringLiteral("status")).contains(QStringLiteral(" frames 0 ")));
    QCOMPARE(ReadFile(SettingsFile(folder.path())), stored);
}

void TestHeadless::sweep_stepsOnMarks_sigtermEndsSilentWait() {
    const QString faketime = FaketimeLibrary();
    if (faketime.isEmpty()) {
        QSKIP("libfaketime is not installed (scripts/test installs faketime)");
    }
    RadioSimProcess radio;
    const QString device = radio.Start({QStringLiteral("--address"), QStringLiteral("4E")});
    QVERIFY2(!device.isEmpty(), qPrintable(radio.ErrorString()));
    HeadlessRun run(sweep::Profile{}, kChirpTime, kLead);
    WriteSettings(run.folder.path(), device, QString::number(kChirpTime));
    const QByteArray stored = ReadFile(SettingsFile(run.folder.path()));
    QVERIFY(run.Start(QStringLiteral(TAVMIROK_PROGRAM), faketime, {}));
    QProcess& program = run.program;
    auto steps = [&radio] {
        QList<WireFrame> frames = SetFrequencyFrames(radio.LogLines());
        if (!frames.isEmpty()) {
            frames.removeFirst(); // the park tuning
        }
        return frames;
    };
    QTRY_VERIFY_WITH_TIMEOUT(steps().size() >= kStepsChecked,
                             int((kLead + kStepsChecked) * 1000) + kRunTimeoutMs);

    constexpr std::int32_t kParkHz = 2000000; // the default sweep parks at 2 MHz
    constexpr std::int32_t kStepHz = 100000;  // and steps 100 kHz
    QCOMPARE(SetFrequencyFrames(radio.LogLines()).first().hz, kParkHz);
    const QList<WireFrame> stepped = steps();
    for (int i = 0; i < kStepsChecked; ++i) {
        const double late = run.Lateness(stepped[i], i);
        QCOMPARE(stepped[i].hz, kParkHz + (i + 1) * kStepHz);
        QVERIFY2(late >= -kEarlyMargin && late < kLateLimit,
                 qPrintable(QStringLiteral("step %1 reached the radio %2 s after its mark")
                                .arg(i + 1)
                                .arg(late)));
    }

    // The radio falls silent: the next step waits for it, and SIGTERM arrives meanwhile.
    QCOMPARE(radio.Command(QStringLiteral("silent on")), QStringLiteral("ok silent on"));
    const qsizetype before = steps().size();
    QTRY_VERIFY_WITH_TIMEOUT(steps().size() > before, kRunTimeoutMs);
    QElapsedTimer stopping;
    stopping.start();
    program.terminate();
    const double waitedBeforeSignal = sweep::AroundTheDay(UtcTimeOfDay(), steps().last().time);
    QVERIFY(program.waitForFinished(kRunTimeoutMs));
    qInfo("SIGTERM to exit: %lld ms", static_cast<long long>(stopping.elapsed()));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), headless::kExitOk);

    const QString log = QString::fromLocal8Bit(program.readAllStandardError());
    const QString start = headless::TimeOfDay(run.firstStep);
    for (const QString& expected :
         {QStringLiteral("Z Tavmirok "),
          QStringLiteral("Z port %1 at 19200 bit/s: open").arg(device),
          QStringLiteral("Z radio at address 4E: answering"),
          QStringLiteral("Z sweep started: first step at %1\n").arg(start),
          QStringLiteral("Z step 2.100 MHz, mark %1: reached\n").arg(start),
          QStringLiteral("Z SIGTERM received: stopping\n"),
          QStringLiteral("Z stopped; port %1 released\n").arg(device)}) {
        QVERIFY2(log.contains(expected), qPrintable(expected + QStringLiteral(" not in:\n") + log));
    }
    // The wait for the silent radio ended with the signal, not by running out (which would have
    // been told), when the signal surely came while it was open.
    if (waitedBeforeSignal < kSurelyWaiting) {
        QVERIFY2(!log.contains(QStringLiteral("not answering")), qPrintable(log));
    } else {
        qWarning("SIGTERM came %.3f s after the step: cannot tell whether it ended the wait",
                 waitedBeforeSignal);
    }

    QSerialPort port(device);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    QCOMPARE(ReadFile(SettingsFile(run.folder.path())), stored);
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
