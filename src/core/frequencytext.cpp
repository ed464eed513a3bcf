#include "core/frequencytext.h"

#include "core/units.h"

#include <cmath>

namespace core {

namespace {

constexpr int kMegahertzDecimals = 3;

// Megahertz with as few decimals as the value needs: 2, 3.5, 7.074.
QString ShortMegahertz(std::int32_t hz) {
    QString text = QString::number(hz / units::kHertzPerMegahertz, 'f', kMegahertzDecimals);
    while (text.endsWith(QLatin1Char('0'))) {
        text.chop(1);
    }
    if (text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    return text;
}

} // namespace

QString FormatKilohertz(double hz, const QLocale& locale) {
    if (!std::isfinite(hz) || hz < 0) {
        hz = 0;
    }
    // The parser's values are whole hertz well inside 2^53, so this is exact.
    const auto wholeHz = static_cast<long long>(std::llround(hz));
    long long kilohertz = wholeHz / 1000;
    const int fraction = static_cast<int>(wholeHz % 1000);

    QString integerPart;
    if (kilohertz > 0) {
        // Group in threes with the locale's separator; no leading zeros.
        QString digits = QString::number(kilohertz);
        const QString group = locale.groupSeparator();
        for (qsizetype i = digits.size() - 3; i > 0; i -= 3) {
            digits.insert(i, group);
        }
        integerPart = digits;
    }
    return integerPart + locale.decimalPoint() +
           QStringLiteral("%1").arg(fraction, 3, 10, QLatin1Char('0'));
}

QString MegahertzText(std::int32_t hz) {
    return QString::number(hz / units::kHertzPerMegahertz, 'f', kMegahertzDecimals) +
           QStringLiteral(" MHz");
}

QString BandText(std::int32_t lowHz, std::int32_t highHz) {
    return QStringLiteral("%1 to %2 MHz").arg(ShortMegahertz(lowHz), ShortMegahertz(highHz));
}

} // namespace core
