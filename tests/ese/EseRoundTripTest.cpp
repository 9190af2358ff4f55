// Databases made by the writer read back through our reader exactly as written, at every page
// size, with deep trees, multi-values, long values over several chunks and compressed values; and
// esedbexport reads the same files the same way.

#include "EseTestSupport.h"
#include "ese-writer/EseWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace w = ese_writer;
using platform::ese::Database;

namespace {

w::Column MakeColumn(const char* name, w::ColumnType type, std::uint32_t codePage = 0,
                     bool multiValued = false) {
    w::Column column;
    column.name = name;
    column.type = type;
    column.codePage = codePage;
    column.multiValued = multiValued;
    return column;
}

std::string Repeated(std::string_view piece, std::size_t size) {
    std::string text;
    while (text.size() < size)
        text += piece;
    text.resize(size);
    return text;
}

// A 7-bit compressible 8-bit text of odd length that is not 7 more than a multiple of 8: the
// lengths esedbexport reads right.
std::string SevenBitText(int i) {
    std::string text = "seven bit text " + std::to_string(i);
    if (text.size() % 2 == 0)
        text += '.';
    if (text.size() % 8 == 7)
        text += "..";
    return text;
}

// A table with a column of every kind; row i has key i * 7 - 100 (negative keys too) and
// values that vary with i, some of them NULL. `plain` leaves out what esedbexport cannot show
// (characters beyond U+FFFF, multi-values of numbers, compressed binary values).
w::Table EveryKindTable(int rows, bool plain = false) {
    w::Table table;
    table.name = "EveryKind";
    table.columns = {
        MakeColumn("Id", w::ColumnType::LongLong),
        MakeColumn("Flag", w::ColumnType::Bit),
        MakeColumn("Byte", w::ColumnType::UnsignedByte),
        MakeColumn("Small", w::ColumnType::Short),
        MakeColumn("USmall", w::ColumnType::UnsignedShort),
        MakeColumn("Number", w::ColumnType::Long),
        MakeColumn("UNumber", w::ColumnType::UnsignedLong),
        MakeColumn("Money", w::ColumnType::Currency),
        MakeColumn("Name", w::ColumnType::Text, 1252),
        MakeColumn("Label", w::ColumnType::Text, 1200),
        MakeColumn("Blob", w::ColumnType::Binary),
        MakeColumn("Note", w::ColumnType::LongText, 1200),
        MakeColumn("Data", w::ColumnType::LongBinary),
        MakeColumn("Tags", w::ColumnType::LongText, 1200, true),
        MakeColumn("Numbers", w::ColumnType::Long, 0, true),
        MakeColumn("Big", w::ColumnType::LongBinary),
        MakeColumn("Seven", w::ColumnType::LongText, 1252),
        MakeColumn("SevenWide", w::ColumnType::LongText, 1200),
        MakeColumn("Packed", w::ColumnType::LongBinary),
    };
    table.keyColumns = {"Id"};
    for (int i = 0; i < rows; ++i) {
        w::Row row;
        row["Id"] = w::Int64(std::int64_t{i} * 7 - 100);
        row["Flag"] = w::Bool(i % 2 == 0);
        row["Byte"] = w::UInt8(static_cast<std::uint8_t>(i));
        row["Small"] = w::Int16(static_cast<std::int16_t>(-i));
        if (i % 5 != 0)
            row["USmall"] = w::UInt16(static_cast<std::uint16_t>(60000 + i));
        row["Number"] = w::Int32(-100000 * i);
        row["UNumber"] = w::UInt32(4000000000u + static_cast<std::uint32_t>(i));
        // esedbexport prints currency unsigned: negative amounts only in the own round trip.
        row["Money"] = w::Int64((plain ? 1 : -1) * (std::int64_t{1} << 40) * i);
        row["Name"] = w::Bytes("name\xe9 " + std::to_string(i));
        if (i % 3 != 0)
            row["Label"] = w::Utf16("label \xe2\x82\xac " + std::to_string(i));
        row["Blob"] = w::Bytes(std::string("\x00\x01\xff", 3) + std::to_string(i));
        row["Note"] =
            w::Utf16(std::string("a note with a backslash \\, a\ttab and ") +
                     (plain ? "\xc3\xa9" : "\xf0\x9f\x98\x80") + " number " + std::to_string(i));
        if (i % 4 == 1)
            row["Data"] = w::Bytes(std::string(static_cast<std::size_t>(i % 50), '\x7f'));
        if (i % 2 == 1)
            row["Tags"] = w::Multi(
                {w::Utf16("first"), w::Utf16("second " + std::to_string(i)), w::Utf16("third")});
        if (i % 3 == 2 && !plain)
            row["Numbers"] = w::Multi({w::Int32(i), w::Int32(-i)});
        if (i % 10 == 3)
            row["Big"] =
                w::Bytes(Repeated("long value " + std::to_string(i) + " ", 20000)).longValue();
        row["Seven"] = w::Bytes(SevenBitText(i)).compressed(w::Compression::SevenBit);
        row["SevenWide"] =
            w::Utf16("wide seven bit " + std::to_string(i)).compressed(w::Compression::SevenBit);
        if (i % 2 == 0 && !plain)
            row["Packed"] = w::Bytes(Repeated("abcabcabd" + std::to_string(i), 3000))
                                .compressed(w::Compression::Xpress);
        table.rows.push_back(std::move(row));
    }
    // The writer sorts: hand it the rows in no particular order.
    std::shuffle(table.rows.begin(), table.rows.end(), std::mt19937(14));
    // Deleted rows still on their pages, as a live database leaves them.
    table.deletedRows = {0, 5, 17};
    return table;
}

// The values our reader should give for `cell`: what was written, uncompressed.
std::vector<std::string> Expected(const w::Row& row, const std::string& column) {
    const auto found = row.find(column);
    return found == row.end() ? std::vector<std::string>{} : found->second.values;
}

std::int64_t KeyOf(const w::Row& row) {
    std::int64_t key = 0;
    std::memcpy(&key, row.at("Id").values.at(0).data(), 8);
    return key;
}

// Every row of `written` comes back from `database` in key order with the values written.
void ExpectRoundTrip(const Database& database, const w::Table& written) {
    const auto* table = database.table(written.name);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->columns.size(), written.columns.size());
    std::vector<const w::Row*> expected;
    for (std::size_t i = 0; i < written.rows.size(); ++i) {
        if (!written.deletedRows.count(i))
            expected.push_back(&written.rows[i]);
    }
    std::sort(expected.begin(), expected.end(),
              [](const w::Row* a, const w::Row* b) { return KeyOf(*a) < KeyOf(*b); });
    platform::ese::TableCursor cursor(database, *table);
    platform::ese::Row row;
    std::size_t index = 0;
    while (cursor.next(row)) {
        ASSERT_LT(index, expected.size());
        for (std::size_t i = 0; i < table->columns.size(); ++i) {
            const auto& column = table->columns[i];
            EXPECT_FALSE(row.cells[i].unreadable) << column.name;
            EXPECT_EQ(row.cells[i].values, Expected(*expected[index], column.name))
                << "row " << index << ", column " << column.name;
        }
        ++index;
    }
    EXPECT_EQ(index, expected.size());
}

