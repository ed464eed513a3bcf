#pragma once

// Units of frequency and time, one definition each, for every layer.

namespace units {

constexpr double kHertzPerKilohertz = 1000;
constexpr double kKilohertzPerMegahertz = 1000;
constexpr double kHertzPerMegahertz = kHertzPerKilohertz * kKilohertzPerMegahertz;

constexpr double kMillisecondsPerSecond = 1000;
constexpr double kSecondsPerMillisecond = 1 / kMillisecondsPerSecond;
constexpr int kSecondsPerMinute = 60;
constexpr int kSecondsPerHour = 3600;
constexpr double kSecondsPerDay = 86400; // times of day wrap here

// The radix of hexadecimal text (bytes on the bus, radio addresses).
constexpr int kHexBase = 16;

} // namespace units
