#include "web/httpfront.h"

#include <QTcpSocket>
#include <algorithm>

namespace web {

struct HttpFront::Connection {
    QTcpSocket* socket = nullptr;
    QByteArray buffer;
    QTimer idle;
    bool stream = false;
    bool closing = false;
};

namespace {

QByteArray StatusLine(int status) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + ReasonPhrase(status) + "\r\n";
}

void AppendHeader(QByteArray* out, QByteArrayView name, QByteArrayView value) {
    out->append(name);
    out->append(": ");
    out->append(value);
    out->append("\r\n");
}

// What every response carries, whatever its route.
void AppendCommonHeaders(QByteArray* out) {
    AppendHeader(out, "Content-Security-Policy", kContentSecurityPolicy);
    AppendHeader(out, "X-Content-Type-Options", "nosniff");
    AppendHeader(out, "Referrer-Policy", "no-referrer");
    AppendHeader(out, "Cache-Control", "no-store");
}

// Sends what is queued, then closes; a peer that reads nothing of it is cut after grace.
void CloseSocket(QTcpSocket* socket, std::chrono::milliseconds grace) {
    QTimer::singleShot(grace, socket, [socket] { socket->abort(); });
    socket->disconnectFromHost();
}

} // namespace

HttpFront::HttpFront(Handler handler, QObject* parent)
    : QObject(parent), handler(std::move(handler)) {
    connect(&server, &QTcpServer::newConnection, this, &HttpFront::Accept);
    heartbeat.setInterval(kHeartbeat);
    connect(&heartbeat, &QTimer::timeout, this, [this] { Broadcast(": alive\n\n"); });
}

HttpFront::~HttpFront() {
    const std::vector<Connection*> all = connections;
    for (Connection* connection : all) {
        connection->socket->disconnect(this);
        delete connection->socket; // and with it the connection
    }
}

QString HttpFront::Listen(const QHostAddress& address, quint16 port) {
    if (!server.listen(address, port)) {
        return server.errorString();
    }
    heartbeat.start();
    return {};
}

int HttpFront::Streams() const {
    return static_cast<int>(std::count_if(connections.begin(), connections.end(),
                                          [](const Connection* c) { return c->stream; }));
}

void HttpFront::Accept() {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (Connections() >= kMaxConnections) {
            QByteArray out = StatusLine(503);
            AppendHeader(&out, "Content-Length", "0");
            AppendHeader(&out, "Connection", "close");
            out += "\r\n";
            socket->write(out);
            CloseSocket(socket, idleTimeout);
            continue;
        }
        auto* connection = new Connection;
        connection->socket = socket;
        // The connection lives as long as its socket, which is deleted later once disconnected:
        // a handler running when the peer goes away still finds it.
        connect(socket, &QObject::destroyed, [connection] { delete connection; });
        // Qt stops reading from the network once this much waits unread: a client that sends
        // without end grows nothing here.
        socket->setReadBufferSize(kMaxHeadBytes + kMaxBodyBytes);
        connections.push_back(connection);
        connection->idle.setSingleShot(true);
        connection->idle.start(idleTimeout);
        connect(&connection->idle, &QTimer::timeout, this, [this, connection] {
            if (!connection->stream) {
                Close(connection);
            }
        });
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { Read(connection); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, connection] { Read(connection); });
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
            connection->closing = true;
            connection->idle.stop();
            connections.erase(std::remove(connections.begin(), connections.end(), connection),
                              connections.end());
        });
    }
}

void HttpFront::Read(Connection* connection) {
    QTcpSocket* socket = connection->socket;
    if (connection->closing) {
        socket->readAll();
        return;
    }
    if (connection->stream) {
        socket->readAll(); // a stream only sends
        return;
    }
    connection->buffer += socket->readAll();
    while (!connection->closing && !connection->stream) {
        // A client that does not read its answers gets no more until it does.
        if (socket->bytesToWrite() > kResponseQueueBytes) {
            return;
        }
        const Head head = ParseHead(connection->buffer);
        if (head.state == HeadState::Incomplete) {
            return;
        }
        if (head.state == HeadState::Refused) {
            Refuse(connection, head.refusal);
            return;
        }
        const qsizetype end = head.headBytes + head.request.contentLength;
        if (connection->buffer.size() < end) {
            return;
        }
        Request request = head.request;
        request.body = connection->buffer.mid(head.headBytes, request.contentLength);
        connection->buffer.remove(0, end);
        connection->idle.start(idleTimeout);
        Response response;
        try {
            response = handler(request);
        } catch (...) {
            response = {
                500, "text/plain; charset=utf-8", "The request could not be served.\n", {}, false};
        }
        Write(connection, response, &request);
    }
}

void HttpFront::Write(Connection* connection, const Response& response, const Request* request) {
    const bool keepAlive = request && request->keepAlive && response.status < 400;
    QByteArray out = StatusLine(response.status);
    AppendHeader(&out, "Content-Type", response.contentType);
    AppendCommonHeaders(&out);
    for (const auto& [name, value] : response.headers) {
        AppendHeader(&out, name, value);
    }
    // A stream asked for with HEAD gets its headers and nothing more.
    if (response.stream && request && request->method != "HEAD") {
        AppendHeader(&out, "Connection", "keep-alive");
        out += "\r\n";
        out += response.body;
        connection->stream = true;
        connection->idle.stop();
        connection->buffer.clear();
        connection->socket->write(out);
        return;
    }
    AppendHeader(&out, "Content-Length", QByteArray::number(response.body.size()));
    AppendHeader(&out, "Connection", keepAlive ? "keep-alive" : "close");
    out += "\r\n";
    if (!request || request->method != "HEAD") {
        out += response.body;
    }
    connection->socket->write(out);
    if (!keepAlive) {
        Close(connection);
    }
}

void HttpFront::Refuse(Connection* connection, int status) {
    Write(connection, {status, "text/plain; charset=utf-8", ReasonPhrase(status) + '\n', {}, false},
          nullptr);
}

void HttpFront::Close(Connection* connection) {
    connection->closing = true;
    connection->idle.stop();
    connection->buffer.clear();
    CloseSocket(connection->socket, idleTimeout);
}

void HttpFront::Broadcast(const QByteArray& data) {
    // Copied first: dropping a stream changes the list.
    const std::vector<Connection*> all = connections;
    for (Connection* connection : all) {
        if (!connection->stream || connection->closing) {
            continue;
        }
        if (connection->socket->bytesToWrite() + data.size() > kStreamQueueBytes) {
            ++dropped;
            connection->closing = true;
            connection->socket->abort();
            continue;
        }
        connection->socket->write(data);
    }
}

} // namespace web
