#include "ui/rigdialog.h"

#include "ui/formlayout.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kListMinimumHeight = 200;

} // namespace

RigDialog::RigDialog(const RigChoice& current, QWidget* parent)
    : RigDialog(current, HamlibModels(), parent) {}

RigDialog::RigDialog(const RigChoice& current, const QList<HamlibModel>& knownModels,
                     QWidget* parent)
    : QDialog(parent), model(current.model), models(knownModels) {
    setWindowTitle(QStringLiteral("Rig Control"));

    civButton = new QRadioButton(QStringLiteral("Built-in CI-V (the serial port)"), this);
    civButton->setObjectName(QStringLiteral("civButton"));
    networkButton =
        new QRadioButton(QStringLiteral("Network: rigctld or an SDR program's remote control"));
    networkButton->setObjectName(QStringLiteral("networkButton"));
    hamlibButton = new QRadioButton(QStringLiteral("Hamlib: the radio model directly, on the "
                                                   "serial port"));
    hamlibButton->setObjectName(QStringLiteral("hamlibButton"));
    auto* group = new QButtonGroup(this);
    for (QRadioButton* button : {civButton, networkButton, hamlibButton}) {
        group->addButton(button);
    }

    addressEdit =
        new QLineEdit(current.address.isEmpty() ? QString::fromLatin1(rigconfig::kDefaultAddress)
                                                : current.address);
    addressEdit->setObjectName(QStringLiteral("addressEdit"));
    addressEdit->setToolTip(QStringLiteral("host:port; rigctld listens on 4532, SDR programs "
                                           "often on 7356"));

    modelFilter = new QLineEdit;
    modelFilter->setObjectName(QStringLiteral("modelFilter"));
    modelFilter->setPlaceholderText(QStringLiteral("Find: maker, model or number"));
    modelFilter->setClearButtonEnabled(true);
    modelList = new QListWidget;
    modelList->setObjectName(QStringLiteral("modelList"));
    modelList->setMinimumHeight(kListMinimumHeight);
    for (const HamlibModel& known : models) {
        auto* item = new QListWidgetItem(known.Label(), modelList);
        item->setData(Qt::UserRole, known.number);
        if (known.number == model) {
            modelList->setCurrentItem(item);
        }
    }
    chosenModel = new QLabel;
    chosenModel->setObjectName(QStringLiteral("chosenModel"));

    problem = formlayout::NewProblemLabel(this, QStringLiteral("problem"));

    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->setObjectName(QStringLiteral("buttons"));

    auto* networkForm = new QFormLayout;
    networkForm->addRow(QStringLiteral("Address"), addressEdit);
    auto* hamlibBox = new QVBoxLayout;
    hamlibBox->addWidget(modelFilter);
    hamlibBox->addWidget(modelList);
    hamlibBox->addWidget(chosenModel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(civButton);
    layout->addWidget(networkButton);
    layout->addLayout(networkForm);
    layout->addWidget(hamlibButton);
    layout->addLayout(hamlibBox);
    layout->addWidget(problem);
    layout->addWidget(buttons);

    if (current.backend == QLatin1String(rigconfig::kBackendNetwork)) {
        networkButton->setChecked(true);
    } else if (current.backend == QLatin1String(rigconfig::kBackendHamlib)) {
        hamlibButton->setChecked(true);
    } else {
        civButton->setChecked(true);
    }
    if (QListWidgetItem* item = modelList->currentItem()) {
        modelList->scrollToItem(item);
    }
    ShowChosenModel();
    BackendToggled();

    connect(group, &QButtonGroup::buttonToggled, this, &RigDialog::BackendToggled);
    connect(modelFilter, &QLineEdit::textChanged, this, &RigDialog::Filter);
    connect(modelList, &QListWidget::itemSelectionChanged, this, &RigDialog::ModelPicked);
    connect(buttons, &QDialogButtonBox::accepted, this, &RigDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RigDialog::reject);
}

RigChoice RigDialog::Choice() const {
    RigChoice choice;
    choice.backend = QString::fromLatin1(networkButton->isChecked()  ? rigconfig::kBackendNetwork
                                         : hamlibButton->isChecked() ? rigconfig::kBackendHamlib
                                                                     : rigconfig::kBackendCiv);
    choice.address = addressEdit->text().trimmed();
    choice.model = model;
    return choice;
}

void RigDialog::accept() {
    const RigChoice choice = Choice();
    if (Status valid = rigconfig::ValidateRigChoice(choice); !valid.IsOk()) {
        problem->setText(valid.Message());
        problem->show();
        // Tall enough for every line of the problem at the present width.
        resize(width(), std::max(height(), sizeHint().height()));
        return;
    }
    problem->hide();
    emit Chosen(choice);
    QDialog::accept();
}

void RigDialog::Filter(const QString& text) {
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (int row = 0; row < modelList->count(); ++row) {
        QListWidgetItem* item = modelList->item(row);
        const bool matches = std::all_of(words.begin(), words.end(), [item](const QString& word) {
            return item->text().contains(word, Qt::CaseInsensitive);
        });
        item->setHidden(!matches);
    }
}

void RigDialog::ModelPicked() {
    const QList<QListWidgetItem*> selected = modelList->selectedItems();
    if (!selected.isEmpty()) {
        model = selected.first()->data(Qt::UserRole).toInt();
    }
    ShowChosenModel();
}

void RigDialog::ShowChosenModel() {
    const auto known = std::find_if(models.begin(), models.end(),
                                    [this](const HamlibModel& m) { return m.number == model; });
    chosenModel->setText(known != models.end() ? QStringLiteral("Chosen: %1").arg(known->Label())
                         : model > 0 ? QStringLiteral("Chosen: Hamlib model %1").arg(model)
                                     : QStringLiteral("No model chosen yet."));
}

void RigDialog::BackendToggled() {
    addressEdit->setEnabled(networkButton->isChecked());
    const bool hamlib = hamlibButton->isChecked();
    modelFilter->setEnabled(hamlib);
    modelList->setEnabled(hamlib);
    problem->hide();
}
