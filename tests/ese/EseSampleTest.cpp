// The reader on a real Windows 10 WebCache: header, catalog, row counts, and every table and row
// against what Debian's independent reader prints for the same file.

#include "EseTestSupport.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>

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

// esedbexport writes the FILETIME columns of the WebCache tables it knows as dates.
std::string AsExportDate(std::int64_t filetime) {
    const auto ticks = static_cast<std::uint64_t>(filetime);
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kSecondsTo1970 = 11644473600LL;
    const std::time_t seconds = static_cast<std::time_t>(
        static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsTo1970);
    std::tm parts{};
    char buffer[64] = "";
    if (gmtime_r(&seconds, &parts) == nullptr || parts.tm_year + 1900 > 9999) {
        std::snprintf(buffer, sizeof buffer, "(0x%08" PRIx64 " 0x%08" PRIx64 ")", ticks >> 32,
                      ticks & 0xFFFFFFFF);
        return buffer;
    }
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::snprintf(buffer, sizeof buffer, "%s %02d, %04d %02d:%02d:%02d.%07" PRIu64 "00",
                  kMonths[parts.tm_mon], parts.tm_mday, parts.tm_year + 1900, parts.tm_hour,
                  parts.tm_min, parts.tm_sec, ticks % kTicksPerSecond);
    return buffer;
}

struct Differences {
    std::size_t nullFixed = 0;  // esedbexport prints a fixed column the row marks NULL
    std::size_t longValues = 0; // esedbexport leaves out a value kept under a 64-bit id
    std::vector<std::string> other;
};

void CompareField(const platform::ese::Table& table, std::size_t column, const std::string& ours,
                  const std::string& theirs, Differences& differences) {
    if (ours == theirs)
        return;
    const auto& definition = table.columns[column];
    const bool integer =
        !ours.empty() && ours.find_first_not_of("-0123456789") == std::string::npos;
    if (integer && AsExportDate(std::stoll(ours)) == theirs)
        return;
    if (ours.empty() && definition.id < 128) {
        ++differences.nullFixed;
        return;
    }
    // The reader of 2018 knows only 32-bit long value ids; Windows 10 writes 64-bit ones.
    if (theirs.empty() && (definition.type == platform::ese::kLongBinary ||
                           definition.type == platform::ese::kLongText)) {
        ++differences.longValues;
        if (definition.name == "Url") {
            EXPECT_EQ(ours.rfind("http", 0), 0u) << ours;
        }
        if (definition.name == "ResponseHeaders") {
            EXPECT_EQ(ours.rfind("485454502f312e31", 0), 0u) << ours; // "HTTP/1.1"
        }
        return;
    }
    differences.other.push_back(table.name + "." + definition.name + ": ours \"" + ours +
                                "\", esedbexport \"" + theirs + "\"");
}

TEST(EseWebCacheSample, EveryTableAndRowAsTheIndependentReader) {
    SKIP_WITHOUT_SAMPLE();
    if (!zz_test::HaveEsedbexport())
        GTEST_SKIP() << "esedbexport (libesedb-utils) is not installed";
    const zz_test::TempFolder scratch("zz-ese-compare");
    const auto file = scratch.path() / "WebCacheV01.dat";
    zz_test::WriteFile(file, *zz_test::WebCacheSample());
    const auto theirs = zz_test::EsedbexportTables(file);
    const auto database = OpenSample();
    ASSERT_TRUE(database);
    ASSERT_EQ(theirs.size(), database->tables().size());
    Differences differences;
    std::size_t rows = 0;
    for (const auto& table : database->tables()) {
        SCOPED_TRACE(table.name);
        const auto found = theirs.find(table.name);
        ASSERT_NE(found, theirs.end());
        const auto ours = zz_test::DumpLines(*database, table);
        ASSERT_EQ(ours.size(), found->second.size());
        EXPECT_EQ(ours[0], found->second[0]);
        for (std::size_t line = 1; line < ours.size(); ++line) {
            const auto ourFields = zz_test::Columns(ours[line]);
            const auto theirFields = zz_test::Columns(found->second[line]);
            ASSERT_EQ(ourFields.size(), theirFields.size()) << ours[line];
            for (std::size_t i = 0; i < ourFields.size(); ++i)
                CompareField(table, i, ourFields[i], theirFields[i], differences);
            ++rows;
        }
    }
    EXPECT_EQ(rows, 2499u);
    EXPECT_TRUE(differences.other.empty()) << differences.other.front();
    // Known, and ours is the right reading: the catalog rows whose null bitmap says NULL
    // (RootFlag, RecordOffset), and the long values of the blob, content and app cache tables.
    EXPECT_EQ(differences.nullFixed, 1228u);
    EXPECT_EQ(differences.longValues, 86u);
}

} // namespace
