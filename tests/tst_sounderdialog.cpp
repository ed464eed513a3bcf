// Configure > Sounder: what it shows, what OK emits and refuses, and the saved sounders kept in
// the store through Save, pick, Rename and Delete.

#include "settings/sounderstore.h"
#include "ui/sounderdialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const sweep::Profile k720At82{82, 720, 2000, 30000, 100};

struct Accepted {
    sweep::Profile profile;
    std::optional<double> chirpTime;
};

void TypeInto(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

} // namespace

class TestSounderDialog : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    int files = 0;
    QString path;
    std::unique_ptr<SavedSounders> model;
    std::unique_ptr<SounderDialog> dialog;
    std::vector<Accepted> accepted;

    void Open(const sweep::Profile& profile = {}, double chirpTime = 78) {
        dialog.reset();
        model = std::make_unique<SavedSounders>(SounderStore(path));
        model->Reload();
        dialog = std::make_unique<SounderDialog>(profile, chirpTime, *model);
        accepted.clear();
        connect(dialog.get(), &SounderDialog::profileAccepted,
                [this](const sweep::Profile& p, std::optional<double> c) {
                    accepted.push_back({p, c});
                });
        dialog->show();
    }
    void Type(const QString& rate, const QString& period) {
        TypeInto(dialog->sweepRate, rate);
        TypeInto(dialog->period, period);
    }
    std::vector<SavedSounder> Saved() const {
        QStringList notices;
        return SounderStore(path).LoadSaved(&notices);
    }

