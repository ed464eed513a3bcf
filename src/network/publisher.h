#pragma once

// The station's face on the network: every scaled sweep goes to the broker as one QoS 1 message
// (PREFIX/v1/<station>/scaled/<sounder>), through the outbox on disk so that none is lost while
// the broker is away or the program stopped; the station's status is retained and the last will
// sets it offline; the sounders heard go to PREFIX/v1/<station>/heard. It lives in the thread of
// the front end that made it and only reacts to the feed's events, so it can never hold a step
// up. A connection problem is told once, when it starts, and its end once.

#include "network/mqttclient.h"
#include "network/outbox.h"
#include "network/payload.h"
#include "settings/publishstore.h"
#include "settings/stationstore.h"
#include "station/stationfeed.h"

#include <QDateTime>
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace network {

// The password kept in path (its first line): refused, with the reason in *error, when the file
// cannot be read or others than its owner may read it.
std::optional<QByteArray> ReadPasswordFile(const QString& path, QString* error);

struct PublisherSetup {
    PublishChoice choice;
    StationIdentity station;
    QString outboxFolder;
    // The clock (tests step their own).
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
};

// Why the station cannot publish with these settings (its callsign and position, the group
// "publish"), told in a sentence with what to set; "" when it can.
QString PublishRefusal(const StationSettings& settings);

// The publisher of a station with these settings: its callsign and locator, the outbox beside the
// archive (else in the user's data folder).
PublisherSetup SetupFor(const StationSettings& settings);

class Publisher : public QObject {
    Q_OBJECT
public:
    // How many messages may await the broker's acknowledgement at once.
    static constexpr int kInFlight = 32;

    explicit Publisher(PublisherSetup setup, QObject* parent = nullptr);
    ~Publisher() override;

    // Connects and sends what the outbox holds; false, with the reason told by Problem, when a
    // setting cannot be used (nothing is published then).
    bool Start();
    // Sets the status offline and disconnects.
    void Stop();

    // What the status tells of the station: the sounders followed and since when.
    void SetFollowing(const QStringList& following, const QDateTime& sinceUtc);
    void PublishScaled(const feed::Scaled& scaled);
    void PublishHeard(const std::vector<feed::HeardOn>& heard);

    // Messages not yet acknowledged by the broker.
    std::size_t Waiting() const { return outbox ? outbox->Pending().size() : 0; }

signals:
    void Problem(const QString& message);
    void Notice(const QString& message);

private:
    void OnConnected();
    void OnFailed(ConnectFailure failure, const QString& detail);
    void OnAcknowledged(int messageId, int reason);
    void SendMore();
    QByteArray Status(bool online) const;

    PublisherSetup setup;
    std::unique_ptr<Outbox> outbox;
    std::unique_ptr<MqttClient> client;
    std::map<int, std::int64_t> inFlight; // message id -> outbox number
    std::int64_t sentUpTo = 0;            // the last outbox number sent on this connection
    // The connection's news has reached this thread. The client may already be connected on its
    // own thread before: sending then would send the outbox's head twice, once more on news.
    bool connectionSeen = false;
    std::optional<QByteArray> heardPayload; // the last list of sounders heard, sent on connection
    QStringList following;
    QDateTime sinceUtc;
    std::optional<ConnectFailure> told; // the failure told, until the connection is back
};

// Publishes what the feed reports.
void FollowFeed(StationFeed& feed, Publisher& publisher);

} // namespace network
