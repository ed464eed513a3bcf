#include "network/publisher.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUuid>

namespace network {

namespace {

constexpr double kMsPerSecond = 1000;

} // namespace

std::optional<QByteArray> ReadPasswordFile(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("the password file %1 cannot be read (%2).")
                     .arg(path, file.errorString());
        return std::nullopt;
    }
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (file.permissions() & others) {
        *error = QStringLiteral("the password file %1 may be read by others than its owner: "
                                "make it private (chmod 600 %1); it is not used until then.")
                     .arg(path);
        return std::nullopt;
    }
    QByteArray password = file.readLine();
    while (password.endsWith('\n') || password.endsWith('\r')) {
        password.chop(1);
    }
    return password;
}

QString PublishRefusal(const StationSettings& settings) {
    QString problem = CallsignRefusal(settings.callsign);
    if (problem.isEmpty() && settings.stationAt.isEmpty()) {
        problem = QStringLiteral("The station's position is not set: give its locator (--locator "
                                 "without a window); nothing is published without it.");
    }
    if (problem.isEmpty()) {
        ParseBrokerUrl(settings.publish.url, &problem);
    }
    if (problem.isEmpty()) {
        problem = PrefixRefusal(settings.publish.prefix);
    }
    if (problem.isEmpty() && !settings.publish.passwordFile.isEmpty()) {
        ReadPasswordFile(settings.publish.passwordFile, &problem);
    }
    return problem;
}

PublisherSetup SetupFor(const StationSettings& settings) {
    PublisherSetup setup;
    setup.choice = settings.publish;
    const auto at = geo::ParsePosition(settings.stationAt.toStdString()).position;
    setup.station = {settings.callsign,
                     at ? QString::fromStdString(geo::LocatorOf(*at)) : QString()};
    const QString base =
        settings.ionogram.folder.isEmpty()
            ? QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
            : settings.ionogram.folder;
    setup.outboxFolder = QDir(base).filePath(QStringLiteral("outbox"));
    return setup;
}

Publisher::Publisher(PublisherSetup given, QObject* parent)
    : QObject(parent), setup(std::move(given)) {}

Publisher::~Publisher() {
    Stop();
}

bool Publisher::Start() {
    QString problem = CallsignRefusal(setup.station.callsign);
    std::optional<BrokerAddress> broker;
    if (problem.isEmpty()) {
        broker = ParseBrokerUrl(setup.choice.url, &problem);
    }
    if (problem.isEmpty()) {
        problem = PrefixRefusal(setup.choice.prefix);
    }
    MqttClient::Options options;
    if (problem.isEmpty() && !setup.choice.passwordFile.isEmpty()) {
        options.password = ReadPasswordFile(setup.choice.passwordFile, &problem).value_or("");
    }
    ::Status opened = ::Status::Ok();
    if (problem.isEmpty()) {
        outbox = std::make_unique<Outbox>(setup.outboxFolder, &opened);
        problem = opened.IsOk() ? QString() : opened.Message();
    }
    if (problem.isEmpty()) {
        options.broker = *broker;
        options.url = setup.choice.url;
        options.clientId = QStringLiteral("tavmirok-%1-%2")
                               .arg(StationLevel(setup.station.callsign),
                                    QUuid::createUuid().toString(QUuid::Id128).left(8));
        options.user = setup.choice.user;
        options.caFile = setup.choice.caFile;
        options.willTopic = StatusTopic(setup.choice.prefix, setup.station.callsign);
        options.willPayload = Status(false);
        options.willRetain = true;
        client = std::make_unique<MqttClient>(options, this);
        connect(client.get(), &MqttClient::Connected, this, &Publisher::OnConnected);
        connect(client.get(), &MqttClient::Failed, this, &Publisher::OnFailed);
        connect(client.get(), &MqttClient::Acknowledged, this, &Publisher::OnAcknowledged);
        if (!client->Start(&problem)) {
            client.reset();
        }
    }
    if (!problem.isEmpty()) {
        outbox.reset();
        emit Problem(QStringLiteral("not publishing: %1").arg(problem));
        return false;
    }
    emit Notice(QStringLiteral("publishing to %1 as %2 under %3/; %4 message(s) from before wait "
                               "in the outbox")
                    .arg(setup.choice.url, setup.station.callsign, setup.choice.prefix)
                    .arg(outbox->Pending().size()));
    return true;
}

