// The ionogram settings over an INI file: the exact group and keys as text, defaults for what is
// missing, and what the user is told about values the ionogram cannot use.

#include "settings/ionogramstore.h"
#include "support/settingsfile.h"

#include <QSettings>
#include <QTest>

Q_DECLARE_METATYPE(IonogramChoice)

class TestIonogramStore : public QObject {
    Q_OBJECT
    SettingsFiles files;

    QString NewFile(const QByteArray& text = QByteArray()) { return files.NewWithText(text); }

private slots:
    void missing_givesDefaults() {
        QStringList notices;
        IonogramChoice defaults;
        defaults.folder = IonogramStore::DefaultFolder();
        QCOMPARE(IonogramStore(NewFile()).Load(&notices), defaults);
        QVERIFY(defaults.folder.endsWith(QStringLiteral("/Tavmirok/ionograms")));
        QVERIFY(notices.isEmpty());
    }

    void missing_defaultFolderInAHomeNamedBeyondAscii() {
        const QByteArray home = qgetenv("HOME");
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const QString user = QStringLiteral("/home/j\u00f8rgen");
        qputenv("HOME", user.toUtf8());
        qunsetenv("XDG_DATA_HOME");
        QStringList notices;
        const IonogramChoice choice = IonogramStore(NewFile()).Load(&notices);
        qputenv("HOME", home);
        if (!dataHome.isNull()) {
            qputenv("XDG_DATA_HOME", dataHome);
        }
        QCOMPARE(choice.folder, user + QStringLiteral("/.local/share/Tavmirok/ionograms"));
    }

    void save_roundTripAsTextInOwnGroup() {
        const QString path = NewFile();
        const IonogramChoice choice{QStringLiteral("alsa_input.usb-radio"), -1.25, -2, 40,
                                    QStringLiteral("/srv/iono, radio"),     false};
        QVERIFY(IonogramStore(path).Save(choice).IsOk());
        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("ionogram/AudioDelay")).toString(),
                 QStringLiteral("-1.25"));
        QCOMPARE(raw.value(QStringLiteral("ionogram/DelayTo")).toString(), QStringLiteral("40"));
        QCOMPARE(raw.value(QStringLiteral("ionogram/Save")).toString(), QStringLiteral("false"));
        QStringList notices;
        QCOMPARE(IonogramStore(path).Load(&notices), choice);
        QVERIFY(notices.isEmpty());
    }

    void badValue_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<IonogramChoice>("choice");
        QTest::addColumn<QString>("notice");
        const QString folder = IonogramStore::DefaultFolder();
        QTest::newRow("not a number: its default")
            << QByteArray("[ionogram]\nAudioDelay=soon\nDelayTo=\"30,5\"\n")
            << IonogramChoice{QString(), 0, 0, 30.5, folder, true}
            << "The stored ionogram value AudioDelay \"soon\" in {path} cannot be read, so its "
               "default is used. Open Configure > Audio Input... to set it again.";
        QTest::newRow("save neither true nor false")
            << QByteArray("[ionogram]\nSave=maybe\nFolder=/srv/iono\n")
            << IonogramChoice{QString(), 0, 0, 20, QStringLiteral("/srv/iono"), true}
            << "The stored ionogram value Save \"maybe\" in {path} cannot be read, so its default "
               "is used. Open Configure > Audio Input... to set it again.";
        QTest::newRow("delays downwards: the defaults, the input kept")
            << QByteArray("[ionogram]\nAudioInput=radio\nDelayFrom=30\nDelayTo=20\n"
                          "Folder=/srv/iono\nSave=false\n")
            << IonogramChoice{QStringLiteral("radio"), 0, 0, 20, folder, true}
            << "The stored ionogram settings cannot be used: {refusal} The "
               "defaults are used instead (delays 0 ms to 20 ms, audio delay 0 ms, saved in "
               "{folder}); open Configure > Audio Input... to set yours.";
    }
    void badValue() {
        QFETCH(QByteArray, file);
        QFETCH(IonogramChoice, choice);
        QFETCH(QString, notice);
        const QString path = NewFile(file);
        QStringList notices;
        QCOMPARE(IonogramStore(path, QLocale(QStringLiteral("de_DE"))).Load(&notices), choice);
        notice.replace(QStringLiteral("{path}"), path);
        notice.replace(QStringLiteral("{folder}"), IonogramStore::DefaultFolder());
        notice.replace(QStringLiteral("{refusal}"),
                       IonogramRefusal({QString(), 0, 30, 20, QStringLiteral("/srv/iono"), false}));
        QCOMPARE(notices, QStringList{notice});
    }

    void refusal_data() {
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("audioDelay");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("negative start") << -5.0 << 20.0 << -3.0 << "/srv" << QString();
        QTest::newRow("to at the limit") << 0.0 << 100.0 << 0.0 << "/srv" << QString();
        QTest::newRow("to beyond")
            << 0.0 << 120.0 << 0.0 << "/srv"
            << "The delays shown can reach up to 100 ms, not 120 ms. Choose a smaller \"to\".";
        QTest::newRow("from equals to")
            << 10.0 << 10.0 << 0.0 << "/srv"
            << "The delays shown must run upwards: \"from\" (10 ms) is not below \"to\" (10 ms). "
               "For example 0 to 20 ms.";
        QTest::newRow("from below the limit")
            << -100.5 << 20.0 << 0.0 << "/srv"
            << "The delays shown can start from -100 ms at the lowest, not -100.5 ms. Choose a "
               "larger \"from\".";
        QTest::newRow("audio delay of seconds")
            << 0.0 << 20.0 << -1500.0 << "/srv"
            << "The audio delay -1500 ms is too long: a receiver and sound card delay the audio "
               "by a few milliseconds, at most 1000 ms either way.";
        QTest::newRow("no folder to save in")
            << 0.0 << 20.0 << 0.0 << "  "
            << "Choose a folder for the ionograms, or turn off \"Save ionograms\".";
    }
    void refusal() {
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, audioDelay);
        QFETCH(QString, folder);
        QFETCH(QString, refusal);
        QCOMPARE(IonogramRefusal({QString(), audioDelay, from, to, folder, true}), refusal);
    }
};

QTEST_GUILESS_MAIN(TestIonogramStore)
#include "tst_ionogramstore.moc"
