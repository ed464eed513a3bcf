#pragma once

// Appends one line per piece of received traffic to a file, stamped with the UTC time of day,
// and flushes each line so that whoever watches the file sees it at once.

#include "framesplitter.h"

#include <cstdio>
#include <string>

class FrameLog {
public:
    FrameLog() = default;
    ~FrameLog();
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;

    // Opens path for appending. Returns an empty string or what went wrong.
    std::string Open(const std::string& path);
    bool IsOpen() const { return file != nullptr; }

    // "36098.500 FE FE 4E 4D 05 00 00 10 02 00 FD"; stray bytes as "36098.500 stray 13 0A",
    // a frame that never ended as "36098.500 cut FE FE 4E".
    void Write(const BusPiece& piece, double secondsOfDay);

    // Formats one line without its newline.
    static std::string FormatLine(const BusPiece& piece, double secondsOfDay);

private:
    std::FILE* file = nullptr;
};

// The time of day in UTC in seconds since midnight, with its fraction.
double UtcSecondsOfDay();
