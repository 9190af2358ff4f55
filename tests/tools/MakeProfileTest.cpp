#include "support/ToolRunner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

namespace fs = std::filesystem;
using namespace zz_test;

// Every file below `root`, by relative path, with its bytes.
std::map<std::string, std::string> treeOf(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        if (item.is_regular_file())
            tree[fs::relative(item.path(), root).string()] = ReadFile(item.path());
    }
    return tree;
}

std::vector<std::string> dump(const fs::path& profile, const std::string& pattern) {
    const ToolResult result = RunTool("urlcache-dump", {"--profile", profile.string(), pattern});
    EXPECT_EQ(result.status, 0) << result.err;
    return Lines(result.out);
}

std::string hostOf(const std::string& url) {
    const auto start = url.find("://") + 3;
    return url.substr(start, url.find('/', start) - start);
}

TEST(MakeProfile, SameSeedSameBytesOtherSeedOtherBytes) {
    TempFolder scratch;
    auto make = [&](const std::string& name, const std::string& seed) {
        const auto folder = scratch.path() / name / "alice";
        const ToolResult result =
            RunTool("make-profile", {"--entries", "120", "--seed", seed, folder.string()});
        EXPECT_EQ(result.status, 0) << result.err;
        return treeOf(folder);
    };
    const auto first = make("a", "5");
    EXPECT_EQ(make("b", "5"), first);
    EXPECT_NE(make("c", "6"), first);
}

TEST(MakeProfile, WritesARealisticMixWithRealFiles) {
    TempFolder scratch;
    const auto profile = scratch.path() / "alice";
    const ToolResult made = RunTool(
        "make-profile", {"--entries", "800", "--sites", "60", "--seed", "3", profile.string()});
    ASSERT_EQ(made.status, 0) << made.err;

    const auto content = dump(profile, "");
    ASSERT_EQ(content.size(), 800u);
    EXPECT_EQ(dump(profile, "Cookie:").size(), 80u);
    EXPECT_EQ(dump(profile, "Visited:").size(), 200u);

    std::map<std::string, int> perSite;
    std::map<std::string, int> perExtension;
    for (const std::string& line : content) {
        const auto columns = Columns(line);
        ASSERT_EQ(columns.size(), 14u);
        ++perSite[hostOf(columns[0])];
        ++perExtension[columns[12]];
        // Every cached file exists with the recorded size; images and media are real files.
        const auto host = profile / "AppData" / "Local" / "Microsoft" / "Windows" /
                          "Temporary Internet Files" / "Content.IE5";
        std::string local = columns[1];
        const std::string folder = "\\Content.IE5\\";
        local = local.substr(local.find(folder) + folder.size());
        std::replace(local.begin(), local.end(), '\\', '/');
        const std::string bytes = ReadFile(host / local);
        EXPECT_EQ(std::to_string(bytes.size()), columns[5]) << columns[1];
        const std::string& extension = columns[12];
        static const std::map<std::string, std::string> kMagic = {
            {"png", "\x89PNG\r\n\x1a\n"}, {"gif", "GIF89a"}, {"jpg", "\xFF\xD8"}};
        if (auto magic = kMagic.find(extension); magic != kMagic.end()) {
            EXPECT_EQ(bytes.substr(0, magic->second.size()), magic->second);
        }
        if (extension == "mp3" || extension == "mp4" || extension == "swf" || extension == "flv") {
            EXPECT_GT(bytes.size(), 2u);
        }
    }
    // A few big sites and a long tail.
    std::vector<int> counts;
    for (const auto& [site, count] : perSite)
        counts.push_back(count);
    std::sort(counts.rbegin(), counts.rend());
    EXPECT_GE(counts.size(), 30u);
    EXPECT_GT(counts[0], 800 / 10);
    EXPECT_LE(counts[counts.size() / 2], 10);
    // Images lead; pages, scripts, style sheets, media and extensionless entries all appear.
    for (const char* extension : {"gif", "jpg", "png", "htm", "js", "css", ""})
        EXPECT_GT(perExtension[extension], 0) << extension;
    EXPECT_GT(perExtension["gif"] + perExtension["jpg"] + perExtension["png"], 800 / 3);
}

