#include "support/pulseserver.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

namespace {

constexpr int kStartWaitMs = 15000;
constexpr int kServerPollMs = 50;
constexpr int kPactlWaitMs = 10000;
constexpr int kStopWaitMs = 3000;
constexpr int kRadioSampleRate = 48000;

} // namespace

PulseServer::PulseServer() {
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    previousRuntime = qgetenv("XDG_RUNTIME_DIR");
}

PulseServer::~PulseServer() {
    if (server.state() != QProcess::NotRunning) {
        server.terminate();
        if (!server.waitForFinished(kStopWaitMs)) {
            server.kill();
            server.waitForFinished(kStopWaitMs);
        }
    }
    if (hadRuntime) {
        qputenv("XDG_RUNTIME_DIR", previousRuntime);
    } else {
        qunsetenv("XDG_RUNTIME_DIR");
    }
}

bool PulseServer::Installed() {
    return !QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty();
}

QString PulseServer::FilePath(const QString& name) const {
    return runtime.filePath(name);
}

bool PulseServer::Start(QString* error) {
    if (!runtime.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    // This process and its children reach the private server through the runtime folder.
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.remove(QStringLiteral("PULSE_SERVER"));
    server.setProcessEnvironment(environment);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start(QStringLiteral("pulseaudio"),
                 {QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                  QStringLiteral("-n"), QStringLiteral("--log-level=error"),
                  QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1")});
    if (!server.waitForStarted()) {
        *error = QStringLiteral("pulseaudio did not start: ") + server.errorString();
        return false;
    }
    const QDeadlineTimer deadline(kStartWaitMs);
    QString last;
    while (!deadline.hasExpired()) {
        if (server.state() == QProcess::NotRunning) {
            *error = QStringLiteral("pulseaudio ended at once");
            return false;
        }
        if (Pactl({QStringLiteral("info")}, &last)) {
            return true;
        }
        QThread::msleep(kServerPollMs);
    }
    *error = QStringLiteral("pulseaudio does not answer: ") + last;
    return false;
}

QString PulseServer::StartWithRadioInput(QString* error) {
    const QString fifo = FilePath(QStringLiteral("radio.fifo"));
    return Start(error) && AddPipeSource(QStringLiteral("radio"), fifo, kRadioSampleRate, error)
               ? fifo
               : QString();
}

bool PulseServer::AddPipeSource(const QString& name, const QString& fifo, int sampleRate,
                                QString* error) {
    return Pactl({QStringLiteral("load-module"), QStringLiteral("module-pipe-source"),
                  QStringLiteral("source_name=") + name, QStringLiteral("file=") + fifo,
                  QStringLiteral("format=s16le"), QStringLiteral("rate=%1").arg(sampleRate),
                  QStringLiteral("channels=1")},
                 error);
}

bool PulseServer::Pactl(const QStringList& arguments, QString* error, QString* output) {
    QProcess pactl;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    pactl.setProcessEnvironment(environment);
    pactl.start(QStringLiteral("pactl"), arguments);
    if (!pactl.waitForFinished(kPactlWaitMs) || pactl.exitStatus() != QProcess::NormalExit ||
        pactl.exitCode() != 0) {
        *error = QString::fromUtf8(pactl.readAllStandardError() + pactl.readAllStandardOutput());
        return false;
    }
    if (output != nullptr) {
        *output = QString::fromUtf8(pactl.readAllStandardOutput());
    }
    return true;
}
