#include "platform/urlcache/WebCache.h"

#include "platform/AsciiCase.h"
#include "platform/CodePage.h"
#include "platform/urlcache/ContainerBytes.h"
#include "platform/urlcache/SkippedContainers.h"
#include "platform/urlcache/UrlCacheProfile.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <mutex>
#include <new>
#include <system_error>

namespace platform::urlcache {

namespace {

namespace fs = std::filesystem;
using ese::Cell;
using ese::Column;
using ese::Row;
using ese::Table;

constexpr const char* kWebCacheFolder = "AppData/Local/Microsoft/Windows/WebCache";
constexpr const char* kWebCacheNames[] = {"WebCacheV01.dat", "WebCacheV24.dat"};
constexpr std::uint32_t kCookieEntryType = 0x00100000;
constexpr std::uint32_t kCodePageUtf16 = 1200;
constexpr std::size_t kSecureDirectoryLength = 8;

// The cells of one table by column name. Each name is looked up among the columns once per
// table: a name is remembered by the address of its text (the callers pass literals).
class Columns {
public:
    explicit Columns(const Table& table) : table_(table) {}

    const Cell* cell(const Row& row, std::string_view name) const {
        const std::size_t at = index(name);
        if (at >= row.cells.size() || row.cells[at].values.empty())
            return nullptr;
        return &row.cells[at];
    }
    const Column* column(std::string_view name) const {
        const std::size_t at = index(name);
        return at < table_.columns.size() ? &table_.columns[at] : nullptr;
    }

    std::optional<std::string> text(const Row& row, std::string_view name) const {
        const Cell* found = cell(row, name);
        const Column* described = column(name);
        if (found == nullptr || described == nullptr)
            return std::nullopt;
        return textOf(*described, found->values.front());
    }
    std::optional<std::string> bytes(const Row& row, std::string_view name) const {
        const Cell* found = cell(row, name);
        if (found == nullptr)
            return std::nullopt;
        return found->values.front();
    }
    std::optional<std::uint64_t> number(const Row& row, std::string_view name) const {
        const Cell* found = cell(row, name);
        const Column* described = column(name);
        if (found == nullptr || described == nullptr)
            return std::nullopt;
        if (auto value = ese::unsignedValue(*described, found->values.front()))
            return value;
        if (auto value = ese::integerValue(*described, found->values.front()))
            return static_cast<std::uint64_t>(*value);
        return std::nullopt;
    }
    std::uint32_t number32(const Row& row, std::string_view name) const {
        return static_cast<std::uint32_t>(number(row, name).value_or(0));
    }
    win::FILETIME fileTime(const Row& row, std::string_view name) const {
        const Cell* found = cell(row, name);
        std::uint64_t value = 0;
        if (found != nullptr)
            value = ese::filetimeValue(found->values.front()).value_or(0);
        return {static_cast<win::DWORD>(value), static_cast<win::DWORD>(value >> 32)};
    }

    // Appends the text to `texts`, as textOf() gives it.
    WebCacheText append(const Row& row, std::string_view name, std::string& texts) const {
        const Cell* found = cell(row, name);
        const Column* described = column(name);
        if (found == nullptr || described == nullptr)
            return {};
        const std::string_view value = found->values.front();
        WebCacheText text{texts.size(), 0, true};
        if (described->codePage == kCodePageUtf16) {
            // Mostly ASCII: straight in, without a copy on the way.
            std::size_t i = 0;
            for (; i + 1 < value.size(); i += 2) {
                const unsigned char low = static_cast<unsigned char>(value[i]);
                if (low >= 0x80 || value[i + 1] != '\0' || low == 0)
                    break;
                texts.push_back(static_cast<char>(low));
            }
            if (i + 1 < value.size() && !(value[i] == '\0' && value[i + 1] == '\0')) {
                texts.resize(text.offset);
                texts.append(textOf(*described, value));
            }
        } else {
            texts.append(textOf(*described, value));
        }
        text.size = static_cast<std::uint32_t>(
            std::min<std::size_t>(texts.size() - text.offset, 0xFFFFFFFFu));
        return text;
    }

    // The bytes of a value, appended to `texts`.
    WebCacheText appendBytes(const Row& row, std::string_view name, std::string& texts) const {
        const Cell* found = cell(row, name);
        if (found == nullptr)
            return {};
        const std::string_view value = found->values.front();
        WebCacheText text{
            texts.size(),
            static_cast<std::uint32_t>(std::min<std::size_t>(value.size(), 0xFFFFFFFFu)), true};
        texts.append(value.substr(0, text.size));
        return text;
    }

