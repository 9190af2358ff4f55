// Broken files: each case damages the real WebCache sample in one way and checks that the
// reader skips what it cannot read, counts it, and keeps the rest; never a crash or a hang.
// Compressed values that lie about their size are checked on the decompressor directly.

#include "EseTestSupport.h"
#include "ese-writer/EseWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using platform::ese::Database;
using platform::ese::Skipped;

namespace {

constexpr std::uint32_t kPageSize = 32768;
// Pages of the sample (from its catalog): the content container of the main partition, a leaf
// root with 22 rows, and its long-value tree; the low-integrity content container, a branch root
// over 339 rows.
constexpr std::uint32_t kContentRoot = 463;
constexpr std::uint32_t kContentLongValues = 464;
constexpr std::uint32_t kLowContentRoot = 357;

std::size_t PageAt(std::uint32_t page) {
    return (std::size_t{page} + 1) * kPageSize;
}

void Put16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Where tag `tag` of `page` lies (its size word; the offset word follows).
std::size_t TagAt(std::uint32_t page, int tag) {
    return PageAt(page) + kPageSize - 4 * (tag + 1);
}

// Where the value of tag `tag` of a large page starts.
std::size_t ValueAt(const std::string& bytes, std::uint32_t page, int tag) {
    const std::size_t at = TagAt(page, tag) + 2;
    const unsigned offset =
        (static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8)) &
        0x7FFF;
    return PageAt(page) + 80 + offset;
}

void SetTagCount(std::string& bytes, std::uint32_t page, std::uint16_t count) {
    Put16(bytes, PageAt(page) + 34, count);
}

// The child page that branch entry 1 of the low-integrity container's root points to: its
// value is a 2-byte key size, a 6-byte key, the 4-byte child page number.
void SetFirstChild(std::string& bytes, std::uint32_t child) {
    Put32(bytes, ValueAt(bytes, kLowContentRoot, 1) + 8, child);
}

struct Outcome {
    std::unique_ptr<Database> database;
    std::map<std::string, std::size_t> rows;
    std::size_t totalRows = 0;
};

Outcome ReadAll(std::string bytes) {
    Outcome outcome;
    outcome.database = Database::fromBytes(std::move(bytes));
    if (!outcome.database)
        return outcome;
    for (const auto& table : outcome.database->tables()) {
        platform::ese::TableCursor cursor(*outcome.database, table);
        platform::ese::Row row;
        std::size_t rows = 0;
        while (cursor.next(row))
            ++rows;
        outcome.rows[table.name] = rows;
        outcome.totalRows += rows;
    }
    return outcome;
}

struct BrokenCase {
    const char* name;
    std::function<void(std::string&)> damage;
    std::function<void(const Outcome&, const Outcome& intact)> check;
};

void OpensNot(const Outcome& outcome, const Outcome&) {
    EXPECT_FALSE(outcome.database);
}

