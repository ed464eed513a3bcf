#include "settings/storefile.h"

namespace storefile {

std::unique_ptr<QSettings> Open(const QString& iniFile) {
    if (!iniFile.isEmpty()) {
        return std::make_unique<QSettings>(iniFile, QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Tavmirok"), QStringLiteral("Tavmirok"));
}

QString ReadText(const QSettings& store, const char* key, const QString& fallback) {
    const QVariant value = store.value(QLatin1String(key), fallback);
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(','));
    }
    return value.toString();
}

QString ReadText(const QSettings& store, const char* key, const char* fallback) {
    return ReadText(store, key, QString::fromLatin1(fallback));
}

bool Reached(const QSettings& written, const QString& iniFile,
             const std::function<bool(QSettings&)>& readsBack) {
    if (written.status() == QSettings::NoError) {
        return true;
    }
    if (written.status() != QSettings::FormatError) {
        return false;
    }
    auto fresh = Open(iniFile);
    return fresh->status() == QSettings::NoError && readsBack(*fresh);
}

Status NotSaved(const QString& location, const QString& what) {
    return Status::Error(QStringLiteral("The %1 could not be saved to %2. Check that the folder "
                                        "exists and that you may write there, then try again.")
                             .arg(what, location),
                         QStringLiteral("the %1 could not be saved").arg(what));
}

} // namespace storefile
