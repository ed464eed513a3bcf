// The network on loopback with a real broker (Debian's mosquitto). The collector: a simulated
// network of 1000 stations hearing 3 sounders each, one scaled sweep of each every five minutes,
// published by tools/simnet as fast as the broker acknowledges, collected by the Collector in
// this process into its day file; how much faster than real time, its CPU per sweep and its
// memory as the hours go by. TAVMIROK_BENCH_HOURS sets the simulated hours (2; 24 for a whole
// day). The publisher: the CPU the station's process spends per published sweep, outbox and
// network thread included, set against a station's three sweeps every five minutes. An outage:
// the broker stopped for TAVMIROK_BENCH_OUTAGE_S seconds (600; 0 leaves it out) while the
// station goes on scaling a sweep every 5 s and is restarted halfway, the collector running
// throughout; whether every sweep reached the collector once and in order, and how long after
// the broker came back the station's outbox was empty.

#include "benchrow.h"
#include "network/collector.h"
#include "network/publisher.h"
#include "support/mosquittobroker.h"
#include "support/scaledmessage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <sys/resource.h>

namespace {

constexpr int kStations = 1000;
constexpr int kSoundersEach = 3;
constexpr int kPublished = 3000;
constexpr double kStationSweepsPerSecond = 3.0 / 300;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double RssMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        }
    }
    return 0;
}

void WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}

int CollectorBench(const MosquittoBroker& broker, double hours) {
    QTemporaryDir folder;
    network::Collector collector(
        {broker.Url(), {}, {}, {}, QStringLiteral("tavmirok"), folder.path()});
    bool subscribed = false;
    QObject::connect(&collector, &network::Collector::Notice, [&] { subscribed = true; });
    collector.Start();
    WaitUntil([&] { return subscribed; }, 10000);
    const int expected = static_cast<int>(kStations * kSoundersEach * hours * 12);
    std::vector<std::pair<int, double>> rss; // kept, MB
    QObject::connect(&collector, &network::Collector::SweepKept, [&] {
        if (collector.Kept() % (kStations * kSoundersEach * 12) == 0) {
            rss.emplace_back(collector.Kept(), RssMb());
        }
    });
    QProcess simnet;
    simnet.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const double cpuBefore = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    simnet.start(QStringLiteral(TAVMIROK_SIMNET),
                 {"--url", broker.Url(), "--stations", QString::number(kStations), "--sounders",
                  QString::number(kSoundersEach), "--hours", QString::number(hours)});
    // Until all came, or nothing more comes for a while after the publishing ended.
    int lastKept = 0;
    QElapsedTimer still;
    still.start();
    constexpr int kQuietMs = 20000;
    WaitUntil(
        [&] {
            if (collector.Kept() != lastKept || simnet.state() != QProcess::NotRunning) {
                lastKept = collector.Kept();
                still.restart();
            }
            return collector.Kept() >= expected || still.elapsed() > kQuietMs;
        },
        3600 * 1000);
    const double wallS = clock.elapsed() / 1000.0;
    const double cpuS = CpuSeconds() - cpuBefore;
    simnet.waitForFinished();
    collector.Stop();
    if (collector.Kept() != expected) {
        bench::Note(
            QStringLiteral("only %1 of %2 sweeps kept").arg(collector.Kept()).arg(expected));
        return 1;
    }
    const double factor = hours * 3600 / wallS;
    bench::PrintRow(QStringLiteral("collector, 1000 stations x 3 sounders every 5 min"),
                    QStringLiteral("%1x real time (%2 sweeps/s; a day in %3 min)")
                        .arg(factor, 0, 'f', 0)
                        .arg(expected / wallS, 0, 'f', 0)
                        .arg(24 * 60 / factor, 0, 'f', 1),
                    QStringLiteral("%1 simulated h (%2 sweeps) through mosquitto on loopback, "
                                   "tools/simnet publishing, wall clock")
                        .arg(hours)
                        .arg(expected));
    bench::PrintRow(QStringLiteral("collector CPU per sweep"),
                    QStringLiteral("%1 us (%2 % of a core at that rate)")
                        .arg(cpuS / expected * 1e6, 0, 'f', 0)
                        .arg(cpuS / wallS * 100, 0, 'f', 0),
                    QStringLiteral("getrusage of the collector's process (its network thread "
                                   "included)"));
    QStringList steps;
    for (const auto& [kept, mb] : rss) {
        steps << QStringLiteral("%1 MB").arg(mb, 0, 'f', 0);
    }
    bench::PrintRow(QStringLiteral("collector memory, each simulated hour"), steps.join(u' '),
                    QStringLiteral("VmRSS; the de-duplication keeps 26 h of sweeps"));
    return 0;
}

