// The sounder store over an INI file: the exact group, array and keys, defaults for what is
// missing, decimals in either notation, and what the user is told about values it cannot use.

#include "settings/sounderstore.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(sweep::Profile)
Q_DECLARE_METATYPE(std::optional<DelayRange>)

class TestSounderStore : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    int files = 0;

    // A file of its own per case: Qt caches what it read from a file of the same size and age.
    QString NewFile(const QByteArray& text = QByteArray()) {
        const QString path = dir.filePath(QStringLiteral("t%1.conf").arg(++files));
        QFile file(path);
        if (!text.isEmpty() && file.open(QIODevice::WriteOnly)) {
            file.write(text);
        }
        return path;
    }
    static QString Read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private slots:
    void missing_givesTodaysSweep() {
        QStringList notices;
        QCOMPARE(SounderStore(NewFile()).Load(&notices), sweep::Profile{});
        QVERIFY(notices.isEmpty());
    }

    void save_writesOwnGroupAsText() {
        const QString path = NewFile("[settings]\nChirpTime=78\n");
        QVERIFY(SounderStore(path).Save({82, 720, 2000, 29999.5, 100}).IsOk());
        const QString text = Read(path);
        QVERIFY2(text.contains(QStringLiteral("[sounder]\nHighFrequency=29999.5\n"
                                              "LowFrequency=2000\nPeriod=720\nStepSize=100\n"
                                              "SweepRate=82\n")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("[settings]\nChirpTime=78\n")));
        QStringList notices;
        QCOMPARE(SounderStore(path).Load(&notices), (sweep::Profile{82, 720, 2000, 29999.5, 100}));
    }

    void load_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<sweep::Profile>("profile");
        QTest::addColumn<QString>("notice");
        QTest::newRow("one key, the rest default")
            << QByteArray("[sounder]\nPeriod=900\n") << sweep::Profile{100, 900, 2000, 30000, 100}
            << QString();
        QTest::newRow("decimal comma in a German locale")
            << QByteArray("[sounder]\nSweepRate=\"82,5\"\nPeriod=720\n")
            << sweep::Profile{82.5, 720, 2000, 30000, 100} << QString();
        QTest::newRow("not a number: its default")
            << QByteArray("[sounder]\nStepSize=fast\nPeriod=900\n")
            << sweep::Profile{100, 900, 2000, 30000, 100}
            << "The stored sounder value StepSize \"fast\" in {path} is not a number, so its "
               "default is used. Set the sounder again in Configure > Sounder.";
        QTest::newRow("cannot be followed: the default sweep")
            << QByteArray("[sounder]\nSweepRate=50\n") << sweep::Profile{}
            << "The stored sounder cannot be followed: {refusal} The default sounder is used "
               "instead (2 to 30 MHz at 100 kHz/s every 300 s); set yours in Configure > Sounder.";
    }
    void load() {
        QFETCH(QByteArray, file);
        QFETCH(sweep::Profile, profile);
        QFETCH(QString, notice);
        const QString path = NewFile(file);
        QStringList notices;
        QCOMPARE(SounderStore(path, QLocale(QStringLiteral("de_DE"))).Load(&notices), profile);
        // The refusal itself is spelled out in tst_profile.
        notice.replace(QStringLiteral("{path}"), path);
        notice.replace(QStringLiteral("{refusal}"),
                       sweep::ValidateProfile({50, 300, 2000, 30000, 100}).Message());
        QCOMPARE(notices, notice.isEmpty() ? QStringList() : QStringList{notice});
    }

    void saved_roundTripInOrderWithExactKeys() {
        const QString path = NewFile();
        const std::vector<SavedSounder> sounders{
            {QStringLiteral("Cyprus, 300:78"), 78, {}},
            {QStringLiteral("Hourly"), 1800.5, {100, 3600, 2000, 30000, 100}, true, {{20, 40.5}}},
            {QStringLiteral("Sodankyl\u00e4"),
             12,
             {},
             false,
             {},
             QStringLiteral("Lapland"),
             QStringLiteral("67.3637,26.6343")},
            {QStringLiteral("Cyprus"), 78, {}, false, {}, QString(), QStringLiteral("KM65jc")},
        };
        QVERIFY(SounderStore(path).SaveSaved(sounders).IsOk());
        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("sounders/size")).toInt(), 4);
        // Where a sounder stands: a locator, or a latitude and longitude, as typed.
        QCOMPARE(raw.value(QStringLiteral("sounders/3/Site")).toString(),
                 QStringLiteral("Lapland"));
        QCOMPARE(raw.value(QStringLiteral("sounders/3/Latitude")).toString(),
                 QStringLiteral("67.3637"));
        QCOMPARE(raw.value(QStringLiteral("sounders/3/Longitude")).toString(),
                 QStringLiteral("26.6343"));
        QCOMPARE(raw.value(QStringLiteral("sounders/4/Locator")).toString(),
                 QStringLiteral("KM65jc"));
        QVERIFY(!raw.contains(QStringLiteral("sounders/4/Latitude")));
        QVERIFY(!raw.contains(QStringLiteral("sounders/1/Site")));
        QCOMPARE(raw.value(QStringLiteral("sounders/2/ChirpTime")).toString(),
                 QStringLiteral("1800.5"));
        QCOMPARE(raw.value(QStringLiteral("sounders/2/Period")).toString(), QStringLiteral("3600"));
        QCOMPARE(raw.value(QStringLiteral("sounders/1/Follow")).toString(),
                 QStringLiteral("false"));
        QCOMPARE(raw.value(QStringLiteral("sounders/2/Follow")).toString(), QStringLiteral("true"));
        QCOMPARE(raw.value(QStringLiteral("sounders/2/MaxDelay")).toString(),
                 QStringLiteral("40.5"));
        QVERIFY(!raw.contains(QStringLiteral("sounders/1/MinDelay"))); // the ionogram's delays
        QStringList notices;
        QCOMPARE(SounderStore(path).LoadSaved(&notices), sounders);
        QVERIFY(notices.isEmpty());
        // Fewer sounders leave no stale entry behind.
        QVERIFY(SounderStore(path).SaveSaved({sounders[1]}).IsOk());
        QCOMPARE(SounderStore(path).LoadSaved(&notices), std::vector<SavedSounder>{sounders[1]});
    }

    void saved_withBadValue_isLeftOutAndTold() {
        const QString path = NewFile("[sounders]\nsize=2\n1\\Name=Bad\n1\\ChirpTime=soon\n"
                                     "2\\Name=Good\n2\\ChirpTime=41\n2\\Period=720\n"
                                     "2\\SweepRate=82\n");
        QStringList notices;
        const std::vector<SavedSounder> loaded = SounderStore(path).LoadSaved(&notices);
        QCOMPARE(loaded, (std::vector<SavedSounder>{
                             {QStringLiteral("Good"), 41, {82, 720, 2000, 30000, 100}}}));
        QCOMPARE(notices,
                 QStringList{QStringLiteral(
                                 "The saved sounder \"Bad\" in %1 has a value that is not a "
                                 "number (ChirpTime \"soon\"), so it is left out of the list, and "
                                 "dropped when the list is next changed. Save it again in "
                                 "Configure > Sounder.")
                                 .arg(path)});
    }

    void savedDelays_data() {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<std::optional<DelayRange>>("delays");
        QTest::addColumn<QString>("problem");
        QTest::newRow("none: the ionogram's")
            << QByteArray() << std::optional<DelayRange>() << QString();
        QTest::newRow("far sounder, decimal comma")
            << QByteArray("1\\MinDelay=20\n1\\MaxDelay=\"40,5\"\n")
            << std::optional<DelayRange>({20, 40.5}) << QString();
        QTest::newRow("one end only")
            << QByteArray("1\\MinDelay=20\n") << std::optional<DelayRange>()
            << "MinDelay \"20\" and MaxDelay \"\" are not both numbers of milliseconds.";
        QTest::newRow("downwards: the ionogram's check")
            << QByteArray("1\\MinDelay=40\n1\\MaxDelay=20\n") << std::optional<DelayRange>()
            << DelayRangeRefusal({40, 20});
    }
    void savedDelays() {
        QFETCH(QByteArray, keys);
        QFETCH(std::optional<DelayRange>, delays);
        QFETCH(QString, problem);
        const QString path = NewFile("[sounders]\nsize=1\n1\\Name=Far\n1\\ChirpTime=41\n" + keys);
        QStringList notices;
        const std::vector<SavedSounder> loaded =
            SounderStore(path, QLocale(QStringLiteral("de_DE"))).LoadSaved(&notices);
        QCOMPARE(loaded.size(), std::size_t(1)); // kept either way
        QCOMPARE(loaded[0].delays, delays);
        const QString told = QStringLiteral("The saved sounder \"Far\" in %1 has delays that "
                                            "cannot be used: %2 Its ionogram shows the ionogram's "
                                            "delays until you set its own in Configure > Sounder.")
                                 .arg(path, problem);
        QCOMPARE(notices, problem.isEmpty() ? QStringList() : QStringList{told});
    }

    void unwritable_saysWhere() {
        // A file where the folder should be makes the store unwritable, for root too.
        const QString blocked = NewFile("x") + QStringLiteral("/inner.conf");
        const Status saved = SounderStore(blocked).Save(sweep::Profile{});
        QCOMPARE(saved.Message(),
                 QStringLiteral("The sounder settings could not be saved to %1. Check that the "
                                "folder exists and that you may write there, then try again.")
                     .arg(blocked));
        QVERIFY(!SounderStore(blocked).SaveSaved({}).IsOk());
    }
};

QTEST_GUILESS_MAIN(TestSounderStore)
#include "tst_sounderstore.moc"
