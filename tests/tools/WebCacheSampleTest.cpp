// The real Windows 10 WebCache sample laid into a profile whose folder is named otherwise than
// the Windows user who wrote it: what urlcache-dump and zezuvur-report make of it, beside
// index.dat containers, and with broken databases in its place.

#include "ese-writer/EseWriter.h"
#include "support/TempFolder.h"
#include "support/ToolRunner.h"
#include "support/WriterEntries.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace urlcache_writer;
using zz_test::Columns;
using zz_test::Lines;
using zz_test::MakeEntry;
using zz_test::RunTool;
using zz_test::TempFolder;

constexpr const char* kDatabaseFolder = "AppData/Local/Microsoft/Windows/WebCache";

// The sample's bytes, unpacked once; empty when the samples folder is absent.
const std::string& SampleBytes() {
    static const std::string bytes = [] {
        const fs::path packed =
            fs::path(ZEZUVUR_SAMPLES_DIR) / "webcache-win10" / "WebCacheV01.dat.gz";
        if (!fs::exists(packed))
            return std::string();
        const TempFolder scratch("zz-webcache-sample");
        const fs::path unpacked = scratch.path() / "WebCacheV01.dat";
        const std::string command = "gzip -dc " + zz_test::ShellQuoted(packed.string()) + " > " +
                                    zz_test::ShellQuoted(unpacked.string());
        if (std::system(command.c_str()) != 0)
            return std::string();
        return zz_test::ReadFile(unpacked);
    }();
    return bytes;
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

fs::path DatabaseIn(const fs::path& profile) {
    return profile / kDatabaseFolder / "WebCacheV01.dat";
}

class WebCacheSampleTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (SampleBytes().empty())
            GTEST_SKIP() << "the WebCache sample (../shared/samples/webcache-win10) is absent";
        WriteBytes(DatabaseIn(profile_), SampleBytes());
    }

    std::vector<std::string> dump(const std::string& pattern) const {
        const auto result = RunTool("urlcache-dump", {"--profile", profile_.string(), pattern});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        return Lines(result.out);
    }

    TempFolder root_{"zz-webcache"};
    // "John" wrote the database; the profile folder is called otherwise.
    fs::path profile_ = root_.path() / "Jane";
};

TEST_F(WebCacheSampleTest, EveryContentRowWithItsFileUnderTheProfile) {
    const auto lines = dump("");
    ASSERT_EQ(lines.size(), 376u);
    std::map<std::string, int> byFolder;
    for (const std::string& line : lines) {
        const auto columns = Columns(line);
        ASSERT_EQ(columns.size(), 14u) << line;
        const std::string& local = columns[1];
        ASSERT_TRUE(local.starts_with("C:\\Users\\Jane\\AppData\\Local\\")) << line;
        if (local.find("\\Packages\\") != std::string::npos)
            ++byFolder["app container"];
        else if (local.find("\\INetCache\\Low\\IE\\") != std::string::npos)
            ++byFolder["low"];
        else if (local.find("\\INetCache\\IE\\") != std::string::npos)
            ++byFolder["main"];
    }
    EXPECT_EQ(byFolder,
              (std::map<std::string, int>{{"app container", 15}, {"low", 339}, {"main", 22}}));

    // One row whole: folder + SecureDirectory-th name + file name, type, counts, size, times,
    // the response headers' size; its FileExtension is empty, as on every row of the sample.
    const auto dissect = std::find_if(lines.begin(), lines.end(), [](const std::string& line) {
        return line.starts_with("https://github.com/fox-it/dissect\t");
    });
    ASSERT_NE(dissect, lines.end());
    const auto columns = Columns(*dissect);
    EXPECT_EQ(columns[1],
              "C:\\Users\\Jane\\AppData\\Local\\Microsoft\\Windows\\INetCache\\Low\\IE\\"
              "BJS8EBNL\\dissect[1].htm");
    const std::vector<std::string> rest(columns.begin() + 2, columns.end());
    EXPECT_EQ(rest, (std::vector<std::string>{
                        "00001141", "0", "1", "210789", "0", "0000000000000000", "01D9484C5EBF62F1",
                        "01D94854C091EAF4", "01D94854C091EAF4", "2545", "", "0"}));
}

