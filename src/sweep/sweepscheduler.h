#pragma once

// Makes the radio follow a chirp sounder: parks it at 2 MHz, then at each half-second mark of the
// sweep tunes 100 kHz higher up to 30 MHz, and re-arms for the next five-minute period.

#include "core/status.h"
#include "sweep/ticktimer.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class SweepScheduler : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<double()> clock; // seconds since local midnight, with fraction
        // Tunes the radio and waits for its answer; window events (ticks, clicks) run inside.
        std::function<Status(std::int32_t)> setfreq;
        std::function<QString()> chirpText;            // current text of Text2
        std::function<void(const QString&)> setLabel3; // the status label
    };

    // Timer1 must start with interval 0 (no ticks) and outlive the scheduler; its onTick is left
    // to the caller to connect to Timer1Tick.
    SweepScheduler(Hooks hooks, TickTimer& Timer1, QObject* parent = nullptr);

    // Arms anew from Text2, from any state. A text that is not an accepted chirp time changes
    // nothing and is reported through problem().
    void StartButtonClick();
    // Takes at most one due step; at the end of a sweep, or after a clock change, re-arms.
    void Timer1Tick();
    // Ends the sweep for good, as the window closes: the timer stops and stays off, also when
    // a step that is still waiting for the radio returns afterwards.
    void Stop();

    enum class Phase { Idle, Waiting, Stepping };
    Phase CurrentPhase() const { return phase; }
    double NextStepTime() const { return nextStepTime; }
    std::int32_t StepFrequency() const { return stepFrequency; }

signals:
    // Emitted at the end of the click or tick that raised them, after the timer is running again,
    // so a slot that opens a modal box does not hold the sweep up.
    void problem(const QString& message); // a refused chirp time, a failed tuning (once per run)
    void notice(const QString& message);  // informational, e.g. re-armed after a clock change
    void progressChanged();               // phase, next step time or frequency changed

private:
    struct Message {
        bool isProblem;
        QString text;
    };

    // Arms from a chirp-time text; a refused text changes nothing and returns false.
    bool ArmSweep(const QString& chirpTime);
    void Arm(double chirpTime);
    // Re-arms from within a tick: from Text2 if it holds an accepted chirp time, else from the
    // last accepted one (the user is told once per refused text).
    void Rearm();
    void Tune(std::int32_t frequency);
    void RestartTimer();
    void Tell(bool isProblem, QString text);
    void EmitMessages();

    Hooks hooks;
    TickTimer& Timer1;

    Phase phase = Phase::Idle;
    double nextStepTime = 0;
    std::int32_t stepFrequency = 0;
    double lastAcceptedChirpTime = 0;
    // The refused Text2 content the user was last told about at a re-arm.
    std::optional<QString> reportedRefusal;
    bool tuningFailing = false; // the last tuning failed and the user has been told
    bool stopped = false;
    std::vector<Message> messages;
};
