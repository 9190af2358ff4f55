#include "platform/ProfileDiscovery.h"
#include "support/TempFolder.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace platform::profiles;
using testing::ElementsAre;
using testing::IsEmpty;
using testing::Pair;

constexpr const char* kWine8Content = "AppData/Local/Microsoft/Windows/INetCache/Content.IE5";
constexpr const char* kVistaHistory = "AppData/Local/Microsoft/Windows/History/History.IE5";
constexpr const char* kXpCookies = "Cookies";
constexpr const char* kWebCache = "AppData/Local/Microsoft/Windows/WebCache";

// A fake machine under a temporary folder: a home, mount roots, and files whose times are set
// so that the order of the caches is known.
class FakeMachine {
public:
    FakeMachine() {
        roots.home = root() / "home/bob";
        roots.user = "bob";
        roots.mountRoots = {root() / "media/bob", root() / "mnt"};
        fs::create_directories(roots.home);
    }

    fs::path root() const { return folder_.path(); }

    // A file of `bytes` bytes changed `hoursAgo` hours ago; its folders are made.
    void file(const fs::path& path, std::size_t bytes, int hoursAgo) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(hoursAgo));
    }

    // A user folder below `users` with an index.dat in `container` (none: an empty profile).
    fs::path user(const fs::path& users, const std::string& name, const char* container = nullptr,
                  int hoursAgo = 0) {
        const fs::path profile = users / name;
        fs::create_directories(profile / "Documents");
        if (container != nullptr)
            file(profile / container / "index.dat", 32768, hoursAgo);
        return profile;
    }

    fs::path prefixUsers(const fs::path& prefix) { return prefix / "drive_c/users"; }

    DiscoveryRoots roots;

private:
    zz_test::TempFolder folder_{"zz-discovery"};
};

std::vector<std::pair<std::string, std::string>> OriginsAndUsers(const DiscoveryResult& result) {
    std::vector<std::pair<std::string, std::string>> found;
    for (const ProfileCandidate& candidate : result.candidates)
        found.emplace_back(candidate.origin, candidate.user);
    return found;
}

const ProfileCandidate* Find(const DiscoveryResult& result, const std::string& origin) {
    for (const ProfileCandidate& candidate : result.candidates)
        if (candidate.origin == origin)
            return &candidate;
    return nullptr;
}

