#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace urlcache_writer;

// A record with a URL, and optionally a file name and the file's bytes.
Entry MakeEntry(std::string url, std::optional<std::string> fileName = std::nullopt,
                std::optional<std::string> content = std::nullopt) {
    Entry entry;
    entry.url = std::move(url);
    entry.fileName = std::move(fileName);
    entry.fileContent = std::move(content);
    return entry;
}

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quoted(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// A profile with two sites, written once for all tests.
class ZezuvurReportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string pattern = (fs::temp_directory_path() / "zz-report-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = new fs::path(pattern);
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
        fs::remove_all(*root_);
        delete root_;
        delete files_;
    }

    static fs::path Profile() { return *root_ / "ann"; }
    static fs::path EmptyProfile() { return *root_ / "nobody"; }
    static const std::string& File(int i) { return files_->at(i); }

    static RunResult Report(const std::vector<std::string>& args) {
        // CTest names the tools' folder; run by hand, the tools sit beside this binary.
        const char* binDir = std::getenv("ZEZUVUR_BIN_DIR");
        const fs::path tools =
            binDir ? fs::path(binDir) : fs::read_symlink("/proc/self/exe").parent_path();
        std::string command = Quoted((tools / "zezuvur-report").string());
        for (const std::string& arg : args)
            command.append(" ").append(Quoted(arg));
        const fs::path out = *root_ / "out.txt";
        const fs::path err = *root_ / "err.txt";
        command.append(" >").append(Quoted(out.string()));
        command.append(" 2>").append(Quoted(err.string()));
        RunResult result;
        const int raw = std::system(command.c_str());
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        result.out = ReadAll(out);
        result.err = ReadAll(err);
        return result;
    }

    static fs::path* root_;
    static std::vector<std::string>* files_;
};

fs::path* ZezuvurReportTest::root_ = nullptr;
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
        const RunResult result = Report(c.args);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, c.expected) << c.args.back();
    }
}

TEST_F(ZezuvurReportTest, ProfileFromTheEnvironment) {
    ::setenv("ZEZUVUR_PROFILE", Profile().c_str(), 1);
    const RunResult result = Report({"--sites-only"});
    ::unsetenv("ZEZUVUR_PROFILE");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "site\texample.com\nsite\ttunes.org\n" + kTotal);
}

TEST_F(ZezuvurReportTest, MissingProfileOrBadArgumentsFail) {
    const std::string missing = (*root_ / "no-such-user").string();
    RunResult result = Report({"--profile", missing});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find(missing), std::string::npos) << result.err;

    result = Report({"--site"});
    EXPECT_EQ(result.status, 2);
    EXPECT_NE(result.err.find("usage"), std::string::npos) << result.err;
}

} // namespace
