// Configure > Publishing...: what OK stores in the groups "publish" and "station", and the values
// it refuses with the dialog left open and nothing stored.

#include "settings/publishstore.h"
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
        const QFileDevice::Permissions mine = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QTest::newRow("on, TLS on its port")
            << true << "DL0ABC/P"
            << "broker.example" << true << mine << "mqtts://broker.example:8883"
            << "";
        QTest::newRow("off, no broker yet") << false << "DL0ABC"
                                            << "" << false << QFileDevice::Permissions() << ""
                                            << "";
        QTest::newRow("password readable by others")
            << true << "DL0ABC"
            << "broker.example" << false << (mine | QFileDevice::ReadOther) << ""
            << "chmod 600";
        QTest::newRow("on without a broker") << true << "DL0ABC"
                                             << "" << false << QFileDevice::Permissions() << ""
                                             << "broker";
        QTest::newRow("callsign with a space, even off")
            << false << "DL 0ABC"
            << "" << false << QFileDevice::Permissions() << ""
            << "may hold";
    }
    void ok_storesOrRefuses() {
        QFETCH(bool, on);
        QFETCH(QString, callsign);
        QFETCH(QString, host);
        QFETCH(bool, tls);
        QFETCH(QFileDevice::Permissions, passwordFile);
        QFETCH(QString, url);
        QFETCH(QString, problem);
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
            return;
        }
        QTRY_VERIFY(dialog.isNull());
        const PublishChoice choice = stored.Load();
        QCOMPARE(choice.enabled, on);
        QCOMPARE(choice.url, url);
        QCOMPARE(choice.user, QStringLiteral("station"));
        QCOMPARE(choice.passwordFile, passwordFile ? password : QString());
        QCOMPARE(stored.LoadCallsign(), callsign);
        QFile file(ini);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!file.readAll().contains("s3cret"));
    }
};

QTEST_MAIN(TestPublishDialog)
#include "tst_publishdialog.moc"