const BrokenCase kBrokenCases[] = {
    {"cut inside the header", [](std::string& b) { b.resize(2000); }, OpensNot},
    {"cut before the catalog", [](std::string& b) { b.resize(PageAt(3)); }, OpensNot},
    {"cut in the middle", [](std::string& b) { b.resize(PageAt(kLowContentRoot)); },
     [](const Outcome& o, const Outcome&) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.rows.at("Container_21"), 0u);
         EXPECT_EQ(o.rows.at("PartitionsEx"), 21u);
         EXPECT_GT(o.database->skipped().pages, 0u);
     }},
    {"first header unreadable, the shadow copy is used",
     [](std::string& b) { std::memset(b.data(), 0, 4096); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_TRUE(o.database->header().fromShadowCopy);
         EXPECT_EQ(o.rows, intact.rows);
     }},
    {"both headers unreadable", [](std::string& b) { std::memset(b.data(), 0, 2 * kPageSize); },
     OpensNot},
    {"header checksum wrong", [](std::string& b) { b[1000] ^= 0x5A; },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_FALSE(o.database->header().checksumMatches);
         EXPECT_EQ(o.rows, intact.rows);
     }},
    {"catalog root unreadable, the shadow catalog is used",
     [](std::string& b) { std::memset(b.data() + PageAt(4), 0xFF, kPageSize); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         auto rows = o.rows;
         EXPECT_EQ(rows["MSysObjects"], 0u); // its own tree starts at the broken page
         rows["MSysObjects"] = intact.rows.at("MSysObjects");
         EXPECT_EQ(rows, intact.rows);
     }},
    {"a page tag runs past the page",
     [](std::string& b) { Put16(b, TagAt(kContentRoot, 5), 0x7FFF); },
     [](const Outcome& o, const Outcome&) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.rows.at("Container_1"), 21u);
         EXPECT_EQ(o.database->skipped().rows, 1u);
     }},
    {"more tags than the page holds", [](std::string& b) { SetTagCount(b, kContentRoot, 0xFFFF); },
     [](const Outcome& o, const Outcome&) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.rows.at("Container_1"), 0u);
         EXPECT_EQ(o.database->skipped().pages, 1u);
     }},
    {"a branch points back at its root", [](std::string& b) { SetFirstChild(b, kLowContentRoot); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_LT(o.rows.at("Container_21"), intact.rows.at("Container_21"));
         EXPECT_GT(o.rows.at("Container_21"), 0u);
         EXPECT_EQ(o.database->skipped().loops, 1u);
     }},
    {"a branch points into another table", [](std::string& b) { SetFirstChild(b, kContentRoot); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_LT(o.rows.at("Container_21"), intact.rows.at("Container_21"));
         EXPECT_EQ(o.rows.at("Container_1"), intact.rows.at("Container_1"));
         EXPECT_EQ(o.database->skipped().pages, 1u);
     }},
    {"a branch points past the file", [](std::string& b) { SetFirstChild(b, 0x7FFFFFFF); },
     [](const Outcome& o, const Outcome&) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.database->skipped().pages, 1u);
     }},
    {"long values point nowhere", [](std::string& b) { SetTagCount(b, kContentLongValues, 1); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.rows, intact.rows); // the rows stay, their long values are unreadable
         EXPECT_EQ(o.database->skipped().values, 3u);
     }},
    {"every page's tag count at its largest",
     [](std::string& b) {
         for (std::uint32_t page = 0; PageAt(page) + kPageSize <= b.size(); ++page)
             SetTagCount(b, page, 0xFFFF);
     },
     [](const Outcome& o, const Outcome&) {
         if (o.database) {
             EXPECT_EQ(o.totalRows, 0u);
         }
     }},
};

TEST(EseBrokenFiles, EachIsSkippedAndCounted) {
    if (!zz_test::WebCacheSample())
        GTEST_SKIP() << "no WebCache sample at " << zz_test::WebCacheSamplePath();
    const Outcome intact = ReadAll(*zz_test::WebCacheSample());
    ASSERT_TRUE(intact.database);
    for (const auto& broken : kBrokenCases) {
        SCOPED_TRACE(broken.name);
        std::string bytes = *zz_test::WebCacheSample();
        broken.damage(bytes);
        broken.check(ReadAll(std::move(bytes)), intact);
    }
}

// Every cut of the file, at page boundaries and inside pages, reads without fault.
TEST(EseBrokenFiles, CutAnywhere) {
    if (!zz_test::WebCacheSample())
        GTEST_SKIP() << "no WebCache sample at " << zz_test::WebCacheSamplePath();
    const std::string& whole = *zz_test::WebCacheSample();
    for (std::size_t size = 0; size < whole.size(); size += 7 * kPageSize + 4099) {
        SCOPED_TRACE(size);
        const Outcome cut = ReadAll(whole.substr(0, size));
        if (cut.database) {
            EXPECT_LE(cut.totalRows, 5000u);
        }
    }
}

struct CompressedCase {
    const char* name;
    std::string stored;
    std::optional<std::string> expected;
};

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

