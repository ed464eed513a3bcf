#pragma once

// What the ionogram is made from and where it goes: the audio input, its delay, the delays shown
// and the archive, with the limits of what the ionogram can use and the check that refuses the
// rest. The settings store, the Audio Input dialog and the windowless options share them.

#include "ionogram/sounder.h"

#include <QString>

struct IonogramChoice {
    QString audioInput; // PulseAudio source name; empty: no capture
    double audioDelayMs = 0;
    double delayFromMs = ionogram::kDefaultDelayFromMs;
    double delayToMs = ionogram::kDefaultDelayToMs;
    QString folder;
    bool save = true;

    bool operator==(const IonogramChoice&) const = default;
};

// Limits of the values the ionogram accepts, in ms.
constexpr double kHighestDelayToMs = 100;
constexpr double kLowestDelayFromMs = -kHighestDelayToMs;
constexpr double kLongestAudioDelayMs = 1000; // either way

// What is wrong with the delays or the folder, for the user; empty when they can be used.
QString IonogramRefusal(const IonogramChoice& choice);