TEST(ProfileDiscovery, FindsEveryKindOfPlaceNewestCacheFirst) {
    FakeMachine m;
    const fs::path home = m.roots.home;
    const fs::path data = home / ".local/share";

    // The default prefix, and WINEPREFIX naming another.
    m.user(m.prefixUsers(home / ".wine"), "bob", kWine8Content, 30);
    m.user(m.prefixUsers(home / ".wine"), "Public", kWine8Content, 1); // never a user
    const fs::path other = m.root() / "games/prefix";
    m.file(m.user(m.prefixUsers(other), "bob") / kWebCache / "WebCacheV01.dat", 1 << 20, 2);
    m.roots.winePrefix = other.string();
    // winetricks prefixes, one empty, and PlayOnLinux.
    m.user(m.prefixUsers(data / "wineprefixes/empty"), "bob");
    m.user(m.prefixUsers(data / "wineprefixes/office"), "bob", kVistaHistory, 40);
    m.user(m.prefixUsers(home / ".PlayOnLinux/wineprefix/Photo"), "bob");
    // Steam, reached through ~/.steam/steam too, with a second library named in its list.
    const fs::path steam = data / "Steam";
    m.user(m.prefixUsers(steam / "steamapps/compatdata/292030/pfx"), "steamuser", kWine8Content,
           50);
    fs::create_directories(home / ".steam");
    fs::create_directory_symlink(steam, home / ".steam/steam");
    const fs::path library = m.root() / "disk2/SteamLibrary";
    m.user(m.prefixUsers(library / "steamapps/compatdata/440/pfx"), "steamuser", kWine8Content, 60);
    m.file(steam / "steamapps/libraryfolders.vdf", 0, 0);
    std::ofstream(steam / "steamapps/libraryfolders.vdf")
        << "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" << steam.string()
        << "\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" << library.string() << "\"\n\t}\n}\n";
    // A bottle, and a Lutris game whose prefix lies elsewhere.
    m.user(m.prefixUsers(data / "bottles/bottles/Gaming"), "bob", kWine8Content, 70);
    const fs::path lutrisPrefix = m.root() / "Games/overwatch";
    m.user(m.prefixUsers(lutrisPrefix), "bob", kWine8Content, 80);
    m.file(home / ".config/lutris/games/overwatch-1.yml", 0, 0);
    std::ofstream(home / ".config/lutris/games/overwatch-1.yml")
        << "game:\n  exe: x.exe\n  prefix: " << lutrisPrefix.string() << "\nwine:\n  version: 8\n";
    // The program's own profiles folder.
    m.user(data / "zezuvur/profiles", "demo", kVistaHistory, 90);
    // A mounted Windows 10 disk with three users and the system's folders, and an XP disk.
    const fs::path win10 = m.root() / "media/bob/WIN10/Users";
    m.user(win10, "alice", kWine8Content, 10);
    m.file(m.user(win10, "carol") / kWebCache / "WebCacheV24.dat", 4096, 100);
    m.user(win10, "dave");
    for (const char* system : {"Public", "Default", "Default User", "All Users"})
        m.user(win10, system, kWine8Content, 1);
    m.user(m.root() / "mnt/Documents and Settings", "erin", kXpCookies, 110);

    const DiscoveryResult result = DiscoverProfiles(m.roots);
    EXPECT_THAT(result.unanswered, IsEmpty());
    EXPECT_THAT(OriginsAndUsers(result),
                ElementsAre(Pair("WINEPREFIX", "bob"), Pair("volume WIN10", "alice"),
                            Pair("~/.wine", "bob"), Pair("wineprefixes: office", "bob"),
                            Pair("Steam Proton 292030", "steamuser"),
                            Pair("Steam Proton 440", "steamuser"), Pair("Bottles: Gaming", "bob"),
                            Pair("Lutris overwatch-1", "bob"), Pair("profiles folder", "demo"),
                            Pair("volume WIN10", "carol"), Pair("volume mnt", "erin"),
                            // holding nothing, in the order of the places
                            Pair("wineprefixes: empty", "bob"), Pair("PlayOnLinux: Photo", "bob"),
                            Pair("volume WIN10", "dave")));

    const ProfileCandidate* wine = Find(result, "~/.wine");
    ASSERT_NE(wine, nullptr);
    EXPECT_EQ(wine->kind, ProfileKind::WinePrefix);
    EXPECT_EQ(wine->folder, home / ".wine/drive_c/users/bob");
    EXPECT_EQ(wine->cache.indexContainers, 1);
    EXPECT_EQ(wine->cache.indexBytes, 32768u);
    EXPECT_FALSE(wine->cache.webCache);
    const ProfileCandidate& newest = result.candidates.front();
    EXPECT_TRUE(newest.cache.webCache);
    EXPECT_EQ(newest.cache.webCacheBytes, 1u << 20);
    EXPECT_EQ(newest.cache.indexContainers, 0);
    EXPECT_THAT(DescribeCache(newest.cache),
                testing::StartsWith("WebCache database (1.0 MiB), newest "));
    EXPECT_THAT(DescribeCache(wine->cache),
                testing::StartsWith("1 index.dat container (32.0 KiB), "));
    EXPECT_EQ(Find(result, "volume mnt")->kind, ProfileKind::WindowsVolume);
    EXPECT_EQ(Find(result, "profiles folder")->kind, ProfileKind::Folder);
    EXPECT_EQ(DescribeCache(result.candidates.back().cache), "no cache");
}

