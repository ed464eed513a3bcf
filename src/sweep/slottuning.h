#pragma once

// One step of a sounder's sweep as a scheduler tunes it: told when it is planned, and again with
// what became of it. The single sounder and the listening plan tell their steps alike, so the
// ionogram takes either. The outcome finds its planned step by the id, never by comparing
// instants.

#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace sweep {

struct SlotTuning {
    quint64 id = 0;      // the tune request's id, unique in the program (Tuner::NewRequestId)
    QString sounder;     // as the sweep events name it
    std::int32_t hz = 0; // what the radio is told
    // Seconds since UTC midnight (the scheduler's clock): when the sweep passes hz, and when the
    // radio is told to tune (the single sounder's step mark, half a step before its crossing).
    double crossing = 0;
    double tuneAt = 0;
    bool reached = false; // with the outcome: whether the tuning reached the radio
};

} // namespace sweep
