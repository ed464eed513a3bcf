// The rig choice's checks (host:port, a model, a known backend) and the Rig Control dialog:
// it refuses what the checks refuse and stays open, finds a model by typing, emits the choice.

#include "rig/rigchoice.h"
#include "ui/rigdialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

const QList<HamlibModel> kModels{
    {1, QStringLiteral("Hamlib"), QStringLiteral("Dummy")},
    {3073, QStringLiteral("Icom"), QStringLiteral("IC-7300")},
    {2028, QStringLiteral("Kenwood"), QStringLiteral("TS-590S")},
};

// Opens a dialog on choice and records what it emits.
struct Opened {
    explicit Opened(const RigChoice& choice) : dialog(choice, kModels) {
        QObject::connect(&dialog, &RigDialog::Chosen, [this](const RigChoice& c) { chosen << c; });
        dialog.show();
    }
    void PressOk() {
        QTest::mouseClick(dialog.buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
    }
    QStringList Visible() const {
        QStringList labels;
        for (int row = 0; row < dialog.modelList->count(); ++row) {
            if (!dialog.modelList->item(row)->isHidden()) {
                labels << dialog.modelList->item(row)->text();
            }
        }
        return labels;
    }

    RigDialog dialog;
    QList<RigChoice> chosen;
};

} // namespace

