#pragma once

// The simulated radio's command line: what it is told at start, and the help text that
// documents the options, the runtime control commands and the log format.

#include "ionosphere.h"

#include <cstdint>
#include <optional>
#include <string>

struct SimOptions {
    static constexpr std::uint8_t kDefaultAddress = 0x4E;
    static constexpr std::int32_t kDefaultFrequency = 14074000;

    std::uint8_t address = kDefaultAddress;
    std::int32_t frequency = kDefaultFrequency;
    bool echo = true;
    bool silent = false;
    bool transceive = false;
    bool garbage = false;
    bool exitOnEof = false;
    bool realtimeBus = false; // --realtime-bus
    int replyDelayMs = 0;
    std::string logPath;
    std::string linkPath;
    bool help = false;
    std::optional<double> sweepStartChirpTime; // --print-sweep-start: print, do not simulate
    AudioOptions audio;
};

// Reads argv into options. Returns an empty string, or a message naming the bad argument.
std::string ParseOptions(int argc, char** argv, SimOptions* options);

std::string HelpText();

// Number parsing shared with the control commands. Each accepts the whole text or nothing.
bool ParseHexByte(const std::string& text, std::uint8_t* value);   // "4E", "0x4e"
bool ParseFrequency(const std::string& text, std::int32_t* value); // 0 .. 2147483647
bool ParseMilliseconds(const std::string& text, int* value);       // 0 .. one day
