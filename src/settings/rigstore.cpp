#include "settings/rigstore.h"

#include "settings/storefile.h"

namespace {

QStringList Texts(const RigChoice& choice) {
    return {choice.backend, choice.address, QString::number(choice.model)};
}

QStringList ReadRigTexts(const QSettings& store) {
    return {storefile::ReadText(store, rigconfig::kBackendKey, rigconfig::kBackendCiv),
            storefile::ReadText(store, rigconfig::kAddressKey, rigconfig::kDefaultAddress),
            storefile::ReadText(store, rigconfig::kModelKey, "0")};
}

} // namespace

RigStore::RigStore(QString iniFile) : iniFile(std::move(iniFile)) {}

RigChoice RigStore::Load(QStringList* notices) const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(rigconfig::kSettingsGroup));
    const QStringList texts = ReadRigTexts(*store);
    store->endGroup();
    const RigChoice choice = rigconfig::RigChoiceFromStored(texts.at(0), texts.at(1), texts.at(2));
    if (const Status valid = rigconfig::ValidateRigChoice(choice); !valid.IsOk()) {
        notices->append(QStringLiteral("The stored rig control in %1 does not hold up: %2 The "
                                       "built-in CI-V link is used; choose again in Configure > "
                                       "Rig Control.")
                            .arg(store->fileName(), valid.Message()));
        return rigconfig::DefaultRigChoice();
    }
    return choice;
}

Status RigStore::Save(const RigChoice& choice) const {
    const QStringList texts = Texts(choice);
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(rigconfig::kSettingsGroup));
    store->setValue(QLatin1String(rigconfig::kBackendKey), texts.at(0));
    store->setValue(QLatin1String(rigconfig::kAddressKey), texts.at(1));
    store->setValue(QLatin1String(rigconfig::kModelKey), texts.at(2));
    store->endGroup();
    store->sync();
    const bool saved = storefile::Reached(*store, iniFile, [&texts](QSettings& fresh) {
        fresh.beginGroup(QLatin1String(rigconfig::kSettingsGroup));
        return ReadRigTexts(fresh) == texts;
    });
    return saved ? Status::Ok()
                 : storefile::NotSaved(store->fileName(), QStringLiteral("rig control settings"));
}
