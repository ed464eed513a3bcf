// The command sender and the receive path of the radio link, over a real pseudo-terminal:
// exact bytes on the wire, the shared reply flag, commands one at a time, the reply deadline,
// shut-down.

#include "link/civ.h"
#include "link/radiolink.h"
#include "support/hex.h"
#include "support/pty.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Links a RadioLink to a fresh pseudo-terminal and records what it shows.
struct LinkOnPty {
    PtyPair pty;
    SerialSettings serial;
    RadioLink link{serial};
    QStringList display;
    std::vector<Status> ended; // each command's end, in order

    LinkOnPty() {
        QObject::connect(&link, &RadioLink::DisplayText,
                         [this](const QString& text) { display << text; });
        link.SetDisplayLocale(QLocale(QLocale::English, QLocale::UnitedStates));
        serial.comPort = pty.SlavePath();
    }
    bool Open() { return link.OpenPort().IsOk(); }
    RadioLink::Done Record() {
        return [this](const Status& status) { ended.push_back(status); };
    }
    void Setfreq(std::int32_t hz, RadioLink::WriteTime at = std::nullopt) {
        link.Setfreq(hz, at, Record());
    }
    // Runs the loop until n commands have ended; the last one's end.
    Status AwaitEnd(std::size_t n = 1) {
        [&] { QTRY_VERIFY_WITH_TIMEOUT(ended.size() >= n, 5000); }();
        return ended.size() >= n ? ended.at(n - 1) : Status::Error(QStringLiteral("no end"));
    }
    // Lets the link's receive events run until the display has n entries or time is up.
    void AwaitDisplay(int n) { QTRY_VERIFY_WITH_TIMEOUT(display.size() >= n, 5000); }
};

} // namespace

