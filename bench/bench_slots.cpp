// Slot lateness at the radio while following several sounders: the whole program (windowless,
// or with its windows under Xvfb and the ionogram window open and being resized) follows two or
// four saved sounders whose chirp times are whole seconds one apart, so every step of each falls
// on the same fraction of a second as a step of every other: the worst case for the plan. The
// simulated radio logs the arrival of each set-frequency frame; the benchmark makes the same
// listening plan from the same settings and sets each slot's frame against its tuning instant.
// A slot is lost when its frame never came or came so late that the sweep had passed its
// frequency by the time the radio could be on it (tuning instant + lateness + tuning time after
// the crossing). The sounders' own chirp times put the sweep a few seconds after launch, so the
// clocks are left as they are.
//
// A floor is measured the same way with no program at all: the benchmark writes the frames
// itself from the program's own plan timer (the same lead and wait) with nothing else to do, so
// the rows can be read against what the machine's load alone does to a timer and to the
// simulated radio's log.
//
// The simulated radio serves its bus at a real-time priority (--realtime-bus), as a radio's own
// processor reads its serial line whatever the computer does; its log time is still what it reads
// off the pseudo-terminal, after the kernel has passed the bytes on. Beside each row a thread at a
// real-time priority sleeps 2 ms at a time and notes each wake-up kStallMs or more late: a stall
// in which this virtual machine ran nothing at all, which no program could have beaten. Late and
// lost slots are counted apart where their lateness overlaps such a stall.
//
// The publishing rows run the windowless program with --publish to a private mosquitto on
// loopback: once with an empty outbox (each sweep published as it is scaled), once with a
// backlog of scaled sweeps waiting in the outbox, as after a broker away for days, which the
// publisher sends while the station steps.
//
// Usage: bench_slots [--steps N] [--only TEXT]  (rows whose name contains TEXT)
// The archive the busy window pages holds kArchivedSweeps sweeps of the first sounder, of today.
// BENCH_SLOTS_NO_METER=1 runs the rows without the stall meter; BENCH_SLOTS_DEBUG=1 prints every
// slot, the program's log and the radio's; BENCH_SLOTS_PROGRAM runs another program in its place
// (a wrapper under strace or perf, or another build) in the windowless and window rows.

#include "benchrow.h"
#include "stallmeter.h"

#include "ionogram/archive.h"
#include "link/civ.h"
#include "network/outbox.h"
#include "network/payload.h"
#include "network/topics.h"
#include "settings/stationstore.h"
#include "station/followplan.h"
#include "support/mosquittobroker.h"
#include "support/pulseserver.h"
#include "support/scaledmessage.h"
#include "sweep/listeningplan.h"
#include "sweep/schedule.h"
#include "sweep/ticktimer.h"
#include "sweep/utcclock.h"
#include "testkit/headlessrun.h"
#include "testkit/radiosimprocess.h"
#include "testkit/tunerecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace {

constexpr double kLowKhz = 4000; // the first step is 4.1 MHz, crossed 41 s after the chirp time
constexpr double kRate = 100;    // kHz/s
constexpr double kStepKhz = 100;
constexpr int kIc7300 = 3073;
constexpr int kLineSpeed = 19200;
// From launch to the first slot: on a loaded machine the program may take seconds to start.
constexpr double kHeadlessLead = 10;
constexpr double kWindowLead = 16; // the window has to come and Start be pressed first
constexpr int kResizeEveryMs = 40;
constexpr int kStartTimeoutMs = 20000;
const QString kRadioAddress = QStringLiteral("94");
constexpr int kBacklog = 3000; // sweeps waiting in the outbox: three sounders for ten days
const QString kCallsign = QStringLiteral("BENCH");
const QString kLocator = QStringLiteral("JO62qm");
constexpr int kArchivedSweeps = 30;
constexpr int kPageEveryTicks = 8; // the busy window turns a page every 8 resizes

