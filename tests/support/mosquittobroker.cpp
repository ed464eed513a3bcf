#include "support/mosquittobroker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <unistd.h>

namespace {

constexpr char kMosquitto[] = "/usr/sbin/mosquitto";
constexpr int kStartMs = 5000;
constexpr int kBrokerPollMs = 20;

bool Run(const QString& program, const QStringList& arguments, QString* error) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished() || process.exitCode() != 0) {
        *error =
            QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAll()));
        return false;
    }
    return true;
}

} // namespace

MosquittoBroker::MosquittoBroker() = default;

MosquittoBroker::~MosquittoBroker() {
    Stop();
}

bool MosquittoBroker::Installed() {
    return QFile::exists(QString::fromLatin1(kMosquitto)) &&
           !QStandardPaths::findExecutable(QStringLiteral("mosquitto_passwd")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty();
}

QString MosquittoBroker::Url() const {
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(config.tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"))
        .arg(port);
}

QString MosquittoBroker::Log() const {
    QFile log(folder.filePath(QStringLiteral("broker.log")));
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

bool MosquittoBroker::MakeCertificates(QString* error) {
    const QString dir = folder.path();
    const auto path = [&](const char* name) { return folder.filePath(QLatin1String(name)); };
    QFile extensions(path("server.ext"));
    if (!extensions.open(QIODevice::WriteOnly) ||
        extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n") < 0) {
        *error = QStringLiteral("cannot write %1").arg(extensions.fileName());
        return false;
    }
    extensions.close();
    return Run("openssl",
               {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                "/CN=Tavmirok test CA", "-keyout", path("ca.key"), "-out", path("ca.pem")},
               error) &&
           Run("openssl",
               {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
                path("server.key"), "-out", path("server.csr")},
               error) &&
           Run("openssl",
               {"x509", "-req", "-in", path("server.csr"), "-CA", path("ca.pem"), "-CAkey",
                path("ca.key"), "-CAcreateserial", "-days", "2", "-extfile", path("server.ext"),
                "-out", path("server.pem")},
               error) &&
           !dir.isEmpty();
}

bool MosquittoBroker::Start(const Config& given, QString* error) {
    config = given;
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) {
            *error = QStringLiteral("no free loopback port");
            return false;
        }
        port = probe.serverPort();
    }
    QByteArray conf = QStringLiteral("listener %1 127.0.0.1\n"
                                     "persistence true\npersistence_location %2/\n"
                                     "log_dest file %3\nlog_type all\n"
                                     // A collector slower than the stations, or away, is sent
                                     // all that was queued for it (the default keeps 1000).
                                     "max_queued_messages 0\n")
                          .arg(port)
                          .arg(folder.path(), folder.filePath(QStringLiteral("broker.log")))
                          .toUtf8();
    if (getuid() == 0) {
        conf += "user root\n"; // else it drops to the user mosquitto, who cannot write here
    }
    if (config.user.isEmpty()) {
        conf += "allow_anonymous true\n";
    } else {
        const QString passwords = folder.filePath(QStringLiteral("passwords"));
        if (!Run("mosquitto_passwd", {"-c", "-b", passwords, config.user, config.password},
                 error)) {
            return false;
        }
        conf += "allow_anonymous false\npassword_file " + passwords.toUtf8() + "\n";
    }
    if (config.tls) {
        if (!MakeCertificates(error)) {
            return false;
        }
        conf += "cafile " + CaFile().toUtf8() + "\ncertfile " +
                folder.filePath(QStringLiteral("server.pem")).toUtf8() + "\nkeyfile " +
                folder.filePath(QStringLiteral("server.key")).toUtf8() + "\n";
    }
    QFile file(folder.filePath(QStringLiteral("mosquitto.conf")));
    if (!file.open(QIODevice::WriteOnly) || file.write(conf) != conf.size()) {
        *error = QStringLiteral("cannot write %1").arg(file.fileName());
        return false;
    }
    file.close();
    return Launch(error);
}

bool MosquittoBroker::Launch(QString* error) {
    broker.setProcessChannelMode(QProcess::MergedChannels);
    broker.start(QString::fromLatin1(kMosquitto),
                 {QStringLiteral("-c"), folder.filePath(QStringLiteral("mosquitto.conf"))});
    if (!broker.waitForStarted()) {
        *error = QStringLiteral("mosquitto did not start: %1").arg(broker.errorString());
        return false;
    }
    const QDeadlineTimer deadline(kStartMs);
    while (!deadline.hasExpired()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (socket.waitForConnected(kBrokerPollMs)) {
            return true;
        }
        if (broker.state() == QProcess::NotRunning) {
            break;
        }
        QThread::msleep(kBrokerPollMs);
    }
    *error = QStringLiteral("mosquitto does not listen on %1: %2%3")
                 .arg(port)
                 .arg(QString::fromLocal8Bit(broker.readAll()), Log());
    return false;
}

void MosquittoBroker::Stop() {
    if (broker.state() == QProcess::NotRunning) {
        return;
    }
    broker.terminate();
    if (!broker.waitForFinished(kStartMs)) {
        broker.kill();
        broker.waitForFinished();
    }
}

bool MosquittoBroker::Restart(QString* error) {
    Stop();
    return Launch(error);
}

MqttSubscriber::MqttSubscriber(const MosquittoBroker& broker, const QString& user,
                               const QByteArray& password) {
    network::MqttClient::Options options;
    QString error;
    options.broker = *network::ParseBrokerUrl(broker.Url(), &error);
    options.url = broker.Url();
    options.user = user;
    options.password = password;
    options.caFile = broker.CaFile();
    client = std::make_unique<network::MqttClient>(options);
    QObject::connect(client.get(), &network::MqttClient::Connected,
                     [this] { client->Subscribe(QStringLiteral("tavmirok/#"), 1); });
    QObject::connect(client.get(), &network::MqttClient::MessageReceived,
                     [this](const QString& topic, const QByteArray& payload) {
                         received.emplace_back(topic, payload);
                     });
    QObject::connect(client.get(), &network::MqttClient::Subscribed, [this] { subscribed = true; });
    client->Start(&error);
}

int MqttSubscriber::Count(const QString& topic) const {
    return static_cast<int>(std::count_if(received.begin(), received.end(),
                                          [&](const auto& m) { return m.first == topic; }));
}

QJsonObject MqttSubscriber::Last(const QString& topic) const {
    for (auto m = received.rbegin(); m != received.rend(); ++m) {
        if (m->first == topic) {
            return QJsonDocument::fromJson(m->second).object();
        }
    }
    return {};
}
