// The About box: its texts, icon, separator and keys; the registry lookup of the
// system-information tool against a fake registry that lets this user read but not write; and
// the search for such a tool on PATH, with fake tools that only leave a note that they ran.

#include "support/ui/toplevel.h"
#include "support/ui/twips.h"
#include "ui/form1.h"
#include "ui/formlayout.h"
#include "ui/frmabout.h"
#include "ui/sysinfo.h"

#include <QFile>
#include <QMap>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>

namespace {

constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegExpandSz = 2;
// KEY_READ: what a user without administrator rights may ask for on HKEY_LOCAL_MACHINE.
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorInvalidHandle = 6;
// No type: the key exists but not the value; kNoKey: the key does not exist either.
constexpr int kNoValue = -1;
constexpr int kNoKey = -2;

const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");
const QString kToolPath = QStringLiteral("C:\\Windows\\System32\\msinfo32.exe");
const QString kToolFolder =
    QStringLiteral("C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo");
const QString kToolInFolder = kToolFolder + QStringLiteral("\\MSINFO32.EXE");

// Behaves as RegOpenKeyExA, RegQueryValueExA and RegCloseKey do for a user who may read
// HKEY_LOCAL_MACHINE but not change it.
class FakeRegistry : public Registry {
public:
    struct Value {
        std::uint32_t type = 0;
        QByteArray data;
    };
    // Values by root, key path and value name.
    QMap<std::uint32_t, QMap<QByteArray, QMap<QByteArray, Value>>> keys;
    QList<QByteArray> opened; // key paths, in the order they were opened
    QMap<Handle, QByteArray> openHandles;
    Handle nextHandle = 0x100;

    void Set(const QByteArray& key, const QByteArray& name, std::uint32_t type,
             const QByteArray& data) {
        keys[sysinfo::kHkeyLocalMachine][key][name] = {type, data};
    }
    void SetKeyOnly(const QByteArray& key) { keys[sysinfo::kHkeyLocalMachine][key]; }

    long OpenKey(std::uint32_t root, const QByteArray& subKey, std::uint32_t access,
                 Handle* key) override {
        *key = 0;
        if (!keys.value(root).contains(subKey)) {
            return sysinfo::kErrorFileNotFound;
        }
        if ((access & ~kKeyRead) != 0) {
            return kErrorAccessDenied;
        }
        opened << subKey;
        *key = nextHandle++;
        openHandles.insert(*key, subKey);
        return sysinfo::kErrorSuccess;
    }

    long QueryValue(Handle key, const QByteArray& valueName, std::uint32_t* type,
                    unsigned char* data, std::uint32_t* length) override {
        if (!openHandles.contains(key)) {
            return kErrorInvalidHandle;
        }
        const auto& values = keys[sysinfo::kHkeyLocalMachine][openHandles.value(key)];
        if (!values.contains(valueName)) {
            return sysinfo::kErrorFileNotFound;
        }
        const Value& value = values.value(valueName);
        *type = value.type;
        const auto size = static_cast<std::uint32_t>(value.data.size());
        if (*length < size) {
            *length = size;
            return sysinfo::kErrorMoreData;
        }
        std::memcpy(data, value.data.constData(), size);
        *length = size;
        return sysinfo::kErrorSuccess;
    }

