// The listening plan's settings over an INI file: the group "plan", defaults for what is
// missing, and what the user is told about values it cannot use.

#include "settings/planstore.h"

#include "support/settingsfile.h"

#include <QSettings>
#include <QTest>

using namespace std::chrono_literals;

class TestPlanStore : public QObject {
    Q_OBJECT
    SettingsFiles files;

private slots:
    void load_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("tuningMs");
        QTest::addColumn<bool>("fine");
        QTest::addColumn<QString>("notice"); // %1 is the file
        QTest::newRow("missing: defaults") << QByteArray() << 50 << false << QString();
        QTest::newRow("stored") << QByteArray("[plan]\nTuningTime=60\nFineSteps=true\n") << 60
                                << true << QString();
        QTest::newRow("tuning time beyond a second")
            << QByteArray("[plan]\nTuningTime=1500\n") << 50 << false
            << QStringLiteral("The stored tuning time \"1500\" in %1 is not a whole number of "
                              "milliseconds from 0 to 1000, so 50 ms is used.");
        QTest::newRow("fine steps neither")
            << QByteArray("[plan]\nFineSteps=yes\n") << 50 << false
            << QStringLiteral("The stored fine-steps value \"yes\" in %1 is "
                              "neither true nor false, so fine steps are off.");
    }
    void load() {
        QFETCH(QByteArray, text);
        QFETCH(int, tuningMs);
        QFETCH(bool, fine);
        QFETCH(QString, notice);
        const QString path = files.NewWithText(text);
        QStringList notices;
        const sweep::PlanChoice choice = PlanStore(path).Load(&notices);
        QCOMPARE(choice.tuningTime.count(), tuningMs);
        QCOMPARE(choice.fineSteps, fine);
        QCOMPARE(notices, notice.isEmpty() ? QStringList() : QStringList{notice.arg(path)});
    }

    void save_roundTrip() {
        const QString path = files.NewWithText();
        QVERIFY(PlanStore(path).Save(sweep::PlanChoice{70ms, true}).IsOk());
        QCOMPARE(QSettings(path, QSettings::IniFormat).value("plan/TuningTime").toString(),
                 QStringLiteral("70"));
        QStringList notices;
        QCOMPARE(PlanStore(path).Load(&notices), (sweep::PlanChoice{70ms, true}));
    }
};

QTEST_GUILESS_MAIN(TestPlanStore)
#include "tst_planstore.moc"