// Links never lead discovery out of its places, loops end, and a mount that has gone or a
// folder that names itself costs nothing.
TEST(ProfileDiscovery, FollowsNoLinkBelowAPlace) {
    FakeMachine m;
    const fs::path elsewhere = m.root() / "elsewhere";
    const fs::path outside = m.user(elsewhere / "Users", "mallory", kWine8Content, 1);
    const fs::path users = m.root() / "media/bob/DISK/Users";
    m.user(users, "alice", kWine8Content, 5);
    fs::create_directory_symlink(outside, users / "mallory");
    fs::create_directory_symlink(elsewhere, m.root() / "media/bob/linked");
    fs::create_directory_symlink(m.root() / "media/bob/loop", m.root() / "media/bob/loop");
    fs::create_directory_symlink(m.root() / "nowhere", m.root() / "media/bob/gone");
    fs::create_directory_symlink(users / "alice", users / "alice/AppData/Local/Microsoft/again");
    fs::create_directory_symlink(m.roots.home / ".wine", m.roots.home / ".wine");
    m.roots.mountRoots.push_back(m.root() / "run/media/bob"); // does not exist

    const DiscoveryResult result = DiscoverProfiles(m.roots);
    EXPECT_THAT(OriginsAndUsers(result), ElementsAre(Pair("volume DISK", "alice")));
    EXPECT_THAT(result.unanswered, IsEmpty());
}

TEST(ProfileDiscovery, UnreadableFoldersAreLeftOut) {
    FakeMachine m;
    const fs::path users = m.root() / "media/bob/DISK/Users";
    m.user(users, "alice", kWine8Content, 5);
    const fs::path locked = m.user(users, "locked", kWine8Content, 1);
    m.user(m.root() / "media/bob/SEALED/Users", "zed", kWine8Content, 1);
    fs::permissions(locked, fs::perms::none);
    fs::permissions(m.root() / "media/bob/SEALED", fs::perms::none);
    const bool binding = ::access(locked.c_str(), R_OK) != 0;
    const DiscoveryResult result = DiscoverProfiles(m.roots);
    fs::permissions(locked, fs::perms::owner_all);
    fs::permissions(m.root() / "media/bob/SEALED", fs::perms::owner_all);
    if (!binding)
        GTEST_SKIP() << "permissions do not bind this user";
    // The locked user is listed (its folder can be seen) but holds nothing that can be seen.
    EXPECT_THAT(OriginsAndUsers(result),
                ElementsAre(Pair("volume DISK", "alice"), Pair("volume DISK", "locked")));
    EXPECT_FALSE(result.candidates[1].cache.holdsCache());
}

TEST(ProfileDiscovery, ASlowPlaceIsLeftOutAtTheTimeLimit) {
    FakeMachine m;
    m.user(m.root() / "media/bob/FAST/Users", "alice", kWine8Content, 5);
    const fs::path slow = m.root() / "media/bob/SLOW";
    m.user(slow / "Users", "sam", kWine8Content, 1);
    m.roots.timeLimit = std::chrono::milliseconds(300);
    m.roots.probeStarted = [slow](const fs::path& place) {
        if (place == slow)
            std::this_thread::sleep_for(std::chrono::seconds(3));
    };
    const auto start = std::chrono::steady_clock::now();
    const DiscoveryResult result = DiscoverProfiles(m.roots);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_THAT(OriginsAndUsers(result), ElementsAre(Pair("volume FAST", "alice")));
    EXPECT_THAT(result.unanswered, ElementsAre(slow));
}

TEST(ProfileDiscovery, APickedFolderGivesItsUsersOrItself) {
    FakeMachine m;
    const fs::path prefix = m.root() / "prefix";
    m.user(m.prefixUsers(prefix), "bob", kWine8Content, 5);
    m.user(m.prefixUsers(prefix), "steamuser", kWine8Content, 1);
    const fs::path volume = m.root() / "volume";
    m.user(volume / "Users", "alice", kWine8Content, 5);
    const fs::path copy = m.user(m.root() / "copies", "carol", kXpCookies, 5);

    const auto users = [](const std::vector<ProfileCandidate>& found) {
        std::vector<std::string> names;
        for (const ProfileCandidate& candidate : found)
            names.push_back(candidate.user);
        return names;
    };
    EXPECT_THAT(users(ProfilesInFolder(prefix)), ElementsAre("steamuser", "bob"));
    EXPECT_EQ(ProfilesInFolder(prefix)[0].kind, ProfileKind::WinePrefix);
    EXPECT_THAT(users(ProfilesInFolder(volume)), ElementsAre("alice"));
    EXPECT_THAT(users(ProfilesInFolder(copy)), ElementsAre("carol"));
    EXPECT_EQ(ProfilesInFolder(copy)[0].cache.indexContainers, 1);
    EXPECT_THAT(ProfilesInFolder(m.root() / "missing"), IsEmpty());
}

} // namespace
