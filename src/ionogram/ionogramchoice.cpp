#include "ionogram/ionogramchoice.h"

#include "core/decimal.h"

#include <cmath>

namespace {

QString Ms(double value) {
    return FormatDecimal(value) + QStringLiteral(" ms");
}

} // namespace

QString IonogramRefusal(const IonogramChoice& choice) {
    if (choice.delayToMs > kHighestDelayToMs) {
        return QStringLiteral("The delays shown can reach up to %1, not %2. Choose a smaller "
                              "\"to\".")
            .arg(Ms(kHighestDelayToMs), Ms(choice.delayToMs));
    }
    if (choice.delayFromMs < kLowestDelayFromMs) {
        return QStringLiteral("The delays shown can start from %1 at the lowest, not %2. Choose "
                              "a larger \"from\".")
            .arg(Ms(kLowestDelayFromMs), Ms(choice.delayFromMs));
    }
    if (choice.delayFromMs >= choice.delayToMs) {
        return QStringLiteral("The delays shown must run upwards: \"from\" (%1) is not below "
                              "\"to\" (%2). For example %3 to %4.")
            .arg(Ms(choice.delayFromMs), Ms(choice.delayToMs),
                 FormatDecimal(ionogram::kDefaultDelayFromMs), Ms(ionogram::kDefaultDelayToMs));
    }
    if (std::abs(choice.audioDelayMs) > kLongestAudioDelayMs) {
        return QStringLiteral("The audio delay %1 is too long: a receiver and sound card delay "
                              "the audio by a few milliseconds, at most %2 either way.")
            .arg(Ms(choice.audioDelayMs), Ms(kLongestAudioDelayMs));
    }
    if (choice.save && choice.folder.trimmed().isEmpty()) {
        return QStringLiteral("Choose a folder for the ionograms, or turn off \"Save "
                              "ionograms\".");
    }
    return QString();
}
