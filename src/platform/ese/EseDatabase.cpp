#include "platform/ese/EseDatabase.h"

#include "platform/ese/EsePage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::ese {

namespace {

constexpr std::uint32_t kSignature = 0x89ABCDEF;
constexpr std::uint32_t kHeaderChecksumEnd = 4096;
constexpr std::uint32_t kCatalogRoot = 4;
// The engine keeps a copy of the catalog at a fixed place too.
constexpr std::uint32_t kShadowCatalogRoot = 24;
constexpr std::uint32_t kCatalogObject = 2;

// Catalog row kinds.
constexpr std::int64_t kCatalogTable = 1;
constexpr std::int64_t kCatalogColumn = 2;
constexpr std::int64_t kCatalogLongValue = 4;

// The catalog's own columns, enough to read it before it has described itself.
enum CatalogColumn : std::uint32_t {
    kObjidTable = 1,
    kType = 2,
    kId = 3,
    kColtypOrPgnoFdp = 4,
    kSpaceUsage = 5,
    kFlags = 6,
    kPagesOrLocale = 7,
    kName = 128,
};

bool isPageSize(std::uint32_t size) {
    return size == 4096 || size == 8192 || size == 16384 || size == 32768;
}

// The whole file in a buffer of its own. The buffer is not cleared first: every byte of it is
// read over, and the part a shrinking file leaves unread is cut off.
bool readWholeFile(const std::string& path, std::unique_ptr<char[]>& buffer, std::size_t& size,
                   std::string* error) {
    // Never waits on a FIFO or a device swapped in for the file, and leaves its access time alone
    // where the system lets us (O_NOATIME is refused for files of other users).
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOATIME);
    if (fd < 0 && errno == EPERM)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (error)
            *error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (error)
            *error = "not a regular file";
        ::close(fd);
        return false;
    }
    if (static_cast<std::uint64_t>(info.st_size) > kMaxDatabaseBytes) {
        if (error)
            *error = "is " + std::to_string(info.st_size) + " bytes, over the " +
                     std::to_string(kMaxDatabaseBytes) + " read";
        ::close(fd);
        return false;
    }
    const auto wanted = static_cast<std::size_t>(info.st_size);
    buffer = std::make_unique_for_overwrite<char[]>(wanted);
    std::size_t done = 0;
    while (done < wanted) {
        const ssize_t got =
            ::pread(fd, buffer.get() + done, wanted - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // the file shrank under us: read what is there
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    size = done;
    return true;
}

Table catalogTable(std::uint32_t root) {
    Table catalog;
    catalog.name = "MSysObjects";
    catalog.objectId = kCatalogObject;
    catalog.rootPage = root;
    const struct {
        std::uint32_t id;
        std::uint32_t type;
    } fixed[] = {{kObjidTable, kLong},
                 {kType, kShort},
                 {kId, kLong},
                 {kColtypOrPgnoFdp, kLong},
                 {kSpaceUsage, kLong},
                 {kFlags, kLong},
                 {kPagesOrLocale, kLong},
                 {8, kBit},
                 {9, kShort}};
    for (const auto& column : fixed)
        catalog.columns.push_back(Column{column.id, column.type, {}, 0, 0, 0});
    catalog.columns.push_back(Column{kName, kText, "Name", 1252, 0, 0});
    return catalog;
}

std::optional<std::int64_t> cellInteger(const Table& table, const Row& row, std::uint32_t id) {
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        if (table.columns[i].id == id && !row.cells[i].values.empty())
            return integerValue(table.columns[i], row.cells[i].values.front());
    }
    return std::nullopt;
}

std::string cellText(const Table& table, const Row& row, std::uint32_t id) {
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        if (table.columns[i].id == id && !row.cells[i].values.empty())
            return row.cells[i].values.front();
    }
    return {};
}

} // namespace

std::unique_ptr<Database> Database::open(const std::string& path, std::string* error) {
    std::unique_ptr<Database> database(new Database());
    std::size_t size = 0;
    if (!readWholeFile(path, database->ownedBuffer_, size, error))
        return nullptr;
    database->bytes_ = std::string_view(database->ownedBuffer_.get(), size);
    return load(std::move(database), error);
}

std::unique_ptr<Database> Database::fromBytes(std::string bytes, std::string* error) {
    std::unique_ptr<Database> database(new Database());
    database->ownedString_ = std::move(bytes);
    database->bytes_ = database->ownedString_;
    return load(std::move(database), error);
}

std::unique_ptr<Database> Database::load(std::unique_ptr<Database> database, std::string* error) {
    if (!database->readHeader(error) || !database->readCatalog(error))
        return nullptr;
    return database;
}

const Table* Database::table(std::string_view name) const {
    for (const auto& table : tables_) {
        if (table.name == name)
            return &table;
    }
    return nullptr;
}

std::uint64_t Database::pageCount() const {
    const std::uint64_t pages = bytes_.size() / header_.pageSize;
    return pages > 1 ? pages - 1 : 0;
}