TEST(EseCompressedValues, DecodeOrRefuse) {
    using namespace std::string_literals;
    const CompressedCase cases[] = {
        {"7-bit 8-bit text", Bytes({0x0C, 0x61, 0xF1, 0x18}), "abc"s},
        {"7-bit UTF-16 text", Bytes({0x14, 0x61, 0xF1, 0x18}), "a\0b\0c\0"s},
        {"XPRESS literals", Bytes({0x18, 3, 0, 0, 0, 0, 0, 'a', 'b', 'c'}), "abc"s},
        {"XPRESS with a match", Bytes({0x18, 9, 0, 0, 0, 0, 0x10, 'a', 'b', 'c', 0x13, 0x00}),
         "abcabcabc"s},
        {"XPRESS claiming more than it holds",
         Bytes({0x18, 0x60, 0xEA, 0, 0, 0, 0x10, 'a', 'b', 'c', 0x13, 0x00}), std::nullopt},
        {"XPRESS match before the start", Bytes({0x18, 9, 0, 0, 0, 0, 0x80, 0x50, 0x00}),
         std::nullopt},
        {"XPRESS match past the size it announced",
         Bytes({0x18, 5, 0, 0, 0, 0, 0x10, 'a', 'b', 'c', 0x13, 0x00}), std::nullopt},
        {"an unknown kind", Bytes({0x28, 1, 2, 3}), std::nullopt},
        {"nothing at all", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::ese::decompressValue(c.stored, 1 << 20), c.expected);
    }
    // A limit below the size announced refuses before decoding.
    EXPECT_EQ(platform::ese::decompressValue(Bytes({0x18, 3, 0, 0, 0, 0, 0, 'a', 'b', 'c'}), 2),
              std::nullopt);
}

// The same kinds of damage on a database from the writer (pages of 4 KiB, a tree of several
// levels, long values in chunks, a compressed value), so that they are checked without the
// sample too, and on the small-page layout.
namespace writer_cases {

namespace w = ese_writer;

constexpr std::uint32_t kSmallPage = 4096;
constexpr int kRows = 60;

std::string Packed() {
    std::string data;
    for (int i = 0; i < 60; ++i)
        data += "packed " + std::to_string(i % 6) + " ";
    return data;
}

w::Table Table() {
    w::Table table;
    table.name = "T";
    w::Column id;
    id.name = "Id";
    id.type = w::ColumnType::LongLong;
    w::Column text;
    text.name = "Text";
    text.type = w::ColumnType::LongText;
    w::Column big;
    big.name = "Big";
    big.type = w::ColumnType::LongBinary;
    w::Column packed;
    packed.name = "Packed";
    packed.type = w::ColumnType::LongBinary;
    table.columns = {id, text, big, packed};
    table.keyColumns = {"Id"};
    for (int i = 0; i < kRows; ++i) {
        w::Row row;
        row["Id"] = w::Int64(i);
        row["Text"] = w::Utf16("row " + std::to_string(i));
        if (i % 10 == 0)
            row["Big"] = w::Bytes(std::string(3000, static_cast<char>('A' + i / 10))).longValue();
        if (i == 7)
            row["Packed"] = w::Bytes(Packed()).compressed(w::Compression::Xpress);
        table.rows.push_back(std::move(row));
    }
    return table;
}

const w::Database& Built() {
    static const w::Database database = [] {
        w::Options options;
        options.pageSize = kSmallPage;
        options.maxEntriesPerPage = 4;
        options.longValueChunk = 1000;
        return w::Build({Table()}, options);
    }();
    return database;
}

std::size_t At(std::uint32_t page) {
    return (std::size_t{page} + 1) * kSmallPage;
}

void SmallPut16(std::string& bytes, std::size_t at, std::uint16_t value) {
    Put16(bytes, at, value);
}

std::size_t SmallTagAt(std::uint32_t page, int tag) {
    return At(page) + kSmallPage - 4 * (tag + 1);
}

// Where the value of tag `tag` of a small page starts.
std::size_t SmallValueAt(const std::string& bytes, std::uint32_t page, int tag) {
    const std::size_t at = SmallTagAt(page, tag) + 2;
    const unsigned offset =
        (static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8)) &
        0x1FFF;
    return At(page) + 40 + offset;
}

const w::TreeInfo& Data() {
    return Built().tables.at(0).data;
}
const w::TreeInfo& LongValueTree() {
    return *Built().tables.at(0).longValues;
}

