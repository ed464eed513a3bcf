#pragma once

// Configure > Audio Input...: the sound card the ionogram listens to, the delay of the
// receiver's audio, the delays shown, where the ionograms are saved and the IARU region whose
// bands the day plot shows. OK emits the values;
// values the ionogram cannot use are explained in the dialog, which stays open.

#include "ionogram/audiocapture.h"
#include "settings/ionogramstore.h"

#include <QLocale>
#include <QWidget>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class AudioDialog : public QWidget {
    Q_OBJECT
public:
    // current: what is in force; inputs: the sound server's inputs (ionogram::ListAudioInputs).
    AudioDialog(const IonogramChoice& current, const std::vector<ionogram::AudioInput>& inputs,
                QWidget* parent = nullptr);

    // The choice the texts spell, read with the locale's decimal separator or ".", or why it
    // cannot be used.
    struct Read {
        std::optional<IonogramChoice> choice;
        QString problem;
    };
    static Read ReadChoice(const QString& audioInput, const QString& audioDelay,
                           const QString& delayFrom, const QString& delayTo, const QString& folder,
                           bool save, const QLocale& locale);

    QComboBox* audioInput = nullptr; // "none" first; each item's data is the source name
    QLineEdit* audioDelay = nullptr; // ms
    QLineEdit* delayFrom = nullptr;  // ms
    QLineEdit* delayTo = nullptr;    // ms
    QLineEdit* folder = nullptr;
    QPushButton* browseButton = nullptr;
    QCheckBox* save = nullptr;
    QComboBox* iaruRegion = nullptr; // "Region 1" to "Region 3", each item's data its number
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
    // Why the values were refused; hidden until then.
    QLabel* problem = nullptr;

signals:
    void choiceAccepted(const IonogramChoice& choice);

protected:
    // Escape closes it without choosing, as Cancel does (and as in the other dialogs).
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OkClick();
    void BrowseClick();

    QLocale locale;
};
