#include "settings/storefile.h"

namespace storefile {

std::unique_ptr<QSettings> Open(const QString& iniFile) {
    if (!iniFile.isEmpty()) {
        return std::make_unique<QSettings>(iniFile, QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Tavmirok"), QStringLiteral("Tavmirok"));
}

QString ReadText(const QSettings& store, const char* key, const char* fallback) {
    const QVariant value = store.value(QLatin1String(key), QString::fromLatin1(fallback));
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

} // namespace storefile