// Window: the ionogram window open and resized all the while; StillWindow: open, left alone;
// BusyWindow: resized, and paging through the day's archive (each page read from its gzipped
// table and scaled on the window's thread) all the while; ModalWindow: resized all the while
// with a modal dialog open over the main window (Audio Input's folder chooser, its own event
// loop on the window's thread).
// Floor: no program; the benchmark itself writes each slot's frame at its instant with a precise
// timer and nothing else to do, which shows what the machine's load alone does.
enum class Front { Windowless, Window, StillWindow, BusyWindow, ModalWindow, Floor };
enum class Rig { Civ, Rigctld };

struct Case {
    int sounders;
    int busyLoops;
    Front front;
    Rig rig;
    int browsers = 0;    // windowless only: clients on the web face's live stream
    int publishing = -1; // windowless only: publishing with this many sweeps waiting; -1 not

    QString Name() const {
        QString name =
            QStringLiteral("Slot lateness at the radio, %1 sounders, %2")
                .arg(sounders)
                .arg(rig == Rig::Civ ? QStringLiteral("built-in link") : QStringLiteral("rigctld"));
        if (front == Front::Window) {
            name += QStringLiteral(", ionogram window open and resizing");
        } else if (front == Front::BusyWindow) {
            name += QStringLiteral(", ionogram window open, resizing and paging the archive");
        } else if (front == Front::ModalWindow) {
            name += QStringLiteral(", ionogram window open and resizing, a modal dialog open");
        } else if (front == Front::StillWindow) {
            name += QStringLiteral(", ionogram window open");
        } else if (front == Front::Floor) {
            name = QStringLiteral("Floor: frames written at the slots' instants by the plan's "
                                  "timer alone, %1 sounders")
                       .arg(sounders);
        } else {
            name += QStringLiteral(", windowless");
        }
        if (busyLoops > 0) {
            name += QStringLiteral(", %1 busy loops").arg(busyLoops);
        }
        if (browsers > 0) {
            name += QStringLiteral(", %1 browsers on the live stream").arg(browsers);
        }
        if (publishing == 0) {
            name += QStringLiteral(", publishing to a local broker");
        } else if (publishing > 0) {
            name += QStringLiteral(", publishing to a local broker with %1 sweeps waiting")
                        .arg(publishing);
        }
        return name;
    }
};

QString Run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(kStartTimeoutMs);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Xvfb on a display it picks itself; empty when it did not start.
QString StartXvfb(QProcess& xvfb, const QTemporaryDir& folder) {
    const QString file = folder.filePath(QStringLiteral("display"));
    xvfb.start(QStringLiteral("sh"),
               {QStringLiteral("-c"),
                QStringLiteral("exec Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp "
                               "-noreset 3>'%1' 2>/dev/null")
                    .arg(file)});
    QString display;
    (void)QTest::qWaitFor(
        [&] {
            QFile f(file);
            if (f.open(QIODevice::ReadOnly)) {
                display = QString::fromLatin1(f.readAll()).trimmed();
            }
            return !display.isEmpty();
        },
        kStartTimeoutMs);
    return display.isEmpty() ? QString() : QStringLiteral(":") + display;
}

// The saved sounders, all followed: chirp times chirp0, chirp0 + 1, ...
void WriteSettings(const QString& file, const QString& device, int sounders, double chirp0,
                   int steps, const QString& archive) {
    QSettings store(file, QSettings::IniFormat);
    store.setValue(QStringLiteral("settings/comport"), device);
    store.setValue(QStringLiteral("settings/BaudRate"), QString::number(kLineSpeed));
    store.setValue(QStringLiteral("settings/ChirpTime"), QStringLiteral("0"));
    store.setValue(QStringLiteral("settings/RadioAddress"),
                   QString::number(kRadioAddress.toInt(nullptr, 16)));
    store.setValue(QStringLiteral("ionogram/AudioInput"), QStringLiteral("radio"));
    store.setValue(QStringLiteral("ionogram/Folder"), archive);
    store.beginWriteArray(QStringLiteral("sounders"), sounders);
    for (int i = 0; i < sounders; ++i) {
        store.setArrayIndex(i);
        store.setValue("Name", QString(QChar('A' + i)));
        store.setValue("ChirpTime", QString::number(std::fmod(chirp0 + i, 300)));
        store.setValue("LowFrequency", QString::number(kLowKhz));
        store.setValue("HighFrequency", QString::number(kLowKhz + steps * kStepKhz));
        store.setValue("Follow", "true");
    }
    store.endArray();
}

