#include "support/fakerigctld.h"

#include <QTest>

bool FakeRigctld::Listen(quint16 port) {
    connect(&server, &QTcpServer::newConnection, this, &FakeRigctld::Accept);
    return server.listen(QHostAddress::LocalHost, port);
}

QString FakeRigctld::Address() const {
    return QStringLiteral("localhost:%1").arg(server.serverPort());
}

QTcpSocket* FakeRigctld::Current() const {
    return clients.isEmpty() ? nullptr : clients.last().data();
}

void FakeRigctld::Send(const QByteArray& bytes) {
    if (QTcpSocket* client = Current()) {
        client->write(bytes);
    }
}

bool FakeRigctld::WaitForLines(int count) {
    return QTest::qWaitFor([&]() { return lines.size() >= count; }, kWaitMs);
}

void FakeRigctld::Accept() {
    while (QTcpSocket* client = server.nextPendingConnection()) {
        clients << client;
        connect(client, &QTcpSocket::readyRead, this, [this, client]() { Take(client); });
    }
}

void FakeRigctld::Take(QTcpSocket* client) {
    while (client->canReadLine()) {
        const QByteArray line = client->readLine().trimmed();
        lines << line;
        if (!lateReply.isEmpty() && clients.first()) {
            clients.first()->write(lateReply);
            clients.first()->flush();
            lateReply.clear();
        }
        if (line.startsWith("F ")) {
            frequency = line.mid(2);
            if (closeOnSet) {
                client->close();
                return;
            }
            client->write(setReply);
        } else if (line == "f") {
            client->write(frequency + '\n');
        }
    }
}
