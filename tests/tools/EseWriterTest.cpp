// Cross-checks the ESE writer against esedbexport and esedbinfo (Debian libesedb-utils), a reader
// written by other people: every table, row and value the writer stores, that reader reads back
// the same. Skipped where the programs are not installed.
//
// What that reader cannot show is checked here only in the file's structure and is left to the
// round trips through our own reader: values in the long-value tree (it reads none of them back),
// multi-values of non-text columns, compressed binary values, XPRESS values of more than 2048
// bytes, 7-bit compressed 8-bit text of even length (it takes that for UTF-16) or of 8k + 7
// characters (it ignores the header's count of bits in the last byte), NULL in a fixed
// column (it prints the zeroed place), IEEE single and DateTime values (it prints them wrongly).

#include "ese-writer/EseWriter.h"
#include "support/TempFolder.h"
#include "support/ToolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>

namespace {

namespace fs = std::filesystem;
using namespace ese_writer;
using namespace zz_test;

using TextRows = std::vector<std::vector<std::string>>; // the header line first
using Export = std::map<std::string, TextRows>;         // table name -> lines

// Every table as esedbexport writes it: one file "<table>.<number>" per table.
Export exportAll(const fs::path& program, const fs::path& database, std::string* log = nullptr) {
    const TempFolder scratch("zz-esedb");
    const fs::path target = scratch.path() / "out";
    const ToolResult result = RunProgram(program, {"-t", target.string(), database.string()});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    if (log)
        *log = result.out + result.err;
    Export tables;
    fs::path folder = target;
    folder += ".export";
    if (!fs::is_directory(folder))
        return tables;
    for (const auto& file : fs::directory_iterator(folder)) {
        const std::string name = file.path().filename().string();
        TextRows& lines = tables[name.substr(0, name.rfind('.'))];
        for (const std::string& line : zz_test::Lines(ReadFile(file.path())))
            lines.push_back(Columns(line));
    }
    return tables;
}

// A cell and the text esedbexport prints for it.
struct Value {
    Cell cell;
    std::string shown;
};

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

Value I64(std::int64_t v) {
    return {Int64(v), std::to_string(v)};
}
Value U32(std::uint32_t v) {
    return {UInt32(v), std::to_string(v)};
}
Value I16(std::int16_t v) {
    return {Int16(v), std::to_string(v)};
}
Value Flag(bool v) {
    return {Bool(v), v ? "true" : "false"};
}
Value Text16(const std::string& utf8) {
    return {Utf16(utf8), escaped(utf8)};
}
Value Text8(const std::string& text) {
    return {Bytes(text), escaped(text)};
}
Value Bin(const std::string& bytes) {
    return {Bytes(bytes), hex(bytes)};
}

Value Texts16(const std::vector<std::string>& texts) {
    Value value;
    std::vector<Cell> cells;
    for (const std::string& text : texts) {
        cells.push_back(Utf16(text));
        value.shown += (value.shown.empty() ? "" : "; ") + escaped(text);
    }
    value.cell = Multi(cells);
    return value;
}

Value Packed(Value value, Compression how) {
    value.cell = value.cell.compressed(how);
    return value;
}

Column column(const char* name, ColumnType type, std::uint32_t codePage = 0,
              bool multiValued = false) {
    Column c;
    c.name = name;
    c.type = type;
    c.codePage = codePage;
    c.multiValued = multiValued;
    return c;
}

// A table and the lines esedbexport should print for it, rows in key order.
struct Fixture {
    Table table;

    void add(std::int64_t key, const std::vector<std::pair<std::string, Value>>& values) {
        Row row;
        std::vector<std::string> shown(table.columns.size());
        for (const auto& [name, value] : values) {
            row[name] = value.cell;
            for (std::size_t i = 0; i < table.columns.size(); ++i) {
                if (table.columns[i].name == name)
                    shown[i] = value.shown;
            }
        }
        table.rows.push_back(row);
        keyed[key] = shown;
    }

