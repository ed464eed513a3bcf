#pragma once

// A pseudo-terminal pair in raw mode: the program under test opens slavePath with QSerialPort,
// the test reads and writes the master side directly.

#include <QByteArray>
#include <QString>

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsValid() const { return masterFd >= 0; }
    const QString& SlavePath() const { return slavePath; }

    void Write(const QByteArray& bytes);
    // Reads what has arrived at the master side within timeoutMs (returns early once
    // `expected` bytes are in, when expected > 0). Dispatches Qt events while it waits, unless
    // told not to (to read while the event loop is held up).
    QByteArray Read(int timeoutMs, int expected = 0, bool dispatch = true);
    // Closes the master side: the slave side then sees end of file.
    void CloseMaster();

private:
    int masterFd = -1;
    int slaveFd = -1; // held open so the slave stays usable between opens by the program
    QString slavePath;
};