TEST(MakeProfile, LayoutsSignaturesAndNoFiles) {
    TempFolder scratch;
    struct Case {
        std::vector<std::string> options;
        const char* index;
        const char* signature;
    };
    const Case cases[] = {
        {{"--layout", "wine8"},
         "AppData/Local/Microsoft/Windows/INetCache/Content.IE5/index.dat",
         "WINE URLCache Ver 0.2012001"},
        {{"--layout", "xp", "--signature", "wine"},
         "Local Settings/Temporary Internet Files/Content.IE5/index.dat",
         "WINE URLCache Ver 0.2012001"},
        {{"--layout", "vista", "--no-files"},
         "AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5/index.dat",
         "Client UrlCache MMF Ver 5.2"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        const auto profile = scratch.path() / std::to_string(n++) / "alice";
        std::vector<std::string> arguments = {"--entries", "40"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        arguments.push_back(profile.string());
        ASSERT_EQ(RunTool("make-profile", arguments).status, 0);
        EXPECT_EQ(ReadFile(profile / c.index).substr(0, 28), std::string(c.signature) + '\0');
        const auto content = dump(profile, "");
        ASSERT_EQ(content.size(), 40u);
        const bool noFiles = c.options.back() == "--no-files";
        const auto files = treeOf(profile);
        EXPECT_EQ(files.size(), noFiles ? 3u : 3u + 40u + 4u); // 3 indexes, cached files, cookies
        EXPECT_NE(Columns(content[0])[5], "0");                // a size even without the file
    }
}

// A Windows 10 profile: the WebCache database and the cached files it names; the same mix as
// index.dat, the cookies held in the database (one entry per domain and path).
TEST(MakeProfile, Win10LayoutWritesAWebCacheDatabase) {
    TempFolder scratch;
    const auto profile = scratch.path() / "alice";
    const auto indexProfile = scratch.path() / "index" / "alice";
    for (const auto& folder : {profile, indexProfile}) {
        std::vector<std::string> arguments = {"--entries", "300", "--seed", "4", folder.string()};
        if (folder == profile)
            arguments.insert(arguments.begin(), {"--layout", "win10"});
        ASSERT_EQ(RunTool("make-profile", arguments).status, 0);
    }
    EXPECT_TRUE(
        fs::is_regular_file(profile / "AppData/Local/Microsoft/Windows/WebCache/WebCacheV01.dat"));
    EXPECT_FALSE(fs::exists(profile / "AppData/Local/Microsoft/Windows/INetCache/Content.IE5"));

    const auto content = dump(profile, "");
    const auto indexContent = dump(indexProfile, "");
    ASSERT_EQ(content.size(), 300u);
    ASSERT_EQ(indexContent.size(), 300u);
    for (std::size_t i = 0; i < content.size(); ++i) {
        const auto columns = Columns(content[i]);
        const auto indexColumns = Columns(indexContent[i]);
        // Same URL, counts, size, times, header size and extension; the folder differs.
        EXPECT_EQ(columns[0], indexColumns[0]);
        for (std::size_t c : {2u, 3u, 4u, 5u, 7u, 8u, 9u, 10u, 11u, 12u, 13u})
            EXPECT_EQ(columns[c], indexColumns[c]) << "column " << c << " of " << columns[0];
        const std::string folder =
            "C:\\Users\\alice\\AppData\\Local\\Microsoft\\Windows\\INetCache\\IE\\";
        ASSERT_TRUE(columns[1].starts_with(folder)) << columns[1];
        std::string local = columns[1].substr(folder.size());
        std::replace(local.begin(), local.end(), '\\', '/');
        EXPECT_EQ(
            std::to_string(
                ReadFile(profile / "AppData/Local/Microsoft/Windows/INetCache/IE" / local).size()),
            columns[5]);
    }
    EXPECT_EQ(dump(profile, "Visited:").size(), 75u);
    const auto cookies = dump(profile, "Cookie:");
    std::set<std::string> distinct;
    for (const std::string& line : dump(indexProfile, "Cookie:"))
        distinct.insert(Columns(line)[0]);
    EXPECT_EQ(cookies.size(), distinct.size());
    for (const std::string& line : cookies)
        EXPECT_TRUE(distinct.count(Columns(line)[0])) << line;
}

TEST(MakeProfile, RejectsBadArguments) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"--entries", "ten", "x"},
                                               {"--layout", "win95", "x"},
                                               {"--sites", "0", "x"},
                                               {"--bogus", "x"}}) {
        const ToolResult result = RunTool("make-profile", arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.err.find("usage"), std::string::npos);
    }
}

} // namespace