    // A text value as the A-calls hand it out: UTF-16 text in the ANSI code page, up to its
    // first NUL; 8-bit text as it is, up to its first NUL.
    static std::string textOf(const Column& column, std::string_view value) {
        if (column.codePage == kCodePageUtf16) {
            std::u16string wide(value.size() / 2, u'\0');
            for (std::size_t i = 0; i < wide.size(); ++i)
                wide[i] = static_cast<char16_t>(static_cast<unsigned char>(value[2 * i]) |
                                                static_cast<unsigned char>(value[2 * i + 1]) << 8);
            if (auto end = wide.find(u'\0'); end != std::u16string::npos)
                wide.resize(end);
            return Utf16ToAnsi(wide);
        }
        return std::string(value.substr(0, value.find('\0')));
    }

private:
    static constexpr std::size_t kMissing = static_cast<std::size_t>(-1);

    std::size_t index(std::string_view name) const {
        for (const auto& [text, at] : known_) {
            if (text == name.data())
                return at;
        }
        std::size_t at = kMissing;
        for (std::size_t i = 0; i < table_.columns.size(); ++i) {
            if (table_.columns[i].name == name) {
                at = i;
                break;
            }
        }
        known_.emplace_back(name.data(), at);
        return at;
    }

    const Table& table_;
    mutable std::vector<std::pair<const char*, std::size_t>> known_;
};

// The number N of a table named `stem` followed by N; nullopt for other names.
std::optional<std::uint64_t> tableNumber(std::string_view name, std::string_view stem) {
    if (!name.starts_with(stem) || name.size() == stem.size())
        return std::nullopt;
    std::uint64_t number = 0;
    const char* first = name.data() + stem.size();
    const char* last = name.data() + name.size();
    auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return number;
}

void kindAndPrefixOf(WebCacheContainer& container) {
    const std::string& name = container.name;
    if (name == "Content") {
        container.kind = ContainerKind::Content;
        container.prefix = "";
    } else if (name == "Cookies") {
        container.kind = ContainerKind::Cookies;
        container.prefix = "Cookie:";
    } else if (name == "History") {
        container.kind = ContainerKind::History;
        container.prefix = "Visited:";
    } else if (auto periodic = PeriodicHistoryPrefix(name)) {
        container.kind = ContainerKind::PeriodicHistory;
        container.prefix = *periodic;
    } else {
        container.kind = ContainerKind::Other;
        container.prefix = name + ":";
    }
}

std::vector<std::string> secureDirectoriesOf(const std::string& names) {
    std::vector<std::string> folders;
    for (std::size_t at = 0; at + kSecureDirectoryLength <= names.size();
         at += kSecureDirectoryLength)
        folders.push_back(names.substr(at, kSecureDirectoryLength));
    return folders;
}

std::string withoutTrailingSeparators(std::string folder) {
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    return folder;
}

WebCacheEntry entryOfRow(const Columns& columns, const Row& row, std::string& texts) {
    WebCacheEntry entry;
    entry.url = columns.append(row, "Url", texts);
    entry.fileName = columns.append(row, "Filename", texts);
    if (entry.fileName.size == 0)
        entry.fileName.present = false;
    entry.headerInfo = columns.appendBytes(row, "ResponseHeaders", texts);
    entry.extension = columns.append(row, "FileExtension", texts);
    if (auto index = columns.number(row, "SecureDirectory"); index && *index <= 0xFFFFFFFFu)
        entry.secureDirectory = static_cast<std::uint32_t>(*index);
    entry.numbers.entryType = columns.number32(row, "Type");
    entry.numbers.hitRate = columns.number32(row, "AccessCount");
    entry.numbers.useCount = columns.number32(row, "SyncCount");
    entry.numbers.exemptDelta = columns.number32(row, "ExemptionDelta");
    entry.numbers.size = columns.number(row, "FileSize").value_or(0);
    entry.numbers.lastModified = columns.fileTime(row, "ModifiedTime");
    entry.numbers.expireTime = columns.fileTime(row, "ExpiryTime");
    entry.numbers.lastAccess = columns.fileTime(row, "AccessedTime");
    entry.numbers.lastSync = columns.fileTime(row, "SyncTime");
    return entry;
}

void readContainerRows(const ese::Database& database, WebCacheContainer& container) {
    const Table* table = database.table(container.table);
    if (table == nullptr)
        return;
    const Columns columns(*table);
    ese::TableCursor cursor(database, *table);
    Row row;
    while (cursor.next(row))
        container.entries.push_back(entryOfRow(columns, row, container.texts));
}

// "com.github" -> "github.com".
std::string domainOf(std::string_view reversed) {
    std::string domain;
    std::size_t end = reversed.size();
    for (;;) {
        const std::size_t dot = reversed.rfind('.', end == 0 ? 0 : end - 1);
        const std::size_t start = (dot == std::string_view::npos || end == 0) ? 0 : dot + 1;
        if (!domain.empty())
            domain += '.';
        domain.append(reversed.substr(start, end - start));
        if (start == 0)
            break;
        end = dot;
    }
    return domain;
}

win::FILETIME later(const win::FILETIME& a, const win::FILETIME& b) {
    auto value = [](const win::FILETIME& t) {
        return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    return value(a) >= value(b) ? a : b;
}

void readCookieRows(const ese::Database& database, const Table& table, const std::string& user,
                    WebCacheContainer& container) {
    const Columns columns(table);
    std::map<std::pair<std::string, std::string>, std::size_t> groups;
    ese::TableCursor cursor(database, table);
    Row row;
    while (cursor.next(row)) {
        const std::string domain = domainOf(columns.text(row, "RDomain").value_or(""));
        const std::string path = columns.text(row, "Path").value_or("");
        if (domain.empty())
            continue;
        auto [slot, added] = groups.try_emplace({domain, path}, container.entries.size());
        if (added) {
            WebCacheEntry& entry = container.entries.emplace_back();
            const std::string url = "Cookie:" + user + "@" + domain + path;
            entry.url = {container.texts.size(),
                         static_cast<std::uint32_t>(std::min<std::size_t>(url.size(), 0xFFFFFFFFu)),
                         true};
            container.texts.append(url, 0, entry.url.size);
            entry.fileName = entry.url;
            entry.numbers.entryType = kCookieEntryType;
        }
        WebCacheEntry& entry = container.entries[slot->second];
        const win::FILETIME modified = columns.fileTime(row, "LastModified");
        entry.numbers.lastModified = later(entry.numbers.lastModified, modified);
        entry.numbers.lastAccess = entry.numbers.lastModified;
        entry.numbers.expireTime =
            later(entry.numbers.expireTime, columns.fileTime(row, "Expires"));
        entry.numbers.size += columns.bytes(row, "Name").value_or("").size() +
                              columns.bytes(row, "Value").value_or("").size();
        ++entry.numbers.hitRate;
    }
}

// The user as the database's history entries name him ("Visited: John@..."), else the user
// folder of its first Directory under Users or Documents and Settings.
std::string userOf(const WebCacheContents& contents) {
    for (const WebCacheContainer& container : contents.containers) {
        if (container.kind != ContainerKind::History)
            continue;
        for (const WebCacheEntry& entry : container.entries) {
            const auto url = container.text(entry.url);
            if (!url || !url->starts_with("Visited: "))
                continue;
            const std::size_t at = url->find('@');
            if (at != std::string::npos && at > 9)
                return std::string(url->substr(9, at - 9));
        }
    }
    for (const WebCacheContainer& container : contents.containers) {
        // X:\Users\<user>\... or X:\Documents and Settings\<user>\...
        std::vector<std::string_view> parts;
        std::string_view rest = container.directory;
        while (parts.size() < 3 && !rest.empty()) {
            const std::size_t cut = rest.find_first_of("\\/");
            parts.push_back(rest.substr(0, cut));
            rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        }
        if (parts.size() == 3 && !parts[2].empty() &&
            (EqualsIgnoringAsciiCase(parts[1], "Users") ||
             EqualsIgnoringAsciiCase(parts[1], "Documents and Settings")))
            return std::string(parts[2]);
    }
    return "user";
}

void addContainer(WebCacheContents& contents, WebCacheContainer container) {
    contents.containerByTable.emplace(container.table, contents.containers.size());
    contents.containers.push_back(std::move(container));
}

void readContents(const ese::Database& database, WebCacheContents& contents) {
    contents.opened = true;
    contents.state = database.header().state;
    contents.dirty =
        database.header().state == static_cast<std::uint32_t>(ese::DatabaseState::DirtyShutdown);

    if (const Table* table = database.table("Containers")) {
        const Columns columns(*table);
        std::vector<std::pair<std::uint64_t, WebCacheContainer>> rows;
        ese::TableCursor cursor(database, *table);
        Row row;
        while (cursor.next(row)) {
            auto id = columns.number(row, "ContainerId");
            if (!id)
                continue;
            WebCacheContainer container;
            container.table = "Container_" + std::to_string(*id);
            container.name = columns.text(row, "Name").value_or("");
            container.partition = columns.text(row, "PartitionId").value_or("");
            container.directory =
                withoutTrailingSeparators(columns.text(row, "Directory").value_or(""));
            container.secureDirectories =
                secureDirectoriesOf(columns.text(row, "SecureDirectories").value_or(""));
            kindAndPrefixOf(container);
            rows.emplace_back(*id, std::move(container));
        }
        std::stable_sort(rows.begin(), rows.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [id, container] : rows) {
            // Two rows naming one table would deliver its entries twice.
            if (contents.containerByTable.contains(container.table))
                continue;
            if (contents.containers.size() >= kMaxWebCacheContainers) {
                ++contents.containersLeftOut;
                continue;
            }
            readContainerRows(database, container);
            addContainer(contents, std::move(container));
        }
    }

    std::vector<std::pair<std::uint64_t, const Table*>> cookieTables;
    for (const Table& table : database.tables()) {
        if (auto number = tableNumber(table.name, "CookieEntryEx_"))
            cookieTables.emplace_back(*number, &table);
    }
    std::sort(cookieTables.begin(), cookieTables.end());
    const std::string user = userOf(contents);
    for (const auto& [number, table] : cookieTables) {
        WebCacheContainer container;
        container.table = table->name;
        container.name = "Cookies";
        container.kind = ContainerKind::Cookies;
        container.prefix = "Cookie:";
        container.filesOfTheirOwn = false;
        if (contents.containers.size() >= kMaxWebCacheContainers) {
            ++contents.containersLeftOut;
            continue;
        }
        readCookieRows(database, *table, user, container);
        addContainer(contents, std::move(container));
    }
    contents.skipped = database.skipped();
}

std::shared_ptr<const WebCacheContents> contentsOf(std::unique_ptr<ese::Database> database,
                                                   const std::string& error) {
    auto contents = std::make_shared<WebCacheContents>();
    if (!database) {
        contents->error = error.empty() ? "no ESE database" : error;
        return contents;
    }
    try {
        readContents(*database, *contents);
    } catch (const std::bad_alloc&) {
        contents->containers.clear();
        contents->containers.shrink_to_fit();
        contents->containerByTable.clear();
        contents->error = "too big to hold in memory";
    }
    return contents;
}

struct CachedDatabase {
    FileStamp stamp;
    win::UINT codePage = 0;
    std::shared_ptr<const WebCacheContents> contents;
};

// The databases read so far, by path; a profile has one or two.
struct DatabaseCache {
    std::mutex lock;
    std::map<std::string, CachedDatabase> byPath;
    static constexpr std::size_t kMaxFiles = 8;
};

DatabaseCache& databaseCache() {
    static DatabaseCache cache;
    return cache;
}

} // namespace

void ForgetWebCacheContents() {
    DatabaseCache& cache = databaseCache();
    std::lock_guard guard(cache.lock);
    cache.byPath.clear();
}

std::vector<fs::path> FindWebCacheFiles(const ProfileRoot& profile) {
    std::vector<fs::path> files;
    fs::path folder = profile.hostFolder;
    std::string_view relative = kWebCacheFolder;
    while (!relative.empty()) {
        const std::size_t slash = relative.find('/');
        auto child = ChildNameIgnoringCase(folder, std::string(relative.substr(0, slash)));
        if (!child)
            return files;
        folder /= *child;
        relative =
            slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
    }
    for (const char* name : kWebCacheNames) {
        auto child = ChildNameIgnoringCase(folder, name);
        std::error_code error;
        if (child && fs::is_regular_file(folder / *child, error))
            files.push_back(folder / *child);
    }
    return files;
}

std::shared_ptr<const WebCacheContents> ReadWebCache(const fs::path& file) {
    const std::optional<FileStamp> stamp = StampOfFile(file);
    if (!stamp)
        return nullptr;
    const win::UINT codePage = win::GetACP();
    DatabaseCache& cache = databaseCache();
    {
        std::lock_guard guard(cache.lock);
        auto found = cache.byPath.find(file.string());
        if (found != cache.byPath.end() && found->second.stamp == *stamp &&
            found->second.codePage == codePage)
            return found->second.contents;
    }
    std::string error;
    std::unique_ptr<ese::Database> database;
    try {
        std::error_code kindError;
        if (fs::is_regular_file(file, kindError))
            database = ese::Database::open(file.string(), &error);
        else
            error = "not a regular file";
    } catch (const std::bad_alloc&) {
        error = "too big to hold in memory";
    }
    if (stamp->size > ese::kMaxDatabaseBytes)
        NoteSkippedContainer(file, error);
    auto contents = contentsOf(std::move(database), error);
    if (contents->containersLeftOut > 0)
        NoteSkippedContainer(file, "lists " + std::to_string(contents->containersLeftOut) +
                                       " containers past the first " +
                                       std::to_string(kMaxWebCacheContainers) +
                                       ", which were left out");
    std::lock_guard guard(cache.lock);
    if (cache.byPath.size() >= DatabaseCache::kMaxFiles)
        cache.byPath.clear();
    cache.byPath[file.string()] = {*stamp, codePage, contents};
    return contents;
}

std::shared_ptr<const WebCacheContents> ReadWebCacheBytes(std::string bytes) {
    std::string error;
    auto database = ese::Database::fromBytes(std::move(bytes), &error);
    return contentsOf(std::move(database), error);
}

std::vector<ContainerLocation> WebCacheLocations(const WebCacheContents& contents,
                                                 const ProfileRoot& profile, const fs::path& file) {
    std::vector<ContainerLocation> locations;
    for (const WebCacheContainer& container : contents.containers) {
        ContainerLocation location;
        location.kind = container.kind;
        location.prefix = container.prefix;
        location.file = file;
        location.windowsFolder =
            container.directory.empty()
                ? std::string()
                : withoutTrailingSeparators(RebaseOnProfile(profile, container.directory + "\\"));
        location.format = ContainerFormat::WebCache;
        location.name = container.table;
        locations.push_back(std::move(location));
    }
    return locations;
}

std::vector<ContainerLocation> FindWebCacheContainers(const ProfileRoot& profile) {
    std::vector<ContainerLocation> locations;
    for (const fs::path& file : FindWebCacheFiles(profile)) {
        auto contents = ReadWebCache(file);
        if (!contents)
            continue;
        auto found = WebCacheLocations(*contents, profile, file);
        std::move(found.begin(), found.end(), std::back_inserter(locations));
    }
    return locations;
}

WebCacheContainerReader::WebCacheContainerReader(std::shared_ptr<const WebCacheContents> contents,
                                                 const WebCacheContainer& container,
                                                 ContainerLocation location)
    : contents_(std::move(contents)), container_(container), location_(std::move(location)) {
    if (container_.filesOfTheirOwn) {
        folder_ = location_.windowsFolder + '\\';
        secureFolders_.reserve(container_.secureDirectories.size());
        for (const std::string& name : container_.secureDirectories)
            secureFolders_.push_back(folder_ + name + '\\');
    }
}

std::optional<CacheEntry> WebCacheContainerReader::nextEntry() {
    if (next_ >= container_.entries.size())
        return std::nullopt;
    const WebCacheEntry& row = container_.entries[next_++];
    CacheEntry entry = row.numbers;
    entry.url = container_.text(row.url);
    if (row.fileName.present) {
        entry.fileName = container_.text(row.fileName);
        if (row.secureDirectory < secureFolders_.size())
            entry.fileFolder = secureFolders_[row.secureDirectory];
        else
            entry.fileFolder = folder_;
    }
    if (row.headerInfo.present) {
        entry.headerInfo = container_.text(row.headerInfo);
        entry.headerInfoSize = row.headerInfo.size;
    }
    entry.extension = container_.text(row.extension);
    return entry;
}

std::unique_ptr<Container> OpenWebCacheContainer(const ContainerLocation& location) {
    auto contents = ReadWebCache(location.file);
    if (!contents)
        return nullptr;
    const auto found = contents->containerByTable.find(location.name);
    if (found == contents->containerByTable.end())
        return nullptr;
    return std::make_unique<WebCacheContainerReader>(contents, contents->containers[found->second],
                                                     location);
}

} // namespace platform::urlcache
