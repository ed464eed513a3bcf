#pragma once

// The radio's end of the serial line: a pseudo-terminal in raw mode whose slave side the
// controller opens like a serial port, plus an optional symlink that always names the current
// slave, so a controller can be pointed at one fixed path across reopenings.

#include <string>

class PtyDevice {
public:
    explicit PtyDevice(std::string linkPath = {});
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    // Opens a new pseudo-terminal (master non-blocking) and points the link at its slave,
    // replacing the link in one step. Returns an empty string or what went wrong.
    std::string Open();

    // Closes both sides, so a program holding the slave sees the device go away, and removes
    // the link when it still names this slave.
    void Close();

    bool IsOpen() const { return masterFd >= 0; }
    int MasterFd() const { return masterFd; }
    const std::string& SlavePath() const { return slavePath; }

private:
    std::string PointLink() const;

    std::string linkPath;
    int masterFd = -1;
    // Held open so the master never reads end of file while no program has the slave open.
    int slaveFd = -1;
    std::string slavePath;
};