struct Figures {
    std::vector<double> lateMs; // of the slots whose frame came
    int planned = 0;
    int lost = 0;
    int missing = 0; // of the lost, those that never reached the radio
    int over5 = 0;
    int over5InStall = 0; // of those later than 5 ms, those whose lateness overlaps a stall
    int lostInStall = 0;  // of the lost that came, those whose lateness overlaps a stall
};

// Each planned slot against the first frame with its frequency not before 0.5 s ahead of it,
// taken in order; `from` is the axis' reading at launch, for frames logged past midnight.
Figures Compare(const sweep::ListeningPlan& plan, const QList<WireFrame>& frames,
                const sweep::PlanSettings& settings, double from, const StallMeter& meter) {
    const auto onAxis = [from](double t) { return t + (t < from - 43200 ? 86400 : 0); };
    const auto inStall = [&](double begin, double end) {
        return meter.Overlaps(begin, end, onAxis);
    };
    Figures figures;
    qsizetype next = 0;
    for (const sweep::Slot& slot : plan.listening) {
        ++figures.planned;
        qsizetype found = next;
        double arrival = 0;
        for (; found < frames.size(); ++found) {
            arrival = onAxis(frames[found].time);
            if (frames[found].hz == slot.listenHz && arrival > slot.tuneAt - 0.5) {
                break;
            }
        }
        if (found == frames.size()) {
            ++figures.lost;
            ++figures.missing;
            continue;
        }
        next = found + 1;
        const double late = arrival - slot.tuneAt;
        if (qEnvironmentVariableIsSet("BENCH_SLOTS_DEBUG")) {
            bench::Note(QStringLiteral("%1 %2 Hz tune %3 window %4..%5 crossing %6 arrival %7")
                            .arg(slot.sounder)
                            .arg(slot.listenHz)
                            .arg(slot.tuneAt, 0, 'f', 3)
                            .arg(slot.windowFrom, 0, 'f', 3)
                            .arg(slot.windowTo, 0, 'f', 3)
                            .arg(slot.crossing, 0, 'f', 3)
                            .arg(arrival, 0, 'f', 3));
        }
        figures.lateMs.push_back(late * 1000);
        const bool stalled = inStall(slot.tuneAt, arrival);
        if (late > 0.005) {
            ++figures.over5;
            figures.over5InStall += stalled ? 1 : 0;
        }
        if (slot.tuneAt + late + settings.tuningTime > slot.crossing) {
            ++figures.lost;
            figures.lostInStall += stalled ? 1 : 0;
        }
    }
    return figures;
}

// Scaled sweeps of the station's first sounder, five minutes apart, handed to the outbox
// the program publishes from, as if the broker had been away.
bool FillOutbox(const QString& folder, int count) {
    Status status = Status::Ok();
    network::Outbox outbox(folder, &status);
    const QDateTime first = QDateTime::currentDateTimeUtc().addDays(-10);
    constexpr int kSweepGapS = 300;
    for (int i = 0; i < count && status.IsOk(); ++i) {
        const QDateTime start = first.addSecs(qint64(i) * kSweepGapS);
        status = outbox.Add(network::ScaledTopic(QString::fromLatin1(network::kDefaultPrefix),
                                                 kCallsign, QStringLiteral("A")),
                            network::ScaledPayload(CyprusSweep(start), {kCallsign, kLocator}),
                            start.toMSecsSinceEpoch());
    }
    if (!status.IsOk()) {
        bench::Note(QStringLiteral("The outbox cannot be filled: ") + status.Message());
    }
    return status.IsOk();
}

