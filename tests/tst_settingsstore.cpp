// The settings store against a temporary XDG_CONFIG_HOME: defaults on the first run, the exact
// keys and texts written, values kept as typed, and clear notices for stores that cannot be used.

#include "settings/settingsstore.h"
#include "settings/stationstore.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

class TestSettingsStore : public QObject {
    Q_OBJECT
    QTemporaryDir config;

    QString ConfFile() const { return config.filePath(QStringLiteral("Tavmirok/Tavmirok.conf")); }
    QString ReadConf() const {
        QFile file(ConfFile());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    void WriteConf(const QByteArray& text) {
        QDir().mkpath(config.filePath(QStringLiteral("Tavmirok")));
        QFile file(ConfFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }

private slots:
    void initTestCase() {
        // Must be set before the first QSettings is made: Qt reads it once.
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
    void cleanup() { QFile::remove(ConfFile()); }

    void publishGroup_keepsThePasswordFileNotThePassword() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tavmirok.conf"));
        const PublishChoice choice{true,
                                   QStringLiteral("mqtts://broker.example:8884"),
                                   QStringLiteral("dl0abc"),
                                   QStringLiteral("/home/dl0abc/.mqtt-password"),
                                   QStringLiteral("/etc/ca, 2.pem"),
                                   QStringLiteral("club/tavmirok")};
        QVERIFY(StationStore(path).Save(choice).IsOk());
        QVERIFY(PublishStore(path).SaveCallsign(QStringLiteral("DL0ABC/P")).IsOk());
        QStringList notices;
        const StationSettings loaded = StationStore(path).Load(&notices);
        QCOMPARE(loaded.publish, choice);
        QCOMPARE(loaded.callsign, QStringLiteral("DL0ABC/P"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("PasswordFile=/home/dl0abc/.mqtt-password"));
    }

    void firstRun_givesDefaults() {
        QStringList notices;
        const StoredSettings s = SettingsStore().Load(&notices);
        QCOMPARE(s.comPort, QStringLiteral("COM2"));
        QCOMPARE(s.baudRate, QStringLiteral("19200"));
        QCOMPARE(s.chirpTime, QStringLiteral("78"));
        QCOMPARE(s.radioAdress, 0);
        QVERIFY(notices.isEmpty());
    }

    void save_writesNativeFileWithExactKeys() {
        StoredSettings s{QStringLiteral("COM2"), QStringLiteral("19200"), QStringLiteral("78"), 0};
        QVERIFY(SettingsStore().Save(s).IsOk());
        QCOMPARE(SettingsStore().Location(), ConfFile());
        const QString text = ReadConf();
        QVERIFY2(text.contains(QStringLiteral("[settings]")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("comport=COM2\n")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("BaudRate=19200\n")));
        QVERIFY(text.contains(QStringLiteral("ChirpTime=78\n")));
        QVERIFY(text.contains(QStringLiteral("RadioAddress=0\n"))); // the decimal text, not "00"
    }

    void roundTrip_keepsTextsAsTyped_data() {
        QTest::addColumn<QString>("comPort");
        QTest::addColumn<QString>("baudRate");
        QTest::addColumn<QString>("chirpTime");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("storedAddress");
        QTest::newRow("4E stored as 78") << "COM3"
                                         << "9600"
                                         << "78" << 0x4E << "78";
        QTest::newRow("chirp 12a kept") << "COM2"
                                        << "19200"
                                        << "12a" << 0 << "0";
        QTest::newRow("USB path, fraction") << "/dev/ttyUSB0"
                                            << "38400"
                                            << "78.5" << 0x94 << "148";
        QTest::newRow("comma and blanks") << "COM1"
                                          << "4800"
                                          << " 1,5 " << 255 << "255";
        QTest::newRow("empty texts") << ""
                                     << ""
                                     << "" << 0 << "0";
    }
    void roundTrip_keepsTextsAsTyped() {
        QFETCH(QString, comPort);
        QFETCH(QString, baudRate);
        QFETCH(QString, chirpTime);
        QFETCH(int, address);
        QFETCH(QString, storedAddress);
        QVERIFY(SettingsStore().Save({comPort, baudRate, chirpTime, address}).IsOk());
        QSettings raw(ConfFile(), QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("settings/RadioAddress")).toString(), storedAddress);
        QStringList notices;
        const StoredSettings back = SettingsStore().Load(&notices);
        QCOMPARE(back.comPort, comPort);
        QCOMPARE(back.baudRate, baudRate);
        QCOMPARE(back.chirpTime, chirpTime);
        QCOMPARE(back.radioAdress, address);
        QVERIFY(notices.isEmpty());
    }

    void storedAddress_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("address");
        QTest::addColumn<bool>("told");
        QTest::newRow("00") << QByteArray("00") << 0 << false;
        QTest::newRow("78") << QByteArray("78") << 78 << false;
        QTest::newRow("255") << QByteArray("255") << 255 << false;
        QTest::newRow("256") << QByteArray("256") << 0 << true;
        QTest::newRow("-1") << QByteArray("-1") << 0 << true;
        QTest::newRow("hex 4E") << QByteArray("4E") << 0 << true;
        QTest::newRow("empty") << QByteArray("") << 0 << true;
        QTest::newRow("garbage") << QByteArray("\\x1b]0;x") << 0 << true;
    }
    void storedAddress() {
        QFETCH(QByteArray, stored);
        QFETCH(int, address);
        QFETCH(bool, told);
        // A file of its own per row: Qt caches what it read from a file of the same size and age.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tavmirok.conf"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[settings]\ncomport=COM5\nBaudRate=4800\nChirpTime=12\nRadioAddress=" + stored +
                   "\n");
        file.close();
        QStringList notices;
        const StoredSettings s = SettingsStore(path).Load(&notices);
        QCOMPARE(s.radioAdress, address);
        QCOMPARE(notices.size(), told ? 1 : 0);
        if (told) {
            QVERIFY(notices.first().contains(QStringLiteral("not a number from 0 to 255")));
        }
        // The other three values stay as read.
        QCOMPARE(s.comPort, QStringLiteral("COM5"));
        QCOMPARE(s.baudRate, QStringLiteral("4800"));
        QCOMPARE(s.chirpTime, QStringLiteral("12"));
    }

