#pragma once

// Collects the scaled sweeps of many stations from a broker into one folder: subscribes to
// PREFIX/v1/+/scaled/# with a persistent session (a client id made once and kept in the folder,
// no clean start, a session the broker keeps for kSessionExpiry), so that what arrives while the
// collector is away waits for it; keeps each sweep once and appends its rows to
// network-YYYY-MM-DD.csv, and redraws that day's map now and then.

#include "network/collectorrows.h"
#include "network/mqttclient.h"
#include "network/networkmap.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <set>

namespace network {

struct CollectorSetup {
    QString url;
    QString user;
    QByteArray password;
    QString caFile;
    QString prefix = QString::fromLatin1(kDefaultPrefix);
    QString folder;
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTimeUtc(); };
};

class Collector : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::hours kSessionExpiry{48};
    // Sweeps are de-duplicated over this long after their start; older doubles are not expected.
    static constexpr std::chrono::hours kSeenHorizon{26};
    static constexpr std::chrono::seconds kMapPeriod{60};
    static constexpr const char* kClientIdFile = "collector-id";

    explicit Collector(CollectorSetup setup, QObject* parent = nullptr);
    ~Collector() override;

    // Reads the sweeps already kept and connects; false with the reason told by Problem.
    bool Start();
    // Ends the connection (the session stays on the broker) and draws the map.
    void Stop();

    // Keeps a received message; public so that a benchmark can feed it without a broker.
    void Take(const QString& topic, const QByteArray& payload);

    // The picture of the newest day that got sweeps, which the map shows; empty before the first.
    const NetworkPicture& LatestPicture() const;

    int Kept() const { return kept; }
    int Doubles() const { return doubles; }

signals:
    void Problem(const QString& message);
    // Also when the subscription is granted: what is published from then on is collected.
    void Notice(const QString& message);
    // The rows of a sweep were written.
    void SweepKept(const network::ScaledRecord& record);

private:
    void DrawMap();

    CollectorSetup setup;
    std::unique_ptr<MqttClient> client;
    SeenSweeps seen;
    QTimer mapTimer;
    QDate lastDay;                            // the newest day that got rows
    std::map<QDate, NetworkPicture> pictures; // of the days that may still get sweeps
    std::set<QDate> changed;                  // days whose map is to be drawn again
    bool toldOld = false;                     // a sweep too old for its day's map was told
    std::optional<ConnectFailure> told;
    bool sessionKept = false;
    int kept = 0;
    int doubles = 0;
    int malformed = 0;
};

} // namespace network
