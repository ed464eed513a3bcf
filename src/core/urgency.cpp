#include "core/urgency.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/resource.h>

namespace {

thread_local UrgentSection* openSection = nullptr;

// The priority to ask for: kPriority, or the user's real-time limit where that is lower but not 0
// (with a limit of 0 only a privileged process may ask at all).
int AllowedPriority() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        limit.rlim_cur >= 1 && limit.rlim_cur < rlim_t(UrgentSection::kPriority)) {
        return int(limit.rlim_cur);
    }
    return UrgentSection::kPriority;
}

} // namespace

UrgentSection::UrgentSection() : outer(openSection) {
    openSection = this;
    // On Linux, pid 0 names the calling thread, not the whole process.
    oldPolicy = ::sched_getscheduler(0);
    sched_param old{};
    if (oldPolicy < 0 || ::sched_getparam(0, &old) != 0) {
        refusal = std::strerror(errno);
        return;
    }
    oldPriority = old.sched_priority;
    if (oldPolicy == SCHED_FIFO || oldPolicy == SCHED_RR) {
        return; // already real-time: left as it is
    }
    sched_param urgent{};
    urgent.sched_priority = AllowedPriority();
    if (::sched_setscheduler(0, SCHED_FIFO, &urgent) != 0) {
        refusal = std::strerror(errno);
        return;
    }
    raised = true;
}

UrgentSection::~UrgentSection() {
    Restore();
    openSection = outer;
}

void UrgentSection::Restore() {
    if (raised) {
        sched_param old{};
        old.sched_priority = oldPriority;
        ::sched_setscheduler(0, oldPolicy, &old);
        raised = false;
    }
}

void UrgentSection::EndOnThisThread() {
    // An outer section that raised the thread is the one to put it back; inner ones found it
    // already raised and did nothing.
    for (UrgentSection* section = openSection; section != nullptr; section = section->outer) {
        section->Restore();
    }
}
