#pragma once

// Records what a rig backend reports (completions, display text, problems) so tests and
// benchmarks can wait for it and read it back, and starts rigctld on the simulated radio.

#include "rig/tuner.h"

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdint>

struct TuneResult {
    quint64 id = 0;
    std::int32_t hz = 0;
    TuneOutcome outcome = TuneOutcome::Failed;
    QString message;
};

class TuneRecorder {
public:
    explicit TuneRecorder(Tuner& tuner);
    ~TuneRecorder();
    TuneRecorder(const TuneRecorder&) = delete;
    TuneRecorder& operator=(const TuneRecorder&) = delete;

    // Waits (dispatching events) until `count` completions have come; false when they did not.
    bool WaitForResults(int count, int timeoutMs);
    // Waits until the display has had `count` texts; false when it did not.
    bool WaitForDisplay(qsizetype count, int timeoutMs);
    // The completion of request id, or nullptr.
    const TuneResult* Result(quint64 id) const;
    // Asks the tuner for hz and waits for that request's completion: its outcome, or Failed
    // with a message saying none came.
    TuneResult TuneAndWait(quint64 id, std::int32_t hz, int timeoutMs);

    Tuner& tuner;
    QList<TuneResult> results;
    QStringList display;
    QStringList problems;

private:
    QList<QMetaObject::Connection> connections;
};

// Waits until the backend reports itself connected; false when it did not within the time.
bool WaitForConnected(Tuner& tuner, int timeoutMs);

// The set-frequency frames in the simulated radio's log, as hertz, in order.
QList<std::int32_t> SetFrequencyFramesIn(const QStringList& logLines);

// A free TCP port on localhost (bound, read, released).
quint16 FreeLocalPort();

// Starts `rigctld -m model -r device -s speed -t port` and waits until it accepts a connection;
// false (with the reason in *error) when it did not.
bool StartRigctld(QProcess& process, int model, const QString& device, int speed, quint16 port,
                  const QStringList& extraArguments, QString* error);

// Starts rigctld for the radio on device (model, speed) on a free port, and appends the program's
// options that reach it (--rig network --rig-address 127.0.0.1:PORT) to *arguments.
bool StartRigctldFor(QProcess& process, int model, const QString& device, int speed,
                     QStringList* arguments, QString* error);
