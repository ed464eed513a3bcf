#pragma once

// A small HTTP/1.1 server on QTcpServer: reads each request head within a fixed bound, hands the
// request to one handler and writes its response, and keeps event streams (text/event-stream)
// open for Broadcast. It holds every limit a server on a radio amateur's network needs and that
// Qt HttpServer 6.4 leaves open: heads over 8 KiB answered 431 and closed, bodies only on POST
// and short, at most kMaxConnections at once, a connection that sends no whole request within
// kIdleTimeout closed, and a stream whose reader stalls dropped once its queue passes
// kStreamQueueBytes. Nothing it does waits on a client.

#include "web/httprequest.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <utility>
#include <vector>

class QTcpSocket;

namespace web {

struct Response {
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers; // more headers
    // The connection stays open as an event stream; body is its first data.
    bool stream = false;
};

// Every response says this: the page may load and connect to its own origin only.
constexpr char kContentSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

class HttpFront : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 32;
    static constexpr std::chrono::milliseconds kIdleTimeout{30000};
    static constexpr qint64 kStreamQueueBytes = 512 * 1024;
    // A comment line on every stream this often, so that a dead peer is found and proxies keep it.
    static constexpr std::chrono::milliseconds kHeartbeat{15000};
    // The largest response queued to a client before it has read the last.
    static constexpr qint64 kResponseQueueBytes = 4 * 1024 * 1024;

    using Handler = std::function<Response(const Request&)>;

    explicit HttpFront(Handler handler, QObject* parent = nullptr);
    ~HttpFront() override;

    // Listens on address:port (0: any free port); the reason it cannot, or "".
    QString Listen(const QHostAddress& address, quint16 port);
    quint16 Port() const { return server.serverPort(); }
    QHostAddress Address() const { return server.serverAddress(); }

    // Sends data to every open stream; a stream whose reader lags past kStreamQueueBytes is
    // dropped instead.
    void Broadcast(const QByteArray& data);
    int Connections() const { return static_cast<int>(connections.size()); }
    int Streams() const;
    // Streams dropped for a stalled reader, since the start.
    qint64 DroppedStreams() const { return dropped; }

    // For tests: shorter limits than a real network needs.
    void SetIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout = timeout; }

private:
    struct Connection;

    void Accept();
    void Read(Connection* connection);
    void Write(Connection* connection, const Response& response, const Request* request);
    void Refuse(Connection* connection, int status);
    void Close(Connection* connection);

    Handler handler;
    QTcpServer server;
    QTimer heartbeat;
    std::vector<Connection*> connections;
    std::chrono::milliseconds idleTimeout = kIdleTimeout;
    qint64 dropped = 0;
};

} // namespace web