void Publisher::Stop() {
    connectionSeen = false;
    if (client) {
        client->Stop(StatusTopic(setup.choice.prefix, setup.station.callsign), Status(false));
        client.reset();
    }
}

QByteArray Publisher::Status(bool online) const {
    return StatusPayload(setup.station, following, sinceUtc, online);
}

void Publisher::SetFollowing(const QStringList& names, const QDateTime& since) {
    following = names;
    sinceUtc = since;
    if (client && connectionSeen) {
        client->Publish(StatusTopic(setup.choice.prefix, setup.station.callsign), Status(true),
                        kQos, true);
    }
}

void Publisher::PublishScaled(const feed::Scaled& scaled) {
    if (!outbox) {
        return;
    }
    const ::Status added =
        outbox->Add(ScaledTopic(setup.choice.prefix, setup.station.callsign, scaled.sounder.name),
                    ScaledPayload(scaled, setup.station), scaled.scaledUtc.toMSecsSinceEpoch());
    if (!added.IsOk()) {
        emit Problem(added.Message());
        return;
    }
    SendMore();
}

void Publisher::PublishHeard(const std::vector<feed::HeardOn>& heard) {
    heardPayload = HeardPayload(setup.station, heard);
    if (client && connectionSeen) {
        client->Publish(HeardTopic(setup.choice.prefix, setup.station.callsign), *heardPayload,
                        kQos, true);
    }
}

void Publisher::OnConnected() {
    if (told) {
        emit Notice(QStringLiteral("connected to the broker %1 again; sending the %2 message(s) "
                                   "that waited")
                        .arg(setup.choice.url)
                        .arg(outbox->Pending().size()));
    }
    told.reset();
    inFlight.clear();
    sentUpTo = 0;
    connectionSeen = true;
    client->Publish(StatusTopic(setup.choice.prefix, setup.station.callsign), Status(true), kQos,
                    true);
    // Retained, so that a list changed while the broker was away is not left at the old one.
    if (heardPayload) {
        client->Publish(HeardTopic(setup.choice.prefix, setup.station.callsign), *heardPayload,
                        kQos, true);
    }
    SendMore();
}

void Publisher::OnFailed(ConnectFailure failure, const QString& detail) {
    inFlight.clear();
    connectionSeen = false;
    if (told == failure) {
        return;
    }
    told = failure;
    emit Problem(ConnectFailureText(failure, setup.choice.url, detail));
}

void Publisher::OnAcknowledged(int messageId, int reason) {
    const auto sent = inFlight.find(messageId);
    if (sent == inFlight.end()) {
        return;
    }
    const std::int64_t number = sent->second;
    inFlight.erase(sent);
    // A refusal (not authorised for the topic) would come back on every try: the message is
    // dropped with a word rather than held forever in front of the others.
    constexpr int kFirstRefusal = 0x80;
    if (reason >= kFirstRefusal) {
        emit Problem(QStringLiteral("the broker refused a message (reason %1): check that %2 may "
                                    "publish under %3/; the message is dropped.")
                         .arg(reason)
                         .arg(setup.choice.user.isEmpty() ? QStringLiteral("this client")
                                                          : setup.choice.user,
                              setup.choice.prefix));
    }
    if (const ::Status written = outbox->Acknowledge(number); !written.IsOk()) {
        emit Problem(written.Message());
    }
    SendMore();
}

void Publisher::SendMore() {
    if (!client || !connectionSeen || !client->IsConnected()) {
        return;
    }
    const qint64 nowMs = setup.now().toMSecsSinceEpoch();
    for (const OutboxEntry& entry : outbox->Pending()) {
        if (inFlight.size() >= static_cast<std::size_t>(kInFlight)) {
            break;
        }
        if (entry.number <= sentUpTo || outbox->Acknowledged(entry.number)) {
            continue;
        }
        const QByteArray payload =
            WithQueuedSeconds(entry.payload, (nowMs - entry.scaledMs) / kMsPerSecond);
        const int id = client->Publish(entry.topic, payload, kQos, false);
        if (id < 0) {
            break;
        }
        inFlight[id] = entry.number;
        sentUpTo = entry.number;
    }
}

void FollowFeed(StationFeed& feed, Publisher& publisher) {
    QObject::connect(&feed, &StationFeed::Scaled, &publisher, &Publisher::PublishScaled);
    QObject::connect(&feed, &StationFeed::HeardChanged, &publisher, &Publisher::PublishHeard);
}

} // namespace network
