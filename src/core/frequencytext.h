#pragma once

// Frequencies as text for the user: the display's kilohertz, megahertz in messages, and the
// band the station tunes. Pure functions, shared by the CI-V link and the other backends.

#include <QLocale>
#include <QString>
#include <cstdint>

namespace core {

// The band named in advice until the station sets one: the usual sweep, 2 to 30 MHz.
constexpr std::int32_t kDefaultBandLowHz = 2'000'000;
constexpr std::int32_t kDefaultBandHighHz = 30'000'000;

// Formats hertz as kilohertz with the pattern "###,###.000" and the locale's separators:
// 14074000 -> "14,074.000" (English), "14.074,000" (German); 0 -> ".000".
// hz is a whole, finite, non-negative number of hertz, as the receive parser decodes it.
QString FormatKilohertz(double hz, const QLocale& locale = QLocale());

// "7.074 MHz", for messages.
QString MegahertzText(std::int32_t hz);

// The band from lowHz to highHz in the fewest digits: "2 to 30 MHz", "3.5 to 14.1 MHz".
QString BandText(std::int32_t lowHz, std::int32_t highHz);

} // namespace core