    TextRows lines() const {
        TextRows out;
        std::vector<std::string> header;
        for (const Column& c : table.columns)
            header.push_back(c.name);
        out.push_back(header);
        for (const auto& [key, shown] : keyed)
            out.push_back(shown);
        return out;
    }

    std::map<std::int64_t, std::vector<std::string>> keyed;
};

// Columns in id order (fixed, variable, tagged) so that they print in the order declared.
Fixture itemsTable(std::size_t rows) {
    Fixture f;
    f.table.name = "Items";
    f.table.columns = {
        column("Key", ColumnType::LongLong),
        column("Count", ColumnType::UnsignedLong),
        column("Small", ColumnType::Short),
        column("Flag", ColumnType::Bit),
        column("Label", ColumnType::Text, 1252),
        column("Title", ColumnType::Text),
        column("Url", ColumnType::LongText),
        column("Data", ColumnType::LongBinary),
        column("Tags", ColumnType::LongText, 0, true),
        column("Packed", ColumnType::LongText),
        column("Ascii", ColumnType::LongText, 1252),
        column("Squeezed", ColumnType::LongText),
    };
    f.table.keyColumns = {"Key"};
    for (std::size_t i = 0; i < rows; ++i) {
        const auto n = static_cast<std::int64_t>(i);
        const std::string number = std::to_string(i);
        std::vector<std::pair<std::string, Value>> values = {
            {"Key", I64(n * 7919 - 100000)},
            {"Count", U32(static_cast<std::uint32_t>(4000000000u - i))},
            {"Url", Text16("https://example.com/page/" + number + "?q=\xc3\xa9t\xc3\xa9")},
        };
        if (i % 3 != 0)
            values.push_back({"Small", I16(static_cast<std::int16_t>(-n))});
        values.push_back({"Flag", Flag(i % 2 == 0)});
        if (i % 4 != 1)
            values.push_back({"Label", Text8("label\\" + number + "\tx")});
        values.push_back({"Title", Text16("title \xe2\x82\xac" + number)});
        if (i % 5 == 0)
            values.push_back({"Data", Bin(std::string("\x00\x01\xfe\xff", 4) + number)});
        if (i % 6 == 1)
            values.push_back({"Tags", Texts16({"red", "gr\xc3\xbcn", "blue" + number})});
        if (i % 7 == 2)
            values.push_back({"Packed", Packed(Text16("seven bit text number " + number),
                                               Compression::SevenBit)});
        if (i % 8 == 3) {
            std::string ascii = "ascii " + number;
            while (ascii.size() % 2 == 0 || ascii.size() % 8 == 7)
                ascii += '!';
            values.push_back({"Ascii", Packed(Text8(ascii), Compression::SevenBit)});
        }
        if (i % 9 == 4) {
            std::string text;
            for (int k = 0; k < 40; ++k)
                text += "part " + std::to_string(k % 7) + " of " + number + "; ";
            values.push_back({"Squeezed", Packed(Text16(text), Compression::Xpress)});
        }
        f.add(n * 7919 - 100000, values);
        // A NULL fixed column before the last one set keeps its zeroed place in the record, and
        // esedbexport prints that place: it does not read the null bitmap.
        if (i % 3 == 0)
            f.keyed[n * 7919 - 100000][2] = "0";
        // Deleted rows not yet cleaned up stay in the pages, flagged: readers skip them.
        if (i % 11 == 10) {
            f.table.deletedRows.insert(i);
            f.keyed.erase(n * 7919 - 100000);
        }
    }
    return f;
}

// A table without key columns: rows stay in the order given.
Fixture unkeyedTable() {
    Fixture f;
    f.table.name = "Unkeyed";
    f.table.columns = {column("Value", ColumnType::Long), column("Name", ColumnType::Text)};
    for (std::int64_t i = 0; i < 5; ++i)
        f.add(i, {{"Name", Text16("row " + std::to_string(i))},
                  {"Value", {Int32(static_cast<std::int32_t>(i * -3)), std::to_string(i * -3)}}});
    return f;
}

Fixture emptyTable() {
    Fixture f;
    f.table.name = "Empty";
    f.table.columns = {column("Id", ColumnType::Long), column("Note", ColumnType::LongText)};
    f.table.keyColumns = {"Id"};
    return f;
}

class EsedbexportTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = FindOnPath("esedbexport");
        if (!program_)
            GTEST_SKIP() << "esedbexport (libesedb-utils) is not installed";
    }

    Export written(const std::vector<Table>& tables, const Options& options,
                   Database* database = nullptr, std::string* log = nullptr) {
        const fs::path file = scratch_.path() / "test.edb";
        const Database db = Build(tables, options);
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(db.bytes.data(), static_cast<std::streamsize>(db.bytes.size()));
        }
        if (database)
            *database = db;
        return exportAll(*program_, file, log);
    }

    std::optional<fs::path> program_;
    TempFolder scratch_{"zz-ese-writer"};
};