bool Database::readHeader(std::string* error) {
    const ByteReader file(bytes_);
    // The first header, else the shadow copy in the second page, wherever a page size puts it.
    std::optional<std::uint64_t> at;
    if (file.u32(4) == kSignature && isPageSize(file.u32(236).value_or(0)))
        at = 0;
    for (std::uint32_t size = 4096; !at && size <= 32768; size *= 2) {
        if (file.u32(size + 4) == kSignature && file.u32(size + 236) == size) {
            at = size;
            header_.fromShadowCopy = true;
        }
    }
    if (!at) {
        if (error)
            *error = "no ESE database header";
        return false;
    }
    const auto header = file.sub(*at, kHeaderChecksumEnd);
    if (!header) {
        if (error)
            *error = "the file ends inside its header";
        return false;
    }
    header_.formatVersion = header->u32(8).value_or(0);
    header_.state = header->u32(52).value_or(0);
    header_.formatRevision = header->u32(232).value_or(0);
    header_.pageSize = header->u32(236).value_or(0);
    header_.creationRevision = header->u32(344).value_or(0);
    // The XOR of the header's words after the checksum, the signature among them, over the
    // signature's value as a start.
    std::uint32_t checksum = kSignature;
    for (std::uint32_t offset = 4; offset < kHeaderChecksumEnd; offset += 4)
        checksum ^= header->u32(offset).value_or(0);
    header_.checksumMatches = checksum == header->u32(0);
    // Windows 7 brought the extended header and 15-bit tags for pages of 16 KiB and more.
    largePages_ = header_.pageSize >= 16384;
    flagsInRecord_ = largePages_ && header_.formatRevision >= 0x11;
    return true;
}

std::optional<Page> Database::page(std::uint32_t number) const {
    const ByteReader file(bytes_);
    const auto data = file.sub((std::uint64_t{number} + 1) * header_.pageSize, header_.pageSize);
    if (!data)
        return std::nullopt;
    return Page::parse(*data, largePages_);
}

bool Database::readCatalog(std::string* error) {
    if (readCatalogAt(kCatalogRoot))
        return true;
    // What the first catalog left unread was counted; the copy starts afresh.
    tables_.clear();
    if (readCatalogAt(kShadowCatalogRoot))
        return true;
    if (error)
        *error = "no readable catalog";
    return false;
}

bool Database::readCatalogAt(std::uint32_t root) {
    const Table catalog = catalogTable(root);
    std::map<std::uint32_t, std::size_t> byObject;
    TableCursor cursor(*this, catalog);
    Row row;
    while (cursor.next(row)) {
        const auto objectId = cellInteger(catalog, row, kObjidTable);
        const auto type = cellInteger(catalog, row, kType);
        const auto id = cellInteger(catalog, row, kId);
        const auto pageOrType = cellInteger(catalog, row, kColtypOrPgnoFdp);
        if (!objectId || !type || !id || !pageOrType) {
            ++skipped_.catalogEntries;
            continue;
        }
        const auto owner = static_cast<std::uint32_t>(*objectId);
        if (*type == kCatalogTable) {
            Table table;
            table.name = cellText(catalog, row, kName);
            table.objectId = owner;
            table.rootPage = static_cast<std::uint32_t>(*pageOrType);
            if (byObject.count(owner)) {
                ++skipped_.catalogEntries;
                continue;
            }
            byObject[owner] = tables_.size();
            tables_.push_back(std::move(table));
            continue;
        }
        const auto found = byObject.find(owner);
        if (found == byObject.end()) {
            if (*type == kCatalogColumn || *type == kCatalogLongValue)
                ++skipped_.catalogEntries;
            continue;
        }
        Table& table = tables_[found->second];
        if (*type == kCatalogColumn) {
            Column column;
            column.id = static_cast<std::uint32_t>(*id);
            column.type = static_cast<std::uint32_t>(*pageOrType);
            column.name = cellText(catalog, row, kName);
            column.codePage =
                static_cast<std::uint32_t>(cellInteger(catalog, row, kPagesOrLocale).value_or(0));
            column.flags =
                static_cast<std::uint32_t>(cellInteger(catalog, row, kFlags).value_or(0));
            column.size =
                static_cast<std::uint32_t>(cellInteger(catalog, row, kSpaceUsage).value_or(0));
            table.columns.push_back(std::move(column));
        } else if (*type == kCatalogLongValue) {
            table.longValueRoot = static_cast<std::uint32_t>(*pageOrType);
        }
    }
    for (auto& table : tables_) {
        std::stable_sort(table.columns.begin(), table.columns.end(),
                         [](const Column& a, const Column& b) { return a.id < b.id; });
        // A column id twice would make a row ambiguous: the first definition wins.
        const auto duplicates =
            std::unique(table.columns.begin(), table.columns.end(),
                        [](const Column& a, const Column& b) { return a.id == b.id; });
        skipped_.catalogEntries += static_cast<std::uint64_t>(table.columns.end() - duplicates);
        table.columns.erase(duplicates, table.columns.end());
    }
    return !tables_.empty();
}

} // namespace platform::ese
