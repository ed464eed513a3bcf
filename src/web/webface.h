#pragma once

// The station in a browser: serves the page, the JSON API and the live stream of the station's
// events, from what the station's feed offers (snapshots, events, commands) and the archive
// folder's files. Read-only unless the owner set an access token; the token is compared in
// constant time, taken only from the Authorization header and never logged.

#include "station/stationfeed.h"
#include "web/httpfront.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace web {

// What the web face may ask of the station: StationFeed's commands in the program, a double in
// tests.
struct Commands {
    std::function<void()> start;
    std::function<void()> stop;
    std::function<void(const QStringList&)> follow;
    std::function<void(const std::vector<double>&)> listen;
};

// What a collector shows instead of a station: its map of the network (the JSON of GET
// /api/network without the version) and the land under it (the whole answer of
// /api/network/land).
struct NetworkView {
    std::function<QJsonObject()> map;
    std::function<QByteArray()> land;
};

class WebFace : public QObject {
    Q_OBJECT
public:
    // The largest archive file served (pictures and tables are far smaller).
    static constexpr qint64 kLargestFile = 32 * 1024 * 1024;
    // State events are sent at most this often however often the station's state changes.
    static constexpr std::chrono::milliseconds kStateEventGap{250};
    // Network events likewise: a collector may take hundreds of sweeps a second.
    static constexpr std::chrono::milliseconds kNetworkEventGap{1000};

    WebFace(std::function<feed::Snapshot()> snap, Commands commands, QObject* parent = nullptr);

    // The access token for commands; empty: commands refused (403).
    void SetToken(const QByteArray& token) { this->token = token; }
    // Listens; the reason it cannot, or "".
    QString Listen(const QHostAddress& address, quint16 port);
    // Serves the collector's map; without it, /api/network says that nothing is collected.
    void ShowNetwork(NetworkView view) { network = std::move(view); }
    HttpFront& Front() { return front; }
    // The page's address, such as "http://127.0.0.1:8073/" or "http://[::1]:8073/".
    QString Url() const;

    // The feed's events, each sent on to the open streams.
    void OnSweepStarted(const feed::SweepInfo& sweep);
    void OnSweepEnded(const QString& sounder, bool complete);
    void OnStepTuned(const QString& sounder, std::int32_t hz, double atEpoch, bool reached);
    void OnColumnAdded(const feed::Column& column);
    void OnScaled(const feed::Scaled& scaled);
    void OnArchived(const QString& png);
    void OnDayRecorded(const QString& csv, const QString& png);
    void OnHeardChanged(const std::vector<feed::HeardOn>& heard);
    void OnProblem(const QString& message);
    void OnNotice(const QString& message);
    void OnStateChanged();
    // The collector kept a sweep: a "network" event tells the page to fetch the map again.
    void OnNetworkChanged();

    Response Handle(const Request& request);

signals:
    // A command was accepted and passed on: "start", "stop", "follow A, B", "listen 7000 kHz".
    void CommandAccepted(const QString& what);

private:
    Response Command(const Request& request, Route route);
    Response Archive(const QString& name) const;
    QByteArray StatusBody();
    void SendState();

    std::function<feed::Snapshot()> snap;
    Commands commands;
    QByteArray token;
    HttpFront front;
    QTimer stateGap;
    bool statePending = false;
    NetworkView network;
    QTimer networkGap;
    bool networkPending = false;
};

// Wires a web face to the station's feed: its events, its snapshots and its commands.
void Observe(WebFace* face, StationFeed* feed);
// The face for a feed, its commands and snapshots the feed's.
std::unique_ptr<WebFace> FaceOf(StationFeed* feed, QObject* parent = nullptr);

// The token in a --http-token-file: the file's content with surrounding white space stripped.
// The reason it cannot be used ("" when it can) in *refusal.
QByteArray ReadTokenFile(const QString& path, QString* refusal);

} // namespace web