    long CloseKey(Handle key) override {
        return openHandles.remove(key) == 1 ? sysinfo::kErrorSuccess : kErrorInvalidHandle;
    }
};

// What the About box tried to start, and the files and programs the fake system has.
struct FakeSystem {
    QStringList files;
    QStringList startable;
    QStringList fileTests;
    QStringList launches;
};

SysInfo::Platform FakePlatform(std::shared_ptr<FakeRegistry> registry, FakeSystem* system) {
    SysInfo::Platform platform;
    platform.registry = std::move(registry);
    platform.fileExists = [system](const QString& path) {
        system->fileTests << path;
        return system->files.contains(path);
    };
    platform.findExecutable = [](const QString&) { return QString(); };
    platform.startDetached = [system](const QString& program) {
        system->launches << program;
        return system->startable.contains(program);
    };
    return platform;
}

// The one "unavailable" box: its text, caption, button, and that it does not block.
void ExpectUnavailableBox(frmAbout& about) {
    const QList<QMessageBox*> boxes = VisibleMessageBoxes();
    QCOMPARE(boxes.size(), 1);
    QMessageBox* box = boxes.first();
    QCOMPARE(about.UnavailableBox(), box);
    QCOMPARE(box->text(), kUnavailable);
    QCOMPARE(box->windowTitle(), QStringLiteral("Tavmirok"));
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(!box->isModal());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(about.isVisible());
}

QByteArray Bytes(const QString& text, bool terminated) {
    QByteArray bytes = text.toLocal8Bit();
    if (terminated) {
        bytes.append('\0');
    }
    return bytes;
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT
    QByteArray savedPath;

private slots:
    void initTestCase() { savedPath = qgetenv("PATH"); }

    void cleanup() {
        qputenv("PATH", savedPath);
        CloseAllWindows();
    }

    void texts_caption_version_buttons_icon() {
        frmAbout about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Tavmirok"));
        QCOMPARE(about.lblTitle->text(), QStringLiteral("Tavmirok"));
        QCOMPARE(about.lblVersion->text(), QStringLiteral("Version BETA1.2.0"));
        QCOMPARE(about.lblTitle->palette().color(QPalette::WindowText), QColor(Qt::black));
        QVERIFY(!about.Label1->text().isEmpty());
        QCOMPARE(about.Label2->text(), QString());
        QVERIFY(!about.Label3->text().isEmpty());
        QCOMPARE(about.cmdOK->text(), QStringLiteral("OK"));
        QCOMPARE(about.cmdSysInfo->text(), QStringLiteral("&System Info..."));
        QVERIFY(about.cmdOK->isDefault());
        QVERIFY(!about.cmdSysInfo->isDefault());

        const QPixmap icon = about.picIcon->pixmap();
        QVERIFY(!icon.isNull());
        QCOMPARE(icon.size(), QSize(32, 32));

        // Modeless, a fixed size, no minimise or maximise button.
        QVERIFY(!about.isModal());
        QCOMPARE(about.minimumSize(), about.maximumSize());
        QCOMPARE(about.size(), TwipsSize(&about, 5730, 3555));
        QVERIFY(!(about.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(about.windowFlags() & Qt::WindowMaximizeButtonHint));

        about.show();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        QCOMPARE(QApplication::focusWidget(), about.cmdOK);
    }

    void separator_greyOverWhite() {
        frmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        const QImage image = about.grab().toImage();
        const int x = formlayout::ToPixels(2865, about.logicalDpiX());
        const int grey = formlayout::ToPixels(2445, about.logicalDpiY());
        const int white = formlayout::ToPixels(2460, about.logicalDpiY());
        QCOMPARE(image.pixelColor(x, grey), QColor(128, 128, 128));
        QCOMPARE(image.pixelColor(x, white), QColor(255, 255, 255));
        QCOMPARE(image.pixelColor(x, white + 1), QColor(255, 255, 255));
    }

    void keys_close_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Return") << int(Qt::Key_Return);
        QTest::newRow("Enter") << int(Qt::Key_Enter);
        QTest::newRow("Escape") << int(Qt::Key_Escape);
    }
    void keys_close() {
        QFETCH(int, key);
        QPointer<frmAbout> about = new frmAbout();
        bool accepted = false;
        connect(about, &QDialog::accepted, this, [&] { accepted = true; });
        about->show();
        QVERIFY(QTest::qWaitForWindowActive(about));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
        QVERIFY(accepted);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!about);
    }

    void ok_closesAndDestroys() {
        QPointer<frmAbout> about = new frmAbout();
        about->show();
        QTest::mouseClick(about->cmdOK, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!about);
    }

    // ---- GetKeyValue ----

