#pragma once

// The main window: the yellow frequency display, the chirp-time box, Start and the status label,
// a view of the station behind them. It loads the settings and opens the port before it is
// shown, writes the settings back when it closes, and opens the configuration dialogs. The
// station runs in an engine of its own; the window reaches it only through its feed.

#include "network/publisher.h"
#include "settings/savedsounders.h"
#include "settings/stationstore.h"
#include "station/engine.h"
#include "station/stationfeed.h"

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <set>

class Form2;
class Form3;
class frmAbout;
class MessageQueue;
class RigDialog;
class QAction;
class IonogramWindow;
class PropagationWindow;
class HeardWindow;
namespace web {
class WebFace;
}

class Form1 : public QMainWindow {
    Q_OBJECT
public:
    struct Options {
        // Seconds since UTC midnight; the real clock if empty. Read on the station's thread as
        // well as the window's.
        std::function<double()> clock;
        QString settingsFile; // an INI file instead of the user's store, if set
    };

    explicit Form1(Options options = {}, QWidget* parent = nullptr);
    ~Form1() override;

    // Reads the settings, then opens the port. Runs once, before the window is first shown.
    void Load();

    // The station this window shows, as every face sees it: `comPort`, `baudRate`,
    // `radioAdress` and the port's state are in its snapshot.
    StationFeed& Feed() const { return engine->Feed(); }

    // Tells the user something, in a message box that does not block; the same text already
    // shown or waiting is not shown again.
    void ShowMessage(const QString& text);

    // Controls, named as the design names them.
    QLineEdit* Text1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QPushButton* StartButton = nullptr;
    QLabel* statusLine = nullptr;
    QAction* Exit = nullptr;
    QAction* SerialPort = nullptr;
    QAction* RadioAddress = nullptr;
    QAction* Sounder = nullptr;
    QAction* RigControl = nullptr;
    QAction* AudioInput = nullptr;
    QAction* Publishing = nullptr;
    QAction* IonogramView = nullptr;
    QAction* PropagationView = nullptr;
    QAction* HeardView = nullptr;
    QAction* OpenInBrowser = nullptr;
    QAction* About = nullptr;

    // The open dialogs, or null.
    Form2* SerialPortDialog() const;
    Form3* RadioDialog() const;
    frmAbout* AboutDialog() const;
    RigDialog* RigControlDialog() const;
    HeardWindow* SoundersHeardWindow() const;
    // The station's page when the group "web" asks for it, or null.
    web::WebFace* WebPage() const { return webFace.get(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void ShowSerialPortDialog();
    void ShowRadioDialog();
    void ShowAboutDialog();
    void ShowSounderDialog();
    // Gives the station the saved sounders, so the sweep events name the one followed.
    void FollowSavedSounders();
    // The stored settings with these saved sounders and the window's own values: what the plan
    // is checked and made from.
    StationSettings WithSaved(const std::vector<SavedSounder>& saved) const;
    // Follows the saved sounders ticked (none: the single profile again) and shows it.
    void ApplyFollowed(const std::vector<SavedSounder>& saved);
    // The chirp-time box is the single sounder's: disabled while saved sounders are followed.
    void ShowFollowed();
    void ShowRigDialog();
    void ShowAudioDialog();
    void ShowPublishDialog();
    // Publishes with these settings when they say so (a publisher already running is stopped).
    void StartPublisher(const StationSettings& settings);
    void ShowIonogramWindow();
    void ShowPropagationWindow();
    void ShowHeardWindow();
    // Serves the station's page where the group "web" says; what stands in the way is shown.
    void ServeWeb(const WebChoice& choice);
    // Follow in the Sounders Heard window: the heard sounder becomes the single profile and chirp
    // time, stored as Configure > Sounder and the chirp box store them, and the sweep is armed.
    void FollowHeard(const sweep::Profile& profile, double chirpTime);
    // A dialog of this window's, made once and brought to the front when asked for again.
    void Raise(QWidget* dialog);
    // The station's state changed: the phase label, the status line, the followed sounders.
    void ShowState();
    void UpdateStatusLine();
    StoredSettings CurrentSettings() const;
    // Writes the group a dialog's OK chose (the profile, the rig, the ionogram); a failure is
    // shown.
    template <typename Group> void SaveGroup(const Group& group);

    Options options;
    std::function<double()> clock; // options.clock, or the UTC clock
    std::unique_ptr<Engine> engine;
    // Every group is read and written through it.
    StationStore store;
    // The sounders the user saved, as the station and every window of this one see them.
    SavedSounders savedSounders;
    std::unique_ptr<MessageQueue> messages;
    QTimer statusRefresh;
    QString chirpToolTip; // Text2's own, given back when no saved sounder is followed
    std::optional<QStringList> shownFollowed; // the followed sounders the window shows
    // The connections the window asked for (at load, another rig): a failure is shown in a box.
    std::set<quint64> connectsAsked;
    QPointer<Form2> form2;
    QPointer<Form3> form3;
    QPointer<frmAbout> about;
    QPointer<QWidget> sounderDialog;
    QPointer<QWidget> rigDialog;
    QPointer<QWidget> audioDialog;
    QPointer<QWidget> publishDialog;
    QPointer<IonogramWindow> ionogramWindow;
    QPointer<PropagationWindow> propagationWindow;
    QPointer<HeardWindow> heardWindow;
    std::unique_ptr<web::WebFace> webFace;
    QString lastNotice;
    bool unloaded = false;
    bool exposeWatched = false;
    // Each scaled sweep to the broker, when the settings' group "publish" says so; its problems
    // are shown as the station's are.
    std::unique_ptr<network::Publisher> publisher;
};
