#include "platform/desktop/RegistryStore.h"

#include "platform/AsciiCase.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>
#include <QVariant>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// An open key: the settings file behind it, positioned on the key's group.
struct win::HKEY__ {
    std::unique_ptr<QSettings> settings;
    QString filePath;
    win::REGSAM access = 0;
    bool failed = false;  // a write did not reach the disk; the file's state is unknown
    bool pending = false; // values set since the last flush
};

namespace {

using namespace win;

std::mutex storeMutex;
std::set<HKEY> openKeys;
desktop::RegistryWriteObserver writeObserver;

// Files found unparsable, with the size and time they had then. QSettings keeps what it read
// of a file for as long as its size and time stay the same and reports the parse error only
// the first time, so the verdict has to be remembered here.
struct FileIdentity {
    qint64 size = 0;
    QDateTime modified;
    bool operator==(const FileIdentity&) const = default;
};
std::map<QString, FileIdentity> unparsableFiles;

FileIdentity IdentityOf(const QString& path) {
    QFileInfo info(path);
    return {info.size(), info.lastModified()};
}

struct KeyLocation {
    QString filePath;
    QString group; // empty: the file's top level
};

std::vector<std::string_view> SplitKeyPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (true) {
        const auto separator = path.find('\\');
        parts.push_back(path.substr(0, separator));
        if (separator == std::string_view::npos)
            return parts;
        path.remove_prefix(separator + 1);
    }
}

// A key path part becomes a folder or file name, so it must not walk out of the config folder.
bool IsPlainPart(std::string_view part) {
    return !part.empty() && part != "." && part != ".." && part.find('/') == std::string_view::npos;
}

QString ConfigFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

// "Software\<Org>\<App>[\<Group>...]" → <config>/<Org>/<App>.conf and group "<Group>/...".
std::optional<KeyLocation> LocateKey(std::string_view keyPath) {
    const auto parts = SplitKeyPath(keyPath);
    if (parts.size() < 3 || !platform::EqualsIgnoringAsciiCase(parts[0], "Software"))
        return std::nullopt;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (!IsPlainPart(parts[i]))
            return std::nullopt;
    }
    const QString folder = ConfigFolder();
    if (folder.isEmpty())
        return std::nullopt;
    KeyLocation location;
    location.filePath = folder + '/' + QString::fromUtf8(parts[1]) + '/' +
                        QString::fromUtf8(parts[2]) + QStringLiteral(".conf");
    for (std::size_t i = 3; i < parts.size(); ++i) {
        if (!location.group.isEmpty())
            location.group += '/';
        location.group += QString::fromUtf8(parts[i]);
    }
    return location;
}

// A settings record of eleven numbers takes a few hundred bytes; a file far larger is no record
// of ours, and parsing it (and rewriting it at every save) would cost seconds and memory.
constexpr off_t kMaxSettingsFileBytes = 64 * 1024;

// Whether an existing settings file may be handed to QSettings, which opens files blocking: a
// FIFO or a device in its place would stop the program before any window. Checked on the opened
// file itself, without blocking and without following the open to a terminal.
LONG InspectSettingsFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return ERROR_ACCESS_DENIED;
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    ::close(fd);
    if (!known || !S_ISREG(info.st_mode))
        return ERROR_ACCESS_DENIED;
    if (info.st_size > kMaxSettingsFileBytes)
        return ERROR_INVALID_DATA;
    return ERROR_SUCCESS;
}

