#pragma once

// One way of reaching the radio, as the sweep sees it: a request to tune, answered by exactly one
// completion. Every backend answers later, without ever holding up the caller (the network and
// Hamlib backends may refuse at once, inside the call). Everything a backend reports upward
// crosses as a signal.

#include "core/status.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>

enum class TuneOutcome {
    Reached,    // the command reached the radio (written to the bus, or acknowledged)
    Failed,     // it could not be sent or the radio refused it; the status says why
    Superseded, // a newer request replaced it before it was sent
};

// What the status line tells about a backend: plain values, formatted elsewhere.
struct RigState {
    QString backend;        // "civ", "network" or "hamlib"
    QString endpoint;       // "COM2 (/dev/ttyS1)", "localhost:4532", "/dev/ttyUSB0"
    QString speed;          // line speed in bit/s, where there is one
    bool connected = false; // the port is open, the socket connected, the rig opened
    bool reconnecting = false;
    QString problem;       // why it is not connected ("" when it is), short
    QString problemDetail; // the whole message with its advice
    bool answering = true; // false after a command went unanswered, until the next answer
    bool refusing = false; // the radio refused the last command (NG, RPRT -9)
    QString radio;         // "address 4E", "model 3073"
};

class Tuner : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Tuner() override = default;

    // An id for a new request, never given before in this program: whoever hears a backend's
    // answers (the schedulers, the listener, one after another on the same radio) finds only
    // its own among them.
    static quint64 NewRequestId() {
        static std::atomic<quint64> last{0};
        return ++last;
    }

    // Asks the radio to tune to hz. Every request is answered by exactly one TuneFinished with
    // the same id, possibly from inside this call.
    virtual void Tune(quint64 id, std::int32_t hz) = 0;
    // The same, for a command that should reach the radio `delay` from now. A backend that
    // TunesOnTime sends it at that instant itself, off the caller's event loop; the others
    // send it at once, the caller having waited out the instant.
    virtual void TuneIn(quint64 id, std::int32_t hz, std::chrono::microseconds delay) {
        (void)delay;
        Tune(id, hz);
    }
    virtual bool TunesOnTime() const { return false; }
    // The longest a backend may wait for one reply: the smaller of its own limit and what the
    // sweep allows per step (half a step).
    virtual void SetReplyBudget(std::chrono::milliseconds budget) = 0;
    // The band the station tunes (the park frequency to the highest step), named in the advice
    // when the radio refuses a frequency. A backend that gives no such advice ignores it.
    virtual void SetBand(std::int32_t /*lowHz*/, std::int32_t /*highHz*/) {}
    // Whether the radio's frequency is read back after each set, for the display (on at first).
    // Off while sets follow each other closely, as a listening plan sends them: a read in flight
    // would hold the next set up by a whole round trip. A backend that reads nothing back
    // ignores it.
    virtual void SetReadBack(bool /*on*/) {}
    // Connects (opens the port, the socket, the rig). A failure is also reported by Problem.
    virtual Status Connect() = 0;
    // Ends every wait at once and releases the radio; nothing is sent after it.
    virtual void Shutdown() = 0;
    virtual RigState State() const = 0;

signals:
    void TuneFinished(quint64 id, std::int32_t hz, TuneOutcome outcome, Status status);
    // The frequency the radio reported, formatted for the display ("" first, then the text).
    void DisplayText(const QString& text);
    // Something the user must be told.
    void Problem(const QString& message);
    // Anything in State() changed.
    void StateChanged();
};
