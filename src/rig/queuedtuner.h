#pragma once

// The part the network and Hamlib backends share: the backend's state and the queue. One command
// in flight at a time, the newest frequency waiting behind it (a request it replaces finishes
// Superseded), a request that comes while the backend is still connecting held until it has
// connected, a read of the radio's frequency after each set that went through (unless read-back
// is off) and every 2 s while idle, and the display fed from those reads, or with read-back off
// from each set the radio acknowledged. A backend supplies the commands
// themselves, reports each one's end, and reports what it saw of the rig through a few verbs;
// the state, the "tell once" bookkeeping and the change signals live here.

#include "core/frequencytext.h"
#include "rig/tuner.h"

#include <QTimer>
#include <array>
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
    void SetBand(std::int32_t lowHz, std::int32_t highHz) final;
    void SetReadBack(bool on) final { readBack = on; }
    RigState State() const final { return state; }

protected:
    // Kinds of trouble a backend tells the user about once per run, until the trouble ends.
    enum class Trouble {
        Always,      // not a run: told every time
        Unreachable, // the rig cannot be reached (connection refused, rig not opened)
        Silent,      // commands go unanswered
        Garbled,     // lines that are not replies
        Refusing,    // the radio refused a frequency
        Failing,     // other failed commands
        Vfo,         // the daemon waits for a VFO name
    };

    // Starts a command. Each start is ended by exactly one SetDone or ReadDone, possibly from
    // inside the call. Only called while the backend is connected.
    virtual void StartSet(std::int32_t hz) = 0;
    virtual void StartRead() = 0;
    // Why a request cannot be sent now that the backend is not connected, and what happens next.
    virtual QString NotConnectedMessage() const = 0;

    // The set in flight ended: Reached when status is ok, Failed otherwise.
    void SetDone(const Status& status);
    // The read in flight ended, with the frequency in hertz when the radio reported one.
    void ReadDone(std::optional<double> hz);
    // Stops for good: the request in flight and the one waiting finish Failed with status, the
    // backend counts as disconnected, and nothing is started after it.
    void StopQueue(const Status& status);

    // Names what the status line shows for this backend.
    void Describe(const QString& backend, const QString& endpoint, const QString& radio);
    // A fresh connection is being made: requests are held until Online or Offline, and the next
    // request that has to be dropped is told again.
    void Connecting();
    // The port is open, the socket connected, the rig opened: a request held meanwhile is sent.
    void Online();
    // The rig cannot be used: reason short, message whole with its advice; told once per run of
    // `trouble`. reconnecting: the backend tries again by itself. A request held while
    // connecting finishes Failed with the message.
    void Offline(const QString& reason, const QString& message, Trouble trouble,
                 bool reconnecting = true);
    // A reply arrived: the radio answers again, and the runs of silence and garbled lines end.
    void ReplyArrived();
    // A reply to a set arrived: also whether the radio refused it. A refusal is told once per
    // run of refusals, with message.
    void SetAnswered(bool refused, const QString& message = QString());
    // No reply came in time.
    void ReplyMissing();
    // Emits Problem with message unless `trouble` was told since its run last ended.
    void TellOnce(Trouble trouble, const QString& message);
    void TroubleEnded(Trouble trouble);

    // "check that it can tune 2 to 30 MHz", with the band in force.
    QString TuneAdvice() const;

    std::chrono::milliseconds ReplyBudget() const { return replyBudget; }
    bool Stopped() const { return stopped; }
    bool IsConnected() const { return state.connected; }
    // The short reason the backend is not connected, "" while connecting or connected.
    const QString& ProblemReason() const { return state.problem; }

private:
    enum class Command { None, Set, Read };
    struct Request {
        quint64 id = 0;
        std::int32_t hz = 0;
    };
    static constexpr std::size_t kTroubleKinds = 7;

    bool StillConnecting() const;
    void Send(const Request& request);
    void Read();
    void StartNext();
    void IdleRead();
    void ShowFrequency(double hz);
    void FailWaiting(const Status& status);

    RigState state;
    Command inFlight = Command::None;
    Request current;
    std::optional<Request> waiting;
    QTimer idleTimer;
    std::chrono::milliseconds replyBudget = kMaxReplyBudget;
    std::int32_t bandLowHz = core::kDefaultBandLowHz;
    std::int32_t bandHighHz = core::kDefaultBandHighHz;
    std::array<bool, kTroubleKinds> told{};
    bool stopped = false;
    bool toldSlow = false;
    bool readBack = true;
};