// The child page number ends the data of a branch entry: it is the last 4 bytes of the value.
void SetChildOfFirstEntry(std::string& bytes, std::uint32_t branch, std::uint32_t child) {
    const std::size_t at = SmallTagAt(branch, 1);
    const unsigned size =
        (static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8)) &
        0x1FFF;
    Put32(bytes, SmallValueAt(bytes, branch, 1) + size - 4, child);
}

std::size_t Find(const std::string& bytes, const std::string& what) {
    const std::size_t at = bytes.find(what);
    EXPECT_NE(at, std::string::npos);
    return at == std::string::npos ? 0 : at;
}

struct Case {
    const char* name;
    std::function<void(std::string&)> damage;
    bool opens;
    std::size_t rows; // rows of table T read back
    Skipped skipped;  // exactly these counts
};

const Case kCases[] = {
    {"intact", [](std::string&) {}, true, kRows, {}},
    {"first header unreadable",
     [](std::string& b) { std::memset(b.data(), 0, 512); },
     true,
     kRows,
     {}},
    {"both headers unreadable",
     [](std::string& b) { std::memset(b.data(), 0, 2 * kSmallPage); },
     false,
     0,
     {}},
    {"a page tag runs past the page",
     [](std::string& b) { SmallPut16(b, SmallTagAt(Data().pages.front(), 1), 0x1FFF); },
     true,
     kRows - 1,
     {0, 1, 0, 0, 0}},
    {"a leaf claims more tags than it holds",
     [](std::string& b) { SmallPut16(b, At(Data().pages.front()) + 34, 0x7FFF); },
     true,
     kRows - 4,
     {1, 0, 0, 0, 0}},
    {"the root's first child is the root",
     [](std::string& b) { SetChildOfFirstEntry(b, Data().root, Data().root); },
     true,
     0,
     {0, 0, 0, 1, 0}},
    {"long values point nowhere",
     [](std::string& b) { SmallPut16(b, At(LongValueTree().root) + 34, 1); },
     true,
     kRows,
     {0, 0, 6, 0, 0}},
    {"compressed data lies about its size",
     [](std::string& b) {
         const std::size_t at = Find(b, w::Compress(Packed(), w::Compression::Xpress, false));
         SmallPut16(b, at + 1, 0xFFFF);
     },
     true,
     kRows,
     {0, 0, 1, 0, 0}},
    {"an unknown compression",
     [](std::string& b) {
         b[Find(b, w::Compress(Packed(), w::Compression::Xpress, false))] = 0x38;
     },
     true,
     kRows,
     {0, 0, 1, 0, 0}},
};

TEST(EseBrokenFiles, WriterDatabaseDamagedOneWayAtATime) {
    ASSERT_GE(Data().depth, 3u);
    ASSERT_TRUE(Built().tables.at(0).longValues);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::string bytes = Built().bytes;
        c.damage(bytes);
        const Outcome outcome = ReadAll(bytes);
        ASSERT_EQ(static_cast<bool>(outcome.database), c.opens);
        if (!outcome.database)
            continue;
        const auto& skipped = outcome.database->skipped();
        if (std::string(c.name) == "the root's first child is the root") {
            // The walk ends; the children after the first one are still read.
            EXPECT_EQ(skipped.loops, 1u);
            EXPECT_LT(outcome.rows.at("T"), static_cast<std::size_t>(kRows));
            continue;
        }
        EXPECT_EQ(outcome.rows.at("T"), c.rows);
        EXPECT_EQ(skipped.pages, c.skipped.pages);
        EXPECT_EQ(skipped.rows, c.skipped.rows);
        EXPECT_EQ(skipped.values, c.skipped.values);
        EXPECT_EQ(skipped.loops, c.skipped.loops);
    }
}

TEST(EseBrokenFiles, WriterDatabaseCutAnywhere) {
    const std::string& whole = Built().bytes;
    for (std::size_t size = 0; size <= whole.size(); size += 1531) {
        SCOPED_TRACE(size);
        const Outcome cut = ReadAll(whole.substr(0, size));
        if (cut.database) {
            EXPECT_LE(cut.totalRows, whole.size());
        }
    }
}

} // namespace writer_cases

} // namespace
