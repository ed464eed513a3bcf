#pragma once

// Asks for the calling thread to run ahead of ordinary threads (SCHED_FIFO at this priority), so
// a busy core does not hold it back by a time slice. Where the system refuses (no rtprio limit)
// or has no such scheduling, the thread runs at the ordinary priority.

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <pthread.h>
#include <sched.h>
#endif

inline void AskRealTimePriority(int priority) {
#ifdef Q_OS_UNIX
    sched_param param{};
    param.sched_priority = priority;
    (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
#else
    (void)priority;
#endif
}
