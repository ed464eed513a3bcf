#include "simradio.h"

#include "link/civ.h"

#include <QByteArrayView>
#include <algorithm>
#include <limits>

namespace {

// Frequencies come as 5 BCD bytes; some controllers send the older 4-byte form.
constexpr std::size_t kShortFrequencyBytes = 4;
constexpr std::size_t kHeaderBytes = 3; // destination, source, command

bool IsDecimal(std::span<const std::uint8_t> bcd) {
    for (std::uint8_t byte : bcd) {
        if ((byte & 0x0F) > 9 || (byte >> 4) > 9) {
            return false;
        }
    }
    return true;
}

// Sized first and copied into: GCC 12 at -O2 warns falsely (-Warray-bounds) when
// vector::insert grows a vector.
Bytes Join(std::uint8_t first, std::span<const std::uint8_t> rest) {
    Bytes bytes(1 + rest.size());
    bytes.front() = first;
    std::copy(rest.begin(), rest.end(), bytes.begin() + 1);
    return bytes;
}

} // namespace

SimRadio::SimRadio(std::uint8_t address, std::int32_t hz)
    : ownAddress(address), frequency(hz), unselectedFrequency(hz),
      mode(std::begin(kStartMode), std::end(kStartMode)) {}

std::optional<std::int32_t> SimRadio::DecodeFrequency(std::span<const std::uint8_t> bcd) {
    if ((bcd.size() != kShortFrequencyBytes && bcd.size() != civ::kFrequencyBytes) ||
        !IsDecimal(bcd)) {
        return std::nullopt;
    }
    const double hz = civ::BcdToFreq(QByteArrayView(bcd.data(), qsizetype(bcd.size())));
    if (hz > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(hz);
}

Bytes SimRadio::EncodeFrequency(std::int32_t hz) {
    Bytes bcd(civ::kFrequencyBytes);
    civ::FreqToBcd(hz, bcd); // the radio's frequency is never negative
    return bcd;
}

Bytes SimRadio::Frame(std::uint8_t to, std::span<const std::uint8_t> payload) const {
    const std::uint8_t header[] = {civ::kPreamble, civ::kPreamble, to, ownAddress};
    Bytes bytes(std::size(header) + payload.size() + 1);
    std::copy(payload.begin(), payload.end(),
              std::copy(std::begin(header), std::end(header), bytes.begin()));
    bytes.back() = civ::kEndOfFrame;
    return bytes;
}

Bytes SimRadio::Answer(std::uint8_t to, std::uint8_t cmd,
                       std::span<const std::uint8_t> data) const {
    return Frame(to, Join(cmd, data));
}

Bytes SimRadio::FrequencyReport() const {
    return Answer(civ::kBroadcastAddress, civ::kCmdFrequencyReport, EncodeFrequency(frequency));
}

SimRadio::Outcome SimRadio::HandleFrame(std::span<const std::uint8_t> frame) {
    std::size_t start = 0;
    while (start < frame.size() && frame[start] == civ::kPreamble) {
        ++start;
    }
    if (frame.empty() || frame.back() != civ::kEndOfFrame || start == 0 ||
        frame.size() - 1 - start < kHeaderBytes) {
        return {};
    }
    const auto body = frame.subspan(start, frame.size() - 1 - start);
    const std::uint8_t to = body[0];
    const std::uint8_t from = body[1];
    const std::uint8_t cmd = body[2];
    const auto data = body.subspan(kHeaderBytes);
    if (from == ownAddress) {
        return {};
    }
    if (to == ownAddress) {
        return HandleCommand(from, cmd, data);
    }
    if (to == civ::kBroadcastAddress && cmd == civ::kCmdSetFrequency) {
        Outcome outcome;
        if (const auto hz = DecodeFrequency(data)) {
            frequency = *hz;
            outcome.frequencySet = true;
        }
        return outcome;
    }
    return {};
}

SimRadio::Outcome SimRadio::HandleCommand(std::uint8_t from, std::uint8_t cmd,
                                          std::span<const std::uint8_t> data) {
    Outcome outcome;
    const Bytes ok = Frame(from, Bytes{civ::kCmdOk});
    const Bytes ng = Frame(from, Bytes{civ::kCmdNg});
    auto reply = [&](Bytes frame) { outcome.replies.push_back(std::move(frame)); };

    switch (cmd) {
    case civ::kCmdSetFrequency:
        if (const auto hz = DecodeFrequency(data)) {
            frequency = *hz;
            outcome.frequencySet = true;
            reply(ok);
        } else {
            reply(ng);
        }
        return outcome;
    case civ::kCmdReadFrequency:
        reply(data.empty() ? Answer(from, cmd, EncodeFrequency(frequency)) : ng);
        return outcome;
    case kCmdVfoFrequency: {
        if (data.empty() || (data[0] != kSelectedVfo && data[0] != kUnselectedVfo)) {
            reply(ng);
            return outcome;
        }
        const bool selected = data[0] == kSelectedVfo;
        std::int32_t& vfo = selected ? frequency : unselectedFrequency;
        if (data.size() == 1) {
            reply(Answer(from, cmd, Join(data[0], EncodeFrequency(vfo))));
        } else if (const auto hz = DecodeFrequency(data.subspan(1))) {
            vfo = *hz;
            outcome.frequencySet = selected;
            reply(ok);
        } else {
            reply(ng);
        }
        return outcome;
    }
    case kCmdSelectVfo:
        reply(ok); // one VFO is simulated; every selection is accepted
        return outcome;
    case kCmdSplit:
        if (data.empty()) {
            reply(Answer(from, cmd, Bytes{split}));
        } else if (data.size() == 1) {
            split = data[0];
            reply(ok);
        } else {
            reply(ng);
        }
        return outcome;
    case kCmdVfoMode:
        if (data.size() == 1 && data[0] == kSelectedVfo) {
            reply(Answer(from, cmd, Join(data[0], mode)));
        } else if (data.size() == 1 + mode.size() && data[0] == kSelectedVfo) {
            mode.assign(data.begin() + 1, data.end());
            reply(ok);
        } else {
            reply(ng);
        }
        return outcome;
    case kCmdSettings:
        if (data.size() == 1 && data[0] == kSubFilterWidth) {
            reply(Answer(from, cmd, Bytes{kSubFilterWidth, filterWidth}));
        } else if (data.size() == 2 && data[0] == kSubFilterWidth) {
            filterWidth = data[1];
            reply(ok);
        } else {
            reply(ng);
        }
        return outcome;
    default:
        reply(ng);
        return outcome;
    }
}
