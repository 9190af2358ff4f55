#pragma once
// Writes ESE databases (the engine format of WebCacheV01.dat) with given tables, columns and rows,
// for tests, fixtures and benchmarks. The reader never depends on this code.
//
// API: describe each table (name, columns, the integer columns of its primary key, rows) and call
// Build() (bytes plus where every tree landed) or Write() (a file). A row maps column names to
// Cells; a Cell holds raw little-endian bytes, several of them for a multi-valued column, and may
// ask for 7-bit or XPRESS compression or for storage in the table's long-value tree. Helpers below
// make the bytes of the usual types (Int64, UInt32, Utf16, ...). Same input, same bytes.
//
// What the files look like (checked against a real Windows 10 WebCache where it has the feature,
// and against Debian's esedbexport; compression and 4-byte long-value ids follow the format
// description, as the real file has neither):
// - Page N lies at file offset (N + 1) * page size; the header is at 0 and its shadow copy at one
//   page size. Header checksum: XOR of the 32-bit words from offset 8 to 4096 (no seed). Page
//   checksum (low half of the first 8 bytes): page number XOR the words from offset 8 to the end of
//   the page's first 8 KiB block; pages of 16 and 32 KiB also carry one per further 8 KiB block
//   at offsets 40, 48, 56 (page number seed, whole block), and the page number at 64. The ECC
//   halves are left 0.
// - Page header 40 bytes (80 on 16 and 32 KiB pages); page tags from the page end, 4 bytes each,
//   size then offset (offset relative to the end of the header). Tag flags: on small pages the top
//   3 bits of the tag's offset word, on large pages the top 3 bits of the value's first 16-bit
//   word. 0x4 = the entry starts with a common-key size (bytes shared with the page key in tag 0);
//   0x2 = a deleted entry (skip it); 0x1 = set on every leaf entry, as real files do.
// - Page 1 is the database root (object 1) with its space trees at pages 2 and 3; page 4 is the
//   catalog MSysObjects (object 2, its other pages in 5..23 and after), page 24 its copy
//   MSysObjectsShadow (object 3); the user tables follow. Tag 0 of a root page is the 16-byte root
//   header (initial pages, parent FDP page, extent kind, space tree page); real files also have a
//   25-byte form on table roots. MSysObjids and MSysLocales are not written.
// - Trees: leaves hold (key, record); a branch entry holds (key, child page) where the key lies
//   strictly between the child's last key and the next child's first key (the shortest prefix of
//   the latter that sorts after the former) and the last entry of a level's rightmost page has an
//   empty key. Leaves are chained by previous/next page (branch pages not).
// - Keys: each key column as 0x7F then its big-endian value, sign bit flipped for signed types.
//   A table without key columns gets a 4-byte big-endian row number as key.
// - Records: last fixed id, last variable id, offset of the variable-size array; fixed values
//   and a null bitmap (bit set = null, unused bits set); variable end offsets (0x8000 = null) and
//   data; tagged entries (id, offset from the tagged area's start) and data. Each tagged value on
//   large pages starts with a flags byte (0x01 variable-size type, 0x02 compressed, 0x04 long
//   value, 0x08 multi-value); on small pages the byte is present only when the offset has 0x4000.
// - Multi-values: 16-bit offsets from the value's start (after the flags byte), then the values.
// - Long values: the record holds a 4-byte id (little-endian; 8 bytes with longValueIdBytes);
//   the table's long-value tree holds key BE(id) -> (reference count 1, total size) and key
//   BE(id) BE32(offset) -> chunk.
// - Compression: first byte 0x08 | (bits used in the last byte - 1) then 7-bit values packed
//   from the least significant bit (8-bit text); 0x10 | ... the same for UTF-16 text whose units
//   are all below 0x80 (each unit packed to 7 bits); 0x18, 16-bit uncompressed size, then plain
//   LZ77 XPRESS data.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace ese_writer {

enum class ColumnType : std::uint32_t {
    Bit = 1,
    UnsignedByte = 2,
    Short = 3,
    Long = 4,
    Currency = 5,
    IEEESingle = 6,
    IEEEDouble = 7,
    DateTime = 8,
    Binary = 9,
    Text = 10,
    LongBinary = 11,
    LongText = 12,
    UnsignedLong = 14,
    LongLong = 15,
    Guid = 16,
    UnsignedShort = 17,
};

enum class Compression { None, SevenBit, Xpress };
enum class DatabaseState : std::uint32_t { JustCreated = 1, DirtyShutdown = 2, CleanShutdown = 3 };

