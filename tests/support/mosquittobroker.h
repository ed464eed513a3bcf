#pragma once

// A private MQTT broker for tests: Debian's mosquitto started on a free loopback port with a
// configuration of the test's own (anonymous or with a password file made by mosquitto_passwd,
// plain or TLS with a throwaway CA and server certificate made by openssl), its persistence in a
// temporary folder so that a restart keeps sessions and queued messages.

#include "network/mqttclient.h"

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <utility>
#include <vector>

class MosquittoBroker {
public:
    struct Config {
        QString user; // with a password: anonymous clients are refused
        QString password;
        bool tls = false; // the listener speaks TLS only; CaFile() is its CA
    };

    MosquittoBroker();
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    static bool Installed();

    // Writes the configuration, picks a port and starts; false with the reason in error.
    bool Start(const Config& config, QString* error);
    // Stops it (SIGTERM, persistence written) and starts it again on the same port.
    void Stop();
    bool Restart(QString* error);

    int Port() const { return port; }
    QString Url() const;
    QString CaFile() const { return folder.filePath(QStringLiteral("ca.pem")); }
    QString FilePath(const QString& name) const { return folder.filePath(name); }
    // What the broker logged.
    QString Log() const;

private:
    bool Launch(QString* error);
    bool MakeCertificates(QString* error);

    QTemporaryDir folder;
    QProcess broker;
    Config config;
    int port = 0;
};

// A client that keeps whatever arrives under tavmirok/, in order; `subscribed` once the broker
// granted the subscription.
class MqttSubscriber {
public:
    explicit MqttSubscriber(const MosquittoBroker& broker, const QString& user = {},
                            const QByteArray& password = {});
    int Count(const QString& topic) const;
    // The last message on topic as JSON; empty when none came.
    QJsonObject Last(const QString& topic) const;

    bool subscribed = false;
    std::vector<std::pair<QString, QByteArray>> received;
    std::unique_ptr<network::MqttClient> client;
};
