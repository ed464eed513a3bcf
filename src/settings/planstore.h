#pragma once

// The listening plan's settings, kept as text in the group "plan" of the same store as the
// others: how long the radio needs to tune (ms) and whether to add fine steps near the MOF.

#include "core/status.h"
#include "sweep/listeningplan.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <optional>

class PlanStore {
public:
    static constexpr const char* kGroup = "plan";
    static constexpr const char* kTuningTimeKey = "TuningTime"; // ms, a whole number
    static constexpr const char* kFineStepsKey = "FineSteps";   // "true" or "false"

    // The user's native store, or an INI file for tests.
    explicit PlanStore(QString iniFile = QString());

    // The stored choice; a value that does not hold up takes its default and is told in notices.
    sweep::PlanChoice Load(QStringList* notices) const;
    Status Save(const sweep::PlanChoice& choice) const;

    // A tuning time as typed (whole milliseconds from 0 to 1000), or none.
    static std::optional<std::chrono::milliseconds> ParseTuningTime(const QString& text);

private:
    QString iniFile;
};
