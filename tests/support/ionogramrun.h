#pragma once

// The whole ionogram path in one fixture: a private PulseAudio server with the input "radio",
// the simulated radio writing its audio into it, and the real program without a window
// following a short sweep on that radio whose first step comes `lead` seconds after Start. The
// short period lets the real clock serve, so radio and program need no faked time.

#include "support/pulseserver.h"
#include "support/radiosimprocess.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class IonogramRun {
public:
    static constexpr int kSampleRate = 48000;
    static constexpr int kRunTimeoutMs = 10000;

    // program: the program's path; profile: the sounder as both take it (--period ... --high);
    // radioArguments: the ionosphere; programArguments: after --headless --audio-input radio and
    // the profile; home: the program's HOME (made if missing). False with the reason in Error()
    // otherwise.
    bool Start(const QString& programPath, const QStringList& profile, double period, double lead,
               const QStringList& radioArguments, const QStringList& programArguments,
               const QString& home);
    QString Error() const { return error; }
    // The simulated radio, for its control commands while the program runs.
    RadioSimProcess& Radio() { return radio; }

    // Reads the program's log until pattern matches or the program ends, up to timeoutMs.
    QRegularExpressionMatch WaitFor(const QRegularExpression& pattern, int timeoutMs);
    // Ends the program; false when it did not end in time.
    bool Finish();

    QTemporaryDir folder; // settings; the home given to Start usually lies here too
    QProcess program;
    QString log; // the program's standard error so far

private:
    PulseServer pulse;
    RadioSimProcess radio;
    QString error;
};
