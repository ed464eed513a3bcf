#pragma once

// The part the network and Hamlib backends share: one command in flight at a time, the newest
// frequency waiting behind it (a request it replaces finishes Superseded), a read of the radio's
// frequency after each set that went through and every 2 s while idle, and the display fed only from those reads.
// A backend supplies the commands themselves and reports each one's end.

#include "rig/tuner.h"

#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <optional>

class QueuedTuner : public Tuner {
    Q_OBJECT
public:
    // No reply is waited for longer than this, whatever the step allows.
    static constexpr std::chrono::milliseconds kMaxReplyBudget{500};
    // While no set has been sent for this long, the frequency is read this often.
    static constexpr std::chrono::milliseconds kIdleReadInterval{2000};

    explicit QueuedTuner(QObject* parent = nullptr);

    void Tune(quint64 id, std::int32_t hz) final;
    void SetReplyBudget(std::chrono::milliseconds budget) override;

protected:
    // Starts a command. Each start is ended by exactly one SetDone or ReadDone, possibly from
    // inside the call.
    virtual void StartSet(std::int32_t hz) = 0;
    virtual void StartRead() = 0;

    // The set in flight ended: Reached when status is ok, Failed otherwise.
    void SetDone(const Status& status);
    // The read in flight ended, with the frequency in hertz when the radio reported one.
    void ReadDone(std::optional<double> hz);
    // Stops for good: the request in flight and the one waiting finish Failed with status, and
    // nothing is started after it.
    void StopQueue(const Status& status);
    // A fresh connection: the next request that has to be dropped is told again.
    void ResetSlowNotice() { toldSlow = false; }

    // "7.074 MHz", for messages.
    static QString MegahertzText(std::int32_t hz);

    std::chrono::milliseconds ReplyBudget() const { return replyBudget; }
    bool Stopped() const { return stopped; }

private:
    enum class Command { None, Set, Read };
    struct Request {
        quint64 id = 0;
        std::int32_t hz = 0;
    };

    void Send(const Request& request);
    void Read();
    void StartNext();
    void IdleRead();

    Command inFlight = Command::None;
    Request current;
    std::optional<Request> waiting;
    QTimer idleTimer;
    std::chrono::milliseconds replyBudget = kMaxReplyBudget;
    bool stopped = false;
    bool toldSlow = false;
};
