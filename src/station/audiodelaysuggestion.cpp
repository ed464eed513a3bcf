#include "station/audiodelaysuggestion.h"

#include "geo/layerfit.h"

#include <cmath>

std::optional<double> AudioDelaySuggestion::Take(const QDate& dayUtc, double estimateMs) {
    if (dayUtc != day) {
        day = dayUtc;
        estimates.clear();
        told.reset();
    }
    if (!std::isfinite(estimateMs)) {
        return std::nullopt;
    }
    estimates.push_back(estimateMs);
    if (Sweeps() < kLeastSweeps) {
        return std::nullopt;
    }
    const double rounded =
        std::round(geo::MedianAudioDelay(estimates) / kShownStepMs) * kShownStepMs;
    if (told && std::abs(*told - rounded) < kShownStepMs / 2) {
        return std::nullopt;
    }
    told = rounded;
    return rounded;
}

QString AudioDelaySuggestion::Text(double suggestedMs, double inForceMs, int sweeps) {
    const QString from =
        QStringLiteral("the median of %1 sweeps today that showed 1F and 2F").arg(sweeps);
    if (std::abs(suggestedMs - inForceMs) < kShownStepMs / 2) {
        return QStringLiteral("The audio delay setting of %1 ms agrees with %2.")
            .arg(inForceMs, 0, 'f', 1)
            .arg(from);
    }
    return QStringLiteral("The audio delay looks like %1 ms, not the %2 ms set (%3). Every "
                          "height and the modes depend on it: set %1 ms in Configure > Audio "
                          "Input, or with --audio-delay, if it holds.")
        .arg(suggestedMs, 0, 'f', 1)
        .arg(inForceMs, 0, 'f', 1)
        .arg(from);
}
