#pragma once

// The station: the one place that composes the radio link (or another rig backend), the step
// timer and the sweep scheduler from the settings, and wires them together. The main window and
// the windowless run both drive a Station; everything it has to say crosses as a signal.

#include "link/civtuner.h"
#include "link/radiolink.h"
#include "settings/settingsstore.h"
#include "sweep/sweepscheduler.h"
#include "sweep/ticktimer.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class Station : public QObject {
    Q_OBJECT
public:
    // clock: seconds since midnight with fraction; the production clock when empty.
    explicit Station(std::function<double()> clock = {}, QObject* parent = nullptr);
    ~Station() override;

    // Takes the stored values (port, speed, chirp time, radio address) without opening anything.
    void Apply(const StoredSettings& settings);
    // The values in force, as they would be stored.
    StoredSettings Current() const;

    // Opens the port (connects the rig); a failure is returned for the caller to tell.
    Status Connect();
    // The chirp time as typed; read at each arming.
    void SetChirpText(const QString& text) { chirpText = text; }
    const QString& ChirpText() const { return chirpText; }
    // As the Start button: arms anew from the chirp text.
    void Start();
    // Ends the sweep for good, ends any wait for the radio and releases the port.
    void Shutdown();

    RadioLink& Link() { return link; }
    const RadioLink& Link() const { return link; }
    Tuner& Rig() { return *tuner; }
    const Tuner& Rig() const { return *tuner; }
    SweepScheduler& Scheduler() { return *scheduler; }
    const SweepScheduler& Scheduler() const { return *scheduler; }
    const AlignedTickTimer& StepTimer() const { return *timer; }
    double Now() const { return clock(); }

signals:
    // Something the user must be told (a window shows it in a box; a windowless run logs it).
    void Problem(const QString& message);
    // A passing remark for the status line, such as a re-arming after a clock change.
    void Notice(const QString& message);
    // The frequency display: "" and then the text, for each frequency the bus carried.
    void DisplayText(const QString& text);
    // Anything the status line shows changed: port, radio, phase, step.
    void StateChanged();
    void PhaseEntered(SweepScheduler::Phase phase);
    void StepPlanned(std::int32_t hz, double mark);
    void StepTuned(std::int32_t hz, double mark, bool reached);

private:
    std::function<double()> clock;
    QString chirpText;
    RadioLink link;
    CivTuner civ;
    Tuner* tuner = nullptr;
    std::unique_ptr<AlignedTickTimer> timer;
    std::unique_ptr<SweepScheduler> scheduler;
    bool shutDown = false;
};
