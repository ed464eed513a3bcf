#pragma once

// Port names and line speeds as the user types them, checked and turned into what the serial
// layer and Hamlib open. Pure functions, shared by every backend that reaches a serial port.

#include "core/status.h"

#include <QString>

namespace core {

// "COM<n>" (any case, n 1 to 255) names the n-th serial port: /dev/ttyS<n-1> on Linux,
// COM<n> on Windows. An absolute device path is used as it stands. Anything else is refused
// with a message that quotes the text.
Status ResolvePortName(const QString& comPort, QString* device);
// A line speed is a whole number of bits per second above 0.
Status ParseBaudRate(const QString& baudRate, qint32* bitsPerSecond);

} // namespace core
