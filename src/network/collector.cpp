#include "network/collector.h"

#include "network/networkmap.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QUuid>

namespace network {

namespace {

// The collector's client id: made once, kept in its folder, so that the broker finds its session.
QString ClientId(const QString& folder, QString* problem) {
    QFile file(QDir(folder).filePath(QLatin1String(Collector::kClientIdFile)));
    if (file.open(QIODevice::ReadOnly)) {
        const QString id = QString::fromUtf8(file.readAll().trimmed());
        if (!id.isEmpty()) {
            return id;
        }
    }
    const QString id =
        QStringLiteral("tavmirok-collector-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
    QSaveFile save(file.fileName());
    if (!save.open(QIODevice::WriteOnly) || save.write(id.toUtf8() + '\n') < 0 || !save.commit()) {
        *problem = QStringLiteral("the client id cannot be kept in %1 (%2)")
                       .arg(file.fileName(), save.errorString());
    }
    return id;
}

} // namespace

Collector::Collector(CollectorSetup given, QObject* parent)
    : QObject(parent), setup(std::move(given)) {
    mapTimer.setInterval(kMapPeriod);
    connect(&mapTimer, &QTimer::timeout, this, &Collector::DrawMap);
}

Collector::~Collector() {
    Stop();
}

bool Collector::Start() {
    QString problem;
    const std::optional<BrokerAddress> broker = ParseBrokerUrl(setup.url, &problem);
    if (problem.isEmpty()) {
        problem = PrefixRefusal(setup.prefix);
    }
    if (problem.isEmpty() && (setup.folder.isEmpty() || !QDir().mkpath(setup.folder))) {
        problem = QStringLiteral("the folder \"%1\" cannot be made: give one with --folder.")
                      .arg(setup.folder);
    }
    QString clientId;
    if (problem.isEmpty()) {
        clientId = ClientId(setup.folder, &problem);
    }
    if (problem.isEmpty()) {
        // The sweeps of the days that may still send doubles.
        const QDate today = setup.now().toUTC().date();
        const auto horizonDays = std::chrono::ceil<std::chrono::days>(kSeenHorizon).count();
        for (qint64 back = horizonDays; back >= 0; --back) {
            QFile day(QDir(setup.folder).filePath(NetworkDayFileName(today.addDays(-back))));
            if (day.open(QIODevice::ReadOnly)) {
                const std::vector<ScaledRecord> rows = ParseNetworkDayFile(day.readAll());
                for (const ScaledRecord& record : rows) {
                    seen.Add(record);
                }
                lastDay = today.addDays(-back);
                pictures[lastDay] = PictureOf(rows, lastDay);
            }
        }
        MqttClient::Options options;
        options.broker = *broker;
        options.url = setup.url;
        options.clientId = clientId;
        options.cleanStart = false;
        options.sessionExpiryS = static_cast<int>(
            std::chrono::duration_cast<std::chrono::seconds>(kSessionExpiry).count());
        options.user = setup.user;
        options.password = setup.password;
        options.caFile = setup.caFile;
        client = std::make_unique<MqttClient>(options, this);
        connect(client.get(), &MqttClient::Connected, this, [this](bool sessionPresent) {
            client->Subscribe(ScaledFilter(setup.prefix), kQos);
            sessionKept = sessionPresent;
            told.reset();
        });
        connect(client.get(), &MqttClient::Subscribed, this, [this] {
            emit Notice(QStringLiteral("collecting from %1 (%2)")
                            .arg(setup.url, sessionKept
                                                ? QStringLiteral("the broker kept the session")
                                                : QStringLiteral("a new session")));
        });
        connect(client.get(), &MqttClient::Failed, this,
                [this](ConnectFailure failure, const QString& detail) {
                    if (told != failure) {
                        told = failure;
                        emit Problem(ConnectFailureText(failure, setup.url, detail));
                    }
                });
        connect(client.get(), &MqttClient::MessageReceived, this, &Collector::Take);
        if (!client->Start(&problem)) {
            client.reset();
        }
    }
    if (!problem.isEmpty()) {
        emit Problem(QStringLiteral("not collecting: %1").arg(problem));
        return false;
    }
    mapTimer.start();
    return true;
}

void Collector::Stop() {
    if (!client) {
        return;
    }
    client->Stop();
    client.reset();
    mapTimer.stop();
    DrawMap();
}

void Collector::Take(const QString& topic, const QByteArray& payload) {
    QString error;
    const std::optional<ScaledRecord> record = ParseScaledPayload(payload, &error);
    if (!record) {
        if (malformed++ == 0) {
            emit Problem(QStringLiteral("a message on %1 is not a scaled sweep (%2); such "
                                        "messages are dropped, and told only this once.")
                             .arg(topic, error));
        }
        return;
    }
    const QDateTime now = setup.now();
    if (!seen.Add(*record)) {
        ++doubles;
        return;
    }
    if (const ::Status written = AppendNetworkDay(setup.folder, now, *record); !written.IsOk()) {
        emit Problem(written.Message());
        return;
    }
    ++kept;
    const QDate day = record->sweepStartUtc.toUTC().date();
    const QDate oldest =
        now.date().addDays(-std::chrono::ceil<std::chrono::days>(kSeenHorizon).count());
    pictures.erase(pictures.begin(), pictures.lower_bound(oldest));
    // A station back after days away sends what waited in its outbox: the rows go to their own
    // day's file, but such a day's map is not drawn again, and the map shown stays on today.
    if (day < oldest) {
        if (!toldOld) {
            toldOld = true;
            emit Notice(QStringLiteral("%1 sent a sweep of %2, a day older than the maps the "
                                       "collector still draws (today's and the %3 before): its "
                                       "rows are kept in %4, that day's map is left as it was. "
                                       "Told only this once.")
                            .arg(record->station, record->sweepStartUtc.toString(Qt::ISODate))
                            .arg(oldest.daysTo(now.date()))
                            .arg(NetworkDayFileName(day)));
        }
    } else {
        NetworkPicture& picture = pictures[day];
        picture.day = day;
        AddSweep(picture, *record);
        changed.insert(day);
        if (!lastDay.isValid() || day > lastDay) {
            lastDay = day;
        }
    }
    seen.Forget(
        now.addSecs(-std::chrono::duration_cast<std::chrono::seconds>(kSeenHorizon).count()));
    emit SweepKept(*record);
}

const NetworkPicture& Collector::LatestPicture() const {
    static const NetworkPicture kNone;
    const auto picture = pictures.find(lastDay);
    return picture == pictures.end() ? kNone : picture->second;
}

void Collector::DrawMap() {
    // Today's map shows the last hour and is drawn every time; an older day only when it got rows.
    changed.insert(lastDay);
    for (const QDate& day : changed) {
        const auto picture = pictures.find(day);
        if (picture == pictures.end()) {
            continue;
        }
        const QString path = QDir(setup.folder).filePath(NetworkMapName(day));
        if (!DrawNetworkMap(picture->second).save(path)) {
            emit Problem(QStringLiteral("the map %1 cannot be written: check the folder's space "
                                        "and permissions.")
                             .arg(path));
        }
    }
    changed.clear();
}

} // namespace network
