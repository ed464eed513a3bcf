#pragma once

// A private PulseAudio server for tests: started in a 0700 runtime folder of its own, which this
// process (and the children it starts) then use as XDG_RUNTIME_DIR, so the user's own sound
// server is never touched. Pipe sources make inputs fed from FIFOs the test writes.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class PulseServer {
public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Whether the pulseaudio and pactl programs are installed.
    static bool Installed();

    // Starts the server and waits until it answers; false with the reason in error otherwise.
    bool Start(QString* error);
    // Starts the server with the radio's input: "radio", 48000 Hz, fed from the FIFO whose path
    // it returns; an empty string with the reason in error otherwise.
    QString StartWithRadioInput(QString* error);
    // Adds a mono 16-bit input named name, fed from a FIFO it creates at fifo.
    bool AddPipeSource(const QString& name, const QString& fifo, int sampleRate, QString* error);
    // Runs pactl with these arguments against the server; false with its output in error.
    bool Pactl(const QStringList& arguments, QString* error, QString* output = nullptr);

    // A folder for the test's files, removed with the server.
    QString FilePath(const QString& name) const;

private:
    QTemporaryDir runtime;
    QProcess server;
    bool hadRuntime = false;
    QByteArray previousRuntime;
};
