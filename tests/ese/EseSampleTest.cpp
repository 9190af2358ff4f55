// The reader on a real Windows 10 WebCache: header, catalog, row counts, and every table and row
// against what Debian's independent reader prints for the same file.

#include "EseTestSupport.h"

#include <gtest/gtest.h>

using platform::ese::Database;

namespace {

#define SKIP_WITHOUT_SAMPLE()                                                                      \
    if (!zz_test::WebCacheSample())                                                                \
    GTEST_SKIP() << "no WebCache sample at " << zz_test::WebCacheSamplePath()                      \
                 << " (the shared samples folder is absent)"

std::unique_ptr<Database> OpenSample() {
    std::string error;
    auto database = Database::fromBytes(*zz_test::WebCacheSample(), &error);
    EXPECT_TRUE(database) << error;
    return database;
}

std::size_t RowCount(const Database& database, const std::string& name) {
    const auto* table = database.table(name);
    if (!table)
        return 0;
    platform::ese::TableCursor cursor(database, *table);
    platform::ese::Row row;
    std::size_t rows = 0;
    while (cursor.next(row))
        ++rows;
    return rows;
}

TEST(EseWebCacheSample, HeaderAndCatalog) {
    SKIP_WITHOUT_SAMPLE();
    const auto database = OpenSample();
    ASSERT_TRUE(database);
    const auto& header = database->header();
    EXPECT_EQ(header.pageSize, 32768u);
    EXPECT_EQ(header.formatVersion, 0x620u);
    EXPECT_EQ(header.formatRevision, 0x6Eu);
    EXPECT_EQ(header.creationRevision, 0x14u);
    EXPECT_FALSE(header.fromShadowCopy);
    EXPECT_TRUE(header.checksumMatches);
    EXPECT_EQ(header.state, 3u); // clean shutdown
    EXPECT_EQ(database->tables().size(), 46u);
    const auto* containers = database->table("Containers");
    ASSERT_TRUE(containers);
    ASSERT_EQ(containers->columns.size(), 14u);
    EXPECT_EQ(containers->columns[0].name, "ContainerId");
    EXPECT_EQ(containers->columns[0].type, platform::ese::kLongLong);
    const auto* content = database->table("Container_1");
    ASSERT_TRUE(content);
    EXPECT_EQ(content->columns.size(), 25u);
    EXPECT_NE(content->longValueRoot, 0u);
    EXPECT_EQ(database->skipped().total(), 0u);
}

// The counts an independent reader finds in this file, by container kind.
TEST(EseWebCacheSample, EntriesPerContainerKind) {
    SKIP_WITHOUT_SAMPLE();
    const auto database = OpenSample();
    ASSERT_TRUE(database);
    const auto* containers = database->table("Containers");
    ASSERT_TRUE(containers);
    std::map<std::string, std::size_t> byKind;
    platform::ese::TableCursor cursor(*database, *containers);
    platform::ese::Row row;
    while (cursor.next(row)) {
        ASSERT_FALSE(row.cells[0].values.empty());
        const auto id = platform::ese::integerValue(containers->columns[0], row.cells[0].values[0]);
        ASSERT_TRUE(id);
        std::string name;
        for (std::size_t i = 0; i < containers->columns.size(); ++i) {
            if (containers->columns[i].name == "Name" && !row.cells[i].values.empty())
                esedump::appendValue(containers->columns[i], row.cells[i].values[0], name);
        }
        const std::string kind = name.rfind("MSHist01", 0) == 0 ? "MSHist01" : name;
        byKind[kind] += RowCount(*database, "Container_" + std::to_string(*id));
    }
    EXPECT_EQ(byKind["Content"], 376u);
    EXPECT_EQ(byKind["History"], 41u);
    EXPECT_EQ(byKind["MSHist01"], 18u);
    EXPECT_EQ(byKind["Cookies"], 0u);
    EXPECT_EQ(RowCount(*database, "Container_1"), 22u);
    EXPECT_EQ(RowCount(*database, "Container_21"), 339u);
    std::size_t cookies = 0;
    for (const auto& table : database->tables()) {
        if (table.name.rfind("CookieEntryEx_", 0) == 0)
            cookies += RowCount(*database, table.name);
    }
    EXPECT_EQ(cookies, 35u);
}

TEST(EseWebCacheSample, EveryTableAndRowAsTheIndependentReader) {
    SKIP_WITHOUT_SAMPLE();
    if (!zz_test::HaveEsedbexport())
        GTEST_SKIP() << "esedbexport (libesedb-utils) is not installed";
    const zz_test::TempFolder scratch("zz-ese-compare");
    const auto file = scratch.path() / "WebCacheV01.dat";
    zz_test::WriteFile(file, *zz_test::WebCacheSample());
    const auto database = OpenSample();
    ASSERT_TRUE(database);
    zz_test::Differences differences;
    const std::size_t rows = zz_test::CompareWithEsedbexport(*database, file, differences);
    EXPECT_EQ(rows, 2499u);
    EXPECT_TRUE(differences.other.empty()) << differences.other.front();
    // Known, and ours is the right reading: the catalog rows whose null bitmap says NULL
    // (RootFlag, RecordOffset), and the long values of the blob, content and app cache tables.
    EXPECT_EQ(differences.nullFixed, 1228u);
    EXPECT_EQ(differences.longValues, 86u);
}

} // namespace