bool EntryExists(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// Opens the settings file, or says why it must stay untouched.
LONG OpenSettingsFile(const QString& path, std::unique_ptr<QSettings>& settings) {
    if (EntryExists(path)) {
        if (const LONG verdict = InspectSettingsFile(path); verdict != ERROR_SUCCESS)
            return verdict;
        const auto known = unparsableFiles.find(path);
        if (known != unparsableFiles.end() && known->second == IdentityOf(path))
            return ERROR_INVALID_DATA;
    }
    auto opened = std::make_unique<QSettings>(path, QSettings::NativeFormat);
    opened->allKeys(); // parses every section, so that a format error shows now and not later
    switch (opened->status()) {
    case QSettings::NoError:
        unparsableFiles.erase(path);
        settings = std::move(opened);
        return ERROR_SUCCESS;
    case QSettings::FormatError:
        unparsableFiles[path] = IdentityOf(path);
        return ERROR_INVALID_DATA;
    case QSettings::AccessError:
        break;
    }
    return ERROR_ACCESS_DENIED;
}

HKEY FindOpenKey(HKEY hKey) {
    return openKeys.count(hKey) != 0 ? hKey : nullptr;
}

// Registry value names may contain anything; a settings key may not contain its separators.
bool IsStorableValueName(LPCSTR name) {
    return name != nullptr && name[0] != '\0' && std::strpbrk(name, "/\\") == nullptr;
}

// The stored spelling of a value name: registry names ignore case, settings keys do not.
std::optional<QString> FindStoredName(const QSettings& settings, LPCSTR name) {
    if (!IsStorableValueName(name))
        return std::nullopt;
    const QString wanted = QString::fromUtf8(name);
    for (const QString& key : settings.childKeys()) {
        if (key.compare(wanted, Qt::CaseInsensitive) == 0)
            return key;
    }
    return std::nullopt;
}

// Decimal text of 0..4294967295, or of a negative number down to -2147483648 (kept as its
// two's complement, as a signed field would write it).
std::optional<DWORD> ParseDword(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::string_view digits(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    const bool negative = !digits.empty() && digits.front() == '-';
    if (negative)
        digits.remove_prefix(1);
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    if (negative) {
        if (value > 0x80000000u)
            return std::nullopt;
        return static_cast<DWORD>(0x100000000u - value);
    }
    if (value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<DWORD>(value);
}

bool MayHoldNumber(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

struct StoredValue {
    DWORD type = REG_NONE;
    QByteArray data;
};

QByteArray LittleEndian(DWORD value) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

StoredValue DecodeValue(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList)
        return {REG_SZ, value.toStringList().join(QStringLiteral(", ")).toUtf8().append('\0')};
    const QString text = value.toString();
    if (MayHoldNumber(value)) {
        if (const auto number = ParseDword(text))
            return {REG_DWORD, LittleEndian(*number)};
    }
    return {REG_SZ, text.toUtf8().append('\0')};
}

DWORD ReadLittleEndian(const BYTE* data) {
    std::array<BYTE, 4> bytes{};
    std::memcpy(bytes.data(), data, bytes.size());
    return DWORD(bytes[0]) | DWORD(bytes[1]) << 8 | DWORD(bytes[2]) << 16 | DWORD(bytes[3]) << 24;
}

// QSettings reports a failed write only after it has queued the value, and would try again
// with the next write; refusing early what cannot succeed keeps failed writes out of the file.
bool CanWriteFile(const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder) || !QFileInfo(folder).isWritable())
        return false;
    const QFileInfo file(path);
    return !file.exists() || (file.isFile() && file.isWritable());
}

void NotifyWrite(LPCSTR name, DWORD value) {
    desktop::RegistryWriteObserver observer;
    {
        std::lock_guard lock(storeMutex);
        observer = writeObserver;
    }
    if (observer)
        observer(name, value);
}

LONG StoreDword(HKEY hKey, LPCSTR valueName, DWORD value) {
    std::lock_guard lock(storeMutex);
    const HKEY key = FindOpenKey(hKey);
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    if ((key->access & KEY_SET_VALUE) == 0 || key->failed || !CanWriteFile(key->filePath))
        return ERROR_ACCESS_DENIED;
    const QString name =
        FindStoredName(*key->settings, valueName).value_or(QString::fromUtf8(valueName));
    key->settings->setValue(name, QString::number(value));
    key->pending = true;
    return ERROR_SUCCESS;
}

// Writes what the key holds back in one go: the file is rewritten whole, so a write per value
// would cost a rewrite (and a sync to disk) per value.
LONG FlushOpenKey(HKEY key) {
    if (!key->pending)
        return key->failed ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    key->pending = false;
    if (!CanWriteFile(key->filePath)) {
        key->failed = true;
        return ERROR_ACCESS_DENIED;
    }
    key->settings->sync();
    if (key->settings->status() != QSettings::NoError) {
        key->failed = true;
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

} // namespace

namespace win {

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                     DWORD /*dwOptions*/, REGSAM samDesired, const void* /*lpSecurityAttributes*/,
                     PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (phkResult == nullptr || lpSubKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    if (hKey != HKEY_CURRENT_USER)
        return ERROR_INVALID_HANDLE;
    const auto location = LocateKey(lpSubKey);
    if (!location)
        return ERROR_INVALID_PARAMETER;

    std::lock_guard lock(storeMutex);
    const bool fileExisted = EntryExists(location->filePath);
    std::unique_ptr<QSettings> settings;
    if (const LONG result = OpenSettingsFile(location->filePath, settings); result != ERROR_SUCCESS)
        return result;
    if (!location->group.isEmpty())
        settings->beginGroup(location->group);
    const bool keyExisted =
        fileExisted && (location->group.isEmpty() || !settings->allKeys().isEmpty());

    auto key = new HKEY__{std::move(settings), location->filePath, samDesired, false};
    openKeys.insert(key);
    *phkResult = key;
    if (lpdwDisposition != nullptr)
        *lpdwDisposition = keyExisted ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(storeMutex);
    const HKEY key = FindOpenKey(hKey);
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    if ((key->access & KEY_QUERY_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    const auto storedName = FindStoredName(*key->settings, lpValueName);
    if (!storedName)
        return ERROR_FILE_NOT_FOUND;

    const StoredValue value = DecodeValue(key->settings->value(*storedName));
    const auto size = static_cast<DWORD>(value.data.size());
    if (lpType != nullptr)
        *lpType = value.type;
    if (lpData == nullptr) {
        if (lpcbData != nullptr)
            *lpcbData = size;
        return ERROR_SUCCESS;
    }
    const DWORD room = *lpcbData;
    *lpcbData = size;
    if (room < size)
        return ERROR_MORE_DATA;
    std::memcpy(lpData, value.data.constData(), size);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
    if (dwType != REG_DWORD || cbData != 4 || lpData == nullptr ||
        !IsStorableValueName(lpValueName))
        return ERROR_INVALID_PARAMETER;
    const DWORD value = ReadLittleEndian(lpData);
    if (const LONG result = StoreDword(hKey, lpValueName, value); result != ERROR_SUCCESS)
        return result;
    NotifyWrite(lpValueName, value);
    return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY hKey) {
    std::lock_guard lock(storeMutex);
    const HKEY key = FindOpenKey(hKey);
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    return FlushOpenKey(key);
}

LONG RegCloseKey(HKEY hKey) {
    std::lock_guard lock(storeMutex);
    const HKEY key = FindOpenKey(hKey);
    if (key == nullptr)
        return ERROR_INVALID_HANDLE;
    FlushOpenKey(key);
    openKeys.erase(key);
    delete key;
    return ERROR_SUCCESS;
}

} // namespace win

namespace desktop {

RegistryWriteObserver SetRegistryWriteObserver(RegistryWriteObserver observer) {
    std::lock_guard lock(storeMutex);
    return std::exchange(writeObserver, std::move(observer));
}

} // namespace desktop