struct Layout {
    const char* name;
    w::Options options;
};

std::vector<Layout> Layouts() {
    std::vector<Layout> layouts;
    for (const std::uint32_t pageSize : {4096u, 8192u, 16384u, 32768u}) {
        w::Options flat;
        flat.pageSize = pageSize;
        layouts.push_back({"flat", flat});
        w::Options deep = flat;
        deep.maxEntriesPerPage = 3; // several levels of branch pages
        deep.longValueChunk = 1000; // long values over many chunks
        deep.state = w::DatabaseState::DirtyShutdown;
        deep.longValueIdBytes = 8; // as current Windows 10 files
        layouts.push_back({"deep, dirty", deep});
    }
    return layouts;
}

TEST(EseRoundTrip, EveryKindOfValueAtEveryPageSize) {
    const w::Table table = EveryKindTable(200);
    for (const auto& layout : Layouts()) {
        SCOPED_TRACE(std::string(layout.name) + ", pages of " +
                     std::to_string(layout.options.pageSize));
        const auto built = w::Build({table}, layout.options);
        std::string error;
        const auto database = Database::fromBytes(built.bytes, &error);
        ASSERT_TRUE(database) << error;
        EXPECT_EQ(database->header().pageSize, layout.options.pageSize);
        EXPECT_EQ(database->header().state, static_cast<std::uint32_t>(layout.options.state));
        EXPECT_TRUE(database->header().checksumMatches);
        ExpectRoundTrip(*database, table);
        EXPECT_EQ(database->skipped().total(), 0u);
    }
}

