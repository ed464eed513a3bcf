#pragma once

// The serial settings of the radio: the port, its speed and the radio's CI-V address. The station
// owns them (the Serial Port and Radioaddress dialogs change them there) and hands them to the
// backend in use: the built-in CI-V link reads them, Hamlib takes them when it opens the rig.

#include <QString>

struct SerialSettings {
    QString comPort = QStringLiteral("COM2");
    QString baudRate = QStringLiteral("19200");
    int radioAdress = 0; // 0 to FF; 0 keeps a Hamlib model's own default
};
