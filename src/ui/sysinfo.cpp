#include "ui/sysinfo.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <array>

#ifdef Q_OS_WIN
#include <windows.h>

namespace {

// The predefined root keys are sign-extended 32-bit values.
HKEY ToHkey(std::uint32_t root) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(root)));
}

} // namespace

long WindowsRegistry::OpenKey(std::uint32_t root, const QByteArray& subKey, std::uint32_t access,
                              Handle* key) {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(ToHkey(root), subKey.constData(), 0, access, &opened);
    *key = reinterpret_cast<Handle>(opened);
    return result;
}

long WindowsRegistry::QueryValue(Handle key, const QByteArray& valueName, std::uint32_t* type,
                                 unsigned char* data, std::uint32_t* length) {
    DWORD valueType = 0;
    DWORD size = *length;
    const LONG result = RegQueryValueExA(reinterpret_cast<HKEY>(key), valueName.constData(),
                                         nullptr, &valueType, data, &size);
    *type = valueType;
    *length = size;
    return result;
}

long WindowsRegistry::CloseKey(Handle key) {
    return RegCloseKey(reinterpret_cast<HKEY>(key));
}
#endif

SysInfo::Platform SysInfo::SystemPlatform() {
    Platform platform;
#ifdef Q_OS_WIN
    platform.registry = std::make_shared<WindowsRegistry>();
#else
    platform.tools = sysinfo::kLinuxTools;
#endif
    platform.fileExists = [](const QString& path) { return QFileInfo(path).isFile(); };
    platform.findExecutable = [](const QString& program) {
        return QStandardPaths::findExecutable(program);
    };
    platform.startDetached = [](const QString& program) {
        return QProcess::startDetached(program, {});
    };
    return platform;
}

SysInfo::SysInfo(Platform platform) : platform(std::move(platform)) {}

bool SysInfo::GetKeyValue(std::uint32_t keyRoot, const QByteArray& keyName,
                          const QByteArray& subKeyRef, QString& keyVal) {
    return ReadKeyValue(keyRoot, keyName, subKeyRef, keyVal) == KeyRead::Read;
}

SysInfo::KeyRead SysInfo::ReadKeyValue(std::uint32_t keyRoot, const QByteArray& keyName,
                                       const QByteArray& subKeyRef, QString& keyVal) {
    Registry* registry = platform.registry.get();
    Registry::Handle key = 0;
    if (registry == nullptr || registry->OpenKey(keyRoot, keyName, sysinfo::kKeyQueryValue, &key) !=
                                   sysinfo::kErrorSuccess) {
        keyVal.clear();
        return KeyRead::Missing;
    }
    std::array<unsigned char, sysinfo::kValueBufferSize> buffer{};
    std::uint32_t type = 0;
    std::uint32_t length = sysinfo::kValueBufferSize;
    const long result = registry->QueryValue(key, subKeyRef, &type, buffer.data(), &length);
    if (result != sysinfo::kErrorSuccess || length > sysinfo::kValueBufferSize) {
        registry->CloseKey(key);
        keyVal.clear();
        return KeyRead::Missing;
    }
    if (length == 0) {
        registry->CloseKey(key);
        keyVal.clear();
        return KeyRead::Unreadable;
    }
    // A stored string usually carries its terminating zero; one stored without keeps every byte.
    std::uint32_t used = length;
    if (buffer[used - 1] == 0) {
        --used;
    }
    if (type == sysinfo::kRegSz) {
        keyVal = QString::fromLocal8Bit(reinterpret_cast<const char*>(buffer.data()),
                                        static_cast<qsizetype>(used));
    } else if (type == sysinfo::kRegDword) {
        // Little-endian in the buffer, shown most significant byte first.
        constexpr std::uint32_t kDwordBytes = 4;
        std::uint32_t value = 0;
        for (std::uint32_t i = 0; i < length && i < kDwordBytes; ++i) {
            value |= static_cast<std::uint32_t>(buffer[i]) << (8 * i);
        }
        keyVal = QStringLiteral("&h") +
                 QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0')).toUpper();
    }
    registry->CloseKey(key);
    return KeyRead::Read;
}

bool SysInfo::StartSysInfo() {
    const QString program = platform.registry ? LocateThroughRegistry() : LocateOnPath();
    if (program.isEmpty() || !platform.startDetached) {
        return false;
    }
    return platform.startDetached(program);
}

QString SysInfo::LocateThroughRegistry() {
    QString path;
    switch (ReadKeyValue(sysinfo::kHkeyLocalMachine, sysinfo::kMsinfoKey, sysinfo::kMsinfoPathValue,
                         path)) {
    case KeyRead::Read:
        // The full path of the tool, started as it stands.
        return path;
    case KeyRead::Unreadable:
        return {};
    case KeyRead::Missing:
        break;
    }
    QString folder;
    if (ReadKeyValue(sysinfo::kHkeyLocalMachine, sysinfo::kSharedToolsKey,
                     sysinfo::kSharedToolsMsinfoValue, folder) != KeyRead::Read) {
        return {};
    }
    path = folder + sysinfo::kMsinfoProgram;
    if (!platform.fileExists || !platform.fileExists(path)) {
        return {};
    }
    return path;
}

QString SysInfo::LocateOnPath() {
    if (!platform.findExecutable) {
        return {};
    }
    for (const QString& tool : platform.tools) {
        const QString path = platform.findExecutable(tool);
        if (!path.isEmpty()) {
            return path;
        }
    }
    return {};
}
