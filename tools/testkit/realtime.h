#pragma once

// Puts the calling thread at a low real-time priority for the rest of its life, for the parts of
// the test rig that stand for hardware with a processor of its own (the simulated radio's bus) or
// that measure the machine (a benchmark's stall meter): they must not wait behind the program or
// a busy loop for a core. Header only, so the simulated radio needs no more than its include.

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <string>

namespace testkit {

// Above every ordinary thread, below sound servers and the kernel's own real-time threads.
constexpr int kRealTimePriority = 4;

// "" when the thread runs at the real-time priority now, else the system's reason.
inline std::string RaiseToRealTime() {
    sched_param urgent{};
    urgent.sched_priority = kRealTimePriority;
    // On Linux, pid 0 names the calling thread, not the whole process.
    if (::sched_setscheduler(0, SCHED_FIFO, &urgent) != 0) {
        return std::strerror(errno);
    }
    return {};
}

} // namespace testkit