class TestRigDialog : public QObject {
    Q_OBJECT
private slots:
    void parseHostPort_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host"); // "" when refused
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("problem");
        QTest::newRow("rigctld") << "localhost:4532"
                                 << "localhost" << 4532 << "";
        QTest::newRow("blanks, IPv4") << " 192.168.1.20:7356 "
                                      << "192.168.1.20" << 7356 << "";
        QTest::newRow("IPv6") << "[::1]:4532"
                              << "::1" << 4532 << "";
        QTest::newRow("empty") << "  "
                               << "" << 0 << "No address typed. ";
        QTest::newRow("no port") << "localhost"
                                 << "" << 0 << "\"localhost\" is not a host and port. ";
        QTest::newRow("bare IPv6") << "::1:4532"
                                   << "" << 0 << "\"::1:4532\" is not a host and port. ";
        QTest::newRow("blank in host") << "my host:4532"
                                       << "" << 0 << "\"my host:4532\" is not a host and port. ";
        QTest::newRow("port 0")
            << "localhost:0"
            << "" << 0
            << "0 in \"localhost:0\" is not a port: a port is a number from 1 to 65535. ";
        QTest::newRow("port too big") << "localhost:70000"
                                      << "" << 0 << "70000 in \"localhost:70000\" is not a port";
    }
    void parseHostPort() {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, problem);
        rigconfig::HostPort parsed;
        const Status status = rigconfig::ParseHostPort(text, &parsed);
        QCOMPARE(status.IsOk(), problem.isEmpty());
        if (status.IsOk()) {
            QCOMPARE(parsed.host, host);
            QCOMPARE(int(parsed.port), port);
        } else {
            QVERIFY2(status.Message().startsWith(problem), qPrintable(status.Message()));
            QVERIFY(status.Message().endsWith(
                "Type the host and port of rigctld or of the SDR program's remote control as "
                "host:port, such as localhost:4532 (rigctld) or localhost:7356 (many SDR "
                "programs)."));
        }
    }

    void validate_data() {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("model");
        QTest::addColumn<QString>("problem");
        QTest::newRow("civ ignores the rest") << "civ"
                                              << "nonsense" << 0 << "";
        QTest::newRow("network") << "network"
                                 << "localhost:4532" << 0 << "";
        QTest::newRow("network, bad address")
            << "network"
            << "localhost" << 3073 << "\"localhost\" is not a host and port.";
        QTest::newRow("hamlib") << "hamlib"
                                << "" << 3073 << "";
        QTest::newRow("hamlib, no model")
            << "hamlib"
            << "localhost:4532" << 0
            << "No Hamlib model chosen. Pick your radio in the list; typing part of its name "
               "finds it.";
        QTest::newRow("unknown backend") << "serial"
                                         << "" << 0 << "\"serial\" is not a way to reach the radio";
    }
    void validate() {
        QFETCH(QString, backend);
        QFETCH(QString, address);
        QFETCH(int, model);
        QFETCH(QString, problem);
        const Status status = rigconfig::ValidateRigChoice({backend, address, model});
        QCOMPARE(status.IsOk(), problem.isEmpty());
        QVERIFY(problem.isEmpty() || status.Message().startsWith(problem));
    }

    void fromStored_data() {
        QTest::addColumn<QStringList>("stored"); // backend, address, model
        QTest::addColumn<QString>("backend");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("model");
        QTest::newRow("nothing stored") << QStringList{"", "", ""} << "civ"
                                        << "localhost:4532" << 0;
        QTest::newRow("network") << QStringList{"network", " sdr:7356 ", ""} << "network"
                                 << "sdr:7356" << 0;
        QTest::newRow("hamlib, any case") << QStringList{"Hamlib", "", "3073"} << "hamlib"
                                          << "localhost:4532" << 3073;
        QTest::newRow("model not a number") << QStringList{"hamlib", "", "IC-7300"} << "hamlib"
                                            << "localhost:4532" << 0;
    }
    void fromStored() {
        QFETCH(QStringList, stored);
        QFETCH(QString, backend);
        QFETCH(QString, address);
        QFETCH(int, model);
        QCOMPARE(rigconfig::RigChoiceFromStored(stored[0], stored[1], stored[2]),
                 RigChoice({backend, address, model}));
    }

    void badAddress_staysOpenWithTheReason_thenEmitsTheFixedChoice() {
        Opened opened(rigconfig::DefaultRigChoice());
        QVERIFY(opened.dialog.civButton->isChecked());
        QVERIFY(!opened.dialog.addressEdit->isEnabled());
        QTest::mouseClick(opened.dialog.networkButton, Qt::LeftButton);
        QVERIFY(opened.dialog.addressEdit->isEnabled());
        QCOMPARE(opened.dialog.addressEdit->text(), QString("localhost:4532"));

        opened.dialog.addressEdit->clear();
        QTest::keyClicks(opened.dialog.addressEdit, "sdrbox");
        opened.PressOk();
        QVERIFY(opened.dialog.isVisible());
        QVERIFY(opened.chosen.isEmpty());
        QVERIFY(opened.dialog.problem->isVisible());
        QVERIFY(opened.dialog.problem->text().startsWith("\"sdrbox\" is not a host and port."));

        QTest::keyClicks(opened.dialog.addressEdit, ":7356");
        opened.PressOk();
        QVERIFY(!opened.dialog.isVisible());
        QCOMPARE(opened.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(opened.chosen, QList<RigChoice>({{"network", "sdrbox:7356", 0}}));
    }

    void hamlib_findsTheModelByTyping() {
        Opened opened(rigconfig::DefaultRigChoice());
        QTest::mouseClick(opened.dialog.hamlibButton, Qt::LeftButton);
        opened.PressOk();
        QVERIFY(opened.dialog.problem->text().startsWith("No Hamlib model chosen."));
        QVERIFY(opened.chosen.isEmpty());

        QTest::keyClicks(opened.dialog.modelFilter, "icom 7300");
        QCOMPARE(opened.Visible(), QStringList{"Icom IC-7300 (3073)"});
        opened.dialog.modelFilter->clear();
        QTest::keyClicks(opened.dialog.modelFilter, "2028");
        QCOMPARE(opened.Visible(), QStringList{"Kenwood TS-590S (2028)"});
        opened.dialog.modelFilter->clear();
        QCOMPARE(opened.Visible().size(), kModels.size());

        opened.dialog.modelList->setCurrentRow(1);
        QCOMPARE(opened.dialog.chosenModel->text(), QString("Chosen: Icom IC-7300 (3073)"));
        opened.PressOk();
        QCOMPARE(opened.chosen, QList<RigChoice>({{"hamlib", "localhost:4532", 3073}}));
    }

    void cancel_emitsNothing() {
        Opened opened({"hamlib", "radio:4532", 2028});
        QVERIFY(opened.dialog.hamlibButton->isChecked());
        QCOMPARE(opened.dialog.modelList->currentItem()->text(), QString("Kenwood TS-590S (2028)"));
        QTest::mouseClick(opened.dialog.civButton, Qt::LeftButton);
        QTest::mouseClick(opened.dialog.buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
        QVERIFY(!opened.dialog.isVisible());
        QVERIFY(opened.chosen.isEmpty());
    }
};

QTEST_MAIN(TestRigDialog)
#include "tst_rigdialog.moc"
