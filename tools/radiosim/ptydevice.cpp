#include "ptydevice.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <limits.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyDevice::PtyDevice(std::string link) : linkPath(std::move(link)) {}

PtyDevice::~PtyDevice() {
    Close();
}

std::string PtyDevice::Open() {
    Close();
    std::array<char, PATH_MAX> name{};
    termios raw{};
    cfmakeraw(&raw);
    cfsetspeed(&raw, B19200);
    if (openpty(&masterFd, &slaveFd, name.data(), &raw, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
    }
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
    slavePath = name.data();
    return PointLink();
}

std::string PtyDevice::PointLink() const {
    if (linkPath.empty()) {
        return {};
    }
    // A symlink made beside the link and renamed over it: the link always names a device.
    const std::string temporary = linkPath + ".tmp" + std::to_string(getpid());
    ::unlink(temporary.c_str());
    if (::symlink(slavePath.c_str(), temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(temporary.c_str());
        return "cannot make the link " + linkPath + ": " + reason;
    }
    return {};
}

void PtyDevice::Close() {
    if (masterFd < 0) {
        return;
    }
    ::close(masterFd);
    ::close(slaveFd);
    masterFd = slaveFd = -1;
    if (!linkPath.empty()) {
        std::array<char, PATH_MAX> target{};
        const ssize_t n = ::readlink(linkPath.c_str(), target.data(), target.size() - 1);
        if (n > 0 && std::string(target.data(), std::size_t(n)) == slavePath) {
            ::unlink(linkPath.c_str());
        }
    }
}