TEST_F(WebCacheSampleTest, HistoryAndPeriodicHistoryRows) {
    const auto history = dump("Visited:");
    ASSERT_EQ(history.size(), 41u);
    for (const std::string& line : history) {
        const auto columns = Columns(line);
        EXPECT_TRUE(columns[0].starts_with("Visited: John@")) << line;
        EXPECT_EQ(columns[1], "") << line;
    }
    const auto periodic = dump(":2023022420230225: ");
    ASSERT_EQ(periodic.size(), 18u);
    for (const std::string& line : periodic)
        EXPECT_TRUE(line.starts_with(":2023022420230225: John@")) << line;
}

TEST_F(WebCacheSampleTest, OneCookieEntryPerDomainAndPathOfEachTable) {
    std::vector<std::string> urls;
    for (const std::string& line : dump("Cookie:")) {
        const auto columns = Columns(line);
        EXPECT_EQ(columns[1], columns[0]) << "a cookie without a file names itself";
        EXPECT_EQ(columns[2], "00100000");
        urls.push_back(columns[0]);
    }
    const std::vector<std::string> expected = {
        // CookieEntryEx_9, _13, _17 in turn, domains in the order of their first row
        "Cookie:John@bing.com/",
        "Cookie:John@www.bing.com/",
        "Cookie:John@live.com/",
        "Cookie:John@login.live.com/",
        "Cookie:John@microsoft.com/",
        "Cookie:John@ieonline.microsoft.com/",
        "Cookie:John@msn.com/",
        "Cookie:John@bing.com/",
        "Cookie:John@api.bing.com/",
        "Cookie:John@www.bing.com/",
        "Cookie:John@login.microsoftonline.com/",
        "Cookie:John@github.com/"};
    EXPECT_EQ(urls, expected);
}

TEST_F(WebCacheSampleTest, ReportListsItsSitesAndTabs) {
    const auto sites = RunTool("zezuvur-report", {"--profile", profile_.string(), "--sites-only"});
    ASSERT_EQ(sites.status, 0) << sites.err;
    for (const char* site : {"github.com", "bing.com", "archlinux.org", "th.bing.com"})
        EXPECT_NE(sites.out.find(std::string("site\t") + site + "\n"), std::string::npos) << site;

    const auto github =
        RunTool("zezuvur-report", {"--profile", profile_.string(), "--site", "github.com"});
    ASSERT_EQ(github.status, 0) << github.err;
    for (const char* line :
         {"total\tTotal: 113 images, 14 pages, 0 media files, 249 unknown files,12 cookies, 41 "
          "history entires\n",
          "pages\tC:\\Users\\Jane\\AppData\\Local\\Microsoft\\Windows\\INetCache\\Low\\IE\\"
          "BJS8EBNL\\dissect[1].htm\n",
          "cookies\tCookie:John@github.com/\n",
          "history\tVisited: John@https://github.com/fox-it/dissect\n"})
        EXPECT_NE(github.out.find(line), std::string::npos) << line << github.out;
}

