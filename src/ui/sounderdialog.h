#pragma once

// Configure > Sounder: the sweep the radio follows (rate, period, band, step) in the units a
// listener reads them in, and the sounders the user saved by name with their chirp times. OK
// emits the accepted values; the dialog changes no other window. Each saved sounder has a Follow
// box: the ones ticked are followed together through the listening plan. A saved sounder may
// have delays of its own (a far one needs 20 to 40 ms); without, its ionogram shows the
// ionogram's. And a site and position of its own, typed or picked from the known sites: with
// the station's, its sweeps are read as the layer over the path's midpoint.

#include "settings/savedsounders.h"
#include "sweep/profile.h"

#include <QDialog>
#include <QLocale>
#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

class SounderDialog : public QDialog {
    Q_OBJECT
public:
    // profile and chirpTime: what is in force now (the chirp time is offered when saving a
    // sounder); saved: the sounders the user saved, edited here and observed: a sounder saved
    // elsewhere meanwhile (Sounders Heard) joins the list at once.
    SounderDialog(const sweep::Profile& profile, double chirpTime, SavedSounders& saved,
                  QWidget* parent = nullptr);

    // The profile the five texts spell (rate kHz/s, period s, low and high MHz, step kHz), read
    // with the locale's decimal separator or ".", or what is wrong with them.
    struct Read {
        std::optional<sweep::Profile> profile;
        QString problem;
    };
    static Read ReadProfile(const QString& rate, const QString& period, const QString& low,
                            const QString& high, const QString& step, const QLocale& locale);

    // Whether the radio can follow the sounders ticked in this list; OK asks it before keeping
    // the ticks. Unset: every set of at most sweep::kMostFollowed is taken.
    using FollowCheck = std::function<Status(const std::vector<SavedSounder>&)>;
    void SetFollowCheck(FollowCheck check) { followCheck = std::move(check); }

    // How a saved sounder is listed: "Cyprus  300:78  100 kHz/s  2 to 30 MHz  100 kHz steps",
    // and "  20 to 40 ms" where it has delays of its own.
    static QString Describe(const SavedSounder& sounder);

    // A saved sounder's own delays as typed (both empty: none, the ionogram's), or what is wrong
    // with them.
    struct ReadDelays {
        std::optional<DelayRange> delays;
        QString problem;
    };
    static ReadDelays ReadDelayRange(const QString& from, const QString& to, const QLocale& locale);

    QLineEdit* sweepRate = nullptr;     // kHz/s
    QLineEdit* period = nullptr;        // s
    QLineEdit* lowFrequency = nullptr;  // MHz
    QLineEdit* highFrequency = nullptr; // MHz
    QLineEdit* stepSize = nullptr;      // kHz
    QListWidget* savedList = nullptr;
    QLineEdit* savedName = nullptr;
    QLineEdit* savedChirpTime = nullptr; // s
    QLineEdit* savedDelayFrom = nullptr; // ms; empty with savedDelayTo: the ionogram's delays
    QLineEdit* savedDelayTo = nullptr;   // ms
    QComboBox* knownSites = nullptr;     // picking one fills the two below
    QLineEdit* savedSite = nullptr;
    QLineEdit* savedAt = nullptr; // a locator or "LAT,LON"; empty: unknown
    QPushButton* saveButton = nullptr;
    QPushButton* renameButton = nullptr;
    QPushButton* deleteButton = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
    // Why the values or a change to the list were refused; hidden until then.
    QLabel* problem = nullptr;

signals:
    // OK with values the radio can follow: the profile, and the chirp time of the saved sounder
    // picked, if one was.
    void profileAccepted(const sweep::Profile& profile, std::optional<double> chirpTime);
    // OK kept the saved sounders with these Follow ticks (emitted after profileAccepted).
    void followAccepted(const std::vector<SavedSounder>& saved);

private:
    void Show(const sweep::Profile& profile);
    void ListSaved();
    void Pick();
    void FollowToggled(QListWidgetItem* item);
    void SaveClick();
    void RenameClick();
    void DeleteClick();
    void OkClick();
    // The typed profile with its chirp time, or nothing after showing why not.
    std::optional<SavedSounder> Typed();
    // Writes the list to the store; on failure shows why and keeps the list as it was.
    bool Store(const std::vector<SavedSounder>& sounders);
    // The saved sounders changed elsewhere: the list as it now is, with the Follow ticks set
    // here and not yet confirmed by OK kept.
    void TakeSaved();
    void ShowProblem(const QString& text);

    void PickKnownSite(int index);

    SavedSounders& model;
    bool placeEdited = false; // the site or position typed since a sounder was picked
    bool storing = false;     // this dialog's own change is being written
    QLocale locale;
    std::vector<SavedSounder> saved;
    std::optional<double> pickedChirpTime;
    FollowCheck followCheck;
};