private slots:
    void init() { path = dir.filePath(QStringLiteral("t%1.conf").arg(++files)); }
    void cleanup() {
        dialog.reset();
        model.reset();
    }

    void ok_emitsTypedProfileInKilohertz() {
        Open();
        QCOMPARE(dialog->lowFrequency->text(), QStringLiteral("2"));
        QCOMPARE(dialog->highFrequency->text(), QStringLiteral("30"));
        Type(QStringLiteral("82"), QStringLiteral("720"));
        TypeInto(dialog->highFrequency, QStringLiteral("29.9"));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        QCOMPARE(accepted.size(), std::size_t{1});
        QCOMPARE(accepted[0].profile, (sweep::Profile{82, 720, 2000, 29900, 100}));
        QVERIFY(!accepted[0].chirpTime);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }

    void refused_staysOpenAndSaysWhy_data() {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("period");
        QTest::addColumn<QString>("message");
        QTest::newRow("not a number")
            << "fast"
            << "300"
            << "The sweep rate \"fast\" is not a number. Type it in kHz/s, for example 100.";
        QTest::newRow("does not fit the period")
            << "50"
            << "300" << sweep::ValidateProfile({50, 300, 2000, 30000, 100}).Message();
    }
    void refused_staysOpenAndSaysWhy() {
        QFETCH(QString, rate);
        QFETCH(QString, period);
        QFETCH(QString, message);
        Open();
        Type(rate, period);
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        QVERIFY(accepted.empty());
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->problem->isVisible());
        QCOMPARE(dialog->problem->text(), message);
    }

    void saveThenPick_emitsItsChirpTime() {
        Open();
        Type(QStringLiteral("82"), QStringLiteral("720"));
        QTest::mouseClick(dialog->saveButton, Qt::LeftButton);
        QCOMPARE(dialog->problem->text(),
                 QStringLiteral("Type a name for the sounder before saving it, such as its place "
                                "or call sign."));
        TypeInto(dialog->savedName, QStringLiteral("Cyprus"));
        TypeInto(dialog->savedChirpTime, QStringLiteral("41"));
        QTest::mouseClick(dialog->saveButton, Qt::LeftButton);
        QCOMPARE(Saved(), (std::vector<SavedSounder>{{QStringLiteral("Cyprus"), 41, k720At82}}));

        // A new dialog over the default sweep lists it; picking it fills the values.
        Open();
        QCOMPARE(dialog->savedList->count(), 1);
        QCOMPARE(dialog->savedList->item(0)->text(),
                 QStringLiteral("Cyprus  720:41  82 kHz/s  2 to 30 MHz  100 kHz steps"));
        dialog->savedList->setCurrentRow(0);
        QCOMPARE(dialog->sweepRate->text(), QStringLiteral("82"));
        QCOMPARE(dialog->period->text(), QStringLiteral("720"));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        QCOMPARE(accepted.size(), std::size_t{1});
        QCOMPARE(accepted[0].profile, k720At82);
        QCOMPARE(accepted[0].chirpTime, std::optional<double>(41));

        // Saved anew from the boxes, it keeps where it stands.
        std::vector<SavedSounder> placed = Saved();
        placed[0].site = QStringLiteral("Troodos");
        placed[0].at = QStringLiteral("KM64");
        QVERIFY(SounderStore(path).SaveSaved(placed).IsOk());
        Open();
        TypeInto(dialog->savedName, QStringLiteral("Cyprus"));
        TypeInto(dialog->savedChirpTime, QStringLiteral("42"));
        QTest::mouseClick(dialog->saveButton, Qt::LeftButton);
        QCOMPARE(Saved().at(0).chirpTime, 42.0);
        QCOMPARE(Saved().at(0).site, QStringLiteral("Troodos"));
        QCOMPARE(Saved().at(0).at, QStringLiteral("KM64"));
    }

    void ownDelays_savedListedAndKeptOnOk() {
        Open();
        TypeInto(dialog->savedName, QStringLiteral("Far"));
        TypeInto(dialog->savedDelayFrom, QStringLiteral("40"));
        QTest::mouseClick(dialog->saveButton, Qt::LeftButton);
        QCOMPARE(dialog->problem->text(),
                 QStringLiteral("The delay shown to \"\" is not a number. Type it in "
                                "milliseconds, for example 40. Leave both delays empty to show "
                                "the ionogram's."));
        TypeInto(dialog->savedDelayTo, QStringLiteral("20"));
        QTest::mouseClick(dialog->saveButton, Qt::LeftButton);
        QCOMPARE(dialog->problem->text(), DelayRangeRefusal({40, 20}));
        QVERIFY(Saved().empty());
        TypeInto(dialog->savedDelayFrom, QStringLiteral("20"));
        TypeInto(dialog->savedDelayTo, QStringLiteral("40"));
        QTest::mouseClick(dialog->saveButton, Qt::LeftButton);
        QCOMPARE(Saved().at(0).delays, std::optional<DelayRange>({20, 40}));
        QCOMPARE(dialog->savedList->item(0)->text(),
                 QStringLiteral("Far  300:78  100 kHz/s  2 to 30 MHz  100 kHz steps  20 to 40 ms"));

        // Picked again, its delays changed and OK: kept with it.
        Open();
        dialog->savedList->setCurrentRow(0);
        QCOMPARE(dialog->savedDelayTo->text(), QStringLiteral("40"));
        TypeInto(dialog->savedDelayTo, QStringLiteral("35"));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        QCOMPARE(accepted.size(), std::size_t{1});
        QCOMPARE(Saved().at(0).delays, std::optional<DelayRange>({20, 35}));
    }

    void knownSite_fillsSiteAndPosition_editableAndChecked() {
        Open();
        TypeInto(dialog->savedName, QStringLiteral("Cyprus"));
        TypeInto(dialog->savedAt, QStringLiteral("ZZ99"));
        QTest::mouseClick(dialog->saveButton, Qt::LeftButton);
        QVERIFY(dialog->problem->text().startsWith(
            QStringLiteral("Position: \"ZZ99\" is not a Maidenhead locator")));
        QVERIFY(Saved().empty());

        emit dialog->knownSites->activated(dialog->knownSites->findText(QStringLiteral("Cyprus")));
        QCOMPARE(dialog->savedAt->text(), QStringLiteral("35.1856,33.3823"));
        TypeInto(dialog->savedSite, QStringLiteral("Troodos"));
        QTest::mouseClick(dialog->saveButton, Qt::LeftButton);
        QCOMPARE(Saved().at(0).site, QStringLiteral("Troodos"));
        QCOMPARE(Saved().at(0).at, QStringLiteral("35.1856,33.3823"));

        // Picked again, its position cleared: unknown from then on.
        Open();
        dialog->savedList->setCurrentRow(0);
        QCOMPARE(dialog->savedSite->text(), QStringLiteral("Troodos"));
        TypeInto(dialog->savedAt, QString());
        QTest::mouseClick(dialog->saveButton, Qt::LeftButton);
        QCOMPARE(Saved().at(0).at, QString());
    }

    void renameAndDelete_changeTheStore() {
        QVERIFY(SounderStore(path)
                    .SaveSaved({{QStringLiteral("A"), 10, {}}, {QStringLiteral("B"), 20, {}}})
                    .IsOk());
        Open();
        QTest::mouseClick(dialog->renameButton, Qt::LeftButton);
        QCOMPARE(dialog->problem->text(),
                 QStringLiteral("Pick the saved sounder to rename in the list first, then type "
                                "its new name."));
        dialog->savedList->setCurrentRow(0);
        TypeInto(dialog->savedName, QStringLiteral("B"));
        QTest::mouseClick(dialog->renameButton, Qt::LeftButton);
        QCOMPARE(dialog->problem->text(),
                 QStringLiteral("A saved sounder is already called \"B\". Choose another name, "
                                "or delete that one first."));
        TypeInto(dialog->savedName, QStringLiteral("Akrotiri"));
        QTest::mouseClick(dialog->renameButton, Qt::LeftButton);
        QCOMPARE(Saved().at(0).name, QStringLiteral("Akrotiri"));
        dialog->savedList->setCurrentRow(1);
        QTest::mouseClick(dialog->deleteButton, Qt::LeftButton);
        QCOMPARE(Saved(), (std::vector<SavedSounder>{{QStringLiteral("Akrotiri"), 10, {}}}));
        QCOMPARE(dialog->savedList->count(), 1);
        // Cancel after all that emits nothing.
        QTest::mouseClick(dialog->cancelButton, Qt::LeftButton);
        QVERIFY(accepted.empty());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }

    // Sounders Heard saves a sounder while the dialog is open: the dialog lists it at once, keeps
    // the Follow tick set here and not yet confirmed, and its OK stores both.
    void savedElsewhere_whileOpen_listedAndKeptOnOk() {
        const SavedSounder cyprus{QStringLiteral("Cyprus"), 78, {}};
        QVERIFY(SounderStore(path).SaveSaved({cyprus}).IsOk());
        Open();
        dialog->savedList->item(0)->setCheckState(Qt::Checked);
        const SavedSounder heard{QStringLiteral("Heard"), 20, {.sweepRate = 500, .period = 60}};
        QVERIFY(model->Replace({cyprus, heard}).IsOk());
        QCOMPARE(dialog->savedList->count(), 2);
        QCOMPARE(dialog->savedList->item(0)->checkState(), Qt::Checked);
        QVERIFY(dialog->savedList->item(1)->text().startsWith(QStringLiteral("Heard")));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        SavedSounder followed = cyprus;
        followed.follow = true;
        QCOMPARE(Saved(), (std::vector<SavedSounder>{followed, heard}));
    }

    void followBoxes_atMostEight_checkedOnOk_keptWhenRefused() {
        std::vector<SavedSounder> nine;
        for (int i = 0; i < 9; ++i) {
            nine.push_back({QStringLiteral("S%1").arg(i), 10.0 + i, {}});
        }
        nine[0].follow = true; // stored ticks are shown
        QVERIFY(SounderStore(path).SaveSaved(nine).IsOk());
        Open();
        std::vector<std::vector<SavedSounder>> checked;
        QString refusal; // the plan's own message, as the window's check would give it
        dialog->SetFollowCheck([&](const std::vector<SavedSounder>& saved) {
            checked.push_back(saved);
            return refusal.isEmpty() ? Status::Ok() : Status::Error(refusal);
        });
        std::vector<std::vector<SavedSounder>> followAccepted;
        connect(dialog.get(), &SounderDialog::followAccepted,
                [&](const std::vector<SavedSounder>& saved) { followAccepted.push_back(saved); });
        QCOMPARE(dialog->savedList->item(0)->checkState(), Qt::Checked);
        for (int i = 1; i < 9; ++i) {
            dialog->savedList->item(i)->setCheckState(Qt::Checked);
        }
        // The ninth is refused and unticked; the eight before it stay.
        QCOMPARE(dialog->savedList->item(8)->checkState(), Qt::Unchecked);
        QVERIFY(dialog->problem->isVisible());
        QCOMPARE(dialog->problem->text(),
                 QStringLiteral("One radio follows at most 8 sounders at once. Untick one of them "
                                "before ticking S8."));

        // A set the plan refuses: its message, the dialog stays open, nothing stored, ticks kept.
        refusal = QStringLiteral("The radio cannot follow these sounders.");
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        QCOMPARE(dialog->problem->text(), refusal);
        QVERIFY(dialog->isVisible());
        QVERIFY(followAccepted.empty());
        QCOMPARE(Saved(), nine);
        QCOMPARE(dialog->savedList->item(7)->checkState(), Qt::Checked);

        // Untick two, the plan agrees: stored with the ticks and handed to the window.
        dialog->savedList->item(0)->setCheckState(Qt::Unchecked);
        dialog->savedList->item(7)->setCheckState(Qt::Unchecked);
        refusal.clear();
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        std::vector<SavedSounder> expected = nine;
        for (int i = 0; i < 9; ++i) {
            expected[i].follow = i >= 1 && i <= 6;
        }
        QCOMPARE(checked.back(), expected);
        QCOMPARE(Saved(), expected);
        QCOMPARE(followAccepted.size(), std::size_t{1});
        QCOMPARE(followAccepted[0], expected);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }
};

QTEST_MAIN(TestSounderDialog)
#include "tst_sounderdialog.moc"
