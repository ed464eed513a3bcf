#include "network/mqttclient.h"

#include <QCoreApplication>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>

namespace network {

namespace {

constexpr int kLoopTimeoutMs = 100;
constexpr int kFlushLoops = 10;
constexpr int kCleanStartFlag = 1; // the session-present flag of CONNACK
constexpr char kSystemCaPath[] = "/etc/ssl/certs";

struct LibraryInit {
    LibraryInit() { mosquitto_lib_init(); }
};

} // namespace

QString ConnectFailureText(ConnectFailure failure, const QString& url, const QString& detail) {
    switch (failure) {
    case ConnectFailure::Unreachable:
        return QStringLiteral("the broker %1 cannot be reached (%2): check that it runs and the "
                              "address; trying again with a growing pause, nothing is lost.")
            .arg(url, detail);
    case ConnectFailure::Refused:
        return QStringLiteral("the broker %1 refused the connection (%2): check --mqtt-user and "
                              "the password file; trying again with a growing pause.")
            .arg(url, detail);
    case ConnectFailure::Tls:
        return QStringLiteral("the TLS connection to %1 failed (%2): the broker's certificate is "
                              "not trusted or does not name the host; give its CA with "
                              "--mqtt-ca. Nothing is sent without TLS; trying again.")
            .arg(url, detail);
    case ConnectFailure::Lost:
        return QStringLiteral("the connection to the broker %1 was lost (%2): reconnecting, "
                              "nothing is lost.")
            .arg(url, detail);
    }
    return {};
}

MqttClient::MqttClient(Options given, QObject* parent) : QObject(parent), options(given) {
    static LibraryInit init;
    qRegisterMetaType<ConnectFailure>();
    const QByteArray id = options.clientId.toUtf8();
    client = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), options.cleanStart, this);
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Publish and Subscribe are called from the owner's thread while Run loops on its own.
    mosquitto_threaded_set(client, true);
    mosquitto_connect_v5_callback_set(
        client, [](mosquitto* m, void* self, int reason, int flags, const mosquitto_property* p) {
            OnConnect(m, self, reason, flags, p);
        });
    mosquitto_disconnect_v5_callback_set(
        client, [](mosquitto* m, void* self, int reason, const mosquitto_property* p) {
            OnDisconnect(m, self, reason, p);
        });
    mosquitto_publish_v5_callback_set(
        client, [](mosquitto* m, void* self, int id, int reason, const mosquitto_property* p) {
            OnPublish(m, self, id, reason, p);
        });
    mosquitto_message_v5_callback_set(
        client, [](mosquitto* m, void* self, const mosquitto_message* message,
                   const mosquitto_property* p) { OnMessage(m, self, message, p); });
    mosquitto_subscribe_v5_callback_set(client,
                                        [](mosquitto*, void* self, int, int, const int*,
                                           const mosquitto_property*) { OnSubscribe(self); });
}

MqttClient::~MqttClient() {
    // Reports still queued are dropped: their receivers may be gone already.
    if (network.joinable()) {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        wake.notify_all();
        network.join();
    }
    mosquitto_destroy(client);
}

