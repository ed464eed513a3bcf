#include "headless/stopsignals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace headless {

namespace {

int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t stopSignalSeen = 0;

extern "C" void OnStopSignal(int signalNumber) {
    if (stopSignalSeen != 0) {
        // The second one: end now, as if there were no handler.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    stopSignalSeen = 1;
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = savedErrno;
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM};

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        problem = QString::fromLocal8Bit(std::strerror(errno));
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    notifier = std::make_unique<QSocketNotifier>(signalPipe[1], QSocketNotifier::Read);
    connect(notifier.get(), &QSocketNotifier::activated, this, &StopSignals::Read);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kStopSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
}

StopSignals::~StopSignals() {
    for (const int signalNumber : kStopSignals) {
        std::signal(signalNumber, SIG_DFL);
    }
    notifier.reset();
    for (int& fd : signalPipe) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

void StopSignals::Read() {
    unsigned char byte = 0;
    if (::read(signalPipe[1], &byte, 1) == 1) {
        emit Received(byte);
    }
}

} // namespace headless
