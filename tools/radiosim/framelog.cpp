#include "framelog.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace {
constexpr long long kMillisecondsPerSecond = 1000;
constexpr int kSecondsPerHour = 3600;
constexpr int kSecondsPerMinute = 60;
constexpr long kNanosecondsPerMillisecond = 1000000;
} // namespace

double UtcSecondsOfDay() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    const long long ms =
        (utc.tm_hour * kSecondsPerHour + utc.tm_min * kSecondsPerMinute + utc.tm_sec) *
            kMillisecondsPerSecond +
        now.tv_nsec / kNanosecondsPerMillisecond;
    return double(ms) / kMillisecondsPerSecond;
}

FrameLog::~FrameLog() {
    if (file != nullptr) {
        std::fclose(file);
    }
}

std::string FrameLog::Open(const std::string& path) {
    file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        return "cannot open the log " + path + ": " + std::strerror(errno);
    }
    return {};
}

std::string FrameLog::FormatLine(const BusPiece& piece, double secondsOfDay) {
    const long long ms = std::llround(secondsOfDay * kMillisecondsPerSecond);
    std::string line = std::to_string(ms / kMillisecondsPerSecond) + '.';
    const std::string fraction = std::to_string(ms % kMillisecondsPerSecond);
    line += std::string(3 - fraction.size(), '0') + fraction;
    if (piece.kind == BusPiece::Kind::Stray) {
        line += " stray";
    } else if (piece.kind == BusPiece::Kind::Cut) {
        line += " cut";
    }
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (std::uint8_t byte : piece.bytes) {
        line += ' ';
        line += kDigits[byte >> 4];
        line += kDigits[byte & 0x0F];
    }
    return line;
}

void FrameLog::Write(const BusPiece& piece, double secondsOfDay) {
    if (file == nullptr) {
        return;
    }
    const std::string line = FormatLine(piece, secondsOfDay) + '\n';
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
}