// Sweeps of the first sounder ("A") archived earlier today, for the busy window to page through.
bool FillArchive(const QString& folder) {
    const QDateTime midnight(QDate::currentDate().startOfDay(Qt::UTC));
    for (int i = 0; i < kArchivedSweeps; ++i) {
        ionogram::IonogramSweep sweep = *CyprusSweep(midnight.addSecs(300 * i)).sweep;
        sweep.sounder = QStringLiteral("A");
        if (const Status written = ionogram::WriteArchive(sweep, folder, true); !written.IsOk()) {
            bench::Note(QStringLiteral("The archive cannot be filled: ") + written.Message());
            return false;
        }
    }
    return true;
}

// Configure > Audio Input on the main window, then its Browse... button (five tabs from the
// first field): the folder chooser, modal, runs its own event loop on the window's thread.
bool OpenFolderChooser(const QString& main) {
    Run("xdotool", {"windowfocus", "--sync", main});
    Run("xdotool", {"key", "--delay", "150", "alt+c", "a"});
    if (Run("timeout",
            {"10", "xdotool", "search", "--sync", "--onlyvisible", "--name", "^Audio Input$"})
            .isEmpty()) {
        return false;
    }
    Run("xdotool", {"key", "--delay", "80", "Tab", "Tab", "Tab", "Tab", "Tab", "space"});
    return !Run("timeout", {"10", "xdotool", "search", "--sync", "--onlyvisible", "--name",
                            "^Folder for the ionograms$"})
                .isEmpty();
}