    void unreadableStore_isReported() {
        // A folder where the file should be cannot be read, by root either.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Tavmirok.conf"));
        QVERIFY(QDir().mkpath(path));
        QStringList notices;
        const StoredSettings s = SettingsStore(path).Load(&notices);
        QCOMPARE(s.comPort, QStringLiteral("COM2"));
        QCOMPARE(s.chirpTime, QStringLiteral("78"));
        QCOMPARE(notices.size(), 1);
        QVERIFY2(notices.first().contains(QStringLiteral("could not be read")),
                 qPrintable(notices.first()));
    }

    void unwritableStore_saysSoAndListsTheValues() {
        // A file where the folder should be makes the store unwritable, for root too.
        QTemporaryDir other;
        const QString blocked = other.filePath(QStringLiteral("blocked.conf/inner.conf"));
        QFile plain(other.filePath(QStringLiteral("blocked.conf")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const Status saved = SettingsStore(blocked).Save(
            {QStringLiteral("COM7"), QStringLiteral("9600"), QStringLiteral("12a"), 0x4E});
        QVERIFY(!saved.IsOk());
        QVERIFY2(saved.Message().contains(QStringLiteral("could not be saved")),
                 qPrintable(saved.Message()));
        for (const char* value : {"COM7", "9600", "12a", "4E"}) {
            QVERIFY2(saved.Message().contains(QLatin1String(value)), value);
        }
    }

    // Every group comes from one file, and writing one group leaves the others as they were:
    // the window writes "settings" only when it closes.
    void stationStore_loadsEveryGroup_savesOneGroupAtATime() {
        WriteConf("[settings]\ncomport=/dev/ttyUSB0\nChirpTime=12.5\n[sounder]\nPeriod=900\n"
                  "[rig]\nBackend=network\n[ionogram]\nDelayTo=40\n");
        const StationStore store;
        QStringList notices;
        StationSettings loaded = store.Load(&notices);
        QCOMPARE(notices, QStringList());
        QCOMPARE(loaded.basic.comPort, QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(loaded.profile.period, 900.0);
        QCOMPARE(loaded.rig.backend, QStringLiteral("network"));
        QCOMPARE(loaded.ionogram.delayToMs, 40.0);

        loaded.profile.period = 1800;
        loaded.ionogram.delayToMs = 60;
        loaded.rig.backend = QStringLiteral("civ");
        loaded.basic.chirpTime = QStringLiteral("99");
        QVERIFY(store.Save(loaded.profile).IsOk());
        QVERIFY(store.Save(loaded.ionogram).IsOk());
        QVERIFY(store.Save(loaded.rig).IsOk());
        const StationSettings back = store.Load(&notices);
        QCOMPARE(back.profile.period, 1800.0);
        QCOMPARE(back.ionogram.delayToMs, 60.0);
        QCOMPARE(back.rig.backend, QStringLiteral("civ"));
        QCOMPARE(back.basic.chirpTime, QStringLiteral("12.5"));
        QCOMPARE(store.Location(), ConfFile());
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
