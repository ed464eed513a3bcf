#pragma once

// Configure > Publishing...: who the station is on the network (its callsign and where it stands,
// which every published path needs) and the broker it
// publishes each scaled sweep to: host and port, TLS, user, the file holding the password, the
// CA file, the topic prefix, and on or off. OK emits the values; values that cannot be used to
// publish are explained in the dialog, which stays open. The password itself is never shown nor
// kept: only the path of its file.

#include "settings/stationstore.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class PublishDialog : public QWidget {
    Q_OBJECT
public:
    // current: the settings in force (the callsign, the station's position, the group "publish").
    explicit PublishDialog(const StationSettings& current, QWidget* parent = nullptr);

    QCheckBox* enabled = nullptr;
    QLineEdit* callsign = nullptr;
    QLineEdit* position = nullptr; // where the station stands: a locator or LAT,LON
    QLineEdit* host = nullptr;
    QSpinBox* port = nullptr;
    QCheckBox* tls = nullptr;
    QLineEdit* user = nullptr;
    QLineEdit* passwordFile = nullptr;
    QLineEdit* caFile = nullptr;
    QLineEdit* prefix = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
    // Why the values were refused; hidden until then.
    QLabel* problem = nullptr;

signals:
    void choiceAccepted(const QString& callsign, const QString& stationAt,
                        const PublishChoice& choice);

protected:
    // Escape closes it without choosing, as Cancel does (and as in the other dialogs).
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OkClick();

    StationSettings current;
};
