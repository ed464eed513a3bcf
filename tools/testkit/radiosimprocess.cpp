#include "testkit/radiosimprocess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

RadioSimProcess::~RadioSimProcess() {
    Stop();
}

QString RadioSimProcess::Start(const QStringList& args, int timeoutMs) {
    Stop();
    QStringList arguments = args;
    arguments << QStringLiteral("--exit-on-eof");
    const qsizetype logIndex = args.indexOf(QStringLiteral("--log"));
    if (logIndex >= 0 && logIndex + 1 < args.size()) {
        logPath = args[logIndex + 1];
    } else {
        logPath = folder.filePath(QStringLiteral("radiosim.log"));
        arguments << QStringLiteral("--log") << logPath;
    }
    outputBuffer.clear();
    lines.clear();
    devicePath.clear();
    error.clear();

    process.setProgram(QStringLiteral(TAVMIROK_RADIOSIM));
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    if (!process.waitForStarted(timeoutMs)) {
        error = process.errorString();
        return {};
    }
    if (!WaitForLine(timeoutMs)) {
        error = QStringLiteral("no device path from the simulated radio (exit code %1)")
                    .arg(process.exitCode());
        return {};
    }
    devicePath = lines.takeFirst();
    return devicePath;
}

void RadioSimProcess::TakeOutput() {
    outputBuffer += process.readAllStandardOutput();
    qsizetype newline = 0;
    while ((newline = outputBuffer.indexOf('\n')) >= 0) {
        lines << QString::fromLocal8Bit(outputBuffer.left(newline));
        outputBuffer.remove(0, newline + 1);
    }
}

bool RadioSimProcess::WaitForLine(int timeoutMs) {
    TakeOutput();
    if (!lines.isEmpty()) {
        return true;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&]() {
        TakeOutput();
        if (!lines.isEmpty()) {
            loop.quit();
        }
    });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (process.state() != QProcess::NotRunning) {
        loop.exec();
    }
    TakeOutput();
    return !lines.isEmpty();
}

QString RadioSimProcess::Command(const QString& line, int timeoutMs) {
    if (process.state() != QProcess::Running) {
        return {};
    }
    process.write(line.toLocal8Bit() + '\n');
    if (!WaitForLine(timeoutMs)) {
        return {};
    }
    return lines.takeFirst();
}

bool RadioSimProcess::WaitForFramesReceived(int count, int timeoutMs) {
    static const QRegularExpression frames(QStringLiteral(" frames (\\d+) "));
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QRegularExpressionMatch match =
            frames.match(Command(QStringLiteral("status"), timeoutMs));
        if (!match.hasMatch()) {
            return false;
        }
        if (match.captured(1).toInt() >= count) {
            return true;
        }
    }
    return false;
}

void RadioSimProcess::Stop() {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.write("quit\n");
    process.closeWriteChannel();
    if (!process.waitForFinished(kStopTimeoutMs)) {
        process.terminate();
        if (!process.waitForFinished(kStopTimeoutMs)) {
            process.kill();
            process.waitForFinished(kStopTimeoutMs);
        }
    }
}

QStringList RadioSimProcess::LogLines() const {
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QStringList result;
    while (!file.atEnd()) {
        QString line = QString::fromLocal8Bit(file.readLine());
        if (line.endsWith(QLatin1Char('\n'))) {
            line.chop(1);
        }
        result << line;
    }
    return result;
}