class TestRadioLink : public QObject {
    Q_OBJECT
private slots:
    void setfreq_writesExactFrame_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("14.074 MHz to 00")
            << 0x00 << 14074000 << hex("FE FE 00 4D 05 00 40 07 14 00 FD");
        QTest::newRow("14.074 MHz to 4E")
            << 0x4E << 14074000 << hex("FE FE 4E 4D 05 00 40 07 14 00 FD");
        QTest::newRow("2 MHz to 00") << 0x00 << 2000000 << hex("FE FE 00 4D 05 00 00 00 02 00 FD");
        QTest::newRow("30 MHz to 00")
            << 0x00 << 30000000 << hex("FE FE 00 4D 05 00 00 00 30 00 FD");
        QTest::newRow("2 MHz to 4E") << 0x4E << 2000000 << hex("FE FE 4E 4D 05 00 00 00 02 00 FD");
        QTest::newRow("zero") << 0x94 << 0 << hex("FE FE 94 4D 05 00 00 00 00 00 FD");
        QTest::newRow("int32 max") << 0xFF << 2147483647 << hex("FE FE FF 4D 05 47 36 48 47 21 FD");
    }
    void setfreq_writesExactFrame() {
        QFETCH(int, address);
        QFETCH(int, frequency);
        QFETCH(QByteArray, frame);
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = address;
        rig.Setfreq(frequency);
        QVERIFY(rig.ended.empty()); // never ended inside the call
        // The bus echoes the frame back: that ends the wait and shows the frequency.
        const QByteArray sent = rig.pty.Read(2000, frame.size());
        QCOMPARE(sent, frame);
        rig.pty.Write(sent);
        QVERIFY(rig.AwaitEnd().IsOk());
        QVERIFY(rig.link.RadioAnswering());
        QCOMPARE(rig.link.replyReceived, false);
        QCOMPARE(rig.display.size(), 2);
        QCOMPARE(rig.display.at(0), QString());
        QCOMPARE(rig.display.at(1), core::FormatKilohertz(frequency, QLocale(QLocale::English)));
        QCOMPARE(rig.pty.Read(50), QByteArray()); // one frame, nothing resent
    }

    void sendCommand_dataSentWhole_data() {
        QTest::addColumn<int>("cmd");
        QTest::addColumn<int>("subcmd");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("15 02, no data")
            << 0x15 << 0x02 << QByteArray() << hex("FE FE 4E 4D 15 02 FD");
        QTest::newRow("15 02, one byte")
            << 0x15 << 0x02 << hex("01") << hex("FE FE 4E 4D 15 02 01 FD");
        QTest::newRow("15 02, two bytes")
            << 0x15 << 0x02 << hex("01 20") << hex("FE FE 4E 4D 15 02 01 20 FD");
        QTest::newRow("07, no sub-command")
            << 0x07 << -1 << QByteArray() << hex("FE FE 4E 4D 07 FD");
    }
    void sendCommand_dataSentWhole() {
        QFETCH(int, cmd);
        QFETCH(int, subcmd);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, frame);
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = 0x4E;
        rig.link.replyReceived = true; // end the wait at once; only the bytes matter here
        rig.link.SendCommand(cmd, subcmd, data, std::nullopt, rig.Record());
        QVERIFY(rig.AwaitEnd().IsOk());
        QCOMPARE(rig.pty.Read(2000, frame.size()), frame);
    }

    // A set for later is written by the port's writer thread at its instant while the event
    // loop is held up, as by a long paint: not before the instant, once, and the echo then ends
    // the wait as it does for a set sent at once.
    void timedSetfreq_writtenOnItsInstantWhileTheLoopIsHeld() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        const auto at = std::chrono::steady_clock::now() + std::chrono::milliseconds{100};
        rig.Setfreq(14074000, at);
        QCoreApplication::processEvents();                     // hands the frame to the writer
        const QByteArray sent = rig.pty.Read(5000, 11, false); // the loop stays held
        const auto arrived = std::chrono::steady_clock::now();
        QCOMPARE(sent, hex("FE FE 00 4D 05 00 40 07 14 00 FD"));
        QVERIFY(arrived >= at);
        rig.pty.Write(sent);
        QVERIFY(rig.AwaitEnd().IsOk());
        QVERIFY(rig.link.RadioAnswering());
        QCOMPARE(rig.display.last(), QStringLiteral("14,074.000"));
        QCOMPARE(rig.pty.Read(50), QByteArray());
    }

    // The device goes away while a timed set waits for its instant: the frame is dropped, not
    // written to a closed descriptor, and the set fails rather than report it sent.
    void timedSetfreq_deviceGoneBeforeItsInstant_fails() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.Setfreq(2000000, std::chrono::steady_clock::now() + std::chrono::milliseconds{2000});
        QCoreApplication::processEvents();
        rig.pty.CloseMaster();
        QCOMPARE(rig.AwaitEnd().Message(),
                 QStringLiteral("The serial port %1 closed before the frame for the radio was "
                                "sent.")
                     .arg(rig.pty.SlavePath()));
        QVERIFY(!rig.link.PortIsOpen());
    }

    void staleReplyFlag_endsNextWaitAtOnce() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.link.replyReceived = true;
        QSignalSpy answering(&rig.link, &RadioLink::RadioAnsweringChanged);
        rig.Setfreq(2000000);
        QVERIFY(rig.AwaitEnd().IsOk());
        QCOMPARE(rig.link.replyReceived, false);
        QVERIFY(rig.link.RadioAnswering());
        QCOMPARE(answering.count(), 0);
    }

    void waitEndsOnlyOnRecognisedFrame_data() {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<bool>("endsWait");
        QTest::newRow("OK from the radio") << hex("FE FE 4D 4E FB FD") << true;
        QTest::newRow("NG from the radio") << hex("FE FE 4D 4E FA FD") << true;
        QTest::newRow("frequency report") << hex("FE FE 00 4E 00 00 40 07 14 00 FD") << true;
        QTest::newRow("unrecognised command") << hex("FE FE 00 4E 1C 00 01 FD") << false;
        QTest::newRow("frame to another device") << hex("FE FE E0 4E FB FD") << false;
    }
    void waitEndsOnlyOnRecognisedFrame() {
        QFETCH(QByteArray, first);
        QFETCH(bool, endsWait);
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = 0x4E;
        QSignalSpy answering(&rig.link, &RadioLink::RadioAnsweringChanged);
        rig.Setfreq(7074000);
        QCoreApplication::processEvents();
        QCOMPARE(rig.pty.Read(2000, 11).size(), 11);
        rig.pty.Write(first);
        QTest::qWait(100);
        QCOMPARE(rig.ended.size(), std::size_t(endsWait ? 1 : 0));
        if (!endsWait) {
            rig.pty.Write(hex("FE FE 4D 4E FB FD")); // a frame that does
        }
        QVERIFY(rig.AwaitEnd().IsOk());
        QCOMPARE(rig.link.replyReceived, false);
        QCOMPARE(answering.count(), 0);
    }

    void silentRadio_waitEndsAtDeadline_andRecovers() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        QSignalSpy answering(&rig.link, &RadioLink::RadioAnsweringChanged);
        rig.Setfreq(2000000); // nobody answers: the deadline ends it
        QVERIFY(rig.AwaitEnd().IsOk());
        QCOMPARE(rig.pty.Read(2000, 11).size(), 11);
        QVERIFY(!rig.link.RadioAnswering());
        QCOMPARE(answering.count(), 1);
        QCOMPARE(answering.at(0).at(0).toBool(), false);
        // The next recognised frame takes the sign away.
        rig.pty.Write(hex("FE FE 00 4E 00 00 40 07 14 00 FD"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.RadioAnswering(), 5000);
        QCOMPARE(answering.count(), 2);
        QCOMPARE(rig.display.last(), QStringLiteral("14,074.000"));
    }

    void radioNg_toldOncePerRun_clearedByOk() {
        LinkOnPty rig;
        rig.serial.radioAdress = 0x4E;
        QVERIFY(rig.Open());
        QSignalSpy problems(&rig.link, &RadioLink::Problem);
        QSignalSpy refusing(&rig.link, &RadioLink::RadioRefusingChanged);
        const QByteArray ng = hex("FE FE 4D 4E FA FD");
        const QByteArray ok = hex("FE FE 4D 4E FB FD");
        // Two refusals in a row (the second split across reads), then an OK, then one more NG.
        rig.pty.Write(ng + hex("FE FE 4D"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.RadioRefusing(), 5000);
        rig.pty.Write(hex("4E FA FD"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.replyReceived, 5000);
        rig.link.replyReceived = false;
        rig.pty.Write(ok);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.link.RadioRefusing(), 5000);
        rig.pty.Write(ng);
        QTRY_VERIFY_WITH_TIMEOUT(rig.link.RadioRefusing(), 5000);

        QCOMPARE(refusing.count(), 3);
        QCOMPARE(problems.count(), 2);
        QCOMPARE(problems.at(0).at(0).toString(),
                 QStringLiteral("The radio at address 4E answered NG: it refused a command, so it "
                                "may not be following the sweep even though the display shows "
                                "the frequency sent. Check that it can tune 2 to 30 MHz in its "
                                "present band, mode and VFO settings."));
        // An NG to another controller on the bus is not ours.
        rig.pty.Write(ok + hex("FE FE E0 4E FA FD"));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.link.RadioRefusing(), 5000);
        QTest::qWait(50);
        QVERIFY(!rig.link.RadioRefusing());
        QCOMPARE(problems.count(), 2);
    }

    // Commands given back to back go out one at a time, in order: the second frame only once
    // the first has had its reply, and each reply ends only its own command.
    void commandsBackToBack_oneAtATime() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.Setfreq(2100000);
        rig.Setfreq(2000000);
        QCOMPARE(rig.link.CommandsInHand(), 2);
        QCOMPARE(rig.pty.Read(2000, 11), hex("FE FE 00 4D 05 00 00 10 02 00 FD"));
        QCOMPARE(rig.pty.Read(100), QByteArray()); // the second waits for the first's reply
        QVERIFY(rig.ended.empty());
        rig.pty.Write(hex("FE FE 4D 00 FB FD"));
        QVERIFY(rig.AwaitEnd(1).IsOk());
        QCOMPARE(rig.pty.Read(2000, 11), hex("FE FE 00 4D 05 00 00 00 02 00 FD"));
        QCOMPARE(rig.ended.size(), std::size_t(1));
        rig.pty.Write(hex("FE FE 4D 00 FB FD"));
        QVERIFY(rig.AwaitEnd(2).IsOk());
        QVERIFY(rig.link.RadioAnswering()); // both ended on a reply, not at the deadline
        QCOMPARE(rig.link.CommandsInHand(), 0);
    }

    void refusedAddressOrFrequency_writesNothing_data() {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("frequency");
        QTest::newRow("address 0x100") << 0x100 << 2000000;
        QTest::newRow("address -1") << -1 << 2000000;
        QTest::newRow("negative frequency") << 0x4E << -100;
    }
    void refusedAddressOrFrequency_writesNothing() {
        QFETCH(int, address);
        QFETCH(int, frequency);
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = address;
        rig.Setfreq(frequency);
        const Status status = rig.AwaitEnd();
        QVERIFY(!status.IsOk());
        QVERIFY(!status.Message().isEmpty());
        QCOMPARE(rig.pty.Read(100), QByteArray());
    }

    void sendWithPortClosed_failsWithoutWaiting() {
        LinkOnPty rig;
        rig.serial.comPort = QStringLiteral("COMX");
        const Status opened = rig.link.OpenPort();
        QVERIFY(!opened.IsOk());
        QVERIFY(opened.Message().contains(QStringLiteral("\"COMX\"")));
        QVERIFY(!rig.link.PortIsOpen());
        rig.Setfreq(2000000);
        const Status sent = rig.AwaitEnd();
        QVERIFY(!sent.IsOk());
        QVERIFY(sent.Message().contains(QStringLiteral("COMX")));
    }

    // The main window closes while the radio is silent and another command waits behind: the
    // wait ends at once, the waiting command is refused, and nothing more is sent.
    void shutdownDuringWait_endsEverythingAtOnce() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.Setfreq(2000000);
        rig.Setfreq(2100000);
        QCOMPARE(rig.pty.Read(2000, 11).size(), 11);
        rig.link.Shutdown();
        QCOMPARE(rig.ended.size(), std::size_t(2));
        QVERIFY(rig.ended.at(0).IsOk()); // it was written
        QCOMPARE(rig.ended.at(1).Message(),
                 QStringLiteral("Tavmirok is closing; nothing more is sent."));
        QVERIFY(!rig.link.PortIsOpen());
        rig.Setfreq(2000000);
        QVERIFY(!rig.AwaitEnd(3).IsOk());
    }

    void splitEcho_decodesAsOne() {
        LinkOnPty rig;
        QVERIFY(rig.Open());
        rig.serial.radioAdress = 0x4E;
        rig.pty.Write(hex("FE FE 00"));
        QTest::qWait(30);
        rig.pty.Write(hex("4E 00 00 40"));
        QTest::qWait(30);
        rig.pty.Write(hex("07 14 00 FD"));
        rig.AwaitDisplay(2);
        QCOMPARE(rig.display, QStringList({QString(), QStringLiteral("14,074.000")}));
        QVERIFY(rig.link.replyReceived);
    }

    void bytesWaitingAtOpen_areRead() {
        LinkOnPty rig;
        rig.pty.Write(hex("FE FE 00 4E 00 00 00 00 02 00 FD"));
        QVERIFY(rig.Open());
        rig.AwaitDisplay(2);
        QCOMPARE(rig.display.last(), QStringLiteral("2,000.000"));
    }
};

QTEST_GUILESS_MAIN(TestRadioLink)
#include "tst_radiolink.moc"
