#include "settings/publishstore.h"

#include "settings/storefile.h"

PublishStore::PublishStore(QString iniFile) : iniFile(std::move(iniFile)) {}

PublishChoice PublishStore::Load() const {
    const PublishChoice defaults;
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    PublishChoice choice;
    choice.enabled = storefile::ReadText(*store, kEnabledKey, "false") == QLatin1String("true");
    choice.url = storefile::ReadText(*store, kUrlKey, QString()).trimmed();
    choice.user = storefile::ReadText(*store, kUserKey, QString());
    choice.passwordFile = storefile::ReadText(*store, kPasswordFileKey, QString());
    choice.caFile = storefile::ReadText(*store, kCaFileKey, QString());
    choice.prefix = storefile::ReadText(*store, kPrefixKey, defaults.prefix).trimmed();
    store->endGroup();
    return choice;
}

QString PublishStore::LoadCallsign() const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kStationGroup));
    return storefile::ReadText(*store, kCallsignKey, QString()).trimmed();
}

Status PublishStore::Save(const PublishChoice& choice) const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    store->setValue(QLatin1String(kEnabledKey),
                    choice.enabled ? QStringLiteral("true") : QStringLiteral("false"));
    store->setValue(QLatin1String(kUrlKey), choice.url);
    store->setValue(QLatin1String(kUserKey), choice.user);
    store->setValue(QLatin1String(kPasswordFileKey), choice.passwordFile);
    store->setValue(QLatin1String(kCaFileKey), choice.caFile);
    store->setValue(QLatin1String(kPrefixKey), choice.prefix);
    store->endGroup();
    store->sync();
    const bool saved = storefile::Reached(*store, iniFile, [this, &choice](QSettings&) {
        return PublishStore(iniFile).Load() == choice;
    });
    return saved ? Status::Ok()
                 : storefile::NotSaved(store->fileName(), QStringLiteral("publishing settings"));
}

Status PublishStore::SaveCallsign(const QString& callsign) const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kStationGroup));
    store->setValue(QLatin1String(kCallsignKey), callsign);
    store->endGroup();
    store->sync();
    const bool saved = storefile::Reached(*store, iniFile, [this, &callsign](QSettings&) {
        return PublishStore(iniFile).LoadCallsign() == callsign;
    });
    return saved ? Status::Ok()
                 : storefile::NotSaved(store->fileName(), QStringLiteral("the callsign"));
}
