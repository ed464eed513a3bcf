#pragma once

// A rigctld stand-in on localhost: records every line, answers "F" with setReply (nothing while
// it is empty) and "f" with the last frequency set. Lets tests see what the network backend sent.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class FakeRigctld : public QObject {
public:
    static constexpr int kWaitMs = 5000;

    QTcpServer server;
    QList<QPointer<QTcpSocket>> clients;
    QList<QByteArray> lines;
    QByteArray setReply = "RPRT 0\n";
    QByteArray frequency = "14074000";
    QByteArray lateReply; // sent once on the first connection before the next line's answer
    bool closeOnSet = false;

    bool Listen(quint16 port = 0);
    QString Address() const;
    QTcpSocket* Current() const;
    void Send(const QByteArray& bytes);
    bool WaitForLines(int count);

private:
    void Accept();
    void Take(QTcpSocket* client);
};
