// The "Serial Port" and "Radio" dialogs against a real main window: what they show, what OK
// takes and refuses, the port reopened through them on pseudo-terminals, one instance of each,
// and keys and the close box that must change nothing.

#include "link/commport.h"
#include "support/hex.h"
#include "support/pty.h"
#include "support/settingsfile.h"
#include "support/ui/toplevel.h"
#include "support/ui/twips.h"
#include "ui/form1.h"
#include "ui/form2.h"
#include "ui/form3.h"

#include <QLineEdit>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QStringList kFixedPorts = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"};
const QStringList kBaudRates = {"1200", "2400", "4800", "9600", "19200", "38400"};
const QString kMissingDevice = QStringLiteral("/dev/tavmirok-none");

// The help every refusal of the "Radio" dialog ends with.
const QString kAddressHelp =
    QStringLiteral("Type the radio's CI-V address as hexadecimal digits only, 0 to FF, "
                   "such as 4E (0 for most radios).");

// A frequency report from the radio: 14,074.000 kHz.
const char* const kFrequencyFrame = "FE FE 00 4E 00 00 40 07 14 00 FD";
const QString kFrequencyShown = QStringLiteral("14,074.000");

void TypeInto(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

// Typed as a user types: the keys go to the box that has the focus.
void TypeInto(QComboBox* combo, const QString& text) {
    combo->lineEdit()->selectAll();
    QTest::keyClick(combo, Qt::Key_Backspace);
    QTest::keyClicks(combo, text);
}

} // namespace

class TestDialogs : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    SettingsFiles settingsFiles;

    // A main window that has loaded its settings and tried to open comPort.
    std::unique_ptr<Form1> LoadedMain(const QString& comPort,
                                      const QString& address = QStringLiteral("0")) {
        QLocale::setDefault(QLocale(QLocale::English)); // the display's digit grouping
        auto form = std::make_unique<Form1>(
            Form1::Options{{}, settingsFiles.New({.comPort = comPort, .radioAddress = address})});
        form->Load();
        form->Feed().Sync();
        QCoreApplication::processEvents(); // load-time messages show once loading is done
        return form;
    }

    // The station of a window not loaded given these port, speed and address, as loaded
    // settings would give them.
    static void Given(Form1& form, const QString& comPort, const QString& baudRate, int address) {
        StationSettings settings;
        settings.basic.comPort = comPort;
        settings.basic.baudRate = baudRate;
        settings.basic.radioAdress = address;
        form.Feed().Apply(settings);
        form.Feed().Sync();
    }
    // The outcome a spied Connected told.
    static const Status& Outcome(const QSignalSpy& connected, int k) {
        return *static_cast<const Status*>(connected.at(k).at(0).constData());
    }
    static StoredSettings Stored(Form1& form) { return form.Feed().Snap().stored; }
    static bool PortIsOpen(Form1& form) { return form.Feed().Snap().rig.connected; }
    // Waits until the commands given so far are done and what they told has arrived.
    static void Settle(Form1& form) {
        form.Feed().Sync();
        QCoreApplication::processEvents();
    }

    static Form2* OpenSerialPortDialog(Form1& form) {
        form.SerialPort->trigger();
        return form.SerialPortDialog();
    }
    static Form3* OpenRadioDialog(Form1& form) {
        form.RadioAddress->trigger();
        return form.RadioDialog();
    }

    // The port works: a frame the radio sends reaches the display.
    static bool FrameReachesDisplay(Form1& form, PtyPair& pty) {
        form.Text1->setText(QStringLiteral("199999999"));
        pty.Write(hex(kFrequencyFrame));
        return QTest::qWaitFor([&] { return form.Text1->text() == kFrequencyShown; }, 5000);
    }

