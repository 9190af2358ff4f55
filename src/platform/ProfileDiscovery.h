#pragma once
// The Windows user profiles that this machine holds: in Wine prefixes (the default one, other
// prefixes, Steam's Proton prefixes, Bottles, Lutris, PlayOnLinux), on mounted Windows volumes,
// and in folders named for the program. Each is judged by a quick look only: which cache files
// exist, their sizes and their times; no cache is read.
//
// The look is shallow and bounded: a fixed set of places, a fixed depth below each, no symbolic
// link followed below a place (a place itself may be one), and every place probed in a worker
// thread of its own so that a slow or hung mount costs at most the time limit. A place that has
// not answered by then is left out and named in the result.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform::profiles {

enum class ProfileKind {
    WinePrefix,    // a user folder below a prefix's drive_c/users
    WindowsVolume, // a user folder below Users or Documents and Settings of a mounted disk
    Folder,        // a profile folder named as such (environment, the program's profiles folder)
};

// What a profile holds, from the existence and size of its cache files.
struct CacheSummary {
    int indexContainers = 0; // index.dat files in the known container folders
    std::uint64_t indexBytes = 0;
    bool webCache = false; // a WebCacheV01.dat or WebCacheV24.dat database
    std::uint64_t webCacheBytes = 0;
    std::int64_t newestChange = 0; // seconds since 1970 of the newest of those files; 0: none

    bool holdsCache() const { return indexContainers > 0 || webCache; }
};

struct ProfileCandidate {
    ProfileKind kind = ProfileKind::Folder;
    std::string origin;           // where it was found: "~/.wine", "Steam Proton 292030", ...
    std::string user;             // the profile folder's name
    std::filesystem::path folder; // the user-profile folder
    CacheSummary cache;
};

// Everything discovery looks at from outside, so that a test can point it at a fake machine.
struct DiscoveryRoots {
    std::filesystem::path home;
    std::string user;
    std::string profileVariable;                   // ZEZUVUR_PROFILE
    std::string winePrefix;                        // WINEPREFIX
    std::string dataHome;                          // XDG_DATA_HOME (empty: ~/.local/share)
    std::string configHome;                        // XDG_CONFIG_HOME (empty: ~/.config)
    std::vector<std::filesystem::path> mountRoots; // each and each folder in it may be a volume
    std::chrono::milliseconds timeLimit{3000};
    // Called in the worker as the probe of each place starts; tests make a place slow with it.
    std::function<void(const std::filesystem::path& place)> probeStarted;
};

// HOME, USER, ZEZUVUR_PROFILE, WINEPREFIX, the XDG folders of this process, and the mount roots
// /media/$USER, /run/media/$USER, /media and /mnt.
DiscoveryRoots RootsFromEnvironment();

struct DiscoveryResult {
    // Those that hold a cache, the newest cache first, then the others in the order found.
    std::vector<ProfileCandidate> candidates;
    std::vector<std::filesystem::path> unanswered; // places still busy at the time limit
};

DiscoveryResult DiscoverProfiles(const DiscoveryRoots& roots);

// The profiles in a folder that a user picked: the users of a Wine prefix or of a Windows volume
// when it is one, else the folder itself as a profile. Not bounded in time: the user asked.
std::vector<ProfileCandidate> ProfilesInFolder(const std::filesystem::path& folder);

// The folder where the program looks for profile folders of its own (copies, demos).
std::filesystem::path ProfilesFolder(const DiscoveryRoots& roots);

// "Wine prefix", "Windows volume", "folder".
const char* KindName(ProfileKind kind);
// "3 index.dat containers (1.2 MiB), WebCache database (24.0 MiB)" or "no cache".
std::string DescribeContents(const CacheSummary& cache);
// The newest cache file's time, local, as "2024-05-01 12:00"; empty when there is none.
std::string DescribeNewestChange(const CacheSummary& cache);
// Both: "3 index.dat containers (1.2 MiB), newest 2024-05-01 12:00", or "no cache".
std::string DescribeCache(const CacheSummary& cache);

} // namespace platform::profiles
