// Everything a user can type wrong, box by box: the chirp time at Start, the port name and line
// speed in the "Serial Port" dialog, the address in the "Radio" dialog. Each is refused with its
// own message, and nothing that was working before is changed by it.

#include "support/pty.h"
#include "support/settingsfile.h"
#include "support/ui/toplevel.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"

#include <QTest>

namespace {

constexpr int kSettleMs = 50; // enough for a frame to reach the pseudo-terminal, if one were sent

QString ChirpMessage(const QString& typed) {
    return QStringLiteral("The chirp time \"%1\" is not a number of seconds from 0 to 299. Type "
                          "the second of the five-minute period at which the sounder starts, for "
                          "example 78.")
        .arg(typed);
}

QString PortMessage(const QString& typed) {
    return QStringLiteral("The serial port \"%1\" is not a port name. Choose COM1 to COM255 (COM1 "
                          "is /dev/ttyS0) or type the device path of your CI-V interface, such as "
                          "/dev/ttyUSB0, in Configure > Serial Port.")
        .arg(typed);
}

QString SpeedMessage(const QString& typed) {
    return QStringLiteral("The line speed \"%1\" is not a speed. Choose a whole number of bits per "
                          "second, such as 19200, the CI-V speed set in the radio's menu, in "
                          "Configure > Serial Port.")
        .arg(typed);
}

enum class Box { ChirpTime, PortName, Speed, Address };

} // namespace

Q_DECLARE_METATYPE(Box)

class TestBadInput : public QObject {
    Q_OBJECT
    SettingsFiles settingsFiles;

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { CloseAllWindows(); }

    void everyBadInput_refusedWithItsMessage_data() {
        QTest::addColumn<Box>("box");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");

        auto chirp = [](const char* name, const QString& typed) {
            QTest::newRow(name) << Box::ChirpTime << typed << ChirpMessage(typed);
        };
        chirp("chirp: empty", "");
        chirp("chirp: blanks", "   ");
        chirp("chirp: 12a", "12a");
        chirp("chirp: 300", "300");
        chirp("chirp: 300.0", "300.0");
        chirp("chirp: rounds up to 300", "299.99999999999999999");
        chirp("chirp: -5", "-5");
        chirp("chirp: -0.5", "-0.5");
        chirp("chirp: nan", "nan");
        chirp("chirp: inf", "inf");
        chirp("chirp: 1e308", "1e308");
        chirp("chirp: 1e2 (exponent)", "1e2");
        chirp("chirp: hex", "0x10");
        chirp("chirp: comma in the C locale", "78,5");
        chirp("chirp: two numbers", "1 2");
        chirp("chirp: full-width digits", QStringLiteral("\uFF17\uFF18"));
        chirp("chirp: 400 digits", QString(400, QLatin1Char('9')));
        chirp("chirp: placeholder", "%1");

        auto port = [](const char* name, const QString& typed) {
            QTest::newRow(name) << Box::PortName << typed << PortMessage(typed);
        };
        port("port: empty", "");
        port("port: blank", " ");
        port("port: COM", "COM");
        port("port: COMX", "COMX");
        port("port: COM0", "COM0");
        port("port: COM256", "COM256");
        port("port: COM1000", "COM1000");
        port("port: COM-1", "COM-1");
        port("port: COM 1", "COM 1");
        port("port: abc", "abc");
        port("port: relative device path", "ttyUSB0");
        port("port: placeholder", "COM%1");
        QTest::newRow("port: device that does not exist")
            << Box::PortName << "/dev/tavmirok-none"
            << "Cannot open the serial port /dev/tavmirok-none: there is no such device. Check "
               "that the CI-V interface is plugged in and the radio is on, then choose its port "
               "in Configure > Serial Port.";

        auto speed = [](const char* name, const QString& typed) {
            QTest::newRow(name) << Box::Speed << typed << SpeedMessage(typed);
        };
        speed("speed: empty", "");
        speed("speed: abc", "abc");
        speed("speed: 0", "0");
        speed("speed: 0000", "0000");
        speed("speed: -9600", "-9600");
        speed("speed: +19200", "+19200");
        speed("speed: 19200.5", "19200.5");
        speed("speed: 1e5", "1e5");
        speed("speed: beyond 32 bits", "99999999999");
        speed("speed: with unit", "19200 bd");

        // The address messages are spelled out in tst_dialogs; here only that one is shown.
        auto address = [](const char* name, const QString& typed) {
            QTest::newRow(name) << Box::Address << typed << QString();
        };
        address("address: empty", "");
        address("address: blanks", "  ");
        address("address: G", "G");
        address("address: -1", "-1");
        address("address: 0x4E", "0x4E");
        address("address: 4E h", "4E h");
        address("address: trimmed", " 4G ");
        address("address: 100", "100");
        address("address: 4E4E", "4E4E");
        address("address: 00100", "00100");
        address("address: 17 digits", "FFFFFFFFFFFFFFFFF");
    }

