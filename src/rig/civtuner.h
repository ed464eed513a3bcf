#pragma once

// The built-in CI-V link as a rig backend: each request is sent with Setfreq and answered once the
// radio has replied (or its reply timeout has passed), from the event loop, never inside Tune.
// Requests go out in the order given, one at a time; one for later is written at its instant by
// the port's writer thread.

#include "link/radiolink.h"
#include "rig/tuner.h"

class CivTuner : public Tuner {
    Q_OBJECT
public:
    explicit CivTuner(RadioLink& link, QObject* parent = nullptr);

    void Tune(quint64 id, std::int32_t hz) override;
    void TuneIn(quint64 id, std::int32_t hz, std::chrono::microseconds delay) override;
    bool TunesOnTime() const override { return true; }
    void SetReplyBudget(std::chrono::milliseconds budget) override;
    void SetBand(std::int32_t lowHz, std::int32_t highHz) override;
    Status Connect() override;
    void Shutdown() override;
    RigState State() const override;

private:
    void Send(quint64 id, std::int32_t hz, RadioLink::WriteTime at);

    RadioLink& link;
};
