#include "testkit/httpclient.h"

#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

namespace testkit {

QByteArray HttpReply::Header(const QByteArray& name) const {
    for (const QByteArray& line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower()) {
            return line.mid(colon + 1).trimmed();
        }
    }
    return {};
}

HttpReply Exchange(quint16 port, const QByteArray& request, int timeoutMs) {
    QTcpSocket socket;
    QEventLoop loop;
    QByteArray received;
    HttpReply reply;
    QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] {
        reply.closed = true;
        loop.quit();
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, [&](QAbstractSocket::SocketError) {
        if (socket.state() == QAbstractSocket::UnconnectedState) {
            reply.closed = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    loop.exec();
    received += socket.readAll();
    // The socket goes before the loop and the reply: nothing it emits on its way may reach them.
    QObject::disconnect(&socket, nullptr, nullptr, nullptr);
    const qsizetype end = received.indexOf("\r\n\r\n");
    reply.head = end < 0 ? received : received.left(end);
    reply.body = end < 0 ? QByteArray() : received.mid(end + 4);
    const QList<QByteArray> first = reply.head.left(reply.head.indexOf('\r')).split(' ');
    if (first.size() >= 2 && first[0].startsWith("HTTP/")) {
        reply.status = first[1].toInt();
    }
    return reply;
}

QByteArray RequestText(const QByteArray& method, const QByteArray& target,
                       const QList<QByteArray>& headers, const QByteArray& body) {
    QByteArray text =
        method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const QByteArray& header : headers) {
        text += header + "\r\n";
    }
    if (!body.isEmpty()) {
        text += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    return text + "\r\n" + body;
}

} // namespace testkit
