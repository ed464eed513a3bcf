#pragma once

// Settings files as Tavmirok keeps them (group "settings": comport, BaudRate, ChirpTime,
// RadioAddress), written before a window loads them and read back after it has saved them.

#include <QString>
#include <QTemporaryDir>

struct SettingsValues {
    QString comPort;
    QString baudRate = QStringLiteral("19200");
    QString chirpTime = QStringLiteral("78");
    QString radioAddress = QStringLiteral("0"); // the decimal text, as stored
};

// Writes the four values to the file at path; a null QString leaves its key out.
void WriteSettingsFile(const QString& path, const SettingsValues& values);

// The text stored under one key ("comport", "ChirpTime" ...) of the file at path.
QString StoredSetting(const QString& path, const QString& key);

// A new settings file per call, in a folder of its own: Qt caches what it read from a path, so
// each window that must read fresh values needs a file it has not seen before.
class SettingsFiles {
public:
    QString New(const SettingsValues& values); // returns the file's path
    // A file holding text as it is (none at all when text is empty).
    QString NewWithText(const QByteArray& text = QByteArray());

private:
    QTemporaryDir dir;
    int count = 0;
};