struct Layout {
    std::uint32_t pageSize;
    std::size_t rows;
    std::uint32_t maxEntriesPerPage;
    std::uint32_t minimumDepth;
};

class EsedbexportLayoutTest : public EsedbexportTest,
                              public ::testing::WithParamInterface<Layout> {};

TEST_P(EsedbexportLayoutTest, ReadsBackEveryTableRowAndValue) {
    const Layout layout = GetParam();
    const Fixture items = itemsTable(layout.rows);
    const Fixture unkeyed = unkeyedTable();
    const Fixture empty = emptyTable();
    Options options;
    options.pageSize = layout.pageSize;
    options.maxEntriesPerPage = layout.maxEntriesPerPage;
    Database db;
    const Export exported = written({items.table, unkeyed.table, empty.table}, options, &db);

    EXPECT_GE(db.tables[0].data.depth, layout.minimumDepth);
    EXPECT_EQ(exported.count("MSysObjects"), 1u);
    EXPECT_EQ(exported.count("MSysObjectsShadow"), 1u);
    for (const Fixture* f : {&items, &unkeyed, &empty}) {
        SCOPED_TRACE(f->table.name);
        ASSERT_EQ(exported.count(f->table.name), 1u);
        const TextRows& got = exported.at(f->table.name);
        const TextRows want = f->lines();
        ASSERT_EQ(got.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            ASSERT_EQ(got[i].size(), want[i].size()) << "line " << i;
            for (std::size_t c = 0; c < want[i].size(); ++c)
                EXPECT_EQ(got[i][c], want[i][c]) << "line " << i << ", column " << want[0][c];
            if (::testing::Test::HasFailure())
                return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PageSizesAndDepths, EsedbexportLayoutTest,
                         ::testing::Values(Layout{32768, 20, 0, 1}, Layout{32768, 3000, 0, 2},
                                           Layout{32768, 400, 4, 4}, Layout{4096, 20, 0, 1},
                                           Layout{4096, 1500, 0, 2}, Layout{4096, 300, 3, 5},
                                           Layout{8192, 300, 0, 1}, Layout{16384, 300, 0, 1}),
                         [](const ::testing::TestParamInfo<Layout>& info) {
                             return std::to_string(info.param.pageSize / 1024) + "KiB_" +
                                    std::to_string(info.param.rows) + "rows_depth" +
                                    std::to_string(info.param.minimumDepth);
                         });

TEST_F(EsedbexportTest, CatalogListsEveryTableWithItsColumnsAndTypes) {
    const auto info = FindOnPath("esedbinfo");
    ASSERT_TRUE(info);
    const fs::path file = scratch_.path() / "info.edb";
    Write(file, {itemsTable(3).table, WebCacheContainerTable(1)});
    const ToolResult result = RunProgram(*info, {file.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    for (const char* line :
         {"Page size:\t\t32768 bytes", "Number of tables:\t4", "Table: 3\t\t\tItems (8)",
          "\t1\t1\tKey\tInteger 64-bit signed", "\t5\t128\tLabel\tText",
          "\t9\t258\tTags\tLarge text", "Table: 4\t\t\tContainer_1 (9)",
          "\t18\t256\tUrl\tLarge text", "\t25\t263\tExtraData\tLarge binary data",
          "Index: 1\t\tHashEntryIdIndex (9)"})
        EXPECT_NE(result.out.find(line), std::string::npos) << line << "\n" << result.out;
}

TEST_F(EsedbexportTest, ManyTablesMakeACatalogOfSeveralPages) {
    std::vector<Table> tables = {WebCacheContainersTable()};
    for (int n = 1; n <= 60; ++n) {
        Table table = n % 2 ? WebCacheContainerTable(n) : WebCacheCookieTable(n);
        Row row;
        row["EntryId"] = Int64(n);
        row[n % 2 ? "Url" : "RDomain"] = Utf16("value " + std::to_string(n));
        table.rows.push_back(row);
        tables.push_back(table);
    }
    Options options;
    options.pageSize = 4096;
    Database db;
    const Export exported = written(tables, options, &db);
    EXPECT_GE(db.catalog.depth, 2u);
    EXPECT_GT(db.catalog.pages.size(), 20u); // past the pages kept for it before the shadow
    EXPECT_EQ(exported.size(), tables.size() + 2);
    for (int n = 1; n <= 60; ++n) {
        const std::string name = (n % 2 ? "Container_" : "CookieEntryEx_") + std::to_string(n);
        ASSERT_EQ(exported.count(name), 1u) << name;
        const TextRows& lines = exported.at(name);
        ASSERT_EQ(lines.size(), 2u) << name;
        EXPECT_EQ(lines[1][0], std::to_string(n));
        EXPECT_EQ(lines[1][n % 2 ? 17 : 8], "value " + std::to_string(n));
    }
}

TEST_F(EsedbexportTest, DirtyDatabaseIsStillReadAndSaysSo) {
    const Fixture items = itemsTable(10);
    Options options;
    options.state = DatabaseState::DirtyShutdown;
    Database db;
    const Export exported = written({items.table}, options, &db);
    EXPECT_EQ(db.bytes[52], 2);
    EXPECT_EQ(exported.at("Items"), items.lines());
}

TEST_F(EsedbexportTest, WebCacheTablesLookLikeTheRealOnes) {
    Table containers = WebCacheContainersTable();
    Row container;
    container["ContainerId"] = Int64(1);
    container["Name"] = Utf16("Content");
    container["PartitionId"] = Utf16("M");
    container["Directory"] =
        Utf16("C:\\Users\\John\\AppData\\Local\\Microsoft\\Windows\\INetCache\\IE\\");
    container["SecureDirectories"] = Utf16("0KLPAC95EIRRDZXCL9HRTYNO9XWKH8VJ");
    container["LastAccessTime"] = Int64(133217187636602657);
    containers.rows.push_back(container);
    Table entries = WebCacheContainerTable(1);
    for (int i = 1; i <= 3; ++i) {
        Row entry;
        entry["EntryId"] = Int64(i);
        entry["ContainerId"] = Int64(1);
        entry["UrlHash"] = Int64(1000 - i);
        entry["Url"] = Utf16z("https://example.com/" + std::to_string(i));
        entry["Filename"] = Utf16("file" + std::to_string(i) + "[1].htm");
        entry["ResponseHeaders"] = Bytes("HTTP/1.1 200 OK\r\n");
        entries.rows.push_back(entry);
    }
    Table cookies = WebCacheCookieTable(2);
    Row cookie;
    cookie["EntryId"] = Int64(7);
    cookie["RDomain"] = Utf16("com.example");
    cookie["Path"] = Utf16("/");
    cookie["Name"] = Bytes(std::string("id\0", 3));
    cookie["Value"] = Bytes(std::string("42\0", 3));
    cookies.rows.push_back(cookie);

    std::string log;
    const Export exported = written({containers, entries, cookies}, {}, nullptr, &log);
    EXPECT_NE(log.find("Database type: MSIE WebCache"), std::string::npos) << log;
    const TextRows& c = exported.at("Containers");
    ASSERT_EQ(c.size(), 2u);
    EXPECT_EQ(c[1][7], "Feb 24, 2023 13:26:03.660265700");
    EXPECT_EQ(c[1][8], "Content");
    EXPECT_EQ(
        c[1][10],
        "C:\\\\Users\\\\John\\\\AppData\\\\Local\\\\Microsoft\\\\Windows\\\\INetCache\\\\IE\\\\");
    EXPECT_EQ(c[1][11], "0KLPAC95EIRRDZXCL9HRTYNO9XWKH8VJ");
    const TextRows& e = exported.at("Container_1");
    ASSERT_EQ(e.size(), 4u);
    ASSERT_EQ(e[0].size(), 25u);
    // Key order: UrlHash first, so entry 3 (hash 997) comes first.
    EXPECT_EQ(e[1][0], "3");
    EXPECT_EQ(e[1][17], "https://example.com/3");
    EXPECT_EQ(e[1][18], "file3[1].htm");
    EXPECT_EQ(e[1][21], hex("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(e[3][0], "1");
    const TextRows& k = exported.at("CookieEntryEx_2");
    ASSERT_EQ(k.size(), 2u);
    EXPECT_EQ(k[1][8], "com.example");
    EXPECT_EQ(k[1][10], hex(std::string("id\0", 3)));
}

// ---- the file's structure: what esedbexport cannot show, and the writer's promises ----------

TEST(EseWriterTest, LongValuesGoToTheirOwnTreeInSeveralChunks) {
    Table table;
    table.name = "Blobs";
    table.columns = {column("Id", ColumnType::Long), column("Data", ColumnType::LongBinary)};
    table.keyColumns = {"Id"};
    for (int i = 0; i < 6; ++i) {
        Row row;
        row["Id"] = Int32(i);
        row["Data"] = Bytes(std::string(3000 + 997 * i, static_cast<char>('a' + i)));
        table.rows.push_back(row);
    }
    Row forced;
    forced["Id"] = Int32(100);
    forced["Data"] = Bytes("small but separate").longValue();
    table.rows.push_back(forced);
    Options options;
    options.pageSize = 4096;
    options.longValueChunk = 1000;
    const Database db = Build({table}, options);
    ASSERT_TRUE(db.tables[0].longValues);
    const TreeInfo& lv = *db.tables[0].longValues;
    EXPECT_GE(lv.depth, 2u);
    EXPECT_GE(lv.pages.size(), 10u); // about 33 000 bytes in 1000-byte chunks, 3 a page
    // Every long-value page says so in its flags.
    for (std::uint32_t page : lv.pages) {
        const std::size_t at = PageOffset(page, db.pageSize);
        const auto flags = static_cast<std::uint8_t>(db.bytes[at + 36]);
        EXPECT_TRUE(flags & 0x80) << "page " << page;
    }
}

TEST(EseWriterTest, EightByteLongValueIdsAsCurrentFilesHaveThem) {
    Table table;
    table.name = "Blobs";
    table.columns = {column("Id", ColumnType::Long), column("Data", ColumnType::LongBinary)};
    table.keyColumns = {"Id"};
    Row row;
    row["Id"] = Int32(1);
    row["Data"] = Bytes(std::string(5000, 'x'));
    table.rows.push_back(row);
    for (std::uint32_t idBytes : {4u, 8u}) {
        Options options;
        options.longValueIdBytes = idBytes;
        const Database db = Build({table}, options);
        ASSERT_TRUE(db.tables[0].longValues);
        // The long-value tree is a single root leaf: header entry then one chunk, keyed by the id
        // in big-endian order.
        const std::size_t root = PageOffset(db.tables[0].longValues->root, db.pageSize);
        const std::size_t lastTag = db.pageSize - 8; // tag 1: the header entry
        const auto word = [&](std::size_t at) {
            return static_cast<std::uint16_t>(static_cast<std::uint8_t>(db.bytes[at]) |
                                              static_cast<std::uint8_t>(db.bytes[at + 1]) << 8);
        };
        const std::size_t value = root + 80 + (word(root + lastTag + 2) & 0x7FFF);
        EXPECT_EQ(word(value) & 0x1FFF, idBytes) << "key size";
        const std::string key = db.bytes.substr(value + 2, idBytes);
        EXPECT_EQ(key, idBytes == 4 ? std::string("\0\0\0\1", 4)
                                    : std::string("\x80\0\0\0\x80\0\0\1", 8));
    }
}

TEST(EseWriterTest, SameInputSameBytesWithAValidHeaderAndShadow) {
    const Table table = itemsTable(50).table;
    for (std::uint32_t pageSize : {4096u, 32768u}) {
        Options options;
        options.pageSize = pageSize;
        const Database first = Build({table}, options);
        EXPECT_EQ(first.bytes, Build({table}, options).bytes);
        ASSERT_EQ(first.bytes.size() % pageSize, 0u);
        EXPECT_EQ(first.bytes.substr(0, pageSize), first.bytes.substr(pageSize, pageSize));
        std::uint32_t checksum = 0;
        for (std::size_t at = 8; at < 4096; at += 4) {
            std::uint32_t word = 0;
            for (int i = 0; i < 4; ++i)
                word |= std::uint32_t{static_cast<std::uint8_t>(first.bytes[at + i])} << (8 * i);
            checksum ^= word;
        }
        std::uint32_t stored = 0;
        for (int i = 0; i < 4; ++i)
            stored |= std::uint32_t{static_cast<std::uint8_t>(first.bytes[i])} << (8 * i);
        EXPECT_EQ(stored, checksum);
        EXPECT_EQ(first.catalog.root, 4u);
        EXPECT_EQ(first.shadowCatalog.root, 24u);
    }
}

TEST(EseWriterTest, RefusesWhatItCannotWrite) {
    auto keyed = [] {
        Table t;
        t.name = "T";
        t.columns = {column("Id", ColumnType::Long), column("Text", ColumnType::LongText),
                     column("Many", ColumnType::LongText, 0, true)};
        t.keyColumns = {"Id"};
        return t;
    };
    auto withRows = [&](std::vector<Row> rows) {
        Table t = keyed();
        t.rows = std::move(rows);
        return t;
    };
    auto row = [](const Cell& id, const char* name = nullptr, const Cell& value = {}) {
        Row r;
        r["Id"] = id;
        if (name)
            r[name] = value;
        return r;
    };
    const std::vector<std::pair<const char*, std::vector<Table>>> cases = {
        {"two rows with one key", {withRows({row(Int32(1)), row(Int32(1))})}},
        {"unknown column", {withRows({row(Int32(1), "Nope", Int32(2))})}},
        {"fixed value of the wrong size", {withRows({row(Int64(1))})}},
        {"several values in a single-value column",
         {withRows({row(Int32(1), "Text", Multi({Utf16("a"), Utf16("b")}))})}},
        {"7-bit compression of non-ASCII text",
         {withRows({row(Int32(1), "Text", Utf16("\xc3\xa9").compressed(Compression::SevenBit))})}},
        {"a table name used twice", {keyed(), keyed()}},
    };
    for (const auto& [what, tables] : cases)
        EXPECT_ANY_THROW(Build(tables)) << what;
    Options tiny;
    tiny.maxEntriesPerPage = 1;
    EXPECT_ANY_THROW(Build({keyed()}, tiny));
    Options odd;
    odd.pageSize = 5000;
    EXPECT_ANY_THROW(Build({keyed()}, odd));
}

} // namespace
