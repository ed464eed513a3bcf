#pragma once

// The simulated radio's event loop: one poll() over the pseudo-terminal, standard input and a
// signal pipe, with deadlines for delayed answers and for the end of a vanish pause. It ties
// the framing, the radio, the log and the control commands together. The receiver's audio is
// made on a thread of its own, as a radio's audio path runs beside its CI-V port: a block takes
// milliseconds to make, and the bus is read (and each frame's arrival logged) meanwhile.

#include "audiowriter.h"
#include "framelog.h"
#include "framesplitter.h"
#include "options.h"
#include "ptydevice.h"
#include "simradio.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class RadioSim {
public:
    explicit RadioSim(const SimOptions& options);
    ~RadioSim();
    RadioSim(const RadioSim&) = delete;
    RadioSim& operator=(const RadioSim&) = delete;

    // Opens the log and the device, prints the device path and runs until told to stop.
    // Returns the exit status.
    int Run();

private:
    using Clock = std::chrono::steady_clock;

    // Bytes a program has not read yet are dropped beyond this: nobody listens on the line.
    static constexpr std::size_t kMaxPendingBytes = 64 * 1024;
    static constexpr std::size_t kMaxControlLine = 4096;
    static constexpr std::chrono::milliseconds kSignalVanishPause{2000};

    void OnReceived(std::span<const std::uint8_t> bytes);
    void OnPiece(const BusPiece& piece, double secondsOfDay);
    void ReadDevice();
    void ReadControl();
    void ReadSignals();
    void RunDueTimers();
    void StartAudio();
    void StopAudio();
    void AudioLoop();
    int PollTimeoutMs() const;

    // Returns the answer line, or nothing when the answer comes later (vanish).
    std::optional<std::string> Control(const std::string& line);
    std::string StatusLine() const;

    void Send(std::span<const std::uint8_t> bytes);
    void Answer(std::vector<Bytes> frames);
    void ReportFrequency();
    void FlushOutput();
    void Vanish(std::chrono::milliseconds pause);
    void Reopen();
    void Stop(int status);

    static void Say(const std::string& line);

    SimOptions options;
    SimRadio radio;
    FrameSplitter splitter;
    FrameLog log;
    PtyDevice device;
    std::unique_ptr<AudioWriter> audio; // the receiver's audio, with --audio
    std::thread audioThread;
    std::mutex audioMutex; // guards audioStop for the wait
    std::condition_variable audioWake;
    bool audioStop = false;

    Bytes pending; // bytes for the line that the pseudo-terminal has not taken yet
    std::deque<std::pair<Clock::time_point, std::vector<Bytes>>> delayedAnswers;
    std::optional<Clock::time_point> reopenAt;
    long long framesReceived = 0;
    std::string controlBuffer;
    bool controlOpen = true;
    std::optional<int> exitStatus;
};
