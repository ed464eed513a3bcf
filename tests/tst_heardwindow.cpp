// View > Sounders Heard over a simulated band: the confirmed sounders listed apart from a
// crossing heard once, a saved sounder shown by its name, Save into the saved sounders (a name in
// use asks first) and Follow putting the heard sounder in force and arming the sweep.

#include "settings/stationstore.h"
#include "support/heardband.h"
#include "support/settingsfile.h"
#include "support/ui/toplevel.h"
#include "ui/form1.h"
#include "ui/heardwindow.h"

#include <QFile>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>

namespace {

constexpr double kMidnight = 1796601600; // 2026-12-07T00:00:00Z
constexpr double kFrom = 36000;          // 10:00:00 UTC, listened to for six minutes
constexpr double kUntil = 36360;

// 100 kHz/s every 120 s sweeps 2 MHz up to the last step one period holds.
const sweep::Profile kSlowProfile{100, 120, 2000, 13900, 100};
const sweep::Profile kFastProfile{500, 60, 2000, 30000, 100};
const SavedSounder kCyprus{QStringLiteral("Cyprus"), 78, sweep::Profile{}, true};

// Answers the questions Save asks while they are up: the name, then whether to replace; returns
// the replace question's text.
std::shared_ptr<QString> AnswerSave(QObject* owner, const QString& name, bool replace) {
    auto asked = std::make_shared<QString>();
    auto* poll = new QTimer(owner);
    QObject::connect(poll, &QTimer::timeout, owner, [=] {
        for (QInputDialog* ask : VisibleWindows<QInputDialog>()) {
            ask->setTextValue(name);
            ask->accept();
        }
        for (QMessageBox* box : VisibleMessageBoxes()) {
            if (box->button(QMessageBox::Yes) != nullptr) {
                *asked = box->text();
                box->button(replace ? QMessageBox::Yes : QMessageBox::No)->click();
            }
        }
    });
    poll->start(10);
    return asked;
}

} // namespace

class TestHeardWindow : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { CloseAllWindows(); }

    void heard_listedThenSavedOrFollowed_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("name"); // typed when saving
        QTest::addColumn<bool>("replace"); // the answer when the name is in use
        QTest::addColumn<QStringList>("savedNames");
        QTest::newRow("save under a new name")
            << "save"
            << "Slow" << false << QStringList{"Akrotiri", "Cyprus", "Slow"};
        QTest::newRow("save over a name in use, replacing")
            << "save"
            << "Cyprus" << true << QStringList{"Akrotiri", "Cyprus"};
        QTest::newRow("save over a name in use, keeping it")
            << "save"
            << "Cyprus" << false << QStringList{"Akrotiri", "Cyprus"};
        QTest::newRow("follow") << "follow"
                                << "" << false << QStringList{"Akrotiri", "Cyprus"};
    }
    void heard_listedThenSavedOrFollowed() {
        QFETCH(QString, action);
        QFETCH(QString, name);
        QFETCH(bool, replace);
        QFETCH(QStringList, savedNames);
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("Tavmirok.conf"));
        WriteSettingsFile(ini, {.comPort = QStringLiteral("/dev/tavmirok-none")});
        IonogramChoice audio{.audioInput = QStringLiteral("tavmirok-none"),
                             .folder = dir.filePath("archive")};
        QVERIFY(StationStore(ini).Save(audio).IsOk());
        const SavedSounder akrotiri{QStringLiteral("Akrotiri"), 54, kFastProfile, false};
        QVERIFY(SounderStore(ini).SaveSaved({akrotiri, kCyprus}).IsOk());
        std::atomic<double> now = kFrom; // read on the station's thread too
        Form1 form({[&now] { return now.load(); }, ini});
        form.Load();
        form.HeardView->trigger();
        HeardWindow* window = form.SoundersHeardWindow();
        window->frequencies->setText(QStringLiteral("7000"));
        QTest::mouseClick(window->listenButton, Qt::LeftButton);
        QTRY_VERIFY2(form.Feed().Snap().activity == feed::Activity::Listening,
                     qPrintable(window->problem->text()));
        // Two sounders heard three times or more, one (82 kHz/s) crossing once at 10:01:35.
        form.Feed().PlaceAudio(HeardBand({{500, 60, 54, 3}, {100, 120, 20, 5}, {82, 720, 10, 4}},
                                         7000, kMidnight + kFrom, kMidnight + kUntil));
        QTRY_COMPARE(window->confirmedList->rowCount(), 2);
        QVERIFY(QFile::exists(dir.filePath("archive/sounders-heard.csv"))); // the folder made
        const auto cell = [window](int row, int column) {
            return window->confirmedList->item(row, column)->text();
        };
        QCOMPARE(cell(0, HeardWindow::kName) + cell(0, HeardWindow::kRate), "Akrotiri500");
        QCOMPARE(cell(1, HeardWindow::kName) + cell(1, HeardWindow::kRate), "100");
        QVERIFY(cell(1, HeardWindow::kTiming).startsWith("120:20.00"));
        QCOMPARE(window->unconfirmedList->rowCount(), 1);
        QCOMPARE(window->unconfirmedList->item(0, HeardWindow::kLastHeard)->text(), "10:01:35");
        CloseMessageBoxes(); // the missing port and audio input

        const int column = action == "save" ? HeardWindow::kSave : HeardWindow::kFollow;
        const auto asked = AnswerSave(&form, name, replace);
        now = kUntil;
        QTest::mouseClick(qobject_cast<QPushButton*>(
                              window->confirmedList->cellWidget(action == "save" ? 1 : 0, column)),
                          Qt::LeftButton);
        QCOMPARE(asked->contains(QStringLiteral("already called \"Cyprus\"")), name == "Cyprus");
        const bool replaced = action == "save" && (replace || name != "Cyprus");
        QStringList notices;
        QStringList names;
        for (const SavedSounder& s : SounderStore(ini).LoadSaved(&notices)) {
            names << s.name;
            if (s.name == name && replaced) {
                QCOMPARE(s.profile, kSlowProfile);
                QCOMPARE(s.chirpTime, 20.0);          // heard 20.005: the path's delay
                QCOMPARE(s.follow, name == "Cyprus"); // replacing keeps the Follow tick
            } else if (s.name == "Cyprus") {
                QCOMPARE(s, (SavedSounder{kCyprus.name, 78, {}, action == "save"}));
            }
        }
        QCOMPARE(names, savedNames);
        if (action == "follow") {
            QTRY_COMPARE(form.Feed().Snap().phase, feed::Phase::Waiting);
            const feed::Snapshot followed = form.Feed().Snap();
            QVERIFY(followed.activity != feed::Activity::Listening && !followed.plan);
            QCOMPARE(followed.profile, kFastProfile);
            QCOMPARE(SounderStore(ini).Load(&notices), kFastProfile);
            QCOMPARE(followed.armedChirpTime, 54.0);
        } else {
            QTRY_COMPARE(cell(1, HeardWindow::kName), replaced ? name : QString());
        }
        QVERIFY(form.close());
        QCOMPARE(StoredSetting(ini, QStringLiteral("ChirpTime")), action == "save" ? "78" : "54");
    }
};

QTEST_MAIN(TestHeardWindow)
#include "tst_heardwindow.moc"