int PublisherBench(const MosquittoBroker& broker) {
    QTemporaryDir outbox;
    network::PublisherSetup setup;
    setup.choice.enabled = true;
    setup.choice.url = broker.Url();
    setup.station = {QStringLiteral("DL0ABC"), QStringLiteral("JO62qm")};
    setup.outboxFolder = outbox.path();
    network::Publisher publisher(setup);
    publisher.Start();
    WaitUntil([&] { return false; }, 1000); // connected, status sent
    const double cpuBefore = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    const QDateTime first(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
    for (int i = 0; i < kPublished; ++i) {
        publisher.PublishScaled(CyprusSweep(first.addSecs(300 * i)));
        QCoreApplication::processEvents();
    }
    WaitUntil([&] { return publisher.Waiting() == 0; }, 60000);
    const double cpuPerSweep = (CpuSeconds() - cpuBefore) / kPublished;
    bench::PrintRow(QStringLiteral("publisher CPU per scaled sweep"),
                    QStringLiteral("%1 us: %2 % of a core at 3 sweeps / 5 min")
                        .arg(cpuPerSweep * 1e6, 0, 'f', 0)
                        .arg(cpuPerSweep * kStationSweepsPerSecond * 100, 0, 'g', 2),
                    QStringLiteral("%1 sweeps through the outbox to mosquitto on loopback, "
                                   "getrusage (network thread included), %2 s wall")
                        .arg(kPublished)
                        .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    publisher.Stop();
    return 0;
}

// Sweeps 60 simulated seconds apart, so a long outage stays within one day file.
int OutageBench(MosquittoBroker& broker, int outageS) {
    constexpr int kEveryMs = 5000;
    constexpr int kAroundMs = 20000; // publishing before the broker stops and after it is back
    QTemporaryDir outbox;
    QTemporaryDir folder;
    network::Collector collector(
        {broker.Url(), {}, {}, {}, QStringLiteral("tavmirok"), folder.path()});
    bool subscribed = false; // before that, the broker would keep nothing for the collector
    QObject::connect(&collector, &network::Collector::Notice, [&] { subscribed = true; });
    collector.Start();
    WaitUntil([&] { return subscribed; }, 10000);
    network::PublisherSetup setup;
    setup.choice.enabled = true;
    setup.choice.url = broker.Url();
    setup.station = {QStringLiteral("DL0ABC"), QStringLiteral("JO62qm")};
    setup.outboxFolder = outbox.path();
    auto publisher = std::make_unique<network::Publisher>(setup);
    publisher->Start();
    const QDateTime first(QDate(2026, 12, 7), QTime(0, 0), Qt::UTC);
    int published = 0;
    const auto publishFor = [&](int ms) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ms) {
            publisher->PublishScaled(CyprusSweep(first.addSecs(60 * published++)));
            WaitUntil([] { return false; }, kEveryMs);
        }
    };
    publishFor(kAroundMs);
    broker.Stop();
    publishFor(outageS * 500);
    publisher = std::make_unique<network::Publisher>(setup); // the station restarts
    publisher->Start();
    publishFor(outageS * 500);
    QString error;
    if (!broker.Restart(&error)) {
        bench::Note(error);
        return 1;
    }
    QElapsedTimer back;
    back.start();
    const int waitingAtReturn = int(publisher->Waiting());
    WaitUntil([&] { return publisher->Waiting() == 0; }, 180000);
    const double emptiedS = back.elapsed() / 1000.0;
    publishFor(kAroundMs);
    WaitUntil([&] { return collector.Kept() >= published; }, 120000);
    publisher->Stop();
    collector.Stop();

    QFile day(QDir(folder.path()).filePath(QStringLiteral("network-2026-12-07.csv")));
    day.open(QIODevice::ReadOnly);
    std::vector<QDateTime> starts;
    for (const network::ScaledRecord& row : network::ParseNetworkDayFile(day.readAll())) {
        if (row.traces.at(0).trace == 1) {
            starts.push_back(row.sweepStartUtc);
        }
    }
    int inOrder = 0;
    QStringList astray; // sweeps missing, doubled or out of their place
    for (std::size_t i = 0; i < std::max(starts.size(), std::size_t(published)); ++i) {
        const QDateTime expected = first.addSecs(60 * qint64(i));
        if (i < starts.size() && starts[i] == expected) {
            ++inOrder;
        } else {
            astray << QStringLiteral("#%1 %2").arg(i).arg(
                i < starts.size() ? starts[i].toString(Qt::ISODate) : QStringLiteral("none"));
        }
    }
    if (!astray.isEmpty()) {
        bench::Note(QStringLiteral("day file rows not where expected (the row: the sweep found "
                                   "there): %1")
                        .arg(astray.mid(0, 12).join(QStringLiteral(", "))));
    }
    bench::PrintRow(
        QStringLiteral("broker away %1 min, station restarted meanwhile")
            .arg(outageS / 60.0, 0, 'g', 3),
        QStringLiteral("%1 of %2 sweeps at the collector, %3 in order; %4 waiting at the "
                       "broker's return, sent %5 s after it")
            .arg(starts.size())
            .arg(published)
            .arg(inOrder)
            .arg(waitingAtReturn)
            .arg(emptiedS, 0, 'f', 1),
        QStringLiteral("a sweep every 5 s through the outbox, the collector connected "
                       "throughout (persistent session); rows of its day file"));
    return int(starts.size()) == published && inOrder == published ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // the map's text
    if (!MosquittoBroker::Installed()) {
        bench::Note(QStringLiteral("mosquitto is not installed: no figures"));
        return 1;
    }
    MosquittoBroker broker;
    QString error;
    if (!broker.Start({}, &error)) {
        bench::Note(error);
        return 1;
    }
    const double hours = qEnvironmentVariableIsSet("TAVMIROK_BENCH_HOURS")
                             ? qEnvironmentVariable("TAVMIROK_BENCH_HOURS").toDouble()
                             : 2;
    const int outageS = qEnvironmentVariableIsSet("TAVMIROK_BENCH_OUTAGE_S")
                            ? qEnvironmentVariableIntValue("TAVMIROK_BENCH_OUTAGE_S")
                            : 600;
    return PublisherBench(broker) + CollectorBench(broker, hours) +
           (outageS > 0 ? OutageBench(broker, outageS) : 0);
}
