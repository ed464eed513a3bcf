#include "support/pty.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&masterFd, &slaveFd, name, &raw, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    slavePath = QString::fromLocal8Bit(name);
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slaveFd >= 0) {
        ::close(slaveFd);
    }
}

void PtyPair::Write(const QByteArray& bytes) {
    qsizetype done = 0;
    while (masterFd >= 0 && done < bytes.size()) {
        const ssize_t n = ::write(masterFd, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += n;
        } else {
            QThread::msleep(1);
        }
    }
}

QByteArray PtyPair::Read(int timeoutMs, int expected, bool dispatch) {
    QByteArray got;
    QDeadlineTimer deadline(timeoutMs);
    while (masterFd >= 0) {
        if (dispatch) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        pollfd p{masterFd, POLLIN, 0};
        if (::poll(&p, 1, 2) > 0 && (p.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = ::read(masterFd, buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, n);
            }
        }
        if ((expected > 0 && got.size() >= expected) || deadline.hasExpired()) {
            break;
        }
    }
    return got;
}

void PtyPair::CloseMaster() {
    if (masterFd >= 0) {
        ::close(masterFd);
        masterFd = -1;
    }
}
