#include "support/ScopedEnv.h"
#include "support/TempFolder.h"
#include "support/ToolRunner.h"
#include "support/WriterEntries.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace urlcache_writer;
using zz_test::MakeEntry;
using zz_test::RunTool;
using zz_test::TempFolder;
using zz_test::ToolResult;

// A profile with two sites, written once for all tests.
class ZezuvurReportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = new TempFolder("zz-report");
        fs::create_directory(Profile());
        fs::create_directory(EmptyProfile());

        ProfileWriter writer(Profile(), Layout::Vista);
        Entry logo = MakeEntry("http://www.Example.com/logo.gif", "logo[1].gif", "GIF89a");
        Entry page = MakeEntry("http://example.com/index.html", "index[1].htm", "<p>");
        Entry song = MakeEntry("http://tunes.org/song.mp3", "song[1].mp3", "ID3...");
        Entry cookie = MakeEntry("Cookie:ann@example.com/", "ann@example[1].txt", "c");
        writer.add(ContainerKind::Content, logo);
        writer.add(ContainerKind::Content, page);
        writer.add(ContainerKind::Content, song);
        writer.add(ContainerKind::Cookies, cookie);
        writer.add(ContainerKind::History, MakeEntry("Visited: ann@http://tunes.org/"));
        writer.write();
        files_ =
            new std::vector<std::string>{writer.windowsFilePath(ContainerKind::Content, logo),
                                         writer.windowsFilePath(ContainerKind::Content, page),
                                         writer.windowsFilePath(ContainerKind::Content, song),
                                         writer.windowsFilePath(ContainerKind::Cookies, cookie)};
    }
    static void TearDownTestSuite() {
        delete root_;
        delete files_;
    }

    static fs::path Profile() { return root_->path() / "ann"; }
    static fs::path EmptyProfile() { return root_->path() / "nobody"; }
    static const std::string& File(int i) { return files_->at(i); }

    static ToolResult Report(const std::vector<std::string>& args) {
        return RunTool("zezuvur-report", args);
    }

    static TempFolder* root_;
    static std::vector<std::string>* files_;
};

TempFolder* ZezuvurReportTest::root_ = nullptr;
std::vector<std::string>* ZezuvurReportTest::files_ = nullptr;

const std::string kTotal = "total\tTotal: 1 images, 1 pages, 1 media files, 0 unknown files,1 "
                           "cookies, 1 history entires\n";

TEST_F(ZezuvurReportTest, PrintsWhatTheWindowWouldShow) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    };
    const std::string profile = Profile().string();
    const Case cases[] = {
        {{"--profile", profile, "--sites-only"}, "site\texample.com\nsite\ttunes.org\n" + kTotal},
        {{"--profile", profile},
         "site\texample.com\nsite\ttunes.org\n" + kTotal +
             "select\texample.com\n"
             "pages\t" +
             File(1) + "\nimages\t" + File(0) + "\ncookies\t" + File(3) +
             "\n"
             "current\tSelected site:: 1 images, 1 pages, 0 media files, 0 unknown files, 1 "
             "cookies, 0 history entires\n"
             "select\ttunes.org\n"
             "media\t" +
             File(2) +
             "\nhistory\tVisited: ann@http://tunes.org/\n"
             "current\tSelected site:: 0 images, 0 pages, 1 media files, 0 unknown files, 0 "
             "cookies, 1 history entires\n"},
        {{"--profile", profile, "--site", "LOGO.GIF"},
         "site\texample.com\nsite\ttunes.org\n" + kTotal + "select\tLOGO.GIF\nimages\t" + File(0) +
             "\n"
             "current\tSelected site:: 1 images, 0 pages, 0 media files, 0 unknown files, 0 "
             "cookies, 0 history entires\n"},
        // The window writes its totals line only once it shows a site.
        {{"--profile", EmptyProfile().string()}, "total\t\n"},
    };
    for (const Case& c : cases) {
        const ToolResult result = Report(c.args);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.expected) << c.args.back();
    }
}

TEST_F(ZezuvurReportTest, ProfileFromTheEnvironment) {
    const zz_test::ScopedEnv profile("ZEZUVUR_PROFILE", Profile().string());
    const ToolResult result = Report({"--sites-only"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "site\texample.com\nsite\ttunes.org\n" + kTotal);
}

TEST_F(ZezuvurReportTest, MissingProfileOrBadArgumentsFail) {
    const std::string missing = (root_->path() / "no-such-user").string();
    ToolResult result = Report({"--profile", missing});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(missing), std::string::npos) << result.err;

    result = Report({"--site"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("usage"), std::string::npos) << result.err;
}

} // namespace