TEST_F(WebCacheSampleTest, DirtyDatabaseIsReadAsItIsAndSaidOnStderr) {
    const auto clean = RunTool("urlcache-dump", {"--profile", profile_.string()});
    std::string dirty = SampleBytes();
    dirty[52] = 2; // the header's state: dirty shutdown
    WriteBytes(DatabaseIn(profile_), dirty);
    const auto result = RunTool("urlcache-dump", {"--profile", profile_.string()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, clean.out);
    EXPECT_NE(result.err.find("dirty"), std::string::npos) << result.err;
}

// Early previews named the file WebCacheV24.dat; a copied profile may differ in case.
TEST_F(WebCacheSampleTest, OlderFileNameInAnyCase) {
    fs::remove_all(profile_ / "AppData");
    WriteBytes(profile_ / "appdata/local/microsoft/windows/WEBCACHE/webcachev24.DAT",
               SampleBytes());
    EXPECT_EQ(dump("Visited:").size(), 41u);
}

// index.dat containers come first, the database's after them.
TEST_F(WebCacheSampleTest, IndexDatContainersAndDatabaseTogether) {
    ProfileWriter writer(profile_, Layout::Wine8);
    writer.add(ContainerKind::Content, MakeEntry("http://old.example/a.gif", "a[1].gif", "GIF89a"));
    writer.add(ContainerKind::History, MakeEntry("Visited: John@http://old.example/"));
    writer.write();

    const auto content = dump("");
    ASSERT_EQ(content.size(), 377u);
    EXPECT_TRUE(content.front().starts_with("http://old.example/a.gif\t"));
    const auto history = dump("Visited:");
    ASSERT_EQ(history.size(), 42u);
    EXPECT_TRUE(history.front().starts_with("Visited: John@http://old.example/\t"));
}

// Whatever lies where the database should be, the index.dat containers beside it stay readable.
TEST_F(WebCacheSampleTest, BrokenDatabasesLeaveIndexDatReadable) {
    ProfileWriter writer(profile_, Layout::Wine8);
    writer.add(ContainerKind::Content, MakeEntry("http://old.example/a.gif", "a[1].gif", "GIF89a"));
    writer.write();

    const std::string& sample = SampleBytes();
    std::string noCatalog = sample;
    std::fill(noCatalog.begin() + 5 * 32768, noCatalog.begin() + 7 * 32768, '\0');
    std::string scrambled = sample;
    for (std::size_t at = 2 * 32768; at < scrambled.size(); at += 4093)
        scrambled[at] = static_cast<char>(scrambled[at] ^ 0x5A);
    const std::map<std::string, std::string> cases = {
        {"empty", ""},
        {"not a database", std::string(100000, 'x')},
        {"header only", sample.substr(0, 2 * 32768)},
        {"cut short", sample.substr(0, sample.size() / 3)},
        {"catalog pages zeroed", noCatalog},
        {"bytes flipped", scrambled},
    };
    for (const auto& [name, bytes] : cases) {
        WriteBytes(DatabaseIn(profile_), bytes);
        const auto result = RunTool("urlcache-dump", {"--profile", profile_.string(), ""});
        EXPECT_EQ(result.status, 0) << name << ": " << result.err;
        const auto lines = Lines(result.out);
        ASSERT_FALSE(lines.empty()) << name;
        EXPECT_TRUE(lines.front().starts_with("http://old.example/a.gif\t")) << name;
    }
    fs::remove(DatabaseIn(profile_));
    fs::create_directory(DatabaseIn(profile_));
    const auto folder = RunTool("urlcache-dump", {"--profile", profile_.string(), ""});
    EXPECT_EQ(folder.status, 0);
    EXPECT_EQ(Lines(folder.out).size(), 1u);
}

// A profile with one index.dat entry, for the databases below to lie beside.
fs::path ProfileWithOneEntry(const TempFolder& root) {
    const fs::path profile = root.path() / "Jane";
    ProfileWriter writer(profile, Layout::Wine8);
    writer.add(ContainerKind::Content, MakeEntry("http://old.example/a.gif", "a[1].gif", "GIF89a"));
    writer.write();
    fs::create_directories(DatabaseIn(profile).parent_path());
    return profile;
}

// A database past the size the reader holds in memory is left out and said on stderr, without
// being read (a sparse file costs no disk here); the index.dat container beside it is delivered.
TEST(WebCacheBounds, OversizedDatabaseIsSkippedAndSaid) {
    const TempFolder root("zz-webcache-bounds");
    const fs::path profile = ProfileWithOneEntry(root);
    { std::ofstream create(DatabaseIn(profile)); }
    fs::resize_file(DatabaseIn(profile), (std::uintmax_t{1} << 30) + 4096);
    const auto result = RunTool("urlcache-dump", {"--profile", profile.string(), ""});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Lines(result.out).size(), 1u);
    EXPECT_NE(result.err.find("WebCacheV01.dat"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("over the 1073741824 read"), std::string::npos) << result.err;
}

// Far more Containers rows than any real database has: the first ones are kept, the rest left
// out and said, and the search stays quick.
TEST(WebCacheBounds, ContainersPastTheBoundAreLeftOutAndSaid) {
    namespace w = ese_writer;
    const TempFolder root("zz-webcache-bounds");
    const fs::path profile = ProfileWithOneEntry(root);
    w::Table containers = w::WebCacheContainersTable();
    for (int id = 1; id <= 5000; ++id) {
        w::Row row;
        row["ContainerId"] = w::Int64(id);
        row["Name"] = w::Utf16z("Content");
        row["Directory"] = w::Utf16z("C:\\Users\\John\\INetCache\\IE\\");
        containers.rows.push_back(row);
    }
    w::Write(DatabaseIn(profile), {containers}, {});
    const auto result = RunTool("urlcache-dump", {"--profile", profile.string(), ""});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Lines(result.out).size(), 1u);
    EXPECT_NE(result.err.find("904 containers past the first 4096"), std::string::npos)
        << result.err;
}

} // namespace
