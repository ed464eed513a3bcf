// Switching the way to the radio in the Rig Control dialog while a sweep runs: the built-in link
// lets go of its port and the next steps go to rigctld (a stand-in here); switching back opens
// the port again and the steps come on the bus once more. The sweep clock is the fake one.

#include "support/fakerigctld.h"
#include "support/ui/formwithradio.h"
#include "support/ui/toplevel.h"
#include "ui/rigdialog.h"

#include <QAction>
#include <QRadioButton>
#include <QSerialPort>

namespace {

// Chooses a backend in the dialog (opened from the menu) and presses OK.
void Choose(Form1& form, QRadioButton* RigDialog::*backend, const QString& address = QString()) {
    form.RigControl->trigger();
    RigDialog* dialog = form.RigControlDialog();
    QVERIFY(dialog);
    (dialog->*backend)->click();
    if (!address.isEmpty()) {
        dialog->addressEdit->setText(address);
    }
    dialog->accept();
    QTRY_VERIFY_WITH_TIMEOUT(!form.RigControlDialog(), kWaitMs);
}

} // namespace

class TestRigSwitch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { DrainMessages(); }

    void switchDuringSweep_stepsFollowTheBackendChosen() {
        FormWithRadio rig;
        CHECKED(rig.StartRadio());
        CHECKED(rig.OpenWindow());
        CHECKED(rig.Arm());
        CHECKED(rig.Step(0, 2));

        FakeRigctld rigctld;
        QVERIFY(rigctld.Listen());
        CHECKED(Choose(*rig.form, &RigDialog::networkButton, rigctld.Address()));
        // The built-in link was connected before: wait for the new backend's own connection.
        QTRY_VERIFY_WITH_TIMEOUT(rig.form->Feed().Snap().rig.backend != QLatin1String("civ") &&
                                     rig.form->Feed().Snap().rig.connected,
                                 kWaitMs);
        {
            // Nobody holds the port now.
            QSerialPort port(rig.sim.DevicePath());
            QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        }
        for (int step = 1; step <= 2; ++step) {
            CHECKED(rig.ClockToStep(step));
            QTRY_VERIFY_WITH_TIMEOUT(
                rigctld.lines.contains("F " + QByteArray::number(StepHz(step))), kWaitMs);
        }
        QCOMPARE(rig.Frames().size(), 2);

        CHECKED(Choose(*rig.form, &RigDialog::civButton));
        QTRY_VERIFY_WITH_TIMEOUT(rig.form->Feed().Snap().rig.backend == QLatin1String("civ") &&
                                     rig.form->Feed().Snap().rig.connected,
                                 kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(rigctld.Current() == nullptr ||
                                     rigctld.Current()->state() != QAbstractSocket::ConnectedState,
                                 kWaitMs);
        CHECKED(rig.ClockToStep(3));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Frames().size(), 3, kWaitMs);
        QCOMPARE(rig.Frames().last(), SetFrame(StepHz(3)));
        QVERIFY(!rigctld.lines.contains("F " + QByteArray::number(StepHz(3))));
        QCOMPARE(VisibleMessageBoxTexts(), QStringList());
    }

    // A connection's outcome comes from the station's thread as an event: a rig chosen in Rig
    // Control that cannot connect is told in a box, as the port at load is.
    void chosenRigCannotConnect_toldInBox() {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("Tavmirok.conf"));
        WriteSettingsFile(ini, {.comPort = QStringLiteral("/dev/tavmirok-none")});
        Form1 form({{}, ini});
        form.Load();
        QTRY_VERIFY(!VisibleMessageBoxTexts().isEmpty());
        QCOMPARE(DrainMessages().size(), 1); // the port at load
        CHECKED(Choose(form, &RigDialog::civButton));
        QTRY_COMPARE(VisibleMessageBoxTexts().size(), 1);
        QVERIFY2(VisibleMessageBoxTexts().constFirst().contains(QStringLiteral("no such device")),
                 qPrintable(VisibleMessageBoxTexts().constFirst()));
    }
};

QTEST_MAIN(TestRigSwitch)
#include "tst_rigswitch.moc"
