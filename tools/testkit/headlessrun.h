#pragma once

// The windowless program run on a shifted clock (libfaketime) so that a sweep's first step comes
// a few seconds after launch, and the set-frequency frames the simulated radio logged with their
// lateness against the steps' planned instants. Shared by the end-to-end tests and benchmarks.

#include "sweep/profile.h"

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>

// A set-frequency frame (CI-V 05, or 25 00 as Hamlib sends it) as the radio logged it.
struct WireFrame {
    double time; // UTC seconds of day on the radio's (real) clock
    std::int32_t hz;
};

// The set-frequency frames in the simulated radio's log, in order.
QList<WireFrame> SetFrequencyFrames(const QStringList& logLines);

// The set-frequency frames from the park tuning of `profile` on: frames before it (Hamlib sets a
// frequency of its own when it opens the radio) are left out.
QList<WireFrame> FramesFromPark(const QStringList& logLines, const sweep::Profile& profile);

// libfaketime's library, or an empty string when it is not installed.
QString FaketimeLibrary();

// Seconds since UTC midnight, now.
double UtcTimeOfDay();

// The program on its own: no display, no platform, settings and runtime folders in `folder`.
void PrepareWindowless(QProcess& program, const QTemporaryDir& folder);
// The same with the settings under configHome and a runtime folder of the caller's (a private
// sound server's, say).
void PrepareWindowless(QProcess& program, const QString& configHome, const QString& runtime);

class HeadlessRun {
public:
    // Plans a run of `profile` with `chirpTime` whose clock runs so far from the real one that
    // the first step of a sweep comes `lead` seconds after now.
    HeadlessRun(const sweep::Profile& profile, double chirpTime, double lead);
    ~HeadlessRun();
    HeadlessRun(const HeadlessRun&) = delete;
    HeadlessRun& operator=(const HeadlessRun&) = delete;

    // Launches `program --headless --verbose` with the profile, the chirp time and `arguments`
    // under libfaketime `faketime`; false when it did not start.
    bool Start(const QString& programPath, const QString& faketime, const QStringList& arguments);

    // Step k's planned instant, in real UTC seconds of day.
    double Mark(int step) const;
    // How long after step k's mark the frame reached the radio (negative: early).
    double Lateness(const WireFrame& frame, int step) const;

    QProcess program;
    QTemporaryDir folder;
    const sweep::Profile profile;
    const double chirpTime;
    double firstStep = 0; // on the program's clock
    double offset = 0;    // the program's clock minus the real one
};
