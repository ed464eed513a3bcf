#pragma once

// View > Sounders Heard: parks the radio on a frequency (or on several in turn) and lists the
// sounders the station hears crossing it, the confirmed ones apart from crossings not
// yet confirmed. A confirmed sounder can be saved by name into the saved sounders of
// Configure > Sounder, or followed at once: following is handed to the main window, which owns
// the chirp-time box and the stored profile.

#include "ionogram/soundergrouper.h"
#include "settings/savedsounders.h"
#include "sweep/profile.h"

#include <QTimer>
#include <QWidget>
#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class StationFeed;

class HeardWindow : public QWidget {
    Q_OBJECT
public:
    // The columns of the confirmed list; the unconfirmed list has the same up to kListenedOn.
    enum Column { kName, kRate, kTiming, kHeard, kSnr, kLastHeard, kListenedOn, kSave, kFollow };

    // A saved sounder is the one heard when the rate and period are the same and the chirp times
    // lie within this of each other (either way round the period): the heard one carries the
    // path's delay (1 to 20 ms) and the audio path's, while two sounders of one rate and period
    // start whole seconds apart.
    static constexpr double kSameChirpS = 0.05;

    HeardWindow(StationFeed& feed, SavedSounders& saved, QWidget* parent = nullptr);

    // The profile a heard sounder is saved and followed with: 2 to 30 MHz in 100 kHz steps at
    // its rate and period, the top lowered to the last step one period holds when the whole band
    // does not fit (100 kHz/s every 120 s: 2 to 13.9 MHz).
    static sweep::Profile ProfileOf(const ionogram::HeardSounder& sounder);
    // The chirp time a heard sounder is saved and followed with: the whole second nearest the
    // heard one. Sounders start on whole seconds; the fraction heard is the path's delay and the
    // audio path's, which the ionogram is to show as the echoes' delay rather than take away.
    static double ChirpTimeOf(const ionogram::HeardSounder& sounder);
    // The listeners' notation "period:chirp time", "300:78.004"; "-" while the period is open.
    static QString Timing(const ionogram::HeardSounder& sounder);
    // The saved sounder that is this heard one (kSameChirpS), or nullptr.
    static const SavedSounder* SavedMatch(const ionogram::HeardSounder& sounder,
                                          const std::vector<SavedSounder>& saved);

    QLineEdit* frequencies = nullptr; // kHz, several separated by commas
    QPushButton* listenButton = nullptr;
    QPushButton* stopButton = nullptr;
    QLabel* state = nullptr; // what the radio is doing
    QTableWidget* confirmedList = nullptr;
    QTableWidget* unconfirmedList = nullptr;
    QLabel* lsbNotice = nullptr; // the radio seems to be in LSB; hidden until then
    QLabel* problem = nullptr;   // what went wrong; hidden until then

signals:
    // Follow was clicked: the single profile and chirp time to put in force and arm.
    void followClicked(const sweep::Profile& profile, double chirpTime);

public slots:
    // Reads the lists again from the listener and the saved sounders.
    void Refresh();

private:
    void ListenClick();
    void StopClick();
    void ShowState();
    // By value: the lists may be drawn anew while the name is asked.
    void SaveClick(ionogram::HeardSounder sounder);
    void FollowClick(const ionogram::HeardSounder& sounder);
    void ShowProblem(const QString& text);
    // The heard sounder's profile, or nothing after telling why the radio cannot follow it.
    std::optional<sweep::Profile> Followable(const ionogram::HeardSounder& sounder);

    StationFeed& feed;
    SavedSounders& saved;
    QTimer refresh;      // many detections in one pass of the event loop redraw the lists once
    bool asking = false; // a question is up: the buttons stay until it is answered
};
