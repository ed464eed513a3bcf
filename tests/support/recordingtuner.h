#pragma once

// A backend that records what it is asked and answers every tuning at once; its state is set
// by the test (connected or not), which announces the change as a real backend does.

#include "rig/tuner.h"

#include <utility>
#include <vector>

class RecordingTuner : public Tuner {
public:
    std::vector<std::int32_t> tuned;
    std::vector<std::pair<std::int32_t, std::int32_t>> bands;

    void Tune(quint64 id, std::int32_t hz) override {
        tuned.push_back(hz);
        emit TuneFinished(id, hz, TuneOutcome::Reached, Status::Ok());
    }
    void SetReplyBudget(std::chrono::milliseconds) override {}
    void SetBand(std::int32_t lowHz, std::int32_t highHz) override {
        bands.emplace_back(lowHz, highHz);
    }
    Status Connect() override { return Status::Ok(); }
    void Shutdown() override {}
    RigState State() const override { return state; }

    void SetConnected(bool connected) {
        state.connected = connected;
        emit StateChanged();
    }

private:
    RigState state;
};
