#pragma once

// CI-V wire format: bus addresses, command codes, packed-BCD frequencies and frame assembly.
// Pure functions only; the receive parser and the command sender both build on them.

#include "core/frequencytext.h"
#include "core/status.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>

namespace civ {

constexpr std::uint8_t kPreamble = 0xFE;
constexpr std::uint8_t kEndOfFrame = 0xFD;
// Some radios end frequency data with 0xFF instead of 0xFD; the receiver accepts both.
constexpr std::uint8_t kEndOfData = 0xFF;

constexpr std::uint8_t kControllerAddress = 0x4D; // the program's own address, "M"
constexpr std::uint8_t kBroadcastAddress = 0x00;
// A bus address is one byte.
constexpr int kHighestAddress = 0xFF;

constexpr std::uint8_t kCmdFrequencyReport = 0x00;
constexpr std::uint8_t kCmdModeReport = 0x01;
constexpr std::uint8_t kCmdReadFrequency = 0x03;
constexpr std::uint8_t kCmdReadMode = 0x04;
constexpr std::uint8_t kCmdSetFrequency = 0x05;
constexpr std::uint8_t kCmdMeter = 0x15;
constexpr std::uint8_t kSubSquelch = 0x01;
constexpr std::uint8_t kSubSMeter = 0x02;
constexpr std::uint8_t kCmdNg = 0xFA;
constexpr std::uint8_t kCmdOk = 0xFB;

// Passed as the sub-command when a command has none.
constexpr int kNoSubCommand = -1;

// Bytes of BCD data in a set-frequency frame: ten decimal digits.
constexpr int kFrequencyBytes = 5;

// Packs value into bcd, two decimal digits per byte, least significant byte first, low nibble
// the lower digit. Digits beyond the buffer's capacity are dropped. A negative value cannot be
// encoded: returns an error and leaves bcd untouched.
Status FreqToBcd(std::int32_t value, std::span<std::uint8_t> bcd);

// Sums the nibbles of BCD data with weights 1, 10, 100 ... in wire order (low nibble first).
double BcdToFreq(QByteArrayView bcd);

// Assembles FE FE <radioAddress> 4D <cmd> [<subcmd>] <data...> FD. Empty data adds no data
// bytes; subcmd kNoSubCommand adds no sub-command. An address, command or present sub-command
// outside 0..255 is an error, and then nothing is returned.
Status BuildFrame(int radioAddress, int cmd, int subcmd, QByteArrayView data, QByteArray* frame);

// A radio address typed in hexadecimal (blanks around it ignored, leading zeros allowed, 0 to
// FF), or why the text is not one: the reason followed by what to type.
struct ParsedAddress {
    std::optional<int> address;
    QString problem;
};
ParsedAddress ParseAddress(const QString& text);

} // namespace civ