// The writer's files as Debian's reader sees them: the same rows and values, printed the same.
TEST(EseRoundTrip, TheIndependentReaderAgrees) {
    if (!zz_test::HaveEsedbexport())
        GTEST_SKIP() << "esedbexport (libesedb-utils) is not installed";
    const w::Table table = EveryKindTable(120, true);
    for (const auto& layout : Layouts()) {
        SCOPED_TRACE(std::string(layout.name) + ", pages of " +
                     std::to_string(layout.options.pageSize));
        const zz_test::TempFolder scratch("zz-ese-roundtrip");
        const auto file = scratch.path() / "every.edb";
        w::Write(file, {table}, layout.options);
        const auto database = Database::open(file.string());
        ASSERT_TRUE(database);
        zz_test::Differences differences;
        EXPECT_GE(zz_test::CompareWithEsedbexport(*database, file, differences), 120u - 3u);
        for (std::size_t i = 0; i < differences.other.size() && i < 5; ++i)
            ADD_FAILURE() << differences.other[i];
        // It reads nothing from a long-value tree; the own round trip checks those.
        EXPECT_GT(differences.longValues, 0u);
    }
}

// A WebCache as the program will meet it, read back and checked against esedbexport.
TEST(EseRoundTrip, WebCacheLayout) {
    w::Table containers = w::WebCacheContainersTable();
    w::Table content = w::WebCacheContainerTable(1);
    w::Table cookies = w::WebCacheCookieTable(2);
    containers.rows.push_back(w::WebCacheContainerRow(
        1, "Content", "C:\\Users\\John\\AppData\\Local\\Microsoft\\Windows\\INetCache\\IE\\",
        "0KLPAC95EIRRDZXCL9HRTYNO9XWKH8VJ"));
    for (int i = 0; i < 500; ++i) {
        w::Row entry;
        entry["EntryId"] = w::Int64(i + 1);
        entry["ContainerId"] = w::Int64(1);
        entry["UrlHash"] = w::Int64(std::int64_t{i} * 7919 % 1000 * 1000003);
        entry["SecureDirectory"] = w::UInt32(static_cast<std::uint32_t>(i % 4));
        entry["AccessedTime"] = w::Int64(133217192613669009 + i);
        entry["Url"] = w::Utf16z("https://example" + std::to_string(i % 37) + ".com/page/" +
                                 std::to_string(i));
        entry["Filename"] = w::Utf16z("page" + std::to_string(i) + "[1].htm");
        entry["ResponseHeaders"] =
            w::Bytes("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n").longValue();
        content.rows.push_back(entry);
        w::Row cookie;
        cookie["EntryId"] = w::Int64(i + 1);
        cookie["RDomain"] = w::Utf16z("com.example" + std::to_string(i % 37));
        cookie["Path"] = w::Utf16z("/");
        cookie["Name"] = w::Bytes(std::string("id\0", 3));
        cookie["Value"] = w::Bytes(std::string("v") + std::to_string(i) + std::string(1, '\0'));
        cookies.rows.push_back(cookie);
    }
    const zz_test::TempFolder scratch("zz-ese-webcache");
    const auto file = scratch.path() / "WebCacheV01.dat";
    w::Options options;
    options.longValueIdBytes = 8;
    w::Write(file, {containers, content, cookies}, options);
    const auto database = Database::open(file.string());
    ASSERT_TRUE(database);
    const auto* table = database->table("Container_1");
    ASSERT_TRUE(table);
    std::size_t rows = 0;
    platform::ese::TableCursor cursor(*database, *table);
    platform::ese::Row row;
    while (cursor.next(row))
        ++rows;
    EXPECT_EQ(rows, 500u);
    EXPECT_EQ(database->skipped().total(), 0u);
    if (!zz_test::HaveEsedbexport())
        GTEST_SKIP() << "esedbexport (libesedb-utils) is not installed";
    zz_test::Differences differences;
    zz_test::CompareWithEsedbexport(*database, file, differences);
    EXPECT_TRUE(differences.other.empty()) << differences.other.front();
}

} // namespace
