#include "support/settingsfile.h"

#include <QFile>
#include <QSettings>
#include <QTest>

namespace {
const QString kGroup = QStringLiteral("settings/");
}

void WriteSettingsFile(const QString& path, const SettingsValues& values) {
    QSettings s(path, QSettings::IniFormat);
    auto set = [&s](const char* key, const QString& value) {
        if (!value.isNull()) {
            s.setValue(kGroup + QLatin1String(key), value);
        }
    };
    set("comport", values.comPort);
    set("BaudRate", values.baudRate);
    set("ChirpTime", values.chirpTime);
    set("RadioAddress", values.radioAddress);
    s.sync();
    QVERIFY2(s.status() == QSettings::NoError, qPrintable(path));
}

QString StoredSetting(const QString& path, const QString& key) {
    QSettings s(path, QSettings::IniFormat);
    return s.value(kGroup + key).toString();
}

QString SettingsFiles::New(const SettingsValues& values) {
    const QString path = dir.filePath(QStringLiteral("settings%1.conf").arg(++count));
    WriteSettingsFile(path, values);
    return path;
}

QString SettingsFiles::NewWithText(const QByteArray& text) {
    const QString path = dir.filePath(QStringLiteral("settings%1.conf").arg(++count));
    QFile file(path);
    if (!text.isEmpty() && file.open(QIODevice::WriteOnly)) {
        file.write(text);
    }
    return path;
}
