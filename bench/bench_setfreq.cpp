// Setfreq round trip against the simulated radio on a pseudo-terminal, side by side with Hamlib's
// rigctl setting the frequency of the same simulated radio many times in one interactive run.
//
// Setfreq ends when the receive parser has taken in the echo of its frame, so its round trip is
// call -> frame written by the port's writer thread -> echo decoded. The wire's own round trip to
// the radio's OK is timed with a bare QSerialPort as a baseline, since rigctl waits for the OK.
// rigctl's time per set is the interval between its consecutive set-frequency frames in the
// simulated radio's log: it reads the next command from a pipe as soon as the previous one has
// finished.

#include "benchrow.h"
#include "link/civ.h"
#include "link/radiolink.h"
#include "testkit/radiosimprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

constexpr int kRadioAddress = 0x4E;
constexpr char kRadioAddressText[] = "4E";
constexpr int kBaudRate = 19200;

constexpr int kWarmUpCalls = 20;
constexpr int kMeasuredCalls = 1000;
// After each call the radio's OK (microseconds behind the echo, often in the same read) is let in
// before the reply flag is cleared, so that every call waits for its own echo.
constexpr std::chrono::milliseconds kSettle{5};
constexpr std::chrono::milliseconds kRawReplyTimeout{1000};

constexpr std::int32_t kFirstHz = 3000000;
constexpr std::int32_t kStepHz = 1000;

constexpr int kRigctlSets = 300;
// rigctl gives up on a silent radio after about 18.6 s; a healthy set takes tens of milliseconds.
constexpr int kRigctlMsPerSetLimit = 200;
constexpr int kRigctlStartupLimitMs = 30000;

constexpr double kNsPerMs = 1e6;

std::int32_t FrequencyOf(int call) {
    return kFirstHz + call * kStepHz;
}

QByteArray BcdOf(std::int32_t hz) {
    std::array<std::uint8_t, civ::kFrequencyBytes> bcd{};
    civ::FreqToBcd(hz, bcd);
    return QByteArray(reinterpret_cast<const char*>(bcd.data()), bcd.size());
}

// The log's hex for five BCD bytes, as the simulated radio writes it: "00 00 10 02 00".
QString LogHex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString Milliseconds(double ms) {
    return QStringLiteral("%1 ms").arg(ms, 0, 'f', ms < 10 ? 3 : 1);
}

QString MedianP99(const std::vector<double>& ms) {
    return QStringLiteral("median %1, p99 %2, max %3")
        .arg(Milliseconds(bench::Median(ms)), Milliseconds(bench::Percentile(ms, 0.99)),
             Milliseconds(bench::Percentile(ms, 1.0)));
}