bool Measure(const Case& c, int steps, const QString& fifo) {
    QTemporaryDir folder;
    const double now = UtcTimeOfDay();
    const double lead = c.front == Front::Windowless ? kHeadlessLead : kWindowLead;
    const double firstCrossing = (kLowKhz + kStepKhz) / kRate;
    const double chirp0 = std::fmod(std::ceil(now + lead - firstCrossing) + 86400, 300);

    RadioSimProcess radio;
    const QString device =
        radio.Start({"--address", kRadioAddress, "--chirp", QString::number(chirp0), "--audio",
                     fifo, "--noise", "0.01", "--mode", "2:2000-30000:0.04", "--realtime-bus"});
    if (device.isEmpty()) {
        bench::Note(QStringLiteral("The simulated radio did not start: ") + radio.ErrorString());
        return false;
    }
    if (qEnvironmentVariableIsSet("BENCH_SLOTS_DEBUG")) {
        bench::Note(QStringLiteral("radio started at %1").arg(UtcTimeOfDay(), 0, 'f', 3));
    }
    const QString file = folder.filePath(QStringLiteral("Tavmirok/Tavmirok.conf"));
    WriteSettings(file, device, c.sounders, chirp0, steps, folder.filePath("archive"));

    QProcess rigctld;
    QStringList arguments;
    if (c.rig == Rig::Rigctld) {
        QString error;
        if (!StartRigctldFor(rigctld, kIc7300, device, kLineSpeed, &arguments, &error)) {
            bench::Note(error);
            return false;
        }
    }

    // The plan the program makes, from the same settings.
    QStringList notices;
    StationSettings settings = StationStore(file).Load(&notices);
    if (c.rig == Rig::Rigctld) { // as --rig network gives it
        settings.rig.backend = QStringLiteral("network");
    }
    const std::vector<sweep::FollowedSounder> sounders = PlanSounders(settings);
    const sweep::PlanSettings planSettings = PlanSettingsFor(settings);
    const double until = now + lead + steps * kStepKhz / kRate + c.sounders + 1;
    if (int(sounders.size()) != c.sounders) {
        bench::Note(
            QStringLiteral("The settings written do not follow %1 sounders.").arg(c.sounders));
        return false;
    }

    std::vector<std::unique_ptr<QProcess>> busy;
    for (int i = 0; i < c.busyLoops; ++i) {
        busy.push_back(std::make_unique<QProcess>());
        busy.back()->start(QStringLiteral("sh"),
                           {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
    }

    QProcess xvfb;
    MosquittoBroker broker;
    std::unique_ptr<MqttSubscriber> subscriber;
    std::vector<double> arrivals; // of the scaled messages at the bench's subscriber
    QProcess tavmirok;
    QSerialPort port;
    std::unique_ptr<AlignedTickTimer> floorTimer;
    std::vector<sweep::Slot> floorSlots;
    std::size_t nextSlot = 0;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), folder.path());
    QString window;
    quint16 webPort = 0;
    // The browsers: each opens the live stream as soon as the program serves it and reads all.
    std::vector<std::unique_ptr<QTcpSocket>> browsers;
    qint64 streamed = 0;
    QTimer connectBrowsers;
    QObject::connect(&connectBrowsers, &QTimer::timeout, [&] {
        for (auto& browser : browsers) {
            if (browser->state() == QAbstractSocket::UnconnectedState) {
                browser->connectToHost(QHostAddress(QHostAddress::LocalHost), webPort);
            }
        }
    });
    for (int i = 0; i < c.browsers; ++i) {
        browsers.push_back(std::make_unique<QTcpSocket>());
        QTcpSocket* browser = browsers.back().get();
        QObject::connect(browser, &QTcpSocket::connected, [browser] {
            browser->write("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        });
        QObject::connect(browser, &QTcpSocket::readyRead,
                         [browser, &streamed] { streamed += browser->readAll().size(); });
    }
    double ready = 0; // when the program follows the plan
    // On the plan's axis, which goes on past midnight.
    const auto axisNow = [now] {
        const double t = sweep::SecondsSinceUtcMidnight();
        return t < now - 43200 ? t + 86400 : t;
    };
    if (c.front == Front::Floor) {
        port.setPortName(device);
        port.setBaudRate(kLineSpeed);
        if (!port.open(QIODevice::ReadWrite)) {
            bench::Note(QStringLiteral("Cannot open the radio's port: ") + port.errorString());
            return false;
        }
        QObject::connect(&port, &QSerialPort::readyRead, [&port] { port.readAll(); });
        ready = axisNow();
        floorSlots = sweep::MakePlan(sounders, planSettings, ready, until).listening;
        // The program's own timer for the plan, with its lead, and nothing else to do.
        floorTimer = std::make_unique<AlignedTickTimer>(&sweep::SecondsSinceUtcMidnight);
        floorTimer->SetLead(TickTimer::kTimerLead);
        const auto aim = [&] {
            floorTimer->SetNextDue(
                nextSlot < floorSlots.size()
                    ? std::optional<double>(std::fmod(floorSlots[nextSlot].tuneAt, 86400))
                    : std::nullopt);
        };
        floorTimer->onTick = [&, aim] {
            if (nextSlot < floorSlots.size() && axisNow() >= floorSlots[nextSlot].tuneAt) {
                std::array<std::uint8_t, civ::kFrequencyBytes> bcd{};
                (void)civ::FreqToBcd(floorSlots[nextSlot].listenHz, bcd);
                QByteArray frame;
                (void)civ::BuildFrame(kRadioAddress.toInt(nullptr, 16), civ::kCmdSetFrequency,
                                      civ::kNoSubCommand,
                                      QByteArrayView(bcd.data(), qsizetype(bcd.size())), &frame);
                port.write(frame);
                port.flush();
                ++nextSlot;
            }
            aim();
        };
        aim();
        floorTimer->SetInterval(sweep::kTickPeriod);
    } else if (c.front == Front::Windowless) {
        QStringList names;
        for (const sweep::FollowedSounder& s : sounders) {
            names << s.name;
        }
        environment.remove(QStringLiteral("DISPLAY"));
        tavmirok.setProcessEnvironment(environment);
        if (c.browsers > 0) {
            QTcpServer probe; // a free port for the page
            probe.listen(QHostAddress(QHostAddress::LocalHost), 0);
            webPort = probe.serverPort();
            arguments << "--http" << QStringLiteral("127.0.0.1:%1").arg(webPort);
        }
        if (c.publishing >= 0) {
            QString error;
            if (!broker.Start({}, &error)) {
                bench::Note(QStringLiteral("The broker did not start: ") + error);
                return false;
            }
            if (!FillOutbox(QDir(folder.filePath("archive")).filePath("outbox"), c.publishing)) {
                return false;
            }
            subscriber = std::make_unique<MqttSubscriber>(broker);
            if (!QTest::qWaitFor([&] { return subscriber->subscribed; }, kStartTimeoutMs)) {
                bench::Note(QStringLiteral("The bench's subscriber got no subscription."));
                return false;
            }
            QObject::connect(subscriber->client.get(), &network::MqttClient::MessageReceived,
                             [&arrivals](const QString& topic) {
                                 if (topic.contains(QLatin1String("/scaled/"))) {
                                     arrivals.push_back(UtcTimeOfDay());
                                 }
                             });
            // The broker away when the program starts and back once it steps, so that the
            // backlog leaves while the slots come.
            if (c.publishing > 0) {
                broker.Stop();
            }
            arguments << "--callsign" << kCallsign << "--locator" << kLocator << "--publish"
                      << broker.Url();
        }
        tavmirok.start(qEnvironmentVariable("BENCH_SLOTS_PROGRAM", TAVMIROK_PROGRAM),
                       QStringList{"--headless", "--follow", names.join(','), "--audio-input",
                                   "radio", "--folder", folder.filePath("archive")} +
                           arguments);
    } else {
        const QString display = StartXvfb(xvfb, folder);
        if (display.isEmpty()) {
            bench::Note(QStringLiteral("Xvfb did not start."));
            return false;
        }
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        tavmirok.setProcessEnvironment(environment);
        if (c.front == Front::BusyWindow && !FillArchive(folder.filePath("archive"))) {
            return false;
        }
        tavmirok.start(qEnvironmentVariable("BENCH_SLOTS_PROGRAM", TAVMIROK_PROGRAM),
                       QStringList{});
        qputenv("DISPLAY", display.toLatin1());
        const QString main = Run("timeout", {"15", "xdotool", "search", "--sync", "--onlyvisible",
                                             "--name", "^Tavmirok \\(BETA\\)$"})
                                 .section('\n', 0, 0);
        if (main.isEmpty()) {
            bench::Note(QStringLiteral("The main window did not appear."));
            return false;
        }
        Run("xdotool", {"windowfocus", "--sync", main});
        Run("xdotool", {"key", "--delay", "80", "Tab", "space"});
        ready = UtcTimeOfDay();
        Run("xdotool", {"key", "--delay", "150", "alt+v", "i"});
        (void)QTest::qWaitFor(
            [&] {
                const QStringList shown =
                    Run("xdotool", {"search", "--onlyvisible", "--pid",
                                    QString::number(tavmirok.processId()), "--name", "."})
                        .split('\n', Qt::SkipEmptyParts);
                for (const QString& id : shown) {
                    window = id != main ? id : window;
                }
                return !window.isEmpty();
            },
            kStartTimeoutMs);
        if (window.isEmpty()) {
            bench::Note(QStringLiteral("The ionogram window did not appear."));
            return false;
        }
        if (c.front == Front::ModalWindow && !OpenFolderChooser(main)) {
            bench::Note(QStringLiteral("The folder chooser did not open."));
            return false;
        }
    }
    if (c.front != Front::Floor && !tavmirok.waitForStarted()) {
        bench::Note(QStringLiteral("The program did not start."));
        return false;
    }
    if (c.browsers > 0) {
        connectBrowsers.start(kResizeEveryMs);
    }
    // Slots before the program follows the plan are not counted.
    QString output;
    if (c.front == Front::Windowless) {
        (void)QTest::qWaitFor(
            [&] {
                output += QString::fromLocal8Bit(tavmirok.readAllStandardError());
                return output.contains(QStringLiteral(": open\n")) ||
                       tavmirok.state() != QProcess::Running;
            },
            int((lead + steps) * 1000));
        ready = UtcTimeOfDay();
    }
    if (qEnvironmentVariableIsSet("BENCH_SLOTS_DEBUG")) {
        bench::Note(QStringLiteral("ready at %1").arg(ready, 0, 'f', 3));
    }
    if (c.publishing > 0) {
        QString error;
        if (!broker.Restart(&error)) {
            bench::Note(QStringLiteral("The broker did not start again: ") + error);
            return false;
        }
    }
    // Until the last slot's instant has passed, resizing the ionogram window all the while.
    // An event loop of its own: QTest::qWait sleeps in 10 ms pieces, which would hold up the
    // floor's timer.
    StallMeter meter;
    QEventLoop loop;
    QTimer pace;
    bool wide = false;
    int resizes = 0;
    if (c.front == Front::BusyWindow) {
        Run("xdotool", {"windowfocus", "--sync", window});
    }
    QObject::connect(&pace, &QTimer::timeout, [&] {
        if (sweep::AroundTheDay(UtcTimeOfDay(), std::fmod(until, 86400)) >= 0 ||
            (c.front != Front::Floor && tavmirok.state() != QProcess::Running)) {
            loop.quit();
        } else if (c.front == Front::Window || c.front == Front::BusyWindow ||
                   c.front == Front::ModalWindow) {
            Run("xdotool", {"windowsize", window, wide ? "1000" : "640", wide ? "760" : "480"});
            wide = !wide;
            // Back through the archive and forward again, a page at a time.
            const int page = ++resizes / kPageEveryTicks;
            if (c.front == Front::BusyWindow && resizes % kPageEveryTicks == 0) {
                Run("xdotool", {"key", page / kArchivedSweeps % 2 == 0 ? "Prior" : "Next"});
                if (qEnvironmentVariableIsSet("BENCH_SLOTS_DEBUG")) {
                    bench::Note(QStringLiteral("page %1: %2")
                                    .arg(page)
                                    .arg(Run("xdotool", {"getwindowname", window}).trimmed()));
                }
            }
        }
    });
    pace.start(kResizeEveryMs);
    loop.exec();
    meter.Stop();
    if (c.browsers > 0) {
        bench::Note(QStringLiteral("%1 browsers read %2 kB of the live stream")
                        .arg(c.browsers)
                        .arg(streamed / 1000));
    }
    if (c.front != Front::Floor) {
        output += QString::fromLocal8Bit(tavmirok.readAllStandardError());
    }
    tavmirok.terminate();
    tavmirok.waitForFinished();
    for (auto& loop : busy) {
        loop->kill();
        loop->waitForFinished();
    }
    rigctld.terminate();
    rigctld.waitForFinished();
    xvfb.terminate();
    xvfb.waitForFinished();

    if (ready < now) {
        ready += 86400; // past midnight
    }
    const sweep::ListeningPlan plan = sweep::MakePlan(sounders, planSettings, ready, until);
    if (qEnvironmentVariableIsSet("BENCH_SLOTS_DEBUG")) {
        bench::Note(QStringLiteral("launched at %1\n").arg(now, 0, 'f', 3) + output + "\n" +
                    radio.LogLines().join('\n'));
    }
    if (subscriber && !plan.listening.empty()) {
        const auto since = [&](double t) {
            return QString::number(t - plan.listening.front().tuneAt, 'f', 1);
        };
        bench::Note(
            QStringLiteral("the broker passed on %1 scaled sweeps (%2 waiting at the start) "
                           "by the last slot, from %3 s to %4 s after the first slot; the "
                           "slots ran to %5 s")
                .arg(arrivals.size())
                .arg(c.publishing)
                .arg(arrivals.empty() ? QStringLiteral("-") : since(arrivals.front()),
                     arrivals.empty() ? QStringLiteral("-") : since(arrivals.back()),
                     since(plan.listening.back().tuneAt)));
    }
    const Figures f = Compare(plan, SetFrequencyFrames(radio.LogLines()), planSettings, now, meter);
    const int before =
        int(sweep::MakePlan(sounders, planSettings, now, until).listening.size()) - f.planned;
    if (before > 0) {
        bench::Note(QStringLiteral("%1 slots came before the program was ready (%2 s after "
                                   "launch): not counted")
                        .arg(before)
                        .arg(ready - now, 0, 'f', 1));
    }
    if (f.planned == 0 || f.lateMs.empty()) {
        bench::Note(QStringLiteral("No slot reached the radio; the program said:\n") + output);
        return false;
    }
    bench::PrintRow(
        c.Name(),
        QStringLiteral("median %1 ms, p99 %2 ms, max %3 ms; %4 of %5 slots later than 5 ms "
                       "(%6 in a stall), %7 lost (%8 in a stall, %9 never sent) (%10 % listened); "
                       "%11 stalls of the machine, longest %12 ms%13")
            .arg(bench::Median(f.lateMs), 0, 'f', 1)
            .arg(bench::Percentile(f.lateMs, 0.99), 0, 'f', 1)
            .arg(bench::Percentile(f.lateMs, 1.0), 0, 'f', 1)
            .arg(f.over5)
            .arg(f.planned)
            .arg(f.over5InStall)
            .arg(f.lost)
            .arg(f.lostInStall)
            .arg(f.missing)
            .arg(100.0 * (f.planned - f.lost) / f.planned, 0, 'f', 1)
            .arg(meter.Stalls().size())
            .arg(meter.LongestMs(), 0, 'f', 1)
            .arg(!meter.Measured()  ? QStringLiteral(" (not measured: no stall meter)")
                 : meter.RealTime() ? QString()
                                    : QStringLiteral(" (the meter had no real-time priority)")),
        QStringLiteral("one sweep of %1 steps (100 kHz/s, 100 kHz steps from 4.1 MHz, 0-20 ms, "
                       "tuning time %2 ms), chirp times whole seconds one apart; the simulated "
                       "radio's log time of each set-frequency frame minus its slot's tuning "
                       "instant from the same plan (log resolution 1 ms); lost: no frame, or the "
                       "radio on frequency only after the sweep passed it; a stall: a real-time "
                       "thread that sleeps 2 ms woke 8 ms or more late")
            .arg(steps)
            .arg(planSettings.tuningTime * 1000, 0, 'f', 0));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int steps = 30;
    QString only;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--steps")) {
            steps = std::max(1, args[i + 1].toInt());
        } else if (args[i] == QLatin1String("--only")) {
            only = args[i + 1];
        }
    }
    if (!PulseServer::Installed()) {
        bench::Note(QStringLiteral("pulseaudio is not installed: no figures."));
        return 1;
    }
    PulseServer pulse;
    QString error;
    const QString fifo = pulse.FilePath(QStringLiteral("radio.fifo"));
    if (!pulse.Start(&error) ||
        !pulse.AddPipeSource(QStringLiteral("radio"), fifo, 48000, &error)) {
        bench::Note(error);
        return 1;
    }
    const bool haveX = !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() &&
                       !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
    const bool haveRigctld = !QStandardPaths::findExecutable(QStringLiteral("rigctld")).isEmpty();
    bool allRan = true;
    for (const Case& c :
         {Case{2, 0, Front::Floor, Rig::Civ}, Case{2, 2, Front::Floor, Rig::Civ},
          Case{2, 0, Front::Windowless, Rig::Civ}, Case{2, 2, Front::Windowless, Rig::Civ},
          Case{4, 0, Front::Windowless, Rig::Civ}, Case{4, 2, Front::Windowless, Rig::Civ},
          Case{2, 0, Front::StillWindow, Rig::Civ}, Case{2, 0, Front::Window, Rig::Civ},
          Case{2, 0, Front::BusyWindow, Rig::Civ}, Case{2, 0, Front::ModalWindow, Rig::Civ},
          Case{4, 0, Front::Window, Rig::Civ}, Case{2, 0, Front::Windowless, Rig::Rigctld},
          Case{2, 0, Front::Windowless, Rig::Civ, 20},
          Case{2, 0, Front::Windowless, Rig::Civ, 0, 0},
          Case{2, 0, Front::Windowless, Rig::Civ, 0, kBacklog}}) {
        if (!only.isEmpty() && !c.Name().contains(only)) {
            continue;
        }
        if ((c.front != Front::Windowless && !haveX) || (c.rig == Rig::Rigctld && !haveRigctld)) {
            bench::Note(QStringLiteral("Not measured (Xvfb, xdotool or rigctld missing): ") +
                        c.Name());
            continue;
        }
        allRan = Measure(c, steps, fifo) && allRan;
    }
    return allRan ? 0 : 1;
}