    void getKeyValue_data() {
        QTest::addColumn<int>("type"); // kNoValue, kNoKey or a registry type
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("after");
        const QByteArray path = kToolPath.toLatin1();
        const int sz = int(sysinfo::kRegSz);
        const int dword = int(sysinfo::kRegDword);
        QTest::newRow("string with its zero") << sz << path + '\0' << "x" << true << kToolPath;
        QTest::newRow("string without zero") << sz << path << "x" << true << kToolPath;
        QTest::newRow("only the zero") << sz << QByteArray(1, '\0') << "x" << true << "";
        QTest::newRow("only the last zero dropped")
            << sz << QByteArray("a\0\0", 3) << "x" << true << QString(QChar('a')) + QChar(0);
        QTest::newRow("zero-length value") << sz << QByteArray() << "x" << false << "";
        QTest::newRow("exactly the buffer")
            << sz << QByteArray(1024, 'a') << "x" << true << QString(1024, QChar('a'));
        QTest::newRow("longer than the buffer")
            << sz << QByteArray(1025, 'a') << "x" << false << "";
        QTest::newRow("dword, most significant first")
            << dword << QByteArray::fromHex("78563412") << "x" << true << "&h12345678";
        QTest::newRow("dword ending in zero bytes")
            << dword << QByteArray::fromHex("01000000") << "x" << true << "&h00000001";
        QTest::newRow("dword zero") << dword << QByteArray(4, '\0') << "x" << true << "&h00000000";
        QTest::newRow("dword upper-case digits")
            << dword << QByteArray::fromHex("feffffff") << "x" << true << "&hFFFFFFFE";
        QTest::newRow("expandable string: text kept")
            << int(kRegExpandSz) << path + '\0' << "before" << true << "before";
        QTest::newRow("binary: text kept")
            << int(kRegBinary) << QByteArray::fromHex("0102") << "before" << true << "before";
        QTest::newRow("missing value") << kNoValue << QByteArray() << "before" << false << "";
        QTest::newRow("missing key") << kNoKey << QByteArray() << "before" << false << "";
    }
    void getKeyValue() {
        QFETCH(int, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, before);
        QFETCH(bool, result);
        QFETCH(QString, after);
        auto registry = std::make_shared<FakeRegistry>();
        if (type == kNoValue) {
            registry->SetKeyOnly(sysinfo::kMsinfoKey);
        } else if (type >= 0) {
            registry->Set(sysinfo::kMsinfoKey, sysinfo::kMsinfoPathValue, std::uint32_t(type),
                          data);
        }
        FakeSystem system;
        frmAbout about;
        about.SetSysInfoPlatform(FakePlatform(registry, &system));
        QString keyVal = before;
        QCOMPARE(about.GetKeyValue(sysinfo::kHkeyLocalMachine, sysinfo::kMsinfoKey,
                                   sysinfo::kMsinfoPathValue, keyVal),
                 result);
        QCOMPARE(keyVal, after);
        QVERIFY(registry->openHandles.isEmpty());
    }

    // ---- StartSysInfo through the registry ----

    void startSysInfo_registry_data() {
        QTest::addColumn<int>("firstType"); // MSINFO\PATH: kNoKey, kNoValue or a type
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<int>("secondType"); // Shared Tools Location\MSINFO
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QStringList>("files");     // files that exist
        QTest::addColumn<QStringList>("startable"); // programs that start
        QTest::addColumn<QStringList>("launches");  // what the box tried to start
        QTest::addColumn<int>("keysOpened");

        const int sz = int(sysinfo::kRegSz);
        const QByteArray tool = Bytes(kToolPath, true);
        const QByteArray folder = Bytes(kToolFolder, true);
        const QStringList none;
        const QStringList both = {kToolPath, kToolInFolder};

        QTest::newRow("first key: started as it stands, second not read")
            << sz << tool << sz << folder << both << both << QStringList{kToolPath} << 1;
        QTest::newRow("first key stored without its zero")
            << sz << Bytes(kToolPath, false) << kNoKey << QByteArray() << both << both
            << QStringList{kToolPath} << 1;
        QTest::newRow("first key: no file test before the start")
            << sz << tool << kNoKey << QByteArray() << none << QStringList{kToolPath}
            << QStringList{kToolPath} << 1;
        QTest::newRow("first key: the start fails")
            << sz << tool << sz << folder << both << none << QStringList{kToolPath} << 1;
        QTest::newRow("neither key")
            << kNoKey << QByteArray() << kNoKey << QByteArray() << both << both << none << 0;
        QTest::newRow("only the second key, tool in the folder")
            << kNoKey << QByteArray() << sz << folder << both << both << QStringList{kToolInFolder}
            << 1;
        QTest::newRow("only the second key, stored without its zero")
            << kNoKey << QByteArray() << sz << Bytes(kToolFolder, false) << both << both
            << QStringList{kToolInFolder} << 1;
        QTest::newRow("only the second key, no tool in the folder")
            << kNoKey << QByteArray() << sz << folder << QStringList{kToolPath} << both << none
            << 1;
        QTest::newRow("first key without the value: second key used")
            << kNoValue << QByteArray() << sz << folder << both << both
            << QStringList{kToolInFolder} << 2;
        QTest::newRow("first value too long: second key used")
            << sz << QByteArray(1025, 'a') << sz << folder << both << both
            << QStringList{kToolInFolder} << 2;
        QTest::newRow("first value empty: gives up at once")
            << sz << QByteArray() << sz << folder << both << both << none << 1;
        QTest::newRow("second value empty")
            << kNoKey << QByteArray() << sz << QByteArray() << both << both << none << 1;
        QTest::newRow("first value a number: its text does not start")
            << int(sysinfo::kRegDword) << QByteArray::fromHex("01000000") << sz << folder << both
            << both << QStringList{"&h00000001"} << 1;
        QTest::newRow("first value binary: nothing to start")
            << int(kRegBinary) << QByteArray::fromHex("0102") << sz << folder << both << both
            << none << 1;
    }
    void startSysInfo_registry() {
        QFETCH(int, firstType);
        QFETCH(QByteArray, first);
        QFETCH(int, secondType);
        QFETCH(QByteArray, second);
        QFETCH(QStringList, files);
        QFETCH(QStringList, startable);
        QFETCH(QStringList, launches);
        QFETCH(int, keysOpened);

        auto registry = std::make_shared<FakeRegistry>();
        if (firstType == kNoValue) {
            registry->SetKeyOnly(sysinfo::kMsinfoKey);
        } else if (firstType >= 0) {
            registry->Set(sysinfo::kMsinfoKey, sysinfo::kMsinfoPathValue, std::uint32_t(firstType),
                          first);
        }
        if (secondType >= 0) {
            registry->Set(sysinfo::kSharedToolsKey, sysinfo::kSharedToolsMsinfoValue,
                          std::uint32_t(secondType), second);
        }
        FakeSystem system;
        system.files = files;
        system.startable = startable;
        frmAbout about;
        about.SetSysInfoPlatform(FakePlatform(registry, &system));
        about.show();

        QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);

