#pragma once

// The simulated transceiver: its frequency, mode and filter, and the CI-V commands it answers.
// It sees each whole frame heard on the bus and says what the radio sends back; it does no I/O,
// so every answer is decided from bytes alone.

#include "framesplitter.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class SimRadio {
public:
    // Commands beyond those the controller program uses, answered so Hamlib can drive the radio.
    static constexpr std::uint8_t kCmdSelectVfo = 0x07;
    static constexpr std::uint8_t kCmdSplit = 0x0F;
    static constexpr std::uint8_t kCmdSettings = 0x1A;
    static constexpr std::uint8_t kSubFilterWidth = 0x03;
    static constexpr std::uint8_t kCmdVfoFrequency = 0x25;
    static constexpr std::uint8_t kCmdVfoMode = 0x26;
    static constexpr std::uint8_t kSelectedVfo = 0x00;
    static constexpr std::uint8_t kUnselectedVfo = 0x01;

    // USB, data mode off, FIL1; filter width index 34 (3000 Hz); split off.
    static constexpr std::uint8_t kStartMode[] = {0x01, 0x00, 0x01};
    static constexpr std::uint8_t kStartFilterWidth = 0x34;
    static constexpr std::uint8_t kSplitOff = 0x00;

    struct Outcome {
        std::vector<Bytes> replies; // frames to put on the bus, in order
        bool frequencySet = false;  // an accepted set of the operating frequency
    };

    SimRadio(std::uint8_t address, std::int32_t frequency);

    std::uint8_t Address() const { return ownAddress; }
    std::int32_t Frequency() const { return frequency; }
    void SetFrequency(std::int32_t hz) { frequency = hz; }

    // Acts on one frame as received (FE FE ... FD). Frames for other stations are ignored;
    // set-frequency frames to the broadcast address are followed without an answer.
    Outcome HandleFrame(std::span<const std::uint8_t> frame);

    // FE FE 00 <own> 00 <5 BCD> FD: the transceive report of the current frequency.
    Bytes FrequencyReport() const;

    // FE FE <to> <own> <payload...> FD.
    Bytes Frame(std::uint8_t to, std::span<const std::uint8_t> payload) const;

    // Decodes 4 or 5 bytes of BCD into hertz; nothing when a nibble is not a decimal digit or
    // the value does not fit the radio's range.
    static std::optional<std::int32_t> DecodeFrequency(std::span<const std::uint8_t> bcd);
    static Bytes EncodeFrequency(std::int32_t hz);

private:
    Outcome HandleCommand(std::uint8_t from, std::uint8_t cmd, std::span<const std::uint8_t> data);
    Bytes Answer(std::uint8_t to, std::uint8_t cmd, std::span<const std::uint8_t> data) const;

    std::uint8_t ownAddress;
    std::int32_t frequency;
    std::int32_t unselectedFrequency;
    Bytes mode;
    std::uint8_t filterWidth = kStartFilterWidth;
    std::uint8_t split = kSplitOff;
};
