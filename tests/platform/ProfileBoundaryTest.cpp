#include "platform/ProfileBoundary.h"
#include "platform/FileSystem.h"
#include "platform/SearchPath.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::ProfileRoot;

void WriteFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// A profile beside a folder that is not part of it, with every kind of link a hostile profile
// can hold: a sub-folder linked to "/", a sub-folder and a file linked outside, relative links
// that climb out, links that stay inside, and a link through /proc.
class BoundaryFixture : public testing::TestWithParam<bool> {
protected:
    BoundaryFixture() {
        WriteFile(outside / "secret.txt", "outside bytes");
        WriteFile(profile / "inside.txt", "inside bytes");
        WriteFile(profile / "sub" / "inner.txt", "inner bytes");
        fs::create_directory_symlink("/", profile / "root");
        fs::create_directory_symlink(outside, profile / "Documents");
        fs::create_symlink(outside / "secret.txt", profile / "secret.txt");
        fs::create_symlink("../../outside/secret.txt", profile / "sub" / "climb.txt");
        fs::create_symlink("inner.txt", profile / "sub" / "alias.txt");
        fs::create_directory_symlink("sub", profile / "subAlias");
        fs::create_symlink("/proc/self/root" + (outside / "secret.txt").string(),
                           profile / "magic.txt");
        ::mkfifo((profile / "pipe.txt").c_str(), 0600);
        previousKernelCheck = platform::SetKernelBoundaryCheckForTesting(GetParam());
    }
    ~BoundaryFixture() override { platform::SetKernelBoundaryCheckForTesting(previousKernelCheck); }

    zz_test::TempFolder base{"zz-boundary"};
    fs::path profile = base.path() / "profile" / "alice";
    fs::path outside = base.path() / "outside";
    ProfileRoot root{profile, "C:\\Users\\alice", {}};
    bool previousKernelCheck = true;
};

TEST_P(BoundaryFixture, OnlyFilesThatReallyLieInsideCanBeReadSizedOrResolved) {
    if (GetParam() && !platform::KernelChecksBoundary())
        GTEST_SKIP() << "the kernel cannot check the boundary here";
    struct Case {
        const char* path;
        const char* content; // null: behaves as missing
    };
    const Case cases[] = {
        {"inside.txt", "inside bytes"},
        {"sub/inner.txt", "inner bytes"},
        {"sub/alias.txt", "inner bytes"},
        {"subAlias/inner.txt", "inner bytes"},
        {"sub/../inside.txt", "inside bytes"},
        {"root/etc/passwd", nullptr},
        {"Documents/secret.txt", nullptr},
        {"secret.txt", nullptr},
        {"sub/climb.txt", nullptr},
        {"magic.txt", nullptr},
        {"missing.txt", nullptr},
        {"../outside/secret.txt", nullptr},
    };
    for (const Case& c : cases) {
        const fs::path path = profile / c.path;
        const auto head = platform::ReadHeadInsideProfile(root, path, 100);
        const auto size = platform::SizeInsideProfile(root, path);
        const auto real = platform::RealPathInsideProfile(root, path);
        if (c.content) {
            ASSERT_TRUE(head) << c.path;
            EXPECT_EQ(head->bytes, c.content) << c.path;
            EXPECT_EQ(size, std::string(c.content).size()) << c.path;
            ASSERT_TRUE(real) << c.path;
            EXPECT_EQ(*real, fs::canonical(path)) << c.path;
        } else {
            EXPECT_FALSE(head) << c.path;
            EXPECT_FALSE(size) << c.path;
            EXPECT_FALSE(real) << c.path;
        }
    }
    // A whole read is all or nothing: a file past the bound is not read at all.
    EXPECT_EQ(platform::ReadFileInsideProfile(root, profile / "inside.txt", 12), "inside bytes");
    EXPECT_FALSE(platform::ReadFileInsideProfile(root, profile / "inside.txt", 11));
    EXPECT_EQ(platform::ReadHeadInsideProfile(root, profile / "inside.txt", 6)->bytes, "inside");
    EXPECT_FALSE(platform::ReadFileInsideProfile(root, profile / "secret.txt", 100));
    // Folders have size 0; a FIFO is sized but never opened for reading.
    EXPECT_EQ(platform::SizeInsideProfile(root, profile / "sub"), 0u);
    EXPECT_FALSE(platform::SizeInsideProfile(root, profile / "root"));
    EXPECT_FALSE(platform::ReadHeadInsideProfile(root, profile / "pipe.txt", 10));
    EXPECT_FALSE(platform::ReadHeadInsideProfile(root, profile / "sub", 10));
}

