// Faults met in the field, against the simulated radio on a pseudo-terminal and the real main
// window: a radio that stops answering mid-sweep, the CI-V interface unplugged and plugged back,
// garbage and cut-off frames on the bus, a damaged or unusable settings file, the window closed
// while a step waits. Each test checks that no step is lost and the program goes on. The sweep
// clock is a fake that the tests step; only serial round trips and the reply deadline take time.

#include "link/commport.h"
#include "support/radiosimprocess.h"
#include "support/settingsfile.h"
#include "support/ui/formwithradio.h"
#include "support/ui/toplevel.h"
#include "ui/form1.h"
#include "ui/messagequeue.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

QString Kilohertz(int hz) {
    return QLocale(QLocale::English).toString(hz / 1000.0, 'f', 3);
}

// The frames of a sweep that went 2 MHz, then steps first..last.
QStringList SweepFrames(int first, int last) {
    QStringList frames{SetFrame(kParkHz)};
    for (int step = first; step <= last; ++step) {
        frames << SetFrame(StepHz(step));
    }
    return frames;
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { DrainMessages(); }

    void silentRadio_tenStepsMidSweep_scheduleHolds_followsAgainWhenItAnswers() {
        FormWithRadio rig;
        CHECKED(rig.StartRadio());
        CHECKED(rig.OpenWindow());
        CHECKED(rig.Arm());
        for (int step = 0; step < 5; ++step) {
            CHECKED(rig.Step(step, step + 2));
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->Text1->text(), Kilohertz(StepHz(4)), kWaitMs);
        QVERIFY(rig.form->Feed().Snap().rig.answering);

        QCOMPARE(rig.sim.Command(QStringLiteral("silent on")).left(2), QStringLiteral("ok"));
        for (int step = 5; step < 15; ++step) {
            CHECKED(rig.Step(step, step + 2));
            if (step == 6) {
                // The radio's OK to step 4 came after that step's echo and ends the wait of
                // step 5 at once; step 6 is the first to run into the reply deadline.
                QTRY_VERIFY_WITH_TIMEOUT(!rig.form->Feed().Snap().rig.answering, kWaitMs);
                QTRY_VERIFY_WITH_TIMEOUT(rig.form->statusLine->text().contains(
                                             QStringLiteral("Radio at 4E: not answering.")),
                                         kWaitMs);
            }
            QCOMPARE(rig.form->Label3->text(), QStringLiteral("Stepping"));
        }
        // Every silent step was still sent, once, at its mark: the schedule did not slip.
        QCOMPARE(rig.form->Feed().Snap().nextStepTime, kFirstStep + 15);

        QCOMPARE(rig.sim.Command(QStringLiteral("silent off")).left(2), QStringLiteral("ok"));
        CHECKED(rig.Step(15, 17));
        QTRY_VERIFY_WITH_TIMEOUT(rig.form->Feed().Snap().rig.answering, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->Text1->text(), Kilohertz(StepHz(15)), kWaitMs);
        QVERIFY(rig.form->statusLine->text().contains(QStringLiteral("Radio at address 4E.")));
        QVERIFY(rig.sim.Command(QStringLiteral("status")).contains(QString::number(StepHz(15))));
        QCOMPARE(rig.Frames(), SweepFrames(0, 15));
        QCOMPARE(DrainMessages(), QStringList()); // a silent radio is shown, not boxed
    }

    void interfaceUnplugged_midSweep_reopened_followsAtTheRightStep() {
        FormWithRadio rig;
        QTemporaryDir links;
        const QString link = links.filePath(QStringLiteral("civ"));
        CHECKED(rig.StartRadio({QStringLiteral("--link"), link}, link));
        CHECKED(rig.OpenWindow());
        QVERIFY(rig.form->Feed().Snap().rig.connected);
        CHECKED(rig.Arm());
        for (int step = 0; step < 3; ++step) {
            CHECKED(rig.Step(step, step + 2));
        }

        // Unplugged for six seconds. Its answer ("ok reopened") is left unread: no further
        // command is sent to the radio, the log tells what reached it.
        rig.sim.Process().write("vanish 6000\n");
        QTRY_VERIFY_WITH_TIMEOUT(!rig.form->Feed().Snap().rig.connected, kWaitMs);
        QVERIFY(rig.form->Feed().Snap().rig.reconnecting);
        // Two steps fall due while it is gone: the schedule goes on without the radio.
        CHECKED(rig.ClockToStep(3));
        CHECKED(rig.ClockToStep(4));
        QVERIFY(!rig.form->Feed().Snap().rig.connected);
        QCOMPARE(rig.form->Label3->text(), QStringLiteral("Stepping"));
        QVERIFY(rig.form->statusLine->text().contains(QStringLiteral("gone, trying again")));
        const QStringList told = DrainMessages();
        QCOMPARE(told.size(), 2); // the port went away; tuning failed (once, not per step)
        QVERIFY2(told.at(0).startsWith(QStringLiteral("The serial port %1 went away").arg(link)),
                 qPrintable(told.join('\n')));
        QVERIFY2(told.at(1).startsWith(QStringLiteral("Could not tune the radio to 2.4 MHz")),
                 qPrintable(told.join('\n')));

        // Plugged back: the link finds the device again by itself.
        QTRY_VERIFY_WITH_TIMEOUT(rig.form->Feed().Snap().rig.connected, 4 * kWaitMs);
        QVERIFY(!rig.form->Feed().Snap().rig.reconnecting);
        CHECKED(rig.Step(5, 5));
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->Text1->text(), Kilohertz(StepHz(5)), kWaitMs);
        CHECKED(rig.Step(6, 6));
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->Text1->text(), Kilohertz(StepHz(6)), kWaitMs);
        // The radio follows from the step the clock is at, not from where it was unplugged.
        QCOMPARE(rig.Frames(), SweepFrames(0, 2) << SetFrame(StepHz(5)) << SetFrame(StepHz(6)));
        QVERIFY(rig.form->Feed().Snap().rig.answering);
        QCOMPARE(rig.form->Feed().Snap().nextStepTime, kFirstStep + 7);
        QCOMPARE(DrainMessages(), QStringList()); // a working send is not reported again
    }

    void garbageAndCutFramesBetweenRealOnes_displayStaysRight() {
        FormWithRadio rig;
        // After every echo the radio sends 13 FD 00 FF and a report cut off before its FD,
        // then its answer.
        CHECKED(rig.StartRadio({QStringLiteral("--garbage")}));
        CHECKED(rig.OpenWindow());
        CHECKED(rig.Arm());
        QStringList expected{Kilohertz(kParkHz)};
        for (int step = 0; step < 6; ++step) {
            CHECKED(rig.Step(step, step + 2));
            expected << Kilohertz(StepHz(step));
            // A round trip to the radio: what it sent after the echo has been read by now.
            QVERIFY(rig.sim.Command(QStringLiteral("status")).startsWith(QStringLiteral("ok")));
            QTRY_COMPARE_WITH_TIMEOUT(rig.form->Text1->text(), expected.last(), kWaitMs);
            QCOMPARE(rig.shown, expected);
        }
        // Every wait ended on the echo, none at the deadline.
        QVERIFY(rig.form->Feed().Snap().rig.answering);
        QCOMPARE(rig.Frames(), SweepFrames(0, 5));
    }

    void frequencyFrameWithoutEndByte_nextFramesDecode() {
        FormWithRadio rig;
        CHECKED(rig.StartRadio());
        CHECKED(rig.OpenWindow());
        CHECKED(rig.Arm());
        CHECKED(rig.Step(0, 2));
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->Text1->text(), Kilohertz(StepHz(0)), kWaitMs);
        // A 14,074 kHz report whose FD is lost, just before the next step's echo.
        QVERIFY(rig.sim.Command(QStringLiteral("send FE FE 00 4E 00 00 40 07 14 00"))
                    .startsWith(QStringLiteral("ok")));
        CHECKED(rig.Step(1, 3));
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->Text1->text(), Kilohertz(StepHz(1)), kWaitMs);
        CHECKED(rig.Step(2, 4));
        QTRY_COMPARE_WITH_TIMEOUT(rig.form->Text1->text(), Kilohertz(StepHz(2)), kWaitMs);
        // The cut report is never shown; every echo is.
        QCOMPARE(rig.shown, QStringList({Kilohertz(kParkHz), Kilohertz(StepHz(0)),
                                         Kilohertz(StepHz(1)), Kilohertz(StepHz(2))}));
        QVERIFY(rig.form->Feed().Snap().rig.answering);
        QCOMPARE(rig.Frames(), SweepFrames(0, 2));
    }

    // The store cannot be used at all: both failures are told, and the message at exit holds
    // every value the user set, as typed.
    void settingsStoreUnusable_toldClearly_typedValuesInExitMessage_data() {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<QString>("blocker"); // made a folder (unreadable) or a file (unwritable)
        QTest::addColumn<bool>("toldAtLoad");
        QTest::newRow("a folder where the file should be") << "Tavmirok.conf"
                                                           << "Tavmirok.conf" << true;
        QTest::newRow("a file where the folder should be") << "blocked/Tavmirok.conf"
                                                           << "blocked" << false;
    }
    void settingsStoreUnusable_toldClearly_typedValuesInExitMessage() {
        QFETCH(QString, relativePath);
        QFETCH(QString, blocker);
        QFETCH(bool, toldAtLoad);
        QTemporaryDir dir;
        const QString path = dir.filePath(relativePath);
        if (relativePath == blocker) {
            QVERIFY(QDir().mkpath(path));
        } else {
            QFile file(dir.filePath(blocker));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        RadioSimProcess sim;
        const QString device = sim.Start();
        QVERIFY(!device.isEmpty());

        Form1 form({[] { return kArmClock; }, path});
        form.Load();
        form.show();
        QCoreApplication::processEvents(); // load-time messages show once the window is up
        QStringList told = DrainMessages();
        const QString readNotice =
            QStringLiteral("The settings in %1 could not be read (no permission to read them), so "
                           "the defaults are used. Check the file, or set the port, speed, chirp "
                           "time and radio address again; they are saved when Tavmirok closes.")
                .arg(path);
        QCOMPARE(told.contains(readNotice), toldAtLoad);
        QCOMPARE(form.Text2->text(), QStringLiteral("78")); // the defaults stand in
        QCOMPARE(form.Feed().Snap().stored.comPort, QStringLiteral("COM2"));

        // The user carries on: picks the radio's port, its address, and types a chirp time
        // (with a stray "%5" in it).
        QVERIFY(ChoosePort(form, device, QStringLiteral("9600")));
        ChooseAddress(form, QStringLiteral("4E"));
        form.Text2->setText(QStringLiteral("12%5"));
        QVERIFY(form.close());
        QVERIFY(!form.isVisible());
        told = DrainMessages();
        QCOMPARE(
            told,
            QStringList(QStringLiteral(
                            "The settings could not be saved to %1. Check that the folder exists "
                            "and that you may write there. They were: port \"%2\", speed \"9600\", "
                            "chirp time \"12%5\", radio address 78 (hex 4E).")
                            .arg(path, device)));
        QVERIFY(!form.Feed().Snap().rig.connected);
    }

    // The program as it runs for the user: File > Exit inside the event loop. The message must
    // be seen after the window has gone, and the program must end once it is closed.
    void saveFailure_seenAfterWindowGoes_programEndsWhenBoxClosed() {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("blocked")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        Form1 form(
            {[] { return kArmClock; }, dir.filePath(QStringLiteral("blocked/Tavmirok.conf"))});
        form.Load();
        form.show();
        QString seenAfterClose;
        bool timedOut = false;
        QTimer::singleShot(0, &form, [&form] { form.Exit->trigger(); });
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    if (!form.isVisible()) {
                        seenAfterClose = box->text();
                    }
                    box->close();
                }
            }
        });
        poll.start(50);
        QTimer::singleShot(20000, [&timedOut] {
            timedOut = true;
            QCoreApplication::quit();
        });
        QApplication::exec();
        QVERIFY(!timedOut);
        QVERIFY2(seenAfterClose.startsWith(QStringLiteral("The settings could not be saved")),
                 qPrintable(seenAfterClose));
    }

    void settingsGarbageInEveryKey_toldAndKeptAsTyped() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tavmirok.conf"));
        WriteSettingsFile(path, {.comPort = QStringLiteral("COM%1x"),
                                 .baudRate = QStringLiteral("fast"),
                                 .chirpTime = QStringLiteral("soon"),
                                 .radioAddress = QStringLiteral("4E")});
        Form1 form({[] { return kArmClock; }, path});
        form.Load();
        form.show();
        QCoreApplication::processEvents(); // load-time messages show once the window is up
        // The port-name message is spelled out in tst_badinput; here only that it names the port.
        const QStringList loadMessages = DrainMessages();
        QCOMPARE(loadMessages.size(), 2);
        QCOMPARE(loadMessages.constFirst(),
                 QStringLiteral("The stored radio address \"4E\" is not a number from 0 to 255, "
                                "so address 0 (the broadcast address) is used. Set your radio's "
                                "CI-V address in Configure > Radioaddress."));
        QVERIFY2(loadMessages.constLast().contains(QStringLiteral("\"COM%1x\"")),
                 qPrintable(loadMessages.constLast()));
        QCOMPARE(form.Feed().Snap().stored.radioAdress, 0);
        QVERIFY(!form.Feed().Snap().rig.connected);
        QTest::mouseClick(form.StartButton, Qt::LeftButton);
        QTRY_VERIFY(!VisibleMessageBoxTexts().isEmpty());
        QCOMPARE(DrainMessages(),
                 QStringList(QStringLiteral(
                     "The chirp time \"soon\" is not a number of seconds from 0 to 299. Type the "
                     "second of the five-minute period at which the sounder starts, for example "
                     "78.")));
        QCOMPARE(form.Label3->text(), QString());
        QVERIFY(form.close());
        QCOMPARE(DrainMessages(), QStringList());
        QSettings s(path, QSettings::IniFormat);
        QCOMPARE(s.value(QStringLiteral("settings/comport")).toString(), QStringLiteral("COM%1x"));
        QCOMPARE(s.value(QStringLiteral("settings/BaudRate")).toString(), QStringLiteral("fast"));
        QCOMPARE(s.value(QStringLiteral("settings/ChirpTime")).toString(), QStringLiteral("soon"));
        QCOMPARE(s.value(QStringLiteral("settings/RadioAddress")).toString(), QStringLiteral("0"));
    }

    // A file that is not valid at all is told at load and simply written anew at exit.
    void settingsFileDamaged_toldAtLoad_rewrittenAtExitWithoutFalseAlarm() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tavmirok.conf"));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray("\x01\x02\xff\xfe[[[\n=\n[settings\ncomport\nChirpTime=\"ab\n"));
        }
        RadioSimProcess sim;
        const QString device = sim.Start();
        QVERIFY(!device.isEmpty());
        Form1 form({[] { return kArmClock; }, path});
        form.Load();
        form.show();
        QCoreApplication::processEvents(); // load-time messages show once the window is up
        const QStringList told = DrainMessages();
        QVERIFY2(
            told.contains(
                QStringLiteral(
                    "The settings in %1 could not be read (the file is not in a valid format), "
                    "so the defaults are used. Check the file, or set the port, speed, chirp "
                    "time and radio address again; they are saved when Tavmirok closes.")
                    .arg(path)),
            qPrintable(told.join('\n')));
        QVERIFY(ChoosePort(form, device, QStringLiteral("19200")));
        ChooseAddress(form, QStringLiteral("4E"));
        form.Text2->setText(QStringLiteral("12a"));
        QVERIFY(form.close());
        QCOMPARE(DrainMessages(), QStringList()); // saved: no "could not be saved"
        QSettings s(path, QSettings::IniFormat);
        QCOMPARE(s.status(), QSettings::NoError);
        QCOMPARE(s.value(QStringLiteral("settings/comport")).toString(), device);
        QCOMPARE(s.value(QStringLiteral("settings/ChirpTime")).toString(), QStringLiteral("12a"));
        QCOMPARE(s.value(QStringLiteral("settings/RadioAddress")).toString(), QStringLiteral("78"));
    }

    void closedWhileStepWaitsForSilentRadio_endsAtOnce_settingsWritten() {
        FormWithRadio rig;
        CHECKED(rig.StartRadio());
        CHECKED(rig.OpenWindow());
        CHECKED(rig.Arm());
        CHECKED(rig.Step(0, 2));
        CHECKED(rig.Step(1, 3));
        rig.form->Text2->setText(QStringLiteral("12a")); // typed mid-sweep, never armed
        QCOMPARE(rig.sim.Command(QStringLiteral("silent on")).left(2), QStringLiteral("ok"));

        // The window closes as soon as the next step's wait for the radio has begun.
        bool closeRequested = false;
        QObject::connect(&rig.form->Feed(), &StationFeed::StateChanged, rig.form.get(), [&] {
            if (!closeRequested && rig.form->Feed().Snap().stepHz == StepHz(2)) {
                closeRequested = true;
                QTimer::singleShot(0, rig.form.get(), [&] { rig.form->close(); });
            }
        });
        rig.now = kFirstStep + 2;
        QTRY_VERIFY_WITH_TIMEOUT(!rig.form->isVisible(), kWaitMs);
        // The wait ended because the window closed, not at the reply deadline.
        QVERIFY(rig.form->Feed().Snap().rig.answering);
        QVERIFY(!rig.form->Feed().Snap().rig.connected);
        QCOMPARE(rig.Stored(QStringLiteral("comport")), rig.sim.DevicePath());
        QCOMPARE(rig.Stored(QStringLiteral("BaudRate")), QStringLiteral("19200"));
        QCOMPARE(rig.Stored(QStringLiteral("ChirpTime")), QStringLiteral("12a"));
        QCOMPARE(rig.Stored(QStringLiteral("RadioAddress")), QStringLiteral("78"));
        QCOMPARE(DrainMessages(), QStringList());

        // Nothing more goes to the radio, however far the clock runs.
        QVERIFY(rig.sim.WaitForFramesReceived(3));
        const int sent = rig.Frames().size();
        QVERIFY(sent <= 4); // the frame of the step that was waiting, at most
        rig.now += 10;
        QTest::qWait(300);
        QCOMPARE(rig.Frames().size(), sent);
        // And the port is free for another program.
        CommPort other;
        QVERIFY(other.Open(rig.sim.DevicePath(), 19200).IsOk());
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