// Lets pending events in until the link's reply flag is up or the time is over.
void SettleReply(RadioLink& link, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit, Qt::PreciseTimer);
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(limit);
    while (!link.replyReceived && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

bool MeasureSetfreq(const QString& device) {
    const SerialSettings serial{device, QString::number(kBaudRate), kRadioAddress};
    RadioLink link(serial);
    if (Status opened = link.OpenPort(); !opened.IsOk()) {
        bench::Note(QStringLiteral("cannot open %1: %2").arg(device, opened.Message()));
        return false;
    }
    std::vector<double> roundTrips;
    int okSeenApart = 0;
    int timeouts = 0;
    QObject::connect(&link, &RadioLink::RadioAnsweringChanged, [&](bool answering) {
        if (!answering) {
            ++timeouts;
        }
    });
    QElapsedTimer timer;
    for (int call = 0; call < kWarmUpCalls + kMeasuredCalls; ++call) {
        link.replyReceived = false;
        timer.start();
        std::optional<Status> ended;
        double ms = 0;
        link.Setfreq(FrequencyOf(call), std::nullopt, [&](const Status& status) {
            ms = timer.nsecsElapsed() / kNsPerMs;
            ended = status;
        });
        QEventLoop wait;
        while (!ended) {
            wait.processEvents(QEventLoop::WaitForMoreEvents);
        }
        const Status sent = *ended;
        if (!sent.IsOk()) {
            bench::Note(QStringLiteral("Setfreq failed: %1").arg(sent.Message()));
            return false;
        }
        SettleReply(link, kSettle);
        if (call >= kWarmUpCalls) {
            roundTrips.push_back(ms);
            if (link.replyReceived) {
                ++okSeenApart;
            }
        }
    }
    link.ClosePort();
    bench::Note(QStringLiteral("Setfreq: %1 calls; the radio's OK came in a later read than the "
                               "echo after %2 of them; p90 %3")
                    .arg(kMeasuredCalls)
                    .arg(okSeenApart)
                    .arg(Milliseconds(bench::Percentile(roundTrips, 0.9))));
    bench::PrintRow(QStringLiteral("Setfreq round trip (RadioLink, write -> echo decoded)"),
                    MedianP99(roundTrips),
                    QStringLiteral("%1 calls after %2 warm-up, QElapsedTimer around Setfreq; "
                                   "simulated radio on a pty, %3 reply timeouts")
                        .arg(kMeasuredCalls)
                        .arg(kWarmUpCalls)
                        .arg(timeouts));
    return true;
}

// Blocks until `wanted` has arrived in `received` or the time is over.
bool ReadUntil(QSerialPort& port, QByteArray& received, const QByteArray& wanted,
               const QDeadlineTimer& deadline) {
    while (!received.contains(wanted)) {
        if (deadline.hasExpired() || !port.waitForReadyRead(deadline.remainingTime())) {
            return false;
        }
        received += port.readAll();
    }
    return true;
}

bool MeasureWire(const QString& device) {
    QSerialPort port(device);
    port.setBaudRate(kBaudRate);
    if (!port.open(QIODevice::ReadWrite)) {
        bench::Note(QStringLiteral("cannot open %1: %2").arg(device, port.errorString()));
        return false;
    }
    const QByteArray ok = QByteArray::fromHex("FEFE4D4EFBFD");
    std::vector<double> toEcho;
    std::vector<double> toOk;
    QElapsedTimer timer;
    for (int call = 0; call < kWarmUpCalls + kMeasuredCalls; ++call) {
        QByteArray frame;
        civ::BuildFrame(kRadioAddress, civ::kCmdSetFrequency, civ::kNoSubCommand,
                        BcdOf(FrequencyOf(call)), &frame);
        QByteArray received;
        const QDeadlineTimer deadline(kRawReplyTimeout, Qt::PreciseTimer);
        timer.start();
        port.write(frame);
        if (!ReadUntil(port, received, frame, deadline)) {
            bench::Note(QStringLiteral("no echo from the simulated radio"));
            return false;
        }
        const double echoMs = timer.nsecsElapsed() / kNsPerMs;
        if (!ReadUntil(port, received, ok, deadline)) {
            bench::Note(QStringLiteral("no OK from the simulated radio"));
            return false;
        }
        const double okMs = timer.nsecsElapsed() / kNsPerMs;
        if (call >= kWarmUpCalls) {
            toEcho.push_back(echoMs);
            toOk.push_back(okMs);
        }
    }
    port.close();
    bench::PrintRow(
        QStringLiteral("Wire round trip, bare QSerialPort, write -> echo"), MedianP99(toEcho),
        QStringLiteral("%1 set-frequency frames, blocking reads; baseline").arg(kMeasuredCalls));
    bench::PrintRow(QStringLiteral("Wire round trip, bare QSerialPort, write -> radio's OK"),
                    MedianP99(toOk),
                    QStringLiteral("same frames; what rigctl waits for before its next command"));
    return true;
}

struct RigModel {
    const char* number;
    const char* name;
    // Start of the set-frequency frame in the log, after "FE FE <radio> E0".
    const char* setCommandHex;
};

bool MeasureRigctl(RadioSimProcess& sim, const RigModel& model) {
    const QString rigctl = QStandardPaths::findExecutable(QStringLiteral("rigctl"));
    if (rigctl.isEmpty()) {
        bench::PrintRow(QStringLiteral("Hamlib rigctl %1").arg(QLatin1String(model.name)),
                        QStringLiteral("not measured"),
                        QStringLiteral("rigctl not found (Debian package libhamlib-utils)"));
        return false;
    }
    const qsizetype logStart = sim.LogLines().size();
    QByteArray commands;
    for (int set = 0; set < kRigctlSets; ++set) {
        commands += "F " + QByteArray::number(FrequencyOf(set)) + '\n';
    }
    commands += "q\n";

    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(rigctl, {QStringLiteral("-m"), QLatin1String(model.number), QStringLiteral("-r"),
                           sim.DevicePath(), QStringLiteral("-s"), QString::number(kBaudRate),
                           QStringLiteral("-C"),
                           QStringLiteral("civaddr=0x%1").arg(QLatin1String(kRadioAddressText))});
    QElapsedTimer wall;
    wall.start();
    process.write(commands);
    process.closeWriteChannel();
    const int limitMs = kRigctlStartupLimitMs + kRigctlSets * kRigctlMsPerSetLimit;
    if (!process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished();
        bench::Note(QStringLiteral("rigctl did not finish within %1 ms").arg(limitMs));
    }
    const double wallMs = wall.nsecsElapsed() / kNsPerMs;
    const QString output = QString::fromLocal8Bit(process.readAll());

    // The sets this run commanded, in the order the radio received them.
    std::vector<double> times;
    int next = 0;
    const QStringList lines = sim.LogLines().mid(logStart);
    for (const QString& line : lines) {
        if (next >= kRigctlSets) {
            break;
        }
        const QString wanted =
            QStringLiteral(" FE FE %1 E0 %2 %3 FD")
                .arg(QLatin1String(kRadioAddressText), QLatin1String(model.setCommandHex),
                     LogHex(BcdOf(FrequencyOf(next))));
        if (line.endsWith(wanted)) {
            times.push_back(line.section(QLatin1Char(' '), 0, 0).toDouble());
            ++next;
        }
    }
    std::vector<double> intervals;
    for (std::size_t i = 1; i < times.size(); ++i) {
        intervals.push_back((times[i] - times[i - 1]) * 1000.0);
    }
    const QString label = QStringLiteral("Hamlib rigctl -m %1 (%2), time per set (cmd %3)")
                              .arg(QLatin1String(model.number), QLatin1String(model.name),
                                   QLatin1String(model.setCommandHex));
    if (times.size() != static_cast<std::size_t>(kRigctlSets) || intervals.empty()) {
        bench::Note(QStringLiteral("rigctl output:\n%1").arg(output.right(2000)));
        bench::PrintRow(label,
                        QStringLiteral("failed: %1 of %2 sets reached the radio")
                            .arg(times.size())
                            .arg(kRigctlSets),
                        QStringLiteral("see the rigctl output above"));
        return false;
    }
    const double meanMs = (times.back() - times.front()) * 1000.0 / intervals.size();
    bench::Note(QStringLiteral("rigctl -m %1: %2 sets in %3 s wall time (start-up and exit "
                               "included), mean %4 per set between the first and last set")
                    .arg(QLatin1String(model.number))
                    .arg(kRigctlSets)
                    .arg(wallMs / 1000.0, 0, 'f', 2)
                    .arg(Milliseconds(meanMs)));
    bench::PrintRow(label,
                    MedianP99(intervals) + QStringLiteral(", mean %1").arg(Milliseconds(meanMs)),
                    QStringLiteral("%1 sets piped into one interactive run; interval between "
                                   "consecutive sets in the radio's log (1 ms resolution)")
                        .arg(kRigctlSets));
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    RadioSimProcess sim;
    const QString device =
        sim.Start({QStringLiteral("--address"), QLatin1String(kRadioAddressText)});
    if (device.isEmpty()) {
        bench::Note(QStringLiteral("the simulated radio did not start: %1").arg(sim.ErrorString()));
        return 1;
    }
    bench::Note(QStringLiteral("simulated radio on %1").arg(device));
    bool ok = MeasureSetfreq(device);
    ok = MeasureWire(device) && ok;
    // Hamlib's newer Icom models set the frequency with 25 00; older ones with 05, like Tavmirok.
    ok = MeasureRigctl(sim, {"3073", "IC-7300", "25 00"}) && ok;
    ok = MeasureRigctl(sim, {"3011", "IC-706MkIIG", "05"}) && ok;
    sim.Stop();
    return ok ? 0 : 1;
}
