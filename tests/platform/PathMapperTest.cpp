#include "platform/PathMapper.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

namespace {

namespace fs = std::filesystem;
using platform::HostPathFromWindows;
using platform::ProfileRoot;
using platform::WindowsPathFromHost;

// Sets or clears environment variables for one test and puts them back afterwards.
class EnvironmentOverride {
public:
    void set(const char* name, const char* value) {
        const auto [variable, added] = overrides_.try_emplace(name, name, value);
        if (!added)
            variable->second.Set(value);
    }

private:
    std::map<std::string, zz_test::ScopedEnv> overrides_;
};

TEST(PathMapper, ProfileComesFromTheEnvironment) {
    EnvironmentOverride env;
    env.set("ZEZUVUR_PROFILE", "/mnt/disk/Users/Alice/");
    ProfileRoot fromProfile = platform::CurrentProfile();
    EXPECT_EQ(fromProfile.hostFolder, fs::path("/mnt/disk/Users/Alice/"));
    EXPECT_EQ(fromProfile.windowsFolder, "C:\\Users\\Alice");
    EXPECT_TRUE(fromProfile.driveRoot.empty());
    // A Wine prefix's user folder named as the profile reads as the prefix would.
    env.set("ZEZUVUR_PROFILE", "/opt/game/drive_c/users/steamuser");
    ProfileRoot fromPrefixUser = platform::CurrentProfile();
    EXPECT_EQ(fromPrefixUser.hostFolder, fs::path("/opt/game/drive_c/users/steamuser"));
    EXPECT_EQ(fromPrefixUser.windowsFolder, "C:\\users\\steamuser");
    EXPECT_EQ(fromPrefixUser.driveRoot, fs::path("/opt/game/drive_c"));
    env.set("ZEZUVUR_PROFILE", ".");
    EXPECT_EQ(platform::CurrentProfile().windowsFolder,
              "C:\\Users\\" + fs::current_path().filename().string());

    env.set("ZEZUVUR_PROFILE", nullptr);
    env.set("WINEPREFIX", "/opt/prefix");
    env.set("USER", "bob");
    ProfileRoot fromPrefix = platform::CurrentProfile();
    EXPECT_EQ(fromPrefix.hostFolder, fs::path("/opt/prefix/drive_c/users/bob"));
    EXPECT_EQ(fromPrefix.windowsFolder, "C:\\users\\bob");
    EXPECT_EQ(fromPrefix.driveRoot, fs::path("/opt/prefix/drive_c"));

    env.set("WINEPREFIX", nullptr);
    env.set("HOME", "/home/bob");
    EXPECT_EQ(platform::CurrentProfile().hostFolder, fs::path("/home/bob/.wine/drive_c/users/bob"));
}

TEST(PathMapper, MapsInsideTheMappedFoldersOnly) {
    const ProfileRoot profile{"/p/alice", "C:\\Users\\alice", {}};
    const ProfileRoot wine{"/w/drive_c/users/bob", "C:\\users\\bob", "/w/drive_c"};
    struct Case {
        const ProfileRoot* root;
        const char* windows;
        std::optional<fs::path> host;
    };
    const Case cases[] = {
        {&profile, "C:\\Users\\alice\\AppData\\f.txt", fs::path("/p/alice/AppData/f.txt")},
        {&profile, "c:/users/ALICE/a\\.\\b", fs::path("/p/alice/a/b")},
        {&profile, "C:\\Users\\alice", fs::path("/p/alice")},
        {&profile, "C:\\Users\\alice\\a\\..\\b", fs::path("/p/alice/b")},
        {&profile, "C:\\Users\\bob\\a", std::nullopt},
        {&profile, "C:\\Users\\alice\\..\\bob\\a", std::nullopt},
        {&profile, "C:\\Users\\alice\\a\\..\\..\\..\\..\\etc\\passwd", std::nullopt},
        {&profile, "C:\\..\\..\\etc", std::nullopt},
        {&profile, "D:\\Users\\alice\\a", std::nullopt},
        {&profile, "Users\\alice\\a", std::nullopt},
        {&profile, "\\\\server\\share\\a", std::nullopt},
        {&profile, "C:Users\\alice", std::nullopt},
        {&wine, "C:\\windows\\win.ini", fs::path("/w/drive_c/windows/win.ini")},
        {&wine, "C:\\users\\bob\\x", fs::path("/w/drive_c/users/bob/x")},
        {&wine, "C:\\users\\..\\..\\x", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.windows);
        EXPECT_EQ(HostPathFromWindows(*c.root, c.windows), c.host);
    }
    EXPECT_EQ(WindowsPathFromHost(profile, "/p/alice/AppData/Local/x y.gif"),
              "C:\\Users\\alice\\AppData\\Local\\x y.gif");
    EXPECT_EQ(WindowsPathFromHost(profile, "/p/alice/../bob/x"), std::nullopt);
    EXPECT_EQ(WindowsPathFromHost(profile, "/p/alicex/y"), std::nullopt);
    EXPECT_EQ(WindowsPathFromHost(wine, "/w/drive_c/windows/x"), "C:\\windows\\x");
    EXPECT_EQ(WindowsPathFromHost(wine, "/w/drive_c/users/bob/x"), "C:\\users\\bob\\x");
}

TEST(PathMapper, FallsBackToCaseInsensitiveComponents) {
    const zz_test::TempFolder scratch("zz-mapper");
    const fs::path& base = scratch.path();
    fs::create_directories(base / "Carol" / "AppData" / "Local");
    std::ofstream(base / "Carol" / "AppData" / "Local" / "File[1].TXT") << "x";
    const ProfileRoot profile{base / "Carol", "C:\\Users\\Carol", {}};

    EXPECT_EQ(HostPathFromWindows(profile, "C:\\Users\\carol\\appdata\\LOCAL\\file[1].txt"),
              base / "Carol" / "AppData" / "Local" / "File[1].TXT");
    // A missing component keeps the given spelling from there on.
    EXPECT_EQ(HostPathFromWindows(profile, "C:\\Users\\Carol\\APPDATA\\Roaming\\x"),
              base / "Carol" / "AppData" / "Roaming" / "x");
    // A folder that changes is read again.
    fs::rename(base / "Carol" / "AppData" / "Local" / "File[1].TXT",
               base / "Carol" / "AppData" / "Local" / "FILE[1].txt");
    EXPECT_EQ(HostPathFromWindows(profile, "C:\\Users\\carol\\appdata\\LOCAL\\file[1].txt"),
              base / "Carol" / "AppData" / "Local" / "FILE[1].txt");
}

// A database names folders by the Windows user who wrote it; they lead into the profile folder
// whatever that is called.
TEST(PathMapper, RebasesTheWindowsUserFolderOntoTheProfile) {
    const ProfileRoot profile{"/mnt/disk/Users/Jane", "C:\\Users\\Jane", {}};
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\Users\\John\\AppData\\Local\\IE\\", "C:\\Users\\Jane\\AppData\\Local\\IE\\"},
        {"c:/users/john/AppData", "C:\\Users\\Jane/AppData"},
        {"D:\\Documents and Settings\\John\\Cookies", "C:\\Users\\Jane\\Cookies"},
        {"C:\\Users\\John", "C:\\Users\\Jane"},
        {"C:\\Users\\", "C:\\Users\\"},
        {"C:\\Users\\..\\Windows", "C:\\Users\\..\\Windows"},
        {"C:\\Windows\\Temp\\x", "C:\\Windows\\Temp\\x"},
        {"Cookie:john@example.com/", "Cookie:john@example.com/"},
        {"", ""},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(platform::RebaseOnProfile(profile, path), expected) << path;
    // A cookie held in the database names itself where a file would be: no file answers to it.
    EXPECT_EQ(HostPathFromWindows(profile, "Cookie:John@github.com/"), std::nullopt);
    EXPECT_EQ(HostPathFromWindows(profile, "Cookie:John@C:\\Users\\Jane\\x"), std::nullopt);
}

} // namespace
