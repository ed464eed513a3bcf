#pragma once

// Writes one run of bytes to an open file descriptor at a given instant, from a thread of its
// own: the bytes go out on time however long the caller's event loop is held up (a window being
// resized, a column being painted). One write at a time; its outcome is handed to a callback on
// the writer's thread.

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class TimedWriter {
public:
    using Clock = std::chrono::steady_clock;
    struct Outcome {
        qint64 written = 0; // bytes the device took; fewer than given when it was full
        int error = 0;      // errno of a write that failed, 0 when none did
    };
    // How long a full device is waited on before the write gives up with what it has written.
    static constexpr std::chrono::milliseconds kFullWait{100};
    // The writer's SCHED_FIFO priority where the system grants one: low, below audio servers.
    static constexpr int kRealTimePriority = 10;
    // How long before the instant the writer wakes first, to be awake and quick at the instant.
    static constexpr std::chrono::milliseconds kWakeEarly{4};

    TimedWriter() = default;
    ~TimedWriter(); // drops a write not yet made, waits for one being made
    TimedWriter(const TimedWriter&) = delete;
    TimedWriter& operator=(const TimedWriter&) = delete;

    // Writes bytes to fd at `at` (at once when it has passed) and then calls done. False, and
    // nothing queued, while an earlier write is still pending.
    bool Submit(int fd, QByteArray bytes, Clock::time_point at, std::function<void(Outcome)> done);
    // Drops a write not yet made (its done is never called) and waits for one being made: after
    // it the descriptor is not touched again, so it may be closed. The outcome of the last write
    // submitted, where it was made (its done may not have been seen yet).
    std::optional<Outcome> Cancel();

private:
    struct Job {
        int fd;
        QByteArray bytes;
        Clock::time_point at;
        std::function<void(Outcome)> done;
    };

    void Run();
    static Outcome Write(int fd, const QByteArray& bytes);

    std::mutex mutex;
    std::condition_variable changed;
    std::optional<Job> job;
    bool writing = false;
    std::optional<Outcome> made; // the last submitted write's, once made
    bool quit = false;
    std::thread thread; // started with the first write
};
