#pragma once

// A raw HTTP/1.1 client for tests and benchmarks of the web face: sends bytes exactly as given
// (malformed ones too) and reads what comes back until the server closes, while the caller's
// event loop keeps running, so that a server in the same thread answers.

#include <QByteArray>
#include <QHostAddress>
#include <QList>

namespace testkit {

struct HttpReply {
    int status = 0; // 0: no status line came
    QByteArray head;
    QByteArray body;
    bool closed = false; // the server closed the connection

    // A header's value (the name in any case); empty when absent.
    QByteArray Header(const QByteArray& name) const;
};

// Sends request to port on 127.0.0.1 and reads until the server closes or timeoutMs pass.
HttpReply Exchange(quint16 port, const QByteArray& request, int timeoutMs = 5000);

// "METHOD target HTTP/1.1" with Host and "Connection: close", the extra header lines, and body.
QByteArray RequestText(const QByteArray& method, const QByteArray& target,
                       const QList<QByteArray>& headers = {}, const QByteArray& body = {});

} // namespace testkit