bool MqttClient::Start(QString* problem) {
    if (!options.user.isEmpty()) {
        mosquitto_username_pw_set(client, options.user.toUtf8().constData(),
                                  options.password.isEmpty() ? nullptr
                                                             : options.password.constData());
    }
    if (options.broker.tls) {
        const QByteArray ca = QFile::encodeName(options.caFile);
        const int rc =
            mosquitto_tls_set(client, ca.isEmpty() ? nullptr : ca.constData(),
                              ca.isEmpty() ? kSystemCaPath : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *problem = QStringLiteral("the CA file \"%1\" cannot be used (%2): give a file of PEM "
                                      "certificates with --mqtt-ca.")
                           .arg(options.caFile, QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
    }
    if (!options.willTopic.isEmpty()) {
        mosquitto_will_set_v5(client, options.willTopic.toUtf8().constData(),
                              static_cast<int>(options.willPayload.size()),
                              options.willPayload.constData(), 1, options.willRetain, nullptr);
    }
    stopping = false;
    network = std::thread([this] { Run(); });
    return true;
}

void MqttClient::Stop(const QString& lastTopic, const QByteArray& lastPayload) {
    if (!network.joinable()) {
        return;
    }
    if (!lastTopic.isEmpty() && connected) {
        Publish(lastTopic, lastPayload, 1, true);
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    network.join();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

int MqttClient::Publish(const QString& topic, const QByteArray& payload, int qos, bool retain) {
    if (!connected) {
        return -1;
    }
    int id = -1;
    const int rc = mosquitto_publish_v5(client, &id, topic.toUtf8().constData(),
                                        static_cast<int>(payload.size()), payload.constData(), qos,
                                        retain, nullptr);
    return rc == MOSQ_ERR_SUCCESS ? id : -1;
}

bool MqttClient::Subscribe(const QString& filter, int qos) {
    return mosquitto_subscribe_v5(client, nullptr, filter.toUtf8().constData(), qos, 0, nullptr) ==
           MOSQ_ERR_SUCCESS;
}

void MqttClient::OnConnect(mosquitto*, void* self, int reason, int flags, const void*) {
    auto* me = static_cast<MqttClient*>(self);
    me->connackReason = reason;
    if (reason != 0) {
        return;
    }
    me->accepted = true;
    me->connected = true;
    const bool present = (flags & kCleanStartFlag) != 0;
    QMetaObject::invokeMethod(
        me, [me, present] { emit me->Connected(present); }, Qt::QueuedConnection);
}

void MqttClient::OnDisconnect(mosquitto*, void* self, int, const void*) {
    static_cast<MqttClient*>(self)->connected = false;
}

void MqttClient::OnPublish(mosquitto*, void* self, int messageId, int reason, const void*) {
    auto* me = static_cast<MqttClient*>(self);
    QMetaObject::invokeMethod(
        me, [me, messageId, reason] { emit me->Acknowledged(messageId, reason); },
        Qt::QueuedConnection);
}

void MqttClient::OnMessage(mosquitto*, void* self, const void* data, const void*) {
    auto* me = static_cast<MqttClient*>(self);
    const auto* message = static_cast<const mosquitto_message*>(data);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    ++me->backlog;
    QMetaObject::invokeMethod(
        me,
        [me, topic, payload] {
            emit me->MessageReceived(topic, payload);
            if (--me->backlog == kMostBacklog / 2) {
                { std::lock_guard<std::mutex> guard(me->lock); }
                me->wake.notify_all();
            }
        },
        Qt::QueuedConnection);
    // The owner's thread is behind: read no more from the broker, which keeps the rest queued,
    // until it has caught up.
    if (me->backlog >= kMostBacklog) {
        std::unique_lock<std::mutex> guard(me->lock);
        me->wake.wait(guard, [me] { return me->backlog <= kMostBacklog / 2 || me->stopping; });
    }
}

void MqttClient::OnSubscribe(void* self) {
    auto* me = static_cast<MqttClient*>(self);
    QMetaObject::invokeMethod(
        me, [me] { emit me->Subscribed(); }, Qt::QueuedConnection);
}

bool MqttClient::Pause(std::chrono::seconds pause) {
    std::unique_lock<std::mutex> guard(lock);
    wake.wait_for(guard, pause, [this] { return stopping.load(); });
    return !stopping;
}

void MqttClient::Run() {
    const QByteArray host = options.broker.host.toUtf8();
    std::chrono::seconds pause = kFirstPause;
    while (!stopping) {
        mosquitto_property* properties = nullptr;
        if (options.sessionExpiryS > 0) {
            mosquitto_property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                         static_cast<uint32_t>(options.sessionExpiryS));
        }
        connackReason = 0;
        accepted = false;
        int rc = mosquitto_connect_bind_v5(client, host.constData(), options.broker.port,
                                           kKeepAliveS, nullptr, properties);
        const int connectErrno = errno;
        mosquitto_property_free_all(&properties);
        ConnectFailure failure =
            rc == MOSQ_ERR_TLS ? ConnectFailure::Tls : ConnectFailure::Unreachable;
        QString detail = rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(connectErrno))
                                              : QString::fromUtf8(mosquitto_strerror(rc));
        if (rc == MOSQ_ERR_SUCCESS) {
            while (!stopping && rc == MOSQ_ERR_SUCCESS) {
                rc = mosquitto_loop(client, kLoopTimeoutMs, 1);
            }
            connected = false;
            if (stopping) {
                mosquitto_disconnect_v5(client, 0, nullptr);
                for (int i = 0; i < kFlushLoops && rc == MOSQ_ERR_SUCCESS; ++i) {
                    rc = mosquitto_loop(client, kLoopTimeoutMs, 1);
                }
                break;
            }
            if (accepted) {
                failure = ConnectFailure::Lost;
                pause = kFirstPause;
            } else if (connackReason != 0) {
                failure = ConnectFailure::Refused;
            } else if (rc == MOSQ_ERR_TLS) {
                failure = ConnectFailure::Tls;
            }
            detail = connackReason != 0 ? QString::fromUtf8(mosquitto_reason_string(connackReason))
                                        : QString::fromUtf8(mosquitto_strerror(rc));
        }
        QMetaObject::invokeMethod(
            this, [this, failure, detail] { emit Failed(failure, detail); }, Qt::QueuedConnection);
        if (!Pause(pause)) {
            break;
        }
        pause = std::min(pause * 2, kLongestPause);
    }
}

} // namespace network
