#include "radiosim.h"

#include "core/units.h"
#include "link/civ.h"
#include "testkit/realtime.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// Stray bytes and the start of a frequency report cut short, sent after each echo on request.
constexpr std::uint8_t kGarbage[] = {0x13, civ::kEndOfFrame, 0x00, civ::kEndOfData};
constexpr std::uint8_t kCutReportData[] = {0x00, 0x40};

constexpr std::size_t kReadChunk = 4096;
constexpr double kMostAdvanceMs = 1000; // audio-advance's range either way

int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int signal) {
    const int saved = errno;
    const auto byte = static_cast<std::uint8_t>(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool InstallSignals() {
    if (::pipe(signalPipe) != 0) {
        return false;
    }
    for (int fd : signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT, SIGUSR1}) {
        sigaction(signal, &action, nullptr);
    }
    // A background start must neither stop at a read of the terminal nor die with its reader.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTTIN, SIG_IGN);
    std::signal(SIGTTOU, SIG_IGN);
    return true;
}

std::string OnOff(bool value) {
    return value ? "on" : "off";
}

std::vector<std::string> Words(const std::string& line) {
    std::istringstream stream(line);
    std::vector<std::string> words;
    for (std::string word; stream >> word;) {
        words.push_back(word);
    }
    return words;
}

bool ParseOnOff(const std::string& text, bool* value) {
    if (text == "on" || text == "off") {
        *value = text == "on";
        return true;
    }
    return false;
}

// "FE FE 4D 4E FB FD" or "FEFE4D4EFBFD" -> bytes; false when anything is not hex.
bool ParseHexBytes(const std::vector<std::string>& words, std::size_t first, Bytes* bytes) {
    std::string digits;
    for (std::size_t i = first; i < words.size(); ++i) {
        digits += words[i];
    }
    if (digits.empty() || digits.size() % 2 != 0) {
        return false;
    }
    bytes->clear();
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        std::uint8_t byte = 0;
        if (!ParseHexByte(digits.substr(i, 2), &byte)) {
            return false;
        }
        bytes->push_back(byte);
    }
    return true;
}

} // namespace

RadioSim::RadioSim(const SimOptions& simOptions)
    : options(simOptions), radio(simOptions.address, simOptions.frequency),
      device(simOptions.linkPath) {}

RadioSim::~RadioSim() {
    StopAudio();
}

void RadioSim::Say(const std::string& line) {
    std::fputs((line + '\n').c_str(), stdout);
    std::fflush(stdout);
}

