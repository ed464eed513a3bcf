#pragma once

// One connection to an MQTT broker (v5) through libmosquitto's C API, kept up on a network thread
// of its own: it connects, runs the client's loop, and after a failure waits a growing pause (up
// to kLongestPause) before it tries again, so that nothing in the caller's thread ever waits on
// the network. Each connection carries the same CONNECT properties (the session expiry that a
// collector's persistent session needs), which libmosquitto's own reconnection would drop.
// What the connection reports comes back as signals in the thread that owns the object.

#include "network/topics.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

struct mosquitto;

namespace network {

// Why a connection failed, for the text that tells the user what to do.
enum class ConnectFailure {
    Unreachable, // no connection (refused, no route, unknown host)
    Refused,     // the broker refused the user or password, or the client id
    Tls,         // the TLS handshake failed: most often the broker's certificate is not trusted
    Lost,        // an established connection broke
};

// The line told once when a connection fails in this way, with what to do; detail is
// libmosquitto's or the broker's word for it.
QString ConnectFailureText(ConnectFailure failure, const QString& url, const QString& detail);

class MqttClient : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::seconds kFirstPause{1};
    static constexpr std::chrono::seconds kLongestPause{60};
    static constexpr int kKeepAliveS = 30;
    // Messages received and not yet delivered in the owner's thread: past this many the network
    // thread waits, so that a slow owner bounds the memory (and what a crash could lose of what
    // the broker counts as delivered).
    static constexpr int kMostBacklog = 500;

    struct Options {
        BrokerAddress broker;
        QString url; // as typed, for messages
        QString clientId;
        bool cleanStart = true;
        int sessionExpiryS = 0; // how long the broker keeps the session after a disconnection
        QString user;
        QByteArray password;
        QString caFile; // "" for the system's CA certificates
        QString willTopic;
        QByteArray willPayload;
        bool willRetain = false;
    };

    explicit MqttClient(Options options, QObject* parent = nullptr);
    ~MqttClient() override;

    // Starts the network thread; *problem tells a setting the library refused (a CA file).
    bool Start(QString* problem);
    // Sends lastTopic (retained) when given, disconnects cleanly, ends the thread, then delivers
    // the reports still queued for this thread.
    void Stop(const QString& lastTopic = QString(), const QByteArray& lastPayload = QByteArray());

    // Queues a message; its id, or -1 while not connected (nothing is queued then).
    int Publish(const QString& topic, const QByteArray& payload, int qos, bool retain);
    bool Subscribe(const QString& filter, int qos);
    bool IsConnected() const { return connected.load(); }

signals:
    void Connected(bool sessionPresent);
    // The broker granted a subscription: what is published from now on comes.
    void Subscribed();
    void Failed(network::ConnectFailure failure, const QString& detail);
    // The broker acknowledged a QoS 1 message (reason 0), or refused it (reason >= 0x80).
    void Acknowledged(int messageId, int reason);
    void MessageReceived(const QString& topic, const QByteArray& payload);

private:
    static void OnConnect(mosquitto*, void* self, int reason, int flags, const void*);
    static void OnDisconnect(mosquitto*, void* self, int reason, const void*);
    static void OnPublish(mosquitto*, void* self, int messageId, int reason, const void*);
    static void OnMessage(mosquitto*, void* self, const void* message, const void*);
    static void OnSubscribe(void* self);
    void Run();
    // Waits for the pause or until stopped; whether to go on.
    bool Pause(std::chrono::seconds pause);

    Options options;
    mosquitto* client = nullptr;
    std::thread network;
    std::mutex lock;
    std::condition_variable wake;
    std::atomic<bool> stopping{false};
    std::atomic<bool> connected{false};
    std::atomic<int> backlog{0};
    int connackReason = 0; // set on the network thread during a connection attempt
    bool accepted = false;
};

} // namespace network

Q_DECLARE_METATYPE(network::ConnectFailure)