TEST_P(BoundaryFixture, AWinePrefixIsBoundedByTheUsersFolder) {
    if (GetParam() && !platform::KernelChecksBoundary())
        GTEST_SKIP() << "the kernel cannot check the boundary here";
    const fs::path drive = base.path() / "prefix" / "drive_c";
    const fs::path user = drive / "users" / "bob";
    WriteFile(user / "AppData" / "cached.txt", "cached");
    WriteFile(drive / "windows" / "win.ini", "[fonts]");
    fs::create_directory_symlink(outside, user / "Documents");
    const ProfileRoot wine{user, "C:\\users\\bob", drive};
    const auto mapped = [&](const char* windowsPath) {
        return platform::HostPathFromWindows(wine, windowsPath).value_or(fs::path());
    };
    EXPECT_TRUE(
        platform::ReadHeadInsideProfile(wine, mapped("C:\\users\\bob\\AppData\\cached.txt"), 10));
    EXPECT_FALSE(
        platform::ReadHeadInsideProfile(wine, mapped("C:\\users\\bob\\Documents\\secret.txt"), 10));
    EXPECT_FALSE(platform::ReadHeadInsideProfile(wine, mapped("C:\\windows\\win.ini"), 10));
}

TEST_P(BoundaryFixture, ReadingLeavesTheAccessTimeAlone) {
    const fs::path file = profile / "inside.txt";
    // An access time before the modification time is one that even relatime would update.
    const timespec times[2] = {{1000, 0}, {0, UTIME_OMIT}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_TRUE(platform::ReadHeadInsideProfile(root, file, 100));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_atim.tv_sec, 1000);
}

INSTANTIATE_TEST_SUITE_P(KernelAndResolvedChecks, BoundaryFixture, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "Openat2" : "ResolveAndCompare";
                         });

TEST(ProfileBoundary, MediaSizesStopAtTheProfile) {
    zz_test::TempFolder base{"zz-boundary"};
    const fs::path profile = base.path() / "alice";
    WriteFile(profile / "cache" / "song.mp3", std::string(5000, 'x'));
    WriteFile(base.path() / "big.mp3", std::string(9000, 'x'));
    fs::create_symlink(base.path() / "big.mp3", profile / "cache" / "linked.mp3");
    zz_test::ScopedEnv selected("ZEZUVUR_PROFILE", profile.string());
    EXPECT_EQ(platform::FileSizeOfWindowsPath("C:\\Users\\alice\\cache\\song.mp3"), 5000u);
    EXPECT_FALSE(platform::FileSizeOfWindowsPath("C:\\Users\\alice\\cache\\linked.mp3"));
}

TEST(SearchPath, KeepsOnlyAbsoluteFolders) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin:/bin", "/usr/bin:/bin"},
        {":/usr/bin", "/usr/bin"},
        {"/usr/bin:", "/usr/bin"},
        {"/usr/bin::/bin", "/usr/bin:/bin"},
        {".:/usr/bin:./bin:bin:../x:~/bin", "/usr/bin"},
        {"", "/usr/local/bin:/usr/bin:/bin"},
        {".:relative", "/usr/local/bin:/usr/bin:/bin"},
    };
    for (const auto& [path, clean] : cases)
        EXPECT_EQ(platform::CleanSearchPath(path), clean) << path;
}

TEST(SearchPath, FindsProgramsOnlyInAbsoluteFolders) {
    zz_test::TempFolder folder{"zz-search"};
    const fs::path tool = folder.path() / "zz-tool";
    WriteFile(tool, "#!/bin/sh\n");
    fs::permissions(tool, fs::perms::owner_all);
    WriteFile(folder.path() / "zz-plain", "not executable");
    const std::string path = "/nonexistent:" + folder.path().string();
    EXPECT_EQ(platform::FindProgram("zz-tool", path), tool.string());
    EXPECT_FALSE(platform::FindProgram("zz-plain", path));
    EXPECT_FALSE(platform::FindProgram("zz-missing", path));
    EXPECT_FALSE(platform::FindProgram("sub/zz-tool", path));
    EXPECT_EQ(platform::FindProgram("/bin/sh", ""), "/bin/sh");
    // A relative entry that names this very folder is not searched.
    const fs::path previous = fs::current_path();
    fs::current_path(folder.path());
    EXPECT_FALSE(platform::FindProgram("zz-tool", ":.:" + std::string("/nonexistent")));
    fs::current_path(previous);
}

} // namespace
