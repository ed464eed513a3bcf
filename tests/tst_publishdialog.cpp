// Configure > Publishing...: what OK stores in the groups "publish" and "station", and the values
// it refuses with the dialog left open and nothing stored.

#include "settings/publishstore.h"
#include "settings/stationstore.h"
#include "support/settingsfile.h"
#include "ui/form1.h"
#include "ui/publishdialog.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

class TestPublishDialog : public QObject {
    Q_OBJECT
    SettingsFiles files;

private slots:
    void ok_storesOrRefuses_data() {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QFileDevice::Permissions>("passwordFile"); // none: no file
        QTest::addColumn<QString>("url");                           // stored; empty when refused
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("position"); // typed over the stored JO62qm
        const QFileDevice::Permissions mine = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QTest::newRow("on, TLS on its port")
            << true << "DL0ABC/P"
            << "broker.example" << true << mine << "mqtts://broker.example:8883"
            << ""
            << "JO62qm";
        QTest::newRow("off, no broker yet") << false << "DL0ABC"
                                            << "" << false << QFileDevice::Permissions() << ""
                                            << ""
                                            << "JO62qm";
        QTest::newRow("password readable by others")
            << true << "DL0ABC"
            << "broker.example" << false << (mine | QFileDevice::ReadOther) << ""
            << "chmod 600"
            << "JO62qm";
        QTest::newRow("on without a broker") << true << "DL0ABC"
                                             << "" << false << QFileDevice::Permissions() << ""
                                             << "broker"
                                             << "JO62qm";
        QTest::newRow("callsign with a space, even off")
            << false << "DL 0ABC"
            << "" << false << QFileDevice::Permissions() << ""
            << "may hold"
            << "JO62qm";
        QTest::newRow("position as latitude,longitude")
            << true << "DL0ABC"
            << "broker.example" << false << mine << "mqtt://broker.example:1883"
            << ""
            << "52.5,13.4";
        QTest::newRow("position off the globe") << true << "DL0ABC"
                                                << "broker.example" << false << mine << ""
                                                << "cannot be used"
                                                << "52.5,213.4";
        QTest::newRow("position cleared, publishing on") << true << "DL0ABC"
                                                         << "broker.example" << false << mine << ""
                                                         << "locator"
                                                         << "";
    }
    void ok_storesOrRefuses() {
        QFETCH(bool, on);
        QFETCH(QString, callsign);
        QFETCH(QString, host);
        QFETCH(bool, tls);
        QFETCH(QFileDevice::Permissions, passwordFile);
        QFETCH(QString, url);
        QFETCH(QString, problem);
        QFETCH(QString, position);
        const QString ini = files.NewWithText("[station]\nLocator=JO62qm\n");
        const QString password = ini + QStringLiteral(".password");
        if (passwordFile) {
            QFile file(password);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("s3cret\n") > 0);
            QVERIFY(file.setPermissions(passwordFile));
        }
        Form1 form({{}, ini});
        form.Publishing->trigger();
        QPointer<PublishDialog> dialog = form.findChild<PublishDialog*>();
        QVERIFY(dialog);
        QCOMPARE(dialog->port->value(), 1883);
        dialog->enabled->setChecked(on);
        dialog->callsign->setText(callsign);
        dialog->position->setText(position);
        dialog->host->setText(host);
        dialog->tls->setChecked(tls);
        dialog->user->setText(QStringLiteral("station"));
        dialog->passwordFile->setText(passwordFile ? password : QString());
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);

        const PublishStore stored(ini);
        if (!problem.isEmpty()) {
            QVERIFY(dialog && dialog->problem->isVisible());
            QVERIFY2(dialog->problem->text().contains(problem),
                     qPrintable(dialog->problem->text()));
            QCOMPARE(stored.Load(), PublishChoice());
            QCOMPARE(stored.LoadCallsign(), QString());
            QStringList notices;
            QCOMPARE(StationStore(ini).Load(&notices).stationAt, QStringLiteral("JO62qm"));
            return;
        }
        QTRY_VERIFY(dialog.isNull());
        const PublishChoice choice = stored.Load();
        QCOMPARE(choice.enabled, on);
        QCOMPARE(choice.url, url);
        QCOMPARE(choice.user, QStringLiteral("station"));
        QCOMPARE(choice.passwordFile, passwordFile ? password : QString());
        QCOMPARE(stored.LoadCallsign(), callsign);
        QStringList notices;
        QCOMPARE(StationStore(ini).Load(&notices).stationAt, position);
        QFile file(ini);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("s3cret"));
    }
};

QTEST_MAIN(TestPublishDialog)
#include "tst_publishdialog.moc"
