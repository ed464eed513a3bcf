#pragma once

// A position as the settings file keeps it, the station's in its group and each sounder's in its
// entry: the key Locator (a Maidenhead locator), or the keys Latitude and Longitude (degrees).
// In memory it is the text a user types for it ("JO62qm" or "52.5,13.4"), empty when unknown.

#include <QSettings>
#include <QString>
#include <QStringList>

namespace positionkeys {

constexpr const char* kLocatorKey = "Locator";
constexpr const char* kLatitudeKey = "Latitude";
constexpr const char* kLongitudeKey = "Longitude";

// The texts of the three keys for a position text: the locator, or the latitude and longitude.
QStringList Texts(const QString& position);
// The position text of the current group or array entry; empty when it holds none. A text that
// is not a position is told in *problem and read as unknown.
QString Read(const QSettings& store, QString* problem);
// Writes the keys of the position (removing those it does not use) in the current group.
void Write(QSettings& store, const QString& position);

} // namespace positionkeys
