#include "link/timedwriter.h"

#include "core/realtime.h"

#include <QtGlobal>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <unistd.h>
#endif

TimedWriter::~TimedWriter() {
    {
        std::lock_guard lock(mutex);
        quit = true;
        job.reset();
    }
    changed.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

bool TimedWriter::Submit(int fd, QByteArray bytes, Clock::time_point at,
                         std::function<void(Outcome)> done) {
    {
        std::lock_guard lock(mutex);
        if (job || writing || quit) {
            return false;
        }
        job = Job{fd, std::move(bytes), at, std::move(done)};
        made.reset();
        if (!thread.joinable()) {
            thread = std::thread([this] { Run(); });
        }
    }
    changed.notify_all();
    return true;
}

std::optional<TimedWriter::Outcome> TimedWriter::Cancel() {
    std::unique_lock lock(mutex);
    job.reset();
    changed.notify_all();
    changed.wait(lock, [this] { return !writing; });
    return std::exchange(made, std::nullopt);
}

void TimedWriter::Run() {
    AskRealTimePriority(kRealTimePriority);
    std::unique_lock lock(mutex);
    while (!quit) {
        if (!job) {
            changed.wait(lock);
            continue;
        }
        // Waits out the instant in two steps: a core that has been idle a while can take some
        // milliseconds to wake (virtual machines, deep sleep states), one that has just run wakes
        // at once. A cancelled or replaced job is seen on waking.
        const Clock::time_point now = Clock::now();
        if (now < job->at - kWakeEarly) {
            changed.wait_until(lock, job->at - kWakeEarly);
            continue;
        }
        if (now < job->at) {
            changed.wait_until(lock, job->at);
            continue;
        }
        Job due = std::move(*job);
        job.reset();
        writing = true;
        lock.unlock();
        const Outcome outcome = Write(due.fd, due.bytes);
        if (due.done) {
            due.done(outcome);
        }
        lock.lock();
        made = outcome;
        writing = false;
        changed.notify_all();
    }
}

TimedWriter::Outcome TimedWriter::Write(int fd, const QByteArray& bytes) {
    Outcome outcome;
#ifdef Q_OS_UNIX
    const Clock::time_point giveUp = Clock::now() + kFullWait;
    while (outcome.written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + outcome.written,
                                  size_t(bytes.size() - outcome.written));
        if (n >= 0) {
            outcome.written += n;
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now());
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && left.count() > 0) {
            pollfd out{fd, POLLOUT, 0};
            ::poll(&out, 1, int(left.count())); // the port's non-blocking descriptor is full
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            outcome.error = errno;
        }
        break;
    }
#else
    (void)fd;
    (void)bytes;
    outcome.error = -1;
#endif
    return outcome;
}
