#pragma once

// Runs tavmirok-radiosim as a child process for tests and benchmarks: starts it, learns the
// pseudo-terminal it opened, and drives it through its line-based control commands.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class RadioSimProcess {
public:
    static constexpr int kStartTimeoutMs = 10000;
    static constexpr int kCommandTimeoutMs = 10000;
    static constexpr int kStopTimeoutMs = 5000;

    RadioSimProcess() = default;
    ~RadioSimProcess();
    RadioSimProcess(const RadioSimProcess&) = delete;
    RadioSimProcess& operator=(const RadioSimProcess&) = delete;

    // Starts the simulated radio with args and returns its device path (its first output
    // line), or an empty string when it did not start (see ErrorString()). Unless args name a
    // log, the radio logs to a file in a private temporary folder (LogPath()). The radio quits
    // when this process's end of its standard input closes, so none outlives a crashed test.
    QString Start(const QStringList& args = {}, int timeoutMs = kStartTimeoutMs);

    // Sends one control command and returns its answer line ("ok ..." or "error ..."), or an
    // empty string when none came in time. Qt events are dispatched while waiting.
    QString Command(const QString& line, int timeoutMs = kCommandTimeoutMs);

    // Asks the radio for its status until it has received at least `count` frames; false when
    // that does not happen within the timeout.
    bool WaitForFramesReceived(int count, int timeoutMs = kCommandTimeoutMs);

    // Ends the radio: "quit", then a terminate and a kill if it does not go.
    void Stop();

    const QString& DevicePath() const { return devicePath; }
    const QString& LogPath() const { return logPath; }
    QStringList LogLines() const; // the log's lines, without their newlines
    QString ErrorString() const { return error; }
    QProcess& Process() { return process; }

private:
    bool WaitForLine(int timeoutMs);
    void TakeOutput();

    QProcess process;
    QTemporaryDir folder;
    QString devicePath;
    QString logPath;
    QString error;
    QByteArray outputBuffer;
    QStringList lines; // complete output lines not yet taken
};
