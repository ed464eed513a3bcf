// Configure > Audio Input...: what it lists and shows, what OK emits, and the values it refuses
// with the dialog left open.

#include "ui/audiodialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {

const std::vector<ionogram::AudioInput> kInputs{
    {QStringLiteral("alsa_input.usb-radio"), QStringLiteral("USB Audio CODEC")},
    {QStringLiteral("alsa_input.pci"), QStringLiteral("Built-in Audio")},
};

void TypeInto(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

} // namespace

class TestAudioDialog : public QObject {
    Q_OBJECT
    QPointer<AudioDialog> dialog;
    std::vector<IonogramChoice> accepted;

    void Open(const IonogramChoice& current) {
        dialog = new AudioDialog(current, kInputs);
        accepted.clear();
        connect(dialog.data(), &AudioDialog::choiceAccepted,
                [this](const IonogramChoice& choice) { accepted.push_back(choice); });
        dialog->show();
    }

private slots:
    void cleanup() { delete dialog.data(); }

    void showsCurrentAndEmitsChosen() {
        Open(
            {QStringLiteral("alsa_input.pci"), 1.5, -2, 30, QStringLiteral("/srv/iono"), false, 2});
        QCOMPARE(dialog->iaruRegion->currentText(), QStringLiteral("Region 2"));
        QCOMPARE(dialog->audioInput->count(), 3);
        QCOMPARE(dialog->audioInput->itemData(0).toString(), QString());
        QCOMPARE(dialog->audioInput->currentText(), QStringLiteral("Built-in Audio"));
        QCOMPARE(dialog->delayFrom->text(), QStringLiteral("-2"));
        QVERIFY(!dialog->save->isChecked());

        dialog->audioInput->setCurrentIndex(1);
        TypeInto(dialog->audioDelay, QStringLiteral("-0.4"));
        TypeInto(dialog->delayTo, QStringLiteral("100"));
        dialog->save->setChecked(true);
        dialog->iaruRegion->setCurrentIndex(2);
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        QCOMPARE(accepted.size(), std::size_t(1));
        QCOMPARE(accepted[0], (IonogramChoice{QStringLiteral("alsa_input.usb-radio"), -0.4, -2, 100,
                                              QStringLiteral("/srv/iono"), true, 3}));
        QTRY_VERIFY(dialog.isNull()); // closed and deleted
    }

    void escapeClosesWithoutChoosing() {
        Open(IonogramChoice());
        QTest::keyClick(dialog->delayTo, Qt::Key_Escape);
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(accepted.empty());
    }

    void inputNotPresentIsKept() {
        Open({QStringLiteral("radio"), 0, 0, 20, QStringLiteral("/srv/iono"), true});
        QCOMPARE(dialog->audioInput->currentText(), QStringLiteral("radio (not found now)"));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        QCOMPARE(accepted.size(), std::size_t(1));
        QCOMPARE(accepted[0].audioInput, QStringLiteral("radio"));
    }

    void refused_data() {
        QTest::addColumn<QString>("audioDelay");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("problem");
        QTest::newRow("not a number")
            << "0"
            << "zero"
            << "20"
            << "/srv/iono"
            << "The delay shown from \"zero\" is not a number. Type it in milliseconds, for "
               "example 0.";
        QTest::newRow("refused by the ionogram's checks")
            << "0"
            << "20"
            << "10"
            << "  " << IonogramRefusal({QString(), 0, 20, 10, QString(), true});
    }
    void refused() {
        QFETCH(QString, audioDelay);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(QString, folder);
        QFETCH(QString, problem);
        Open({QString(), 0, 0, 20, QStringLiteral("/srv/iono"), true});
        TypeInto(dialog->audioDelay, audioDelay);
        TypeInto(dialog->delayFrom, from);
        TypeInto(dialog->delayTo, to);
        TypeInto(dialog->folder, folder);
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        QVERIFY(accepted.empty());
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->problem->isVisible());
        QCOMPARE(dialog->problem->text(), problem);
    }
};

QTEST_MAIN(TestAudioDialog)
#include "tst_audiodialog.moc"
