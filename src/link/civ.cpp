#include "link/civ.h"

#include "core/units.h"

#include <QRegularExpression>
#include <cmath>

namespace civ {

Status FreqToBcd(std::int32_t value, std::span<std::uint8_t> bcd) {
    if (value < 0) {
        return Status::Error(
            QStringLiteral("A negative frequency (%1 Hz) cannot be sent to the radio.").arg(value));
    }
    for (auto& element : bcd) {
        std::uint8_t packed = static_cast<std::uint8_t>(value % 10);
        value /= 10;
        packed |= static_cast<std::uint8_t>((value % 10) << 4);
        value /= 10;
        element = packed;
    }
    return Status::Ok();
}

double BcdToFreq(QByteArrayView bcd) {
    double sum = 0;
    double weight = 1;
    for (char c : bcd) {
        const auto byte = static_cast<std::uint8_t>(c);
        sum += (byte & 0x0F) * weight;
        weight *= 10;
        sum += ((byte & 0xF0) >> 4) * weight;
        weight *= 10;
    }
    return sum;
}

namespace {
bool IsByte(int value) {
    return value >= 0 && value <= kHighestAddress;
}
} // namespace

Status BuildFrame(int radioAddress, int cmd, int subcmd, QByteArrayView data, QByteArray* frame) {
    if (!IsByte(radioAddress)) {
        return Status::Error(
            QStringLiteral("The radio address %1 is not a CI-V address; use 0 to FF (hex).")
                .arg(radioAddress));
    }
    if (!IsByte(cmd)) {
        return Status::Error(QStringLiteral("The command %1 does not fit in one byte.").arg(cmd));
    }
    if (subcmd != kNoSubCommand && !IsByte(subcmd)) {
        return Status::Error(
            QStringLiteral("The sub-command %1 does not fit in one byte.").arg(subcmd));
    }
    QByteArray bytes;
    bytes.reserve(7 + data.size());
    bytes.append(char(kPreamble));
    bytes.append(char(kPreamble));
    bytes.append(char(radioAddress));
    bytes.append(char(kControllerAddress));
    bytes.append(char(cmd));
    if (subcmd != kNoSubCommand) {
        bytes.append(char(subcmd));
    }
    bytes.append(data.data(), data.size());
    bytes.append(char(kEndOfFrame));
    *frame = bytes;
    return Status::Ok();
}

ParsedAddress ParseAddress(const QString& text) {
    static const QRegularExpression hexDigits(QStringLiteral("^[0-9A-Fa-f]+$"));
    const QString digits = text.trimmed();
    const QString expected =
        QStringLiteral("Type the radio's CI-V address as hexadecimal digits only, 0 to FF, "
                       "such as 4E (0 for most radios).");
    if (digits.isEmpty()) {
        return {std::nullopt, QStringLiteral("No address typed. ") + expected};
    }
    if (!hexDigits.match(digits).hasMatch()) {
        return {std::nullopt,
                QStringLiteral("\"%1\" is not a hexadecimal address. ").arg(digits) + expected};
    }
    // Leading zeros are allowed, so the digits may be many; anything past FF is refused.
    qsizetype first = 0;
    while (first < digits.size() - 1 && digits.at(first) == QLatin1Char('0')) {
        ++first;
    }
    const QString significant = digits.sliced(first);
    bool ok = false;
    const uint value = significant.size() <= 2 ? significant.toUInt(&ok, units::kHexBase) : 0;
    if (!ok || value > static_cast<uint>(kHighestAddress)) {
        return {std::nullopt,
                QStringLiteral("\"%1\" is above FF: a CI-V address is one byte. ").arg(digits) +
                    expected};
    }
    return {static_cast<int>(value), QString()};
}

} // namespace civ