    void everyBadInput_refusedWithItsMessage() {
        QFETCH(Box, box);
        QFETCH(QString, typed);
        QFETCH(QString, message);

        // A working set-up: the port open on a pseudo-terminal, the radio at 4E.
        PtyPair pty;
        const QString settings = settingsFiles.New({.comPort = pty.SlavePath(),
                                                    .chirpTime = QString(), // not stored
                                                    .radioAddress = QStringLiteral("78")});
        Form1 form({[] { return 36000.0; }, settings});
        form.Load();
        form.show();
        QCoreApplication::processEvents(); // load-time messages show once the window is up
        QTRY_VERIFY_WITH_TIMEOUT(form.Feed().Snap().rig.connected, 5000);
        QCOMPARE(VisibleMessageBoxTexts(), QStringList());

        switch (box) {
        case Box::ChirpTime:
            form.Text2->setText(typed);
            QTest::mouseClick(form.StartButton, Qt::LeftButton);
            QTRY_COMPARE(VisibleMessageBoxTexts(), QStringList(message));
            // Nothing was armed or sent; the box keeps what was typed.
            QCOMPARE(form.Label3->text(), QString());
            QVERIFY(form.Feed().Snap().phase == feed::Phase::Idle);
            QCOMPARE(pty.Read(kSettleMs), QByteArray());
            QCOMPARE(form.Text2->text(), typed);
            break;
        case Box::PortName:
        case Box::Speed: {
            form.SerialPort->trigger();
            Form2* dialog = form.SerialPortDialog();
            QVERIFY(dialog);
            dialog->Combo1->setEditText(box == Box::PortName ? typed : pty.SlavePath());
            dialog->Combo2->setEditText(box == Box::Speed ? typed : QStringLiteral("19200"));
            QTest::mouseClick(dialog->Command1, Qt::LeftButton);
            QTRY_VERIFY(dialog->portProblem->isVisible());
            // The dialog stays open with the reason and the texts as typed.
            QCOMPARE(form.SerialPortDialog(), dialog);
            QVERIFY(dialog->isVisible());
            QVERIFY(dialog->portProblem->isVisible());
            QCOMPARE(dialog->portProblem->text(), message);
            QCOMPARE(dialog->Combo1->currentText(), box == Box::PortName ? typed : pty.SlavePath());
            QCOMPARE(dialog->Combo2->currentText(),
                     box == Box::Speed ? typed : QStringLiteral("19200"));
            QVERIFY(!form.Feed().Snap().rig.connected);
            QCOMPARE(VisibleMessageBoxTexts(), QStringList());
            // Corrected, the next OK opens the port.
            dialog->Combo1->setEditText(pty.SlavePath());
            dialog->Combo2->setEditText(QStringLiteral("19200"));
            QTest::mouseClick(dialog->Command1, Qt::LeftButton);
            QTRY_VERIFY(form.Feed().Snap().rig.connected);
            break;
        }
        case Box::Address: {
            form.RadioAddress->trigger();
            Form3* dialog = form.RadioDialog();
            QVERIFY(dialog);
            dialog->Text1->setText(typed);
            QTest::mouseClick(dialog->Command1, Qt::LeftButton);
            QCOMPARE(form.RadioDialog(), dialog);
            QVERIFY(dialog->isVisible());
            QVERIFY(dialog->addressProblem->isVisible());
            QVERIFY(!dialog->addressProblem->text().isEmpty());
            form.Feed().Sync();
            QCOMPARE(form.Feed().Snap().stored.radioAdress,
                     0x4E); // the previous address stays in force
            QCOMPARE(VisibleMessageBoxTexts(), QStringList());
            break;
        }
        }
    }
};

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
