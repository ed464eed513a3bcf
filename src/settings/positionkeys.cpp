#include "settings/positionkeys.h"

#include "geo/position.h"
#include "settings/storefile.h"

namespace positionkeys {

QStringList Texts(const QString& position) {
    const QString text = position.trimmed();
    if (text.isEmpty()) {
        return {QString(), QString(), QString()};
    }
    if (geo::LocatorCentre(text.toStdString())) {
        return {text, QString(), QString()};
    }
    return {QString(), text.section(QLatin1Char(','), 0, 0).trimmed(),
            text.section(QLatin1Char(','), 1).trimmed()};
}

QString Read(const QSettings& store, QString* problem) {
    const QString locator = storefile::ReadText(store, kLocatorKey, "");
    const QString latitude = storefile::ReadText(store, kLatitudeKey, "");
    const QString longitude = storefile::ReadText(store, kLongitudeKey, "");
    const QString text = !locator.isEmpty() ? locator
                         : latitude.isEmpty() && longitude.isEmpty()
                             ? QString()
                             : latitude + QLatin1Char(',') + longitude;
    if (text.isEmpty()) {
        return text;
    }
    if (const geo::PositionText parsed = geo::ParsePosition(text.toStdString()); !parsed.position) {
        *problem = QString::fromStdString(parsed.error);
        return QString();
    }
    return text;
}

void Write(QSettings& store, const QString& position) {
    const QStringList texts = Texts(position);
    const char* keys[] = {kLocatorKey, kLatitudeKey, kLongitudeKey};
    for (int i = 0; i < 3; ++i) {
        if (texts.at(i).isEmpty()) {
            store.remove(QLatin1String(keys[i]));
        } else {
            store.setValue(QLatin1String(keys[i]), texts.at(i));
        }
    }
}

} // namespace positionkeys
