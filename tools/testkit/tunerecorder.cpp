#include "testkit/tunerecorder.h"

#include "testkit/headlessrun.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

constexpr int kConnectTryMs = 200;
constexpr int kRigctldStartMs = 10000;

} // namespace

TuneRecorder::TuneRecorder(Tuner& tunerToWatch) : tuner(tunerToWatch) {
    connections << QObject::connect(
        &tuner, &Tuner::TuneFinished,
        [this](quint64 id, std::int32_t hz, TuneOutcome outcome, Status status) {
            results.append({id, hz, outcome, status.Message()});
        });
    connections << QObject::connect(&tuner, &Tuner::DisplayText,
                                    [this](const QString& text) { display << text; });
    connections << QObject::connect(&tuner, &Tuner::Problem,
                                    [this](const QString& message) { problems << message; });
}

TuneRecorder::~TuneRecorder() {
    for (const QMetaObject::Connection& connection : connections) {
        QObject::disconnect(connection);
    }
}

bool TuneRecorder::WaitForResults(int count, int timeoutMs) {
    return QTest::qWaitFor([&]() { return results.size() >= count; }, timeoutMs);
}

bool TuneRecorder::WaitForDisplay(qsizetype count, int timeoutMs) {
    return QTest::qWaitFor([&]() { return display.size() >= count; }, timeoutMs);
}

const TuneResult* TuneRecorder::Result(quint64 id) const {
    for (const TuneResult& result : results) {
        if (result.id == id) {
            return &result;
        }
    }
    return nullptr;
}

TuneResult TuneRecorder::TuneAndWait(quint64 id, std::int32_t hz, int timeoutMs) {
    tuner.Tune(id, hz);
    if (!QTest::qWaitFor([&]() { return Result(id) != nullptr; }, timeoutMs)) {
        return TuneResult{id, hz, TuneOutcome::Failed, QStringLiteral("no completion came")};
    }
    return *Result(id);
}

bool WaitForConnected(Tuner& tuner, int timeoutMs) {
    return QTest::qWaitFor([&]() { return tuner.State().connected; }, timeoutMs);
}

QList<std::int32_t> SetFrequencyFramesIn(const QStringList& logLines) {
    QList<std::int32_t> frequencies;
    for (const WireFrame& frame : SetFrequencyFrames(logLines)) {
        frequencies << frame.hz;
    }
    return frequencies;
}

quint16 FreeLocalPort() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        return 0;
    }
    return server.serverPort();
}

bool StartRigctld(QProcess& process, int model, const QString& device, int speed, quint16 port,
                  const QStringList& extraArguments, QString* error) {
    process.setProgram(QStringLiteral("rigctld"));
    process.setArguments(
        QStringList{QStringLiteral("-m"), QString::number(model), QStringLiteral("-r"), device,
                    QStringLiteral("-s"), QString::number(speed), QStringLiteral("-T"),
                    QStringLiteral("127.0.0.1"), QStringLiteral("-t"), QString::number(port)} +
        extraArguments);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start();
    if (!process.waitForStarted()) {
        *error = QStringLiteral("rigctld did not start: %1").arg(process.errorString());
        return false;
    }
    const QDeadlineTimer deadline(kRigctldStartMs);
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(kConnectTryMs)) {
            return true;
        }
        QTest::qWait(kConnectTryMs);
    }
    *error = QStringLiteral("rigctld did not accept connections on port %1").arg(port);
    return false;
}

bool StartRigctldFor(QProcess& process, int model, const QString& device, int speed,
                     QStringList* arguments, QString* error) {
    const quint16 port = FreeLocalPort();
    if (!StartRigctld(process, model, device, speed, port, {}, error)) {
        return false;
    }
    *arguments << QStringLiteral("--rig") << QStringLiteral("network")
               << QStringLiteral("--rig-address") << QStringLiteral("127.0.0.1:%1").arg(port);
    return true;
}
