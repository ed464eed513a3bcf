#pragma once

// Finds and starts the operating system's system-information tool for the About box: on Windows
// through the two MSINFO registry keys, elsewhere by looking for a known tool on PATH. The
// registry, the file test, the PATH lookup and the launch are injected so tests start nothing.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>

// The three registry calls the lookup needs, shaped like RegOpenKeyExA, RegQueryValueExA and
// RegCloseKey: each returns 0 (ERROR_SUCCESS) or a Windows error code.
class Registry {
public:
    using Handle = std::uintptr_t;

    virtual ~Registry() = default;
    virtual long OpenKey(std::uint32_t root, const QByteArray& subKey, std::uint32_t access,
                         Handle* key) = 0;
    // *length holds the buffer size on entry and the value's size in bytes on return.
    virtual long QueryValue(Handle key, const QByteArray& valueName, std::uint32_t* type,
                            unsigned char* data, std::uint32_t* length) = 0;
    virtual long CloseKey(Handle key) = 0;
};

#ifdef Q_OS_WIN
// The real registry through advapi32.
class WindowsRegistry : public Registry {
public:
    long OpenKey(std::uint32_t root, const QByteArray& subKey, std::uint32_t access,
                 Handle* key) override;
    long QueryValue(Handle key, const QByteArray& valueName, std::uint32_t* type,
                    unsigned char* data, std::uint32_t* length) override;
    long CloseKey(Handle key) override;
};
#endif

namespace sysinfo {

constexpr std::uint32_t kHkeyLocalMachine = 0x80000002;
// Reading a value needs no more than this; a user without write rights still gets the tool.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegDword = 4;
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorMoreData = 234;
constexpr std::uint32_t kValueBufferSize = 1024;

inline const QByteArray kMsinfoKey = QByteArrayLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
inline const QByteArray kMsinfoPathValue = QByteArrayLiteral("PATH");
inline const QByteArray kSharedToolsKey =
    QByteArrayLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
inline const QByteArray kSharedToolsMsinfoValue = QByteArrayLiteral("MSINFO");
inline const QString kMsinfoProgram = QStringLiteral("\\MSINFO32.EXE");

// System-information tools looked for on PATH where there is no registry, best first.
inline const QStringList kLinuxTools = {
    QStringLiteral("kinfocenter"),
    QStringLiteral("hardinfo"),
    QStringLiteral("lshw-gtk"),
    QStringLiteral("gnome-system-monitor"),
    QStringLiteral("mate-system-monitor"),
    QStringLiteral("xfce4-taskmanager"),
};

} // namespace sysinfo

class SysInfo {
public:
    // How one registry read ended.
    enum class KeyRead {
        Read,       // the value was read (whatever its type)
        Missing,    // the key could not be opened or the value could not be read
        Unreadable, // the value has no bytes at all: the whole lookup gives up
    };

    struct Platform {
        // The registry to read; none means the tool is looked for on PATH instead.
        std::shared_ptr<Registry> registry;
        std::function<bool(const QString& path)> fileExists;
        // Full path of a program found on PATH, "" when there is none.
        std::function<QString(const QString& program)> findExecutable;
        // Starts the program as a separate process without waiting; false if it did not start.
        std::function<bool(const QString& program)> startDetached;
        // Tools looked for on PATH, in this order.
        QStringList tools;
    };

    // The registry on Windows, PATH elsewhere; real file test and launcher.
    static Platform SystemPlatform();

    explicit SysInfo(Platform platform = SystemPlatform());

    // Reads one registry value into keyVal: text for REG_SZ, "&h" and eight hex digits for
    // REG_DWORD, keyVal untouched for other types. False, with keyVal empty, when the key or
    // value is missing or the value is empty.
    bool GetKeyValue(std::uint32_t keyRoot, const QByteArray& keyName, const QByteArray& subKeyRef,
                     QString& keyVal);
    KeyRead ReadKeyValue(std::uint32_t keyRoot, const QByteArray& keyName,
                         const QByteArray& subKeyRef, QString& keyVal);

    // Locates the tool and starts it. False when it was not found or did not start.
    bool StartSysInfo();

private:
    QString LocateThroughRegistry();
    QString LocateOnPath();

    Platform platform;
};
