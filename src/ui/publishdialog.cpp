#include "ui/publishdialog.h"

#include "geo/position.h"
#include "network/publisher.h"
#include "network/topics.h"
#include "ui/formlayout.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int kHighestPort = 65535;

// A file's edit with a Browse... button beside it that picks the file.
QHBoxLayout* FileRow(QLineEdit* edit, const QString& title, QWidget* dialog) {
    auto* browse = formlayout::NewButton(QStringLiteral("Browse..."),
                                         edit->objectName() + QStringLiteral("Browse"), dialog);
    QObject::connect(browse, &QPushButton::clicked, dialog, [edit, title, dialog] {
        const QString chosen = QFileDialog::getOpenFileName(dialog, title, edit->text());
        if (!chosen.isEmpty()) {
            edit->setText(chosen);
        }
    });
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(browse);
    return row;
}

} // namespace

PublishDialog::PublishDialog(const StationSettings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), current(settings) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Publishing"));
    const PublishChoice& choice = settings.publish;
    QString ignored;
    const network::BrokerAddress broker =
        network::ParseBrokerUrl(choice.url, &ignored).value_or(network::BrokerAddress{});

    enabled = new QCheckBox(QStringLiteral("Publish every scaled sweep"), this);
    enabled->setObjectName(QStringLiteral("enabled"));
    enabled->setChecked(choice.enabled);
    callsign = formlayout::NewEdit(QStringLiteral("callsign"), settings.callsign, this);
    callsign->setMaxLength(network::kLongestCallsign);
    host = formlayout::NewEdit(QStringLiteral("host"), broker.host, this);
    port = new QSpinBox(this);
    port->setObjectName(QStringLiteral("port"));
    port->setRange(1, kHighestPort);
    port->setValue(broker.port);
    tls = new QCheckBox(QStringLiteral("TLS (mqtts://), the broker's certificate verified"), this);
    tls->setObjectName(QStringLiteral("tls"));
    tls->setChecked(broker.tls);
    // The usual port follows TLS unless the user chose another.
    connect(tls, &QCheckBox::toggled, this, [this](bool on) {
        if (port->value() == (on ? network::kMqttPort : network::kMqttsPort)) {
            port->setValue(on ? network::kMqttsPort : network::kMqttPort);
        }
    });
    auto* brokerRow = new QHBoxLayout;
    brokerRow->addWidget(host, 1);
    brokerRow->addWidget(new QLabel(QStringLiteral("port"), this));
    brokerRow->addWidget(port);
    user = formlayout::NewEdit(QStringLiteral("user"), choice.user, this);
    passwordFile = formlayout::NewEdit(QStringLiteral("passwordFile"), choice.passwordFile, this);
    passwordFile->setToolTip(QStringLiteral("A file holding the password alone, readable by its "
                                            "owner only (chmod 600)"));
    passwordFile->setMinimumWidth(passwordFile->fontMetrics().averageCharWidth() * 40);
    caFile = formlayout::NewEdit(QStringLiteral("caFile"), choice.caFile, this);
    caFile->setToolTip(QStringLiteral("With TLS: the CA certificates (PEM) the broker's must "
                                      "chain to; empty for the system's"));
    prefix = formlayout::NewEdit(QStringLiteral("prefix"), choice.prefix, this);

    auto* values = new QFormLayout;
    values->addRow(QString(), enabled);
    values->addRow(QStringLiteral("Callsign"), callsign);
    position = formlayout::NewEdit(QStringLiteral("position"), settings.stationAt, this);
    position->setPlaceholderText(QStringLiteral("JO62qm or 52.5,13.4"));
    position->setToolTip(QStringLiteral("Where the station stands: a Maidenhead locator of 4 to "
                                        "10 characters, or latitude,longitude in degrees"));
    values->addRow(QStringLiteral("Station position"), position);
    values->addRow(QStringLiteral("Broker"), brokerRow);
    values->addRow(QString(), tls);
    values->addRow(QStringLiteral("User"), user);
    values->addRow(QStringLiteral("Password file"),
                   FileRow(passwordFile, QStringLiteral("The file holding the password"), this));
    values->addRow(QStringLiteral("CA file"),
                   FileRow(caFile, QStringLiteral("The CA certificates to trust"), this));
    values->addRow(QStringLiteral("Topic prefix"), prefix);

    formlayout::LayOutFormDialog(this, values, &problem, &okButton, &cancelButton);
    connect(okButton, &QPushButton::clicked, this, &PublishDialog::OkClick);
}

void PublishDialog::OkClick() {
    StationSettings chosen = current;
    chosen.callsign = callsign->text().trimmed();
    chosen.stationAt = position->text().trimmed();
    if (!chosen.stationAt.isEmpty()) {
        const geo::PositionText parsed = geo::ParsePosition(chosen.stationAt.toStdString());
        if (!parsed.position) {
            problem->setText(QStringLiteral("The station position \"%1\" cannot be used: %2. "
                                            "Give a locator such as JO62qm, or latitude,"
                                            "longitude such as 52.5,13.4.")
                                 .arg(chosen.stationAt, QString::fromStdString(parsed.error)));
            problem->show();
            return;
        }
    }
    PublishChoice& choice = chosen.publish;
    choice.enabled = enabled->isChecked();
    const QString hostText = host->text().trimmed();
    choice.url = hostText.isEmpty()
                     ? QString()
                     : QStringLiteral("%1://%2:%3")
                           .arg(tls->isChecked() ? QStringLiteral("mqtts") : QStringLiteral("mqtt"),
                                hostText)
                           .arg(port->value());
    choice.user = user->text().trimmed();
    choice.passwordFile = passwordFile->text().trimmed();
    choice.caFile = caFile->text().trimmed();
    choice.prefix = prefix->text().trimmed();
    // Off, the values are kept as typed for later; a callsign is checked whenever given.
    const QString refusal = choice.enabled              ? network::PublishRefusal(chosen)
                            : chosen.callsign.isEmpty() ? QString()
                                                        : network::CallsignRefusal(chosen.callsign);
    if (!refusal.isEmpty()) {
        problem->setText(refusal);
        problem->show();
        return;
    }
    emit choiceAccepted(chosen.callsign, chosen.stationAt, choice);
    close();
}

void PublishDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
