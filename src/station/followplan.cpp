#include "station/followplan.h"

#include "ionogram/dechirp.h"
#include "rig/backendtraits.h"
#include "station/ionogramrecorder.h"

#include <chrono>

IonogramChoice SounderIonogram(IonogramChoice choice, const std::optional<DelayRange>& delays) {
    if (delays) {
        choice.delayFromMs = delays->fromMs;
        choice.delayToMs = delays->toMs;
    }
    return choice;
}

std::vector<sweep::FollowedSounder> PlanSounders(const StationSettings& settings) {
    ionogram::DechirpSettings dechirp;
    dechirp.sampleRate = IonogramRecorder::kSampleRate;
    dechirp.audioDelayMs = settings.ionogram.audioDelayMs;
    std::vector<sweep::FollowedSounder> sounders;
    for (const SavedSounder& saved : FollowedSounders(settings)) {
        // A far sounder's longer delays make its slots longer.
        const IonogramChoice own = SounderIonogram(settings.ionogram, saved.delays);
        dechirp.delayFromMs = own.delayFromMs;
        dechirp.delayToMs = own.delayToMs;
        dechirp.sweepRateKhzPerS = saved.profile.sweepRate;
        const ionogram::DechirpColumn::Span span = ionogram::DechirpColumn::NeededSpan(dechirp);
        sounders.push_back(
            {saved.name, saved.profile, saved.chirpTime, span.from, span.to, std::nullopt});
    }
    return sounders;
}

sweep::PlanSettings PlanSettingsFor(const StationSettings& settings) {
    sweep::PlanSettings plan;
    plan.tuningTime = std::chrono::duration<double>(settings.plan.tuningTime).count();
    const BackendTraits traits = TraitsOf(settings.rig, settings.basic.baudRate.toInt());
    plan.commandSpacing = traits.commandSpacing;
    plan.fineSteps = settings.plan.fineSteps;
    plan.commandReach = traits.commandReach;
    return plan;
}

Status CheckFollowed(const StationSettings& settings) {
    return sweep::CheckPlan(PlanSounders(settings), PlanSettingsFor(settings));
}
