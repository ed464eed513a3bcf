// Publishes the scaled sweeps of a simulated network of stations into a broker, faster than real
// time: every five simulated minutes a sweep of each station's sounders, in order of time, as
// fast as the broker acknowledges them (QoS 1, a window of messages in flight).
//
//   tavmirok-simnet --url mqtt://127.0.0.1:1883 [--stations 200] [--sounders 3]
//                   [--start 2026-12-07T00:00:00Z] [--hours 24] [--prefix tavmirok] [--seed 1]
//
// Without --start the simulated hours end at the current hour: a collector keeps a day's map only
// while the day is recent, so a network of days long past would fill its day files but no map.

#include "network/mqttclient.h"
#include "network/payload.h"
#include "network/topics.h"
#include "simnet/simnetwork.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {

constexpr int kInFlight = 200;
constexpr int kQos = 1;

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption url("url", "The broker: mqtt://HOST[:PORT].", "URL");
    const QCommandLineOption stations("stations", "How many stations (200).", "N", "200");
    const QCommandLineOption sounders("sounders", "Sounders each station hears (3).", "N", "3");
    const QCommandLineOption start(
        "start", "The first sweep (UTC; the simulated hours end at the current hour).", "TIME");
    const QCommandLineOption hours("hours", "Simulated hours (24).", "H", "24");
    const QCommandLineOption prefix("prefix", "Topic prefix (tavmirok).", "PREFIX", "tavmirok");
    const QCommandLineOption seed("seed", "Random seed (1).", "N", "1");
    parser.addOptions({url, stations, sounders, start, hours, prefix, seed});
    parser.process(app);
    QString error;
    const auto broker = network::ParseBrokerUrl(parser.value(url), &error);
    QDateTime first = QDateTime::fromString(parser.value(start), Qt::ISODate).toUTC();
    if (!parser.isSet(start)) {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        first = QDateTime(now.date(), QTime(now.time().hour(), 0), Qt::UTC)
                    .addSecs(-qint64(3600 * parser.value(hours).toDouble()));
    }
    if (!broker || !first.isValid()) {
        std::fprintf(stderr, "tavmirok-simnet: %s\n",
                     qPrintable(broker ? QStringLiteral("--start is not a time") : error));
        return 2;
    }
    const std::uint32_t randomSeed = parser.value(seed).toUInt();
    const std::vector<simnet::SimStation> network = simnet::MakeStations(
        parser.value(stations).toInt(), parser.value(sounders).toInt(), randomSeed);
    const QString topicPrefix = parser.value(prefix);
    const int sweeps =
        static_cast<int>(parser.value(hours).toDouble() * 3600 / simnet::kSweepPeriodS);

    network::MqttClient::Options options;
    options.broker = *broker;
    options.url = parser.value(url);
    options.clientId = QStringLiteral("tavmirok-simnet");
    network::MqttClient client(options);
    // The position in the sequence: sweep (time), station, sounder.
    int sweep = 0;
    std::size_t station = 0;
    std::size_t sounder = 0;
    int inFlight = 0;
    long long sent = 0;
    QElapsedTimer clock;
    const auto publishMore = [&] {
        while (inFlight < kInFlight && sweep < sweeps) {
            const simnet::SimStation& who = network[station];
            if (sounder < who.sounders.size()) {
                const QDateTime utc =
                    first.addSecs(static_cast<qint64>(sweep * simnet::kSweepPeriodS));
                const feed::Scaled scaled =
                    simnet::ScaledSweepOf(who, who.sounders[sounder], utc, randomSeed);
                const network::StationIdentity identity{
                    who.callsign, QString::fromStdString(geo::LocatorOf(who.at))};
                const QByteArray payload =
                    network::WithQueuedSeconds(network::ScaledPayload(scaled, identity), 0);
                if (client.Publish(
                        network::ScaledTopic(topicPrefix, who.callsign, scaled.sounder.name),
                        payload, kQos, false) < 0) {
                    return; // not connected: go on when it is
                }
                ++inFlight;
                ++sent;
            }
            if (++sounder >= who.sounders.size()) {
                sounder = 0;
                if (++station >= network.size()) {
                    station = 0;
                    ++sweep;
                }
            }
        }
        if (sweep >= sweeps && inFlight == 0) {
            std::fprintf(stderr, "tavmirok-simnet: %lld messages of %zu stations in %.1f s\n", sent,
                         network.size(), clock.elapsed() / 1000.0);
            QCoreApplication::quit();
        }
    };
    QObject::connect(&client, &network::MqttClient::Connected, [&] {
        if (!clock.isValid()) {
            clock.start();
        }
        inFlight = 0;
        publishMore();
    });
    QObject::connect(&client, &network::MqttClient::Acknowledged, [&](int, int) {
        --inFlight;
        publishMore();
    });
    QObject::connect(&client, &network::MqttClient::Failed,
                     [](network::ConnectFailure failure, const QString& detail) {
                         std::fprintf(stderr, "tavmirok-simnet: %s\n",
                                      qPrintable(network::ConnectFailureText(
                                          failure, QStringLiteral("broker"), detail)));
                     });
    if (!client.Start(&error)) {
        std::fprintf(stderr, "tavmirok-simnet: %s\n", qPrintable(error));
        return 2;
    }
    const int status = QCoreApplication::exec();
    client.Stop();
    return status;
}
