#pragma once

// The listening plan: one radio following several chirp sounders. A column needs the radio on
// its frequency for only some 70 ms around the instant the sweep passes it, so in the rest of a
// step the radio can listen to others. Each step of each followed sweep gets a slot: when the
// sweep passes the frequency, the span of audio its column needs, and when the radio is told to
// tune. The radio holds one frequency at a time, so no two slots overlap; the order of the
// followed list is the priority. Pure: values in, values out.

#include "core/status.h"
#include "sweep/profile.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace sweep {

constexpr int kMostFollowed = 8; // sounders followed at once
constexpr std::chrono::milliseconds kDefaultTuningTime{50};
constexpr std::chrono::milliseconds kLongestTuningTime{1000};
// Fine steps: a slot every kFineStep within kFineSpan of the last sweep's MOF.
constexpr double kFineStep = 25;  // kHz
constexpr double kFineSpan = 500; // kHz either side

// The plan's settings as the user keeps them (the settings group "plan").
struct PlanChoice {
    std::chrono::milliseconds tuningTime = kDefaultTuningTime;
    bool fineSteps = false;

    bool operator==(const PlanChoice&) const = default;
};

// A sounder the radio follows, as the plan sees it.
struct FollowedSounder {
    QString name;
    Profile profile;
    double chirpTime = 0; // s after the period's start at which the sweep passes 0 Hz
    // The audio one column takes, in seconds around the instant the sweep passes its frequency,
    // the receiver's and sound card's delay included (the dechirp's need-from and need-to).
    double windowFrom = 0;
    double windowTo = 0;
    std::optional<double> mofKhz; // the MOF of its last scaled sweep, where fine steps centre
};

struct PlanSettings {
    // From the command until the radio's audio is on the new frequency: the command's way to the
    // radio, its synthesizer and filters, the sound card.
    double tuningTime = std::chrono::duration<double>(kDefaultTuningTime).count(); // s
    // The shortest time from one command to the next that the backend allows (rig/backendtraits.h).
    double commandSpacing = 0; // s
    bool fineSteps = false;
    // How much later than it is sent a command may reach the radio through the backend, beyond
    // what the tuning time allows for (rig/backendtraits.h): each slot's command goes this much
    // earlier.
    double commandReach = 0; // s
};

struct Slot {
    int sounder = 0;           // index in the followed list
    double periodStart = 0;    // the start of the period whose sweep this column belongs to
    double gridKhz = 0;        // the frequency planned: a step, or a fine step near the MOF
    bool fine = false;         // a fine step between two steps
    std::int32_t listenHz = 0; // what the radio is told, a fraction of a step off where moved
    double crossing = 0;       // when the sweep passes listenHz
    double windowFrom = 0;     // the audio the column takes, absolute
    double windowTo = 0;
    double tuneAt = 0; // when the radio is told to tune

    bool Shifted() const;
};

struct SounderTally {
    int columns = 0;  // slots planned
    int listened = 0; // of these, given a time on the radio
    int shifted = 0;  // of those, moved off their frequency
};

struct ListeningPlan {
    std::vector<Slot> listening; // by tuning instant
    std::vector<Slot> leftOut;   // no room on the radio: their crossing, window and tuning unmoved
    std::vector<SounderTally> tally; // one per followed sounder
};

// The slots of every column whose frequency one of the sounders' sweeps passes in [from, to):
// times in seconds on one continuous axis (periods counted from its 0, UTC midnight; after
// 86400 the next day continues). The slots of a sweep come out the same whatever span asks for
// them, so a scheduler can plan ahead span by span.
//
// With one sounder and no fine steps the radio tunes each step half a step before the sweep
// reaches it, as it always has. Otherwise each slot tunes the tuning time before its window.
// Every sounder's steps are placed in the list's order, then the fine steps likewise; a slot
// that collides with one placed before it moves to a frequency less than half its step away
// (the sweep passes F + d exactly d/R later) or, where nothing fits, is left out.
ListeningPlan MakePlan(const std::vector<FollowedSounder>& sounders, const PlanSettings& settings,
                       double from, double to);

// The share of the radio's time one sounder's steps take: per step, the tuning time and its
// window, or the command spacing where that is longer.
double RadioShare(const FollowedSounder& sounder, const PlanSettings& settings);

// Whether the radio can serve the set: at most kMostFollowed, a tuning time from 0 to
// kLongestTuningTime, each window after its tuning, and their shares together within the whole
// of the radio's time. A refusal says why and what would fit.
Status CheckPlan(const std::vector<FollowedSounder>& sounders, const PlanSettings& settings);

} // namespace sweep