struct Column {
    std::string name;
    ColumnType type = ColumnType::Long;
    // 0: the next free id of the column's kind: fixed (1..127) for fixed-size types, variable
    // (128..255) for Binary and Text, tagged (256..) for the long types and multi-valued columns.
    std::uint32_t id = 0;
    std::uint32_t codePage = 0; // text: 1200 (UTF-16LE) or 1252; 0 means 1200 for text columns
    bool multiValued = false;   // tagged columns only
    std::uint32_t maxSize = 0;  // the catalog's size limit; 0: the type's usual one
    bool notNull = false;
};

struct Cell {
    std::vector<std::string> values; // raw bytes; none: NULL; more than one: a multi-value
    Compression compression = Compression::None;
    bool separate = false; // store in the long-value tree even when it would fit in the row

    Cell compressed(Compression how) const;
    Cell longValue() const;
};

using Row = std::map<std::string, Cell>; // column name -> value; a missing column is NULL

struct Table {
    std::string name;
    std::vector<Column> columns;
    std::vector<std::string> keyColumns; // integer columns of the primary index, in key order
    std::string indexName = "PrimaryKey";
    std::vector<Row> rows; // any order: they are stored sorted by key; duplicate keys throw
    // Indexes into rows of rows stored as deleted ones not yet cleaned up (tag flag 0x2): readers
    // must skip them.
    std::set<std::size_t> deletedRows;
};

struct Options {
    std::uint32_t pageSize = 32768; // 4096, 8192, 16384 or 32768
    DatabaseState state = DatabaseState::CleanShutdown;
    std::uint32_t formatRevision = 0x14;
    // At most this many entries in one tree page (0: as many as fit), to get deep trees from few
    // rows.
    std::uint32_t maxEntriesPerPage = 0;
    std::uint32_t longValueChunk = 0; // bytes per long-value chunk; 0: as large as a page allows
    // 4, or 8 as in current Windows 10 files (ids then start at 0x8000000080000001).
    std::uint32_t longValueIdBytes = 4;
    // Tagged values larger than this (compressed size when compressed) go to the long-value tree,
    // stored plain; 0: page size / 16.
    std::uint32_t inlineLimit = 0;
};

struct TreeInfo {
    std::uint32_t objectId = 0;
    std::uint32_t root = 0;
    std::uint32_t depth = 0;          // 1: the root is the only page
    std::vector<std::uint32_t> pages; // every page of the tree, leaves first, root last
};

struct TableInfo {
    std::string name;
    TreeInfo data;
    std::optional<TreeInfo> longValues;
};

struct Database {
    std::string bytes;
    std::uint32_t pageSize = 0;
    TreeInfo catalog;
    TreeInfo shadowCatalog;
    std::vector<TableInfo> tables; // in the order given
};

Database Build(const std::vector<Table>& tables, const Options& options = {});
void Write(const std::filesystem::path& file, const std::vector<Table>& tables,
           const Options& options = {});

constexpr std::uint64_t PageOffset(std::uint32_t page, std::uint32_t pageSize) {
    return (std::uint64_t{page} + 1) * pageSize;
}

// Cells of the usual types (little-endian bytes).
Cell Null();
Cell Bool(bool value);
Cell UInt8(std::uint8_t value);
Cell Int16(std::int16_t value);
Cell UInt16(std::uint16_t value);
Cell Int32(std::int32_t value);
Cell UInt32(std::uint32_t value);
Cell Int64(std::int64_t value);
Cell Double(double value);
Cell Utf16(std::string_view utf8);  // UTF-16LE of UTF-8 text, no terminator
Cell Utf16z(std::string_view utf8); // the same with a NUL character at the end
Cell Bytes(std::string bytes);      // binary, or 8-bit text as stored
Cell Multi(std::vector<Cell> values);

std::string Utf16Bytes(std::string_view utf8);

// The compressed form of `data` as stored (first byte = kind); throws when the data cannot take
// that compression (7-bit: a byte or UTF-16 unit of 0x80 or more; XPRESS: more than 65535 bytes).
std::string Compress(const std::string& data, Compression how, bool utf16);

// WebCache tables with the column ids, types, code pages and primary keys of real files:
// Containers (key ContainerId), Container_N (key UrlHash, EntryId) and CookieEntryEx_N (key
// EntryId). Rows are left for the caller; real files store every text NUL-terminated (Utf16z),
// times as FILETIME in the int64 columns, and keep all of it inline unless longer than 2 KiB.
Table WebCacheContainersTable();
Table WebCacheContainerTable(int containerId);
Table WebCacheCookieTable(int containerId);
// A row of Containers: texts NUL-terminated as real files store them, the main partition ("M");
// an empty `secureDirectories` leaves that column NULL.
Row WebCacheContainerRow(std::int64_t containerId, std::string_view name,
                         std::string_view directory, std::string_view secureDirectories);

} // namespace ese_writer
