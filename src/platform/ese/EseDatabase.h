#pragma once
// A read-only reader of ESE databases (the WebCache, Windows Search, SRUM and the like). The
// whole file is read into memory once; every parse goes through ByteReader. What cannot be read
// (a page, a row, a value) is skipped and counted in Database::skipped(), never fatal: only a
// file without a usable header or catalog fails to open.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace platform::ese {

// Column types as the catalog stores them.
enum ColumnType : std::uint32_t {
    kNil = 0,
    kBit = 1,
    kUnsignedByte = 2,
    kShort = 3,
    kLong = 4,
    kCurrency = 5,
    kFloat = 6,
    kDouble = 7,
    kDateTime = 8,
    kBinary = 9,
    kText = 10,
    kLongBinary = 11,
    kLongText = 12,
    kSuperLong = 13,
    kUnsignedLong = 14,
    kLongLong = 15,
    kGuid = 16,
    kUnsignedShort = 17,
};

// Column flags worth knowing.
// The largest database file read, 1 GiB: a WebCache of years of browsing stays well below it.
// The file is held in memory whole, so a larger (or sparse) file is refused rather than read.
inline constexpr std::uint64_t kMaxDatabaseBytes = std::uint64_t{1} << 30;
inline constexpr std::uint32_t kColumnMultiValued = 0x400;

enum class DatabaseState : std::uint32_t {
    JustCreated = 1,
    DirtyShutdown = 2,
    CleanShutdown = 3,
    BeingConverted = 4,
    ForceDetach = 5,
};

struct Header {
    std::uint32_t formatVersion = 0;
    std::uint32_t formatRevision = 0;
    std::uint32_t creationRevision = 0;
    std::uint32_t pageSize = 0;
    std::uint32_t state = 0; // a DatabaseState, or whatever the file says
    bool checksumMatches = false;
    bool fromShadowCopy = false; // the first header was unreadable
};

struct Column {
    std::uint32_t id = 0;
    std::uint32_t type = 0; // a ColumnType
    std::string name;
    std::uint32_t codePage = 0;
    std::uint32_t flags = 0;
    std::uint32_t size = 0; // the catalog's space usage: bytes of a fixed column
};

struct Table {
    std::string name;
    std::uint32_t objectId = 0;
    std::uint32_t rootPage = 0;
    std::uint32_t longValueRoot = 0; // 0: none
    std::vector<Column> columns;     // in column id order
};

// One column of one row. No values: the column is empty (NULL). A multi-value column has
// several. `unreadable` marks a value the reader could not decode (an unknown compression, a
// long value that points nowhere): `values` then holds what could be read, often nothing.
struct Cell {
    std::vector<std::string> values;
    bool unreadable = false;
};

struct Row {
    std::vector<Cell> cells; // parallel to Table::columns
};

// What a reader skipped, summed over everything it read so far.
struct Skipped {
    std::uint64_t pages = 0;          // pages that could not be read or were not of the tree
    std::uint64_t rows = 0;           // leaf entries that were no readable row
    std::uint64_t values = 0;         // values that could not be decoded
    std::uint64_t loops = 0;          // walks cut short by a page met twice or a tree too deep
    std::uint64_t catalogEntries = 0; // catalog rows that made no sense

    std::uint64_t total() const { return pages + rows + values + loops + catalogEntries; }
};

class Database;
class Page;
struct PageEntry;

// Walks one table's tree in key order, one row at a time.
class TableCursor {
public:
    TableCursor(const Database& database, const Table& table);
    // The next row, or false at the end of the table.
    bool next(Row& row);

private:
    struct Level {
        std::uint32_t page;
        std::size_t nextEntry;
    };
    friend class Database;
    bool descend(std::uint32_t page);
    // The next live entry of a leaf page, in key order.
    bool nextEntry(PageEntry& entry);

    const Database& database_;
    const Table& table_;
    std::vector<Level> stack_;
    std::unordered_set<std::uint32_t> seen_;
    std::uint32_t fatherObject_ = 0;
};

// One database, read from a copy of its bytes. Reading keeps caches and counts: use one from one
// thread at a time.
class Database {
public:
    // Reads the file at `path` into memory (a copy: the file is never mapped or locked). Null
    // when it cannot be read or holds no ESE database; `error` then says why.
    static std::unique_ptr<Database> open(const std::string& path, std::string* error = nullptr);
    // The same over bytes already in memory.
    static std::unique_ptr<Database> fromBytes(std::string bytes, std::string* error = nullptr);

    const Header& header() const { return header_; }
    const std::vector<Table>& tables() const { return tables_; }
    const Table* table(std::string_view name) const;
    const Skipped& skipped() const { return skipped_; }
    std::uint64_t pageCount() const;

    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

private:
    friend class TableCursor;
    struct LongValues;
    class RowDecoder;

    Database();
    static std::unique_ptr<Database> load(std::unique_ptr<Database> database, std::string* error);
    bool readHeader(std::string* error);
    bool readCatalog(std::string* error);
    bool readCatalogAt(std::uint32_t root);
    std::optional<Page> page(std::uint32_t number) const;
    const LongValues& longValues(const Table& table) const;
    std::optional<std::string> longValue(const Table& table, std::string_view reference,
                                         std::size_t limit) const;
    bool decodeRow(const Table& table, std::string_view record, Row& row) const;

    // The file's bytes, in one of the two owners below.
    std::string_view bytes_;
    std::string ownedString_;
    std::unique_ptr<char[]> ownedBuffer_;
    Header header_;
    bool largePages_ = false;    // the 80-byte page header and 15-bit tag fields
    bool flagsInRecord_ = false; // every tagged value carries its flags byte
    std::vector<Table> tables_;
    mutable Skipped skipped_;
    mutable std::map<std::uint32_t, std::unique_ptr<LongValues>> longValues_;
    // Long-value entries indexed so far, over every tree: trees that share pages may not make
    // the index outgrow the file.
    mutable std::uint64_t longValueEntries_ = 0;
};

// Value helpers: a fixed column's bytes as a signed or unsigned integer of its type, a FILETIME,
// nullopt when the bytes do not fit the type.
std::optional<std::int64_t> integerValue(const Column& column, std::string_view bytes);
std::optional<std::uint64_t> unsignedValue(const Column& column, std::string_view bytes);
std::optional<std::uint64_t> filetimeValue(std::string_view bytes);

// Decompression of compressed column values. nullopt: not readable (an unknown kind, or data
// that lies about its size). Exposed for the tests.
std::optional<std::string> decompressValue(std::string_view data, std::size_t limit);

} // namespace platform::ese
