// ese-dump as a user runs it.

#include "EseTestSupport.h"
#include "Version.h"
#include "ese-writer/EseWriter.h"

#include <gtest/gtest.h>

namespace {

TEST(EseDump, HelpVersionAndBadArguments) {
    const auto help = zz_test::RunTool("ese-dump", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: ese-dump [--table NAME] FILE"), std::string::npos);
    const auto version = zz_test::RunTool("ese-dump", {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("ese-dump ") + zezuvur::kVersion + "\n");
    EXPECT_EQ(zz_test::RunTool("ese-dump", {}).status, 2);
    EXPECT_EQ(zz_test::RunTool("ese-dump", {"--bogus", "x"}).status, 2);
    const auto missing = zz_test::RunTool("ese-dump", {"/nonexistent/WebCacheV01.dat"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("/nonexistent/WebCacheV01.dat"), std::string::npos);
}

TEST(EseDump, NotADatabase) {
    const zz_test::TempFolder scratch("zz-ese-dump");
    const auto file = scratch.path() / "empty.dat";
    zz_test::WriteFile(file, std::string(100000, 'x'));
    const auto result = zz_test::RunTool("ese-dump", {file.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("no ESE database header"), std::string::npos);
}

TEST(EseDump, OneTableOrAll) {
    if (!zz_test::WebCacheSample())
        GTEST_SKIP() << "no WebCache sample at " << zz_test::WebCacheSamplePath();
    const zz_test::TempFolder scratch("zz-ese-dump");
    const auto file = scratch.path() / "WebCacheV01.dat";
    zz_test::WriteFile(file, *zz_test::WebCacheSample());
    const auto one = zz_test::RunTool("ese-dump", {"--table", "Containers", file.string()});
    EXPECT_EQ(one.status, 0);
    const auto lines = zz_test::Lines(one.out);
    ASSERT_EQ(lines.size(), 20u);
    EXPECT_EQ(lines[0].rfind("ContainerId\tSetId\tFlags\tSize\tLimit\t", 0), 0u);
    EXPECT_NE(one.err.find("format 0x620 revision 0x6e, 32768-byte pages"), std::string::npos);
    EXPECT_NE(one.err.find("skipped 0 pages, 0 rows, 0 values"), std::string::npos);

    const auto all = zz_test::RunTool("ese-dump", {file.string()});
    EXPECT_EQ(all.status, 0);
    std::size_t tables = 0;
    for (const auto& line : zz_test::Lines(all.out))
        tables += line.rfind("table ", 0) == 0;
    EXPECT_EQ(tables, 46u);

    const auto absent = zz_test::RunTool("ese-dump", {"--table", "NoSuchTable", file.string()});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("no table NoSuchTable"), std::string::npos);
}

// Stored text can hold line ends and terminal escapes: they come out escaped, one row a line, and
// names are treated the same way.
TEST(EseDump, ControlCharactersInTextAreEscaped) {
    namespace w = ese_writer;
    w::Table table;
    table.name = "Odd\x1b[2JTable";
    table.columns = {{"Id", w::ColumnType::Long}, {"Text\rName", w::ColumnType::LongText}};
    table.keyColumns = {"Id"};
    w::Row row;
    row["Id"] = w::Cell{{std::string("\x01\0\0\0", 4)}};
    row["Text\rName"] = w::Utf16("a\r\nb\x1b]0;title\x07" "c\td\\e");
    table.rows.push_back(row);
    const zz_test::TempFolder scratch("zz-ese-dump-escape");
    const auto file = scratch.path() / "odd.dat";
    w::Write(file, {table}, {});
    const auto result = zz_test::RunTool("ese-dump", {"--table", table.name, file.string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Id\tText\\x0DName\n"
                          "1\ta\\x0D\\x0Ab\\x1B]0;title\\x07c\\td\\\\e\n");
}

} // namespace