int RadioSim::Run() {
    if (!InstallSignals()) {
        std::fputs("tavmirok-radiosim: cannot make the signal pipe\n", stderr);
        return 1;
    }
    if (!options.logPath.empty()) {
        if (const auto error = log.Open(options.logPath); !error.empty()) {
            std::fprintf(stderr, "tavmirok-radiosim: %s\n", error.c_str());
            return 1;
        }
    }
    if (!options.audio.path.empty()) {
        audio = std::make_unique<AudioWriter>(options.audio);
        if (const auto error = audio->Open(); !error.empty()) {
            std::fprintf(stderr, "tavmirok-radiosim: %s\n", error.c_str());
            return 1;
        }
    }
    if (const auto error = device.Open(); !error.empty()) {
        std::fprintf(stderr, "tavmirok-radiosim: %s\n", error.c_str());
        return 1;
    }
    StartAudio(); // its thread keeps the ordinary priority
    if (options.realtimeBus) {
        if (const std::string refusal = testkit::RaiseToRealTime(); !refusal.empty()) {
            std::fprintf(stderr, "tavmirok-radiosim: no real-time priority for the bus (%s)\n",
                         refusal.c_str());
        }
    }
    Say(device.SlavePath()); // ready: the bus is served as asked from here on

    while (!exitStatus) {
        std::array<pollfd, 3> fds{};
        nfds_t count = 0;
        fds[count++] = pollfd{signalPipe[0], POLLIN, 0};
        const nfds_t controlIndex = controlOpen ? count++ : 0;
        if (controlOpen) {
            fds[controlIndex] = pollfd{STDIN_FILENO, POLLIN, 0};
        }
        const nfds_t deviceIndex = device.IsOpen() ? count++ : 0;
        if (device.IsOpen()) {
            const short events = pending.empty() ? POLLIN : (POLLIN | POLLOUT);
            fds[deviceIndex] = pollfd{device.MasterFd(), events, 0};
        }
        if (::poll(fds.data(), count, PollTimeoutMs()) < 0 && errno != EINTR) {
            std::perror("tavmirok-radiosim: poll");
            Stop(1);
            break;
        }
        if (fds[0].revents != 0) {
            ReadSignals();
        }
        if (controlOpen && controlIndex != 0 && fds[controlIndex].revents != 0) {
            ReadControl();
        }
        if (device.IsOpen() && deviceIndex != 0 && (fds[deviceIndex].revents & POLLIN)) {
            ReadDevice();
        }
        if (audio) {
            audio->Tune(EpochNow(), double(radio.Frequency()) / units::kHertzPerKilohertz);
        }
        RunDueTimers();
        FlushOutput();
    }
    StopAudio();
    for (const BusPiece& piece : splitter.Reset()) {
        log.Write(piece, UtcSecondsOfDay());
    }
    device.Close();
    return *exitStatus;
}

