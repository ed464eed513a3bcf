#include "settings/planstore.h"

#include "settings/storefile.h"

#include <QRegularExpression>

namespace {

QStringList Texts(const sweep::PlanChoice& choice) {
    return {QString::number(choice.tuningTime.count()),
            QLatin1String(choice.fineSteps ? storefile::kTrue : storefile::kFalse)};
}

QStringList ReadPlanTexts(const QSettings& store) {
    return {storefile::ReadText(store, PlanStore::kTuningTimeKey,
                                QString::number(sweep::kDefaultTuningTime.count())),
            storefile::ReadText(store, PlanStore::kFineStepsKey, storefile::kFalse)};
}

} // namespace

PlanStore::PlanStore(QString iniFile) : iniFile(std::move(iniFile)) {}

std::optional<std::chrono::milliseconds> PlanStore::ParseTuningTime(const QString& text) {
    static const QRegularExpression wholeNumber(QStringLiteral("^[0-9]{1,4}$"));
    const QString trimmed = text.trimmed();
    if (!wholeNumber.match(trimmed).hasMatch()) {
        return std::nullopt;
    }
    const std::chrono::milliseconds ms{trimmed.toInt()};
    if (ms > sweep::kLongestTuningTime) {
        return std::nullopt;
    }
    return ms;
}

sweep::PlanChoice PlanStore::Load(QStringList* notices) const {
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    const QStringList texts = ReadPlanTexts(*store);
    store->endGroup();
    sweep::PlanChoice choice;
    if (const auto tuning = ParseTuningTime(texts.at(0))) {
        choice.tuningTime = *tuning;
    } else {
        notices->append(QStringLiteral("The stored tuning time \"%1\" in %2 is not a whole number "
                                       "of milliseconds from 0 to %3, so %4 ms is used.")
                            .arg(texts.at(0), store->fileName(),
                                 QString::number(sweep::kLongestTuningTime.count()),
                                 QString::number(sweep::kDefaultTuningTime.count())));
    }
    if (texts.at(1) == QLatin1String(storefile::kTrue) ||
        texts.at(1) == QLatin1String(storefile::kFalse)) {
        choice.fineSteps = texts.at(1) == QLatin1String(storefile::kTrue);
    } else {
        notices->append(QStringLiteral("The stored fine-steps value \"%1\" in %2 is neither true "
                                       "nor false, so fine steps are off.")
                            .arg(texts.at(1), store->fileName()));
    }
    return choice;
}

Status PlanStore::Save(const sweep::PlanChoice& choice) const {
    const QStringList texts = Texts(choice);
    auto store = storefile::Open(iniFile);
    store->beginGroup(QLatin1String(kGroup));
    store->setValue(QLatin1String(kTuningTimeKey), texts.at(0));
    store->setValue(QLatin1String(kFineStepsKey), texts.at(1));
    store->endGroup();
    store->sync();
    const bool saved = storefile::Reached(*store, iniFile, [&texts](QSettings& fresh) {
        fresh.beginGroup(QLatin1String(kGroup));
        return ReadPlanTexts(fresh) == texts;
    });
    return saved
               ? Status::Ok()
               : storefile::NotSaved(store->fileName(), QStringLiteral("listening plan settings"));
}