private slots:
    void cleanup() { CloseMessageBoxes(); }

    // ---- "Serial Port" ----

    void serialPort_textsAndPlaces() {
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Form2* dialog = OpenSerialPortDialog(form);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Serial Port"));
        QCOMPARE(dialog->Label1->text(), QStringLiteral("Comm Port"));
        QCOMPARE(dialog->Label2->text(), QStringLiteral("Baud Rate"));
        QCOMPARE(dialog->Command1->text(), QStringLiteral("OK"));
        QCOMPARE(dialog->Combo1->toolTip(), QStringLiteral("Radio Com Port"));
        QCOMPARE(dialog->Combo2->toolTip(), QStringLiteral("Baud rate"));
        QVERIFY(dialog->Combo1->isEditable());
        QVERIFY(dialog->Combo2->isEditable());
        QVERIFY(!dialog->portProblem->isVisible());
        // Modeless and without owner: a window of its own, the main window stays usable.
        QVERIFY(dialog->isWindow());
        QVERIFY(!dialog->parentWidget());
        QVERIFY(!dialog->isModal());

        ExpectTwipsGeometry(dialog->Label1, 0, 0, 1215, 495);
        ExpectTwipsGeometry(dialog->Combo1, 0, 240, 1125, 315);
        ExpectTwipsGeometry(dialog->Label2, 0, 600, 1215, 495);
        ExpectTwipsGeometry(dialog->Combo2, 0, 840, 855, 315);
        ExpectTwipsGeometry(dialog->Command1, 1200, 120, 1215, 495);
        QCOMPARE(dialog->size(), TwipsSize(dialog, 2880, 1425));

        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QCOMPARE(QApplication::focusWidget(), dialog->Combo1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog->Combo2);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog->Command1);
    }

    void serialPort_lists_fixedEntriesThenSystemDevices() {
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Form2* dialog = OpenSerialPortDialog(form);
        QVERIFY(dialog);
        QStringList ports;
        for (int i = 0; i < dialog->Combo1->count(); ++i) {
            ports << dialog->Combo1->itemText(i);
        }
        QStringList rates;
        for (int i = 0; i < dialog->Combo2->count(); ++i) {
            rates << dialog->Combo2->itemText(i);
        }
        QCOMPARE(rates, kBaudRates);
        QCOMPARE(ports.mid(0, kFixedPorts.size()), kFixedPorts);
        // After the eight fixed names: every device the system reports, each once.
        QStringList devices;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            devices << info.systemLocation();
        }
        devices.removeDuplicates();
        QStringList listed = ports.mid(kFixedPorts.size());
        QCOMPARE(listed.size(), devices.size());
        listed.sort();
        devices.sort();
        QCOMPARE(listed, devices);
        qInfo() << "system devices offered:" << listed;
    }

    void serialPort_devicesInNumberOrder() {
        QCOMPARE(Form2::InNumberOrder({"/dev/ttyS10", "/dev/ttyUSB1", "/dev/ttyS2", "/dev/ttyACM0",
                                       "/dev/ttyS1", "/dev/ttyUSB0", "/dev/ttyS1"}),
                 QStringList({"/dev/ttyACM0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10",
                              "/dev/ttyUSB0", "/dev/ttyUSB1"}));
    }

    void serialPort_defaults_showCom2And19200_radioShows0() {
        // No stored settings: the defaults, whether or not COM2 exists here.
        auto form = std::make_unique<Form1>(
            Form1::Options{{}, dir.filePath(QStringLiteral("first-run.conf"))});
        form->Load();
        QCoreApplication::processEvents(); // load-time messages show once loading is done
        Form2* serial = OpenSerialPortDialog(*form);
        QVERIFY(serial);
        QCOMPARE(serial->Combo1->currentText(), QStringLiteral("COM2"));
        QCOMPARE(serial->Combo1->currentIndex(), 1);
        QCOMPARE(serial->Combo2->currentText(), QStringLiteral("19200"));
        QCOMPARE(serial->Combo2->currentIndex(), 4);
        Form3* radio = OpenRadioDialog(*form);
        QVERIFY(radio);
        QCOMPARE(radio->Text1->text(), QStringLiteral("0"));
    }

    void serialPort_showsFieldsUnchanged_data() {
        QTest::addColumn<QString>("comPort");
        QTest::addColumn<QString>("baudRate");
        QTest::newRow("list entries") << "COM5"
                                      << "4800";
        QTest::newRow("device path, speed not listed") << "/dev/ttyUSB0"
                                                       << "115200";
        QTest::newRow("lower case and blanks") << "com3"
                                               << " 9600 ";
        QTest::newRow("not a port at all") << "radio"
                                           << "fast";
    }
    void serialPort_showsFieldsUnchanged() {
        QFETCH(QString, comPort);
        QFETCH(QString, baudRate);
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Given(form, comPort, baudRate, 0);
        Form2* dialog = OpenSerialPortDialog(form);
        QVERIFY(dialog);
        QCOMPARE(dialog->Combo1->currentText(), comPort);
        QCOMPARE(dialog->Combo2->currentText(), baudRate);
    }

    void serialPort_typedTextTakenUnchanged_data() {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("speed");
        QTest::newRow("start of a list name, not completed") << "COM"
                                                             << "19";
        QTest::newRow("lower case, not matched to the list") << "com3"
                                                             << "38400";
        QTest::newRow("blanks kept") << " COM4 "
                                     << " 19200";
        QTest::newRow("device path, speed not listed") << "/dev/ttyUSB0"
                                                       << "115200";
        QTest::newRow("name and speed not in the lists") << "COM9"
                                                         << "fast";
    }
    void serialPort_typedTextTakenUnchanged() {
        QFETCH(QString, port);
        QFETCH(QString, speed);
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Form2* dialog = OpenSerialPortDialog(form);
        QVERIFY(dialog);
        const int portEntries = dialog->Combo1->count();
        TypeInto(dialog->Combo1, port);
        QTest::keyClick(dialog->Combo1, Qt::Key_Return);
        TypeInto(dialog->Combo2, speed);
        QTest::keyClick(dialog->Combo2, Qt::Key_Return);
        QCOMPARE(dialog->Combo1->currentText(), port);
        QCOMPARE(dialog->Combo2->currentText(), speed);
        // Enter adds nothing to the lists.
        QCOMPARE(dialog->Combo1->count(), portEntries);
        QCOMPARE(dialog->Combo2->count(), kBaudRates.size());
        // The dialog may close if such a port happens to open here: it is not touched after OK.
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTRY_COMPARE(Stored(form).comPort, port);
        QCOMPARE(Stored(form).baudRate, speed);
    }

    void serialPort_enterAndEscape_doNotPressOk_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        for (const char* focus : {"Combo1", "Combo2", "Command1"}) {
            QTest::addRow("%s Return", focus) << focus << int(Qt::Key_Return);
            QTest::addRow("%s Enter", focus) << focus << int(Qt::Key_Enter);
            QTest::addRow("%s Escape", focus) << focus << int(Qt::Key_Escape);
        }
    }
    void serialPort_enterAndEscape_doNotPressOk() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        PtyPair pty;
        auto form = LoadedMain(pty.SlavePath());
        QVERIFY(PortIsOpen(*form));
        Form2* dialog = OpenSerialPortDialog(*form);
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        dialog->Combo1->setEditText(kMissingDevice);
        dialog->Combo2->setEditText(QStringLiteral("9600"));
        dialog->findChild<QWidget*>(focus)->setFocus();
        QSignalSpy portChanges(&form->Feed(), &StationFeed::Connected);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        Settle(*form);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(form->SerialPortDialog());
        QVERIFY(dialog->isVisible());
        QCOMPARE(Stored(*form).comPort, pty.SlavePath());
        QCOMPARE(Stored(*form).baudRate, QStringLiteral("19200"));
        QCOMPARE(portChanges.count(), 0);
        QVERIFY(PortIsOpen(*form));
    }

    void serialPort_ok_closesAndReopensPort() {
        PtyPair pty;
        auto form = LoadedMain(pty.SlavePath());
        QVERIFY(PortIsOpen(*form));
        QPointer<Form2> dialog = OpenSerialPortDialog(*form);
        QVERIFY(dialog);
        dialog->Combo2->setCurrentIndex(kBaudRates.indexOf(QStringLiteral("9600")));
        QSignalSpy portChanges(&form->Feed(), &StationFeed::Connected);
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        // Opened anew with the speed picked from the list.
        QTRY_COMPARE(portChanges.count(), 1);
        QVERIFY(PortIsOpen(*form));
        QCOMPARE(form->Feed().Snap().rig.speed, QStringLiteral("9600"));
        QCOMPARE(Stored(*form).comPort, pty.SlavePath());
        QCOMPARE(Stored(*form).baudRate, QStringLiteral("9600"));
        QTRY_VERIFY(!dialog);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog);
        QVERIFY(!form->SerialPortDialog());
        QVERIFY(FrameReachesDisplay(*form, pty));
    }

    void serialPort_ok_movesToTypedPort_andReleasesOldOne() {
        PtyPair oldPty;
        PtyPair newPty;
        auto form = LoadedMain(oldPty.SlavePath());
        QVERIFY(PortIsOpen(*form));
        Form2* dialog = OpenSerialPortDialog(*form);
        QVERIFY(dialog);
        TypeInto(dialog->Combo1, newPty.SlavePath());
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        Settle(*form);
        QCOMPARE(Stored(*form).comPort, newPty.SlavePath());
        QVERIFY(PortIsOpen(*form));
        QVERIFY(!form->SerialPortDialog() || !form->SerialPortDialog()->isVisible());
        QVERIFY(FrameReachesDisplay(*form, newPty));
        CommPort other;
        QVERIFY(other.Open(oldPty.SlavePath(), 19200).IsOk());
    }

    void serialPort_okWithPortClosed_onlyOpens() {
        PtyPair pty;
        auto form = LoadedMain(kMissingDevice);
        QVERIFY(!PortIsOpen(*form));
        Form2* dialog = OpenSerialPortDialog(*form);
        QVERIFY(dialog);
        QCOMPARE(dialog->Combo1->currentText(), kMissingDevice);
        TypeInto(dialog->Combo1, pty.SlavePath());
        QSignalSpy portChanges(&form->Feed(), &StationFeed::Connected);
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTRY_COMPARE(portChanges.count(), 1);
        QVERIFY(Outcome(portChanges, 0).IsOk());
        QVERIFY(PortIsOpen(*form));
        QVERIFY(FrameReachesDisplay(*form, pty));
    }

    void serialPort_failingOpen_keepsDialogWithReasonAndTexts_data() {
        QTest::addColumn<QString>("port"); // "{busy}": a pseudo-terminal another program holds
        QTest::addColumn<QString>("speed");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no such device") << kMissingDevice << "9600"
                                        << "there is no such device";
        QTest::newRow("not a port name") << "COM0"
                                         << "19200"
                                         << "is not a port name";
        QTest::newRow("speed not a number") << "{busy}"
                                            << "fast"
                                            << "fast";
        QTest::newRow("port in use") << "{busy}"
                                     << "19200"
                                     << "in use by another program";
    }
    void serialPort_failingOpen_keepsDialogWithReasonAndTexts() {
        QFETCH(QString, port);
        QFETCH(QString, speed);
        QFETCH(QString, reason);
        PtyPair pty;
        PtyPair busy;
        CommPort otherProgram;
        // (The message says why, should a lock another test left on this pty's number stand.)
        const Status held = otherProgram.Open(busy.SlavePath(), 19200);
        QVERIFY2(held.IsOk(), qPrintable(held.Message()));
        port.replace(QStringLiteral("{busy}"), busy.SlavePath());

        auto form = LoadedMain(pty.SlavePath());
        QVERIFY(PortIsOpen(*form));
        QPointer<Form2> dialog = OpenSerialPortDialog(*form);
        QVERIFY(dialog);
        TypeInto(dialog->Combo1, port);
        TypeInto(dialog->Combo2, speed);
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTRY_VERIFY(dialog && dialog->portProblem->isVisible());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->portProblem->text(), form->Feed().Snap().rig.problemDetail);
        QVERIFY2(dialog->portProblem->text().contains(reason),
                 qPrintable(dialog->portProblem->text()));
        // The whole reason fits in the dialog.
        QVERIFY(dialog->rect().contains(dialog->portProblem->geometry()));
        QCOMPARE(dialog->Combo1->currentText(), port);
        QCOMPARE(dialog->Combo2->currentText(), speed);
        QCOMPARE(Stored(*form).comPort, port);
        QCOMPARE(Stored(*form).baudRate, speed);
        QVERIFY(!PortIsOpen(*form));
        // The old port was closed before the attempt and is free.
        CommPort third;
        QVERIFY(third.Open(pty.SlavePath(), 19200).IsOk());
        third.Close();

        // A second OK goes straight to the open; corrected texts then close the dialog.
        QSignalSpy portChanges(&form->Feed(), &StationFeed::Connected);
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTRY_COMPARE(portChanges.count(), 1);
        QVERIFY(!Outcome(portChanges, 0).IsOk());
        QVERIFY(dialog->isVisible());
        TypeInto(dialog->Combo1, pty.SlavePath());
        TypeInto(dialog->Combo2, QStringLiteral("19200"));
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTRY_VERIFY(!dialog);
        QVERIFY(PortIsOpen(*form));
        QVERIFY(FrameReachesDisplay(*form, pty));
    }

    void serialPort_closeBox_changesNothing() {
        PtyPair pty;
        auto form = LoadedMain(pty.SlavePath());
        QPointer<Form2> dialog = OpenSerialPortDialog(*form);
        QVERIFY(dialog);
        TypeInto(dialog->Combo1, QStringLiteral("COM7"));
        TypeInto(dialog->Combo2, QStringLiteral("1200"));
        QSignalSpy portChanges(&form->Feed(), &StationFeed::Connected);
        QVERIFY(dialog->close());
        Settle(*form);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog);
        QCOMPARE(Stored(*form).comPort, pty.SlavePath());
        QCOMPARE(Stored(*form).baudRate, QStringLiteral("19200"));
        QCOMPARE(portChanges.count(), 0);
        QVERIFY(PortIsOpen(*form));
        // The next one is made anew and shows the fields again.
        Form2* again = OpenSerialPortDialog(*form);
        QVERIFY(again);
        QCOMPARE(again->Combo1->currentText(), pty.SlavePath());
        QCOMPARE(again->Combo2->currentText(), QStringLiteral("19200"));
    }

    // ---- Both dialogs ----

    void menuAgain_bringsSameDialogToFront_withoutRefilling_data() {
        QTest::addColumn<bool>("serialPort");
        QTest::newRow("Serial Port") << true;
        QTest::newRow("Radio") << false;
    }
    void menuAgain_bringsSameDialogToFront_withoutRefilling() {
        QFETCH(bool, serialPort);
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        form.show();
        QAction* item = serialPort ? form.SerialPort : form.RadioAddress;
        auto current = [&]() -> QWidget* {
            return serialPort ? static_cast<QWidget*>(form.SerialPortDialog())
                              : static_cast<QWidget*>(form.RadioDialog());
        };
        auto edit = [&]() -> QLineEdit* {
            return serialPort ? form.SerialPortDialog()->Combo1->lineEdit()
                              : form.RadioDialog()->Text1;
        };
        item->trigger();
        QWidget* first = current();
        QVERIFY(first);
        QVERIFY(QTest::qWaitForWindowActive(first));
        TypeInto(edit(), QStringLiteral("7"));
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));

        item->trigger();
        QCOMPARE(current(), first);
        QVERIFY(QTest::qWaitForWindowActive(first));
        QCOMPARE(edit()->text(), QStringLiteral("7"));
        QCOMPARE(serialPort ? VisibleWindows<Form2>().size() : VisibleWindows<Form3>().size(), 1);
    }

    void bothDialogs_openTogether_mainWindowStaysUsable() {
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        form.show();
        Form2* serial = OpenSerialPortDialog(form);
        Form3* radio = OpenRadioDialog(form);
        QVERIFY(serial && radio);
        QVERIFY(serial->isVisible() && radio->isVisible());
        QVERIFY(!QApplication::activeModalWidget());
        form.Text2->setText(QStringLiteral("12"));
        QTest::keyClicks(form.Text2, QStringLiteral("3"));
        QCOMPARE(form.Text2->text(), QStringLiteral("123"));
    }

    // ---- "Radio" ----

    void radio_textsAndPlaces() {
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Form3* dialog = OpenRadioDialog(form);
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Radio"));
        QCOMPARE(dialog->Label1->text(), QStringLiteral("Radio Adress"));
        QCOMPARE(dialog->Text1->toolTip(),
                 QStringLiteral("Hex Adress I.E 4E  Use 0  for most radios"));
        QCOMPARE(dialog->Command1->text(), QStringLiteral("OK"));
        QVERIFY(!dialog->addressProblem->isVisible());
        QVERIFY(dialog->isWindow());
        QVERIFY(!dialog->parentWidget());
        QVERIFY(!dialog->isModal());

        ExpectTwipsGeometry(dialog->Label1, 0, 0, 1215, 495);
        ExpectTwipsGeometry(dialog->Text1, 0, 240, 1215, 495);
        ExpectTwipsGeometry(dialog->Command1, 1320, 240, 1215, 495);
        QCOMPARE(dialog->size(), TwipsSize(dialog, 2775, 1050));

        QVERIFY(QTest::qWaitForWindowActive(dialog));
        QCOMPARE(QApplication::focusWidget(), dialog->Text1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), dialog->Command1);
    }

    void radio_showsAddressInUpperCaseHex_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("shown");
        QTest::newRow("broadcast") << 0 << "0";
        QTest::newRow("one digit") << 10 << "A";
        QTest::newRow("no leading zero") << 0x0E << "E";
        QTest::newRow("IC-7300 default") << 0x94 << "94";
        QTest::newRow("78") << 78 << "4E";
        QTest::newRow("highest") << 255 << "FF";
    }
    void radio_showsAddressInUpperCaseHex() {
        QFETCH(int, address);
        QFETCH(QString, shown);
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Given(form, QStringLiteral("COM2"), QStringLiteral("19200"), address);
        Form3* dialog = OpenRadioDialog(form);
        QVERIFY(dialog);
        QCOMPARE(dialog->Text1->text(), shown);
    }

    void radio_ok_takesHexInEitherCase_blanksTrimmed_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("shownAgain");
        QTest::newRow("upper case") << "4E" << 78 << "4E";
        QTest::newRow("lower case") << "4e" << 78 << "4E";
        QTest::newRow("mixed case") << "aB" << 0xAB << "AB";
        QTest::newRow("blanks around") << "  4E " << 78 << "4E";
        QTest::newRow("tab around") << "\t94\t" << 0x94 << "94";
        QTest::newRow("zero") << "0" << 0 << "0";
        QTest::newRow("leading zeros") << "004E" << 78 << "4E";
        QTest::newRow("many zeros") << "0000" << 0 << "0";
        QTest::newRow("highest") << "ff" << 255 << "FF";
    }
    void radio_ok_takesHexInEitherCase_blanksTrimmed() {
        QFETCH(QString, typed);
        QFETCH(int, address);
        QFETCH(QString, shownAgain);
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Given(form, QStringLiteral("COM2"), QStringLiteral("19200"), 0x5A);
        QPointer<Form3> dialog = OpenRadioDialog(form);
        QVERIFY(dialog);
        dialog->Text1->setText(typed);
        QSignalSpy portChanges(&form.Feed(), &StationFeed::Connected);
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        Settle(form);
        QCOMPARE(Stored(form).radioAdress, address);
        QCOMPARE(portChanges.count(), 0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog);
        Form3* again = OpenRadioDialog(form);
        QVERIFY(again);
        QCOMPARE(again->Text1->text(), shownAgain);
    }

    void radio_ok_refusesWithReason_keepsAddress_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        const QString empty = QStringLiteral("No address typed. ") + kAddressHelp;
        auto notHex = [](const char* text) {
            return QStringLiteral("\"%1\" is not a hexadecimal address. ").arg(text) + kAddressHelp;
        };
        auto tooHigh = [](const char* text) {
            return QStringLiteral("\"%1\" is above FF: a CI-V address is one byte. ").arg(text) +
                   kAddressHelp;
        };
        QTest::newRow("empty") << "" << empty;
        QTest::newRow("blanks only") << "   " << empty;
        QTest::newRow("not a hex digit") << "4G" << notHex("4G");
        QTest::newRow("prefix 0x") << "0x4E" << notHex("0x4E");
        QTest::newRow("prefix &h") << "&h4E" << notHex("&h4E");
        QTest::newRow("blank inside") << "4 E" << notHex("4 E");
        QTest::newRow("sign") << "-1" << notHex("-1");
        QTest::newRow("decimal point") << "4.0" << notHex("4.0");
        QTest::newRow("shown trimmed") << " zz " << notHex("zz");
        QTest::newRow("one above FF") << "100" << tooHigh("100");
        QTest::newRow("three digits") << "1FF" << tooHigh("1FF");
        QTest::newRow("zeros before a large value") << "00100" << tooHigh("00100");
        QTest::newRow("too large for any integer")
            << "FFFFFFFFFFFFFFFFFFFF" << tooHigh("FFFFFFFFFFFFFFFFFFFF");
    }
    void radio_ok_refusesWithReason_keepsAddress() {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Given(form, QStringLiteral("COM2"), QStringLiteral("19200"), 0x4E);
        QPointer<Form3> dialog = OpenRadioDialog(form);
        QVERIFY(dialog);
        dialog->Text1->setText(typed);
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(dialog && dialog->isVisible());
        Settle(form);
        QCOMPARE(Stored(form).radioAdress, 0x4E);
        QVERIFY(dialog->addressProblem->isVisible());
        QCOMPARE(dialog->addressProblem->text(), message);
        QVERIFY(dialog->rect().contains(dialog->addressProblem->geometry()));
        QCOMPARE(dialog->Text1->text(), typed);
    }

    void radio_refusedThenCorrected_takesNewAddress() {
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        QPointer<Form3> dialog = OpenRadioDialog(form);
        QVERIFY(dialog);
        TypeInto(dialog->Text1, QStringLiteral("1AB"));
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        Settle(form);
        QCOMPARE(Stored(form).radioAdress, 0);
        TypeInto(dialog->Text1, QStringLiteral("AB"));
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        Settle(form);
        QCOMPARE(Stored(form).radioAdress, 0xAB);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog);
    }

    void radio_ok_nextFrameGoesToNewAddress() {
        PtyPair pty;
        auto form = LoadedMain(pty.SlavePath());
        Form3* dialog = OpenRadioDialog(*form);
        QVERIFY(dialog);
        TypeInto(dialog->Text1, QStringLiteral("94"));
        QTest::mouseClick(dialog->Command1, Qt::LeftButton);
        QTest::mouseClick(form->StartButton, Qt::LeftButton); // parks the radio at 2 MHz
        QCOMPARE(pty.Read(2000, 11), hex("FE FE 94 4D 05 00 00 00 02 00 FD"));
    }

    void radio_enterAndEscape_doNotPressOk_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        for (const char* focus : {"Text1", "Command1"}) {
            QTest::addRow("%s Return", focus) << focus << int(Qt::Key_Return);
            QTest::addRow("%s Enter", focus) << focus << int(Qt::Key_Enter);
            QTest::addRow("%s Escape", focus) << focus << int(Qt::Key_Escape);
        }
    }
    void radio_enterAndEscape_doNotPressOk() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Given(form, QStringLiteral("COM2"), QStringLiteral("19200"), 0x4E);
        Form3* dialog = OpenRadioDialog(form);
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        dialog->Text1->setText(QStringLiteral("12"));
        dialog->findChild<QWidget*>(focus)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(form.RadioDialog(), dialog);
        QVERIFY(dialog->isVisible());
        Settle(form);
        QCOMPARE(Stored(form).radioAdress, 0x4E);
    }

    void radio_closeBox_changesNothing() {
        Form1 form({{}, dir.filePath(QStringLiteral("unused.conf"))});
        Given(form, QStringLiteral("COM2"), QStringLiteral("19200"), 0x4E);
        QPointer<Form3> dialog = OpenRadioDialog(form);
        QVERIFY(dialog);
        TypeInto(dialog->Text1, QStringLiteral("12"));
        QVERIFY(dialog->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!dialog);
        QVERIFY(!form.RadioDialog());
        Settle(form);
        QCOMPARE(Stored(form).radioAdress, 0x4E);
        Form3* again = OpenRadioDialog(form);
        QVERIFY(again);
        QCOMPARE(again->Text1->text(), QStringLiteral("4E"));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