int RadioSim::PollTimeoutMs() const {
    std::optional<Clock::time_point> next = reopenAt;
    if (!delayedAnswers.empty() && (!next || delayedAnswers.front().first < *next)) {
        next = delayedAnswers.front().first;
    }
    if (!next) {
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    return int(std::max<long long>(0, left.count()));
}

void RadioSim::ReadSignals() {
    std::uint8_t caught[16];
    ssize_t n = 0;
    while ((n = ::read(signalPipe[0], caught, sizeof caught)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            if (caught[i] == SIGUSR1) {
                if (device.IsOpen()) {
                    Vanish(kSignalVanishPause);
                }
            } else {
                Stop(0);
            }
        }
    }
}

void RadioSim::ReadControl() {
    char buffer[kReadChunk];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (n <= 0) {
        // End of input (or a terminal we may not read): keep running unless asked otherwise.
        controlOpen = false;
        if (options.exitOnEof) {
            Stop(0);
        }
        return;
    }
    controlBuffer.append(buffer, std::size_t(n));
    std::size_t newline = 0;
    while ((newline = controlBuffer.find('\n')) != std::string::npos) {
        std::string line = controlBuffer.substr(0, newline);
        controlBuffer.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (const auto answer = Control(line)) {
            Say(*answer);
        }
        if (exitStatus) {
            return;
        }
    }
    if (controlBuffer.size() > kMaxControlLine) {
        controlBuffer.clear();
        Say("error line too long");
    }
}

void RadioSim::ReadDevice() {
    std::uint8_t buffer[kReadChunk];
    for (;;) {
        const ssize_t n = ::read(device.MasterFd(), buffer, sizeof buffer);
        if (n <= 0) {
            return; // EAGAIN: all read
        }
        OnReceived(std::span<const std::uint8_t>(buffer, std::size_t(n)));
        if (!device.IsOpen()) {
            return;
        }
    }
}

void RadioSim::OnReceived(std::span<const std::uint8_t> bytes) {
    if (options.echo && !options.silent) {
        Send(bytes); // the bus returns every byte at once
    }
    const double now = UtcSecondsOfDay();
    for (const BusPiece& piece : splitter.Feed(bytes)) {
        OnPiece(piece, now);
    }
    for (const BusPiece& piece : splitter.Flush()) {
        OnPiece(piece, now);
    }
}

void RadioSim::OnPiece(const BusPiece& piece, double secondsOfDay) {
    log.Write(piece, secondsOfDay);
    if (piece.kind != BusPiece::Kind::Frame) {
        return;
    }
    ++framesReceived;
    if (options.silent) {
        return;
    }
    if (options.garbage) {
        Send(kGarbage);
        const Bytes frame =
            radio.Frame(civ::kBroadcastAddress,
                        Bytes{civ::kCmdFrequencyReport, kCutReportData[0], kCutReportData[1]});
        Send(std::span(frame).first(frame.size() - 1)); // without its end byte
    }
    SimRadio::Outcome outcome = radio.HandleFrame(piece.bytes);
    if (outcome.frequencySet && options.transceive) {
        outcome.replies.push_back(radio.FrequencyReport());
    }
    if (!outcome.replies.empty()) {
        Answer(std::move(outcome.replies));
    }
}

void RadioSim::Answer(std::vector<Bytes> frames) {
    if (options.replyDelayMs > 0) {
        delayedAnswers.emplace_back(Clock::now() + std::chrono::milliseconds(options.replyDelayMs),
                                    std::move(frames));
        return;
    }
    for (const Bytes& frame : frames) {
        Send(frame);
    }
}

void RadioSim::ReportFrequency() {
    if (options.transceive && !options.silent && device.IsOpen()) {
        Answer({radio.FrequencyReport()});
    }
}

void RadioSim::StartAudio() {
    if (!audio) {
        return;
    }
    audio->Tune(EpochNow(), double(radio.Frequency()) / units::kHertzPerKilohertz);
    audioThread = std::thread([this] { AudioLoop(); });
}

void RadioSim::StopAudio() {
    if (!audioThread.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(audioMutex);
        audioStop = true;
    }
    audioWake.notify_all();
    audioThread.join();
}

void RadioSim::AudioLoop() {
    std::unique_lock<std::mutex> lock(audioMutex);
    while (!audioStop) {
        // Never early: each block is written once its last sample is due.
        const auto untilDue = std::chrono::duration<double>(audio->NextDue() - EpochNow());
        if (untilDue.count() > 0) {
            audioWake.wait_for(lock, untilDue);
            continue;
        }
        lock.unlock();
        audio->WriteDue(EpochNow());
        lock.lock();
    }
}

void RadioSim::RunDueTimers() {
    const auto now = Clock::now();
    while (!delayedAnswers.empty() && delayedAnswers.front().first <= now) {
        for (const Bytes& frame : delayedAnswers.front().second) {
            Send(frame);
        }
        delayedAnswers.pop_front();
    }
    if (reopenAt && *reopenAt <= now) {
        Reopen();
    }
}

void RadioSim::Send(std::span<const std::uint8_t> bytes) {
    if (!device.IsOpen()) {
        return;
    }
    pending.insert(pending.end(), bytes.begin(), bytes.end());
    if (pending.size() > kMaxPendingBytes) {
        pending.erase(pending.begin(), pending.end() - kMaxPendingBytes);
    }
    FlushOutput();
}

void RadioSim::FlushOutput() {
    while (device.IsOpen() && !pending.empty()) {
        const ssize_t n = ::write(device.MasterFd(), pending.data(), pending.size());
        if (n <= 0) {
            return; // full for now: poll waits for room
        }
        pending.erase(pending.begin(), pending.begin() + n);
    }
}

void RadioSim::Vanish(std::chrono::milliseconds pause) {
    for (const BusPiece& piece : splitter.Reset()) {
        log.Write(piece, UtcSecondsOfDay());
    }
    pending.clear();
    delayedAnswers.clear();
    device.Close();
    reopenAt = Clock::now() + pause;
}

void RadioSim::Reopen() {
    reopenAt.reset();
    if (const auto error = device.Open(); !error.empty()) {
        Say("error " + error);
        Stop(1);
        return;
    }
    Say("ok reopened " + device.SlavePath());
}

void RadioSim::Stop(int status) {
    if (!exitStatus) {
        exitStatus = status;
    }
}

std::string RadioSim::StatusLine() const {
    char address[3];
    std::snprintf(address, sizeof address, "%02X", radio.Address());
    return "ok frequency " + std::to_string(radio.Frequency()) + " address " + address + " echo " +
           OnOff(options.echo) + " silent " + OnOff(options.silent) + " transceive " +
           OnOff(options.transceive) + " garbage " + OnOff(options.garbage) + " frames " +
           std::to_string(framesReceived) + " device " +
           (device.IsOpen() ? device.SlavePath() : std::string("none"));
}

std::optional<std::string> RadioSim::Control(const std::string& line) {
    const std::vector<std::string> words = Words(line);
    if (words.empty()) {
        return std::nullopt;
    }
    const std::string& command = words[0];
    const std::string argument = words.size() > 1 ? words[1] : std::string();

    // Switches: "<name> on|off".
    const std::pair<const char*, bool*> switches[] = {
        {"silent", &options.silent},
        {"echo", &options.echo},
        {"transceive", &options.transceive},
        {"garbage", &options.garbage},
    };
    for (const auto& [name, field] : switches) {
        if (command == name) {
            if (words.size() != 2 || !ParseOnOff(argument, field)) {
                return "error usage: " + command + " on|off";
            }
            return "ok " + command + " " + argument;
        }
    }

    if (command == "frequency") {
        std::int32_t hz = 0;
        if (words.size() != 2 || !ParseFrequency(argument, &hz)) {
            return "error usage: frequency HZ (whole hertz, 0 to 2147483647)";
        }
        radio.SetFrequency(hz);
        ReportFrequency();
        return "ok frequency " + std::to_string(hz);
    }
    if (command == "send") {
        Bytes bytes;
        if (!ParseHexBytes(words, 1, &bytes)) {
            return "error usage: send HEX BYTES (e.g. send FE FE 4D 4E FB FD)";
        }
        if (!device.IsOpen()) {
            return "error no device: it has vanished";
        }
        Send(bytes);
        return "ok sent " + std::to_string(bytes.size()) + " bytes";
    }
    if (command == "vanish") {
        int pauseMs = 0;
        if (words.size() != 2 || !ParseMilliseconds(argument, &pauseMs)) {
            return "error usage: vanish MS";
        }
        if (!device.IsOpen()) {
            return "error no device: it has vanished already";
        }
        Vanish(std::chrono::milliseconds(pauseMs));
        return std::nullopt; // "ok reopened ..." once the new device is there
    }
    if (command == "modes") {
        bool heard = true;
        if (words.size() != 2 || !ParseOnOff(argument, &heard)) {
            return "error usage: modes on|off";
        }
        if (!audio) {
            return "error no audio: start with --audio";
        }
        audio->SetModesHeard(heard);
        return "ok modes " + argument;
    }
    if (command == "audio-advance") {
        char* end = nullptr;
        const double ms = words.size() == 2 ? std::strtod(argument.c_str(), &end) : NAN;
        if (end == nullptr || *end != '\0' || !(std::abs(ms) <= kMostAdvanceMs)) {
            return "error usage: audio-advance MS (-1000 to 1000)";
        }
        if (!audio) {
            return "error no audio: start with --audio";
        }
        audio->SetAdvanceMs(ms);
        return "ok audio-advance " + argument;
    }
    if (command == "status" && words.size() == 1) {
        return StatusLine();
    }
    if (command == "help") {
        return "ok commands: silent on|off, echo on|off, transceive on|off, garbage on|off, "
               "frequency HZ, send HEX BYTES, vanish MS, modes on|off, audio-advance MS, status, "
               "help, quit";
    }
    if (command == "quit" && words.size() == 1) {
        Stop(0);
        return "ok bye";
    }
    return "error unknown command \"" + line + "\" (try help)";
}
