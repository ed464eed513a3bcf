#pragma once

// The "Rig Control" dialog: chooses how the radio is reached (the built-in CI-V link, rigctld's
// network protocol at host:port, or a Hamlib model driven directly) and emits the choice once OK
// finds it valid. It reads and changes nothing else; whoever opens it applies the choice.

#include "rig/hamlibmodels.h"
#include "rig/rigchoice.h"

#include <QDialog>
#include <QList>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;

class RigDialog : public QDialog {
    Q_OBJECT
public:
    // Lists every model the Hamlib library knows.
    explicit RigDialog(const RigChoice& current, QWidget* parent = nullptr);
    // Lists the models given (tests).
    RigDialog(const RigChoice& current, const QList<HamlibModel>& models,
              QWidget* parent = nullptr);

    // What the controls say now. The address and model are kept whichever backend is chosen,
    // so switching back finds them again.
    RigChoice Choice() const;

    QRadioButton* civButton = nullptr;
    QRadioButton* networkButton = nullptr;
    QRadioButton* hamlibButton = nullptr;
    QLineEdit* addressEdit = nullptr;
    QLineEdit* modelFilter = nullptr; // words that every listed model must contain
    QListWidget* modelList = nullptr;
    QLabel* chosenModel = nullptr;
    QLabel* problem = nullptr; // why OK did not close the dialog; hidden until then
    QDialogButtonBox* buttons = nullptr;

signals:
    // OK with a valid choice; the dialog then closes.
    void Chosen(const RigChoice& choice);

public slots:
    void accept() override;

private:
    void Filter(const QString& text);
    void ModelPicked();
    void BackendToggled();
    void ShowChosenModel();

    int model = 0;
    QList<HamlibModel> models;
};