        QCOMPARE(system.launches, launches);
        QCOMPARE(registry->opened.size(), keysOpened);
        if (keysOpened > 0) {
            QCOMPARE(registry->opened.first(),
                     firstType == kNoKey ? sysinfo::kSharedToolsKey : sysinfo::kMsinfoKey);
        }
        QVERIFY(registry->openHandles.isEmpty());
        // The path read from the first key is started without a file test.
        if (firstType == int(sysinfo::kRegSz) && !first.isEmpty() && first.size() <= 1024) {
            QVERIFY(system.fileTests.isEmpty());
        }
        const bool started = !launches.isEmpty() && startable.contains(launches.last());
        if (started) {
            QVERIFY(VisibleMessageBoxes().isEmpty());
        } else {
            ExpectUnavailableBox(about);
        }
    }

    void unavailableBox_pressedAgain_notStacked() {
        FakeSystem system;
        frmAbout about;
        about.SetSysInfoPlatform(FakePlatform(std::make_shared<FakeRegistry>(), &system));
        about.show();
        QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
        QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
        ExpectUnavailableBox(about);
        if (QTest::currentTestFailed()) {
            return;
        }
        // Closing the box leaves the About box open, and the next press shows it again.
        about.UnavailableBox()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(VisibleMessageBoxes().isEmpty());
        QVERIFY(about.isVisible());
        QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);
        ExpectUnavailableBox(about);
    }

    // ---- StartSysInfo on PATH ----

    void startSysInfo_path_data() {
        QTest::addColumn<QStringList>("executables");
        QTest::addColumn<QStringList>("plainFiles"); // same names, not executable
        QTest::addColumn<QString>("started");
        QTest::newRow("hardinfo") << QStringList{"hardinfo"} << QStringList{} << "hardinfo";
        QTest::newRow("kinfocenter before hardinfo")
            << QStringList{"hardinfo", "kinfocenter"} << QStringList{} << "kinfocenter";
        QTest::newRow("kinfocenter not executable")
            << QStringList{"hardinfo"} << QStringList{"kinfocenter"} << "hardinfo";
        QTest::newRow("none") << QStringList{} << QStringList{} << "";
        QTest::newRow("only a file that is not a program")
            << QStringList{} << QStringList{"hardinfo"} << "";
    }
    void startSysInfo_path() {
        QFETCH(QStringList, executables);
        QFETCH(QStringList, plainFiles);
        QFETCH(QString, started);
        QTemporaryDir bin;
        QTemporaryDir work;
        const QString note = work.filePath(QStringLiteral("started"));
        auto writeTool = [&](const QString& name, bool executable) {
            QFile file(bin.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QStringLiteral("#!/bin/sh\necho \"$0\" > '%1'\n").arg(note).toLocal8Bit());
            file.close();
            QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner;
            if (executable) {
                mode |= QFile::ExeOwner;
            }
            QVERIFY(file.setPermissions(mode));
        };
        for (const QString& name : executables) {
            writeTool(name, true);
        }
        for (const QString& name : plainFiles) {
            writeTool(name, false);
        }
        qputenv("PATH", QFile::encodeName(bin.path()));

        frmAbout about; // the system's own lookup: no registry here
        about.show();
        QTest::mouseClick(about.cmdSysInfo, Qt::LeftButton);

        if (started.isEmpty()) {
            ExpectUnavailableBox(about);
            QVERIFY(!QFile::exists(note));
            return;
        }
        QVERIFY(VisibleMessageBoxes().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(note) && QFile(note).size() > 0, 10000);
        QFile file(note);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(file.readAll()).trimmed(), bin.filePath(started));
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
