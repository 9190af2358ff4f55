#include "ProfileDiscovery.h"

#include "AsciiCase.h"
#include "PathMapper.h"
#include "urlcache/UrlCacheProfile.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <utility>

namespace platform::profiles {

namespace {

namespace fs = std::filesystem;

// Bounds on what one look may cost, whatever a folder holds.
constexpr std::size_t kMaxListed = 4096;            // folders taken from one listing
constexpr std::size_t kMaxScanned = 20000;          // names read looking for one name ignoring case
constexpr std::uintmax_t kMaxConfigBytes = 1 << 20; // a Steam or Lutris file read for paths
constexpr std::size_t kMaxConfigFiles = 1000;       // Lutris game files read

constexpr std::array<std::string_view, 5> kNotUsers = {"Public", "Default", "Default User",
                                                       "All Users", "defaultuser0"};

using FileId = std::pair<dev_t, ino_t>;

std::optional<struct stat> statOf(const fs::path& path, bool followLink) {
    struct stat info {};
    const int failed = followLink ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (failed != 0)
        return std::nullopt;
    return info;
}

// A folder that is no symbolic link (followLink false), or any folder (true, for the places
// themselves, which a user may well have linked elsewhere).
bool isFolder(const fs::path& path, bool followLink = false) {
    auto info = statOf(path, followLink);
    return info && S_ISDIR(info->st_mode);
}

struct FolderCloser {
    void operator()(DIR* folder) const { ::closedir(folder); }
};
using FolderHandle = std::unique_ptr<DIR, FolderCloser>;

// The entry of `folder` called `name` ignoring ASCII case, when it is a real folder (or, with
// wantFile, a regular file): the exact name first, then the first match in name order.
std::optional<fs::path> childNamed(const fs::path& folder, std::string_view name,
                                   bool wantFile = false) {
    const auto fits = [&](const fs::path& path) {
        auto info = statOf(path, false);
        return info && (wantFile ? S_ISREG(info->st_mode) : S_ISDIR(info->st_mode));
    };
    fs::path exact = folder / fs::path(std::string(name));
    if (fits(exact))
        return exact;
    FolderHandle entries(::opendir(folder.c_str()));
    std::optional<std::string> best;
    std::size_t scanned = 0;
    while (const dirent* entry = entries ? ::readdir(entries.get()) : nullptr) {
        if (++scanned > kMaxScanned)
            break;
        const std::string_view found(entry->d_name);
        if (EqualsIgnoringAsciiCase(found, name) && (!best || found < *best) &&
            fits(folder / fs::path(std::string(found))))
            best = std::string(found);
    }
    if (!best)
        return std::nullopt;
    return folder / *best;
}

// The folder at `relative` ('/'-separated) below `base`, every step a real folder.
std::optional<fs::path> folderAt(const fs::path& base, std::string_view relative) {
    fs::path current = base;
    for (const fs::path& part : fs::path(relative)) {
        auto next = childNamed(current, part.native());
        if (!next)
            return std::nullopt;
        current = std::move(*next);
    }
    return current;
}

// The real folders in `folder`, by name, at most kMaxListed of them.
std::vector<fs::path> subfolders(const fs::path& folder) {
    std::vector<std::string> names;
    FolderHandle entries(::opendir(folder.c_str()));
    std::size_t scanned = 0;
    while (const dirent* entry = entries ? ::readdir(entries.get()) : nullptr) {
        if (++scanned > kMaxScanned || names.size() >= kMaxListed)
            break;
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        if (entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN)
            names.emplace_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<fs::path> found;
    for (const std::string& name : names) {
        if (isFolder(folder / name))
            found.push_back(folder / name);
    }
    return found;
}

bool isUserFolderName(const std::string& name) {
    return std::none_of(kNotUsers.begin(), kNotUsers.end(), [&](std::string_view excluded) {
        return EqualsIgnoringAsciiCase(name, excluded);
    });
}

void noteFile(const struct stat& info, std::int64_t& newest) {
    newest = std::max<std::int64_t>(newest, info.st_mtim.tv_sec);
}

// The container folders of every layout, copied once so that workers that outlive a discovery
// share nothing that the end of the process tears down.
using FolderList = std::vector<std::string>;

std::shared_ptr<const FolderList> containerFolders() {
    auto folders = std::make_shared<FolderList>();
    for (const auto& layout : urlcache::KnownContainerFolders())
        folders->emplace_back(layout.relativeFolder);
    return folders;
}

CacheSummary summarize(const fs::path& profile, const FolderList& containerFolders) {
    CacheSummary summary;
    std::set<FileId> seen; // on a case-insensitive volume two layouts may meet in one folder
    for (const std::string& relative : containerFolders) {
        auto folder = folderAt(profile, relative);
        auto index = folder ? childNamed(*folder, "index.dat", true) : std::nullopt;
        auto info = index ? statOf(*index, false) : std::nullopt;
        if (!info || !seen.emplace(info->st_dev, info->st_ino).second)
            continue;
        ++summary.indexContainers;
        summary.indexBytes += static_cast<std::uint64_t>(info->st_size);
        noteFile(*info, summary.newestChange);
    }
    if (auto folder = folderAt(profile, "AppData/Local/Microsoft/Windows/WebCache")) {
        for (const char* name : {"WebCacheV01.dat", "WebCacheV24.dat"}) {
            auto database = childNamed(*folder, name, true);
            auto info = database ? statOf(*database, false) : std::nullopt;
            if (!info)
                continue;
            summary.webCache = true;
            summary.webCacheBytes += static_cast<std::uint64_t>(info->st_size);
            noteFile(*info, summary.newestChange);
        }
    }
    return summary;
}

struct Found {
    ProfileCandidate candidate;
    FileId id;
};

std::optional<Found> profileAt(const fs::path& folder, ProfileKind kind, std::string origin,
                               const FolderList& containerFolders, bool followLink) {
    auto info = statOf(folder, followLink);
    if (!info || !S_ISDIR(info->st_mode))
        return std::nullopt;
    ProfileCandidate candidate;
    candidate.kind = kind;
    candidate.origin = std::move(origin);
    fs::path named = folder.lexically_normal();
    if (!named.has_filename())
        named = named.parent_path();
    candidate.user = named.filename().string();
    candidate.folder = folder.lexically_normal();
    candidate.cache = summarize(folder, containerFolders);
    return Found{std::move(candidate), {info->st_dev, info->st_ino}};
}

// The user folders of `usersFolder` (a prefix's drive_c/users, a volume's Users).
std::vector<Found> usersIn(const fs::path& usersFolder, ProfileKind kind, const std::string& origin,
                           const FolderList& containerFolders) {
    std::vector<Found> found;
    for (const fs::path& user : subfolders(usersFolder)) {
        if (!isUserFolderName(user.filename().string()))
            continue;
        if (auto profile = profileAt(user, kind, origin, containerFolders, false))
            found.push_back(std::move(*profile));
    }
    return found;
}

std::vector<Found> winePrefixUsers(const fs::path& prefix, const std::string& origin,
                                   const FolderList& containerFolders) {
    auto users = folderAt(prefix, "drive_c/users");
    if (!users)
        return {};
    return usersIn(*users, ProfileKind::WinePrefix, origin, containerFolders);
}

bool isWinePrefix(const fs::path& folder) {
    return folderAt(folder, "drive_c/users").has_value();
}

std::vector<Found> volumeUsers(const fs::path& volume, const std::string& origin,
                               const FolderList& containerFolders) {
    std::vector<Found> found;
    for (const char* relative : {"Users", "Documents and Settings"}) {
        if (auto users = folderAt(volume, relative)) {
            auto more = usersIn(*users, ProfileKind::WindowsVolume, origin, containerFolders);
            std::move(more.begin(), more.end(), std::back_inserter(found));
        }
    }
    return found;
}

std::string readSmallFile(const fs::path& file) {
    auto info = statOf(file, true);
    if (!info || !S_ISREG(info->st_mode) ||
        static_cast<std::uintmax_t>(info->st_size) > kMaxConfigBytes)
        return {};
    std::ifstream in(file, std::ios::binary);
    std::string text(static_cast<std::size_t>(info->st_size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The quoted tokens of one line of a Steam key-value file, with \\ and \" undone.
std::vector<std::string> quotedTokens(std::string_view line) {
    std::vector<std::string> tokens;
    std::size_t at = 0;
    while ((at = line.find('"', at)) != std::string_view::npos) {
        std::string token;
        std::size_t i = at + 1;
        for (; i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size())
                ++i;
            token += line[i];
        }
        if (i >= line.size())
            break;
        tokens.push_back(std::move(token));
        at = i + 1;
    }
    return tokens;
}

// The library folders a Steam installation lists: lines such as "path"  "/mnt/games/Steam".
std::vector<fs::path> steamLibraries(const fs::path& steam) {
    std::vector<fs::path> libraries;
    for (const char* relative : {"steamapps/libraryfolders.vdf", "config/libraryfolders.vdf"}) {
        const std::string text = readSmallFile(steam / relative);
        for (std::string_view line : linesOf(text)) {
            auto tokens = quotedTokens(line);
            if (tokens.size() == 2 && EqualsIgnoringAsciiCase(tokens[0], "path") &&
                fs::path(tokens[1]).is_absolute())
                libraries.emplace_back(tokens[1]);
        }
    }
    return libraries;
}

// The prefix a Lutris game file names, from a line "  prefix: /home/bob/Games/x".
std::optional<fs::path> lutrisPrefix(const fs::path& gameFile) {
    const std::string text = readSmallFile(gameFile);
    for (std::string_view line : linesOf(text)) {
        const std::string_view item = trimmed(line);
        if (!item.starts_with("prefix:"))
            continue;
        std::string_view value = trimmed(item.substr(7));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (!value.empty() && value.front() == '/')
            return fs::path(std::string(value));
    }
    return std::nullopt;
}

std::vector<fs::path> filesEndingIn(const fs::path& folder, std::string_view suffix) {
    std::vector<fs::path> files;
    FolderHandle entries(::opendir(folder.c_str()));
    std::size_t scanned = 0;
    while (const dirent* entry = entries ? ::readdir(entries.get()) : nullptr) {
        if (++scanned > kMaxScanned || files.size() >= kMaxConfigFiles)
            break;
        const std::string_view name(entry->d_name);
        if (name.size() > suffix.size() && name.ends_with(suffix))
            files.push_back(folder / std::string(name));
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The probes of one discovery. Every place is probed in a detached worker that holds this state
// through a shared pointer, so a worker stuck on a dead mount outlives the discovery harmlessly;
// the discovery takes what has come in by its deadline.
class ProbeState {
public:
    using Key = std::vector<int>; // the place's position among the places, for a stable order

    ProbeState(DiscoveryRoots roots, std::shared_ptr<const FolderList> containerFolders)
        : roots_(std::move(roots)), containerFolders_(std::move(containerFolders)) {}

    const DiscoveryRoots& roots() const { return roots_; }
    const FolderList& containerFolders() const { return *containerFolders_; }

    void start(Key key, fs::path place) {
        std::lock_guard guard(lock_);
        pending_.emplace(std::move(key), std::move(place));
    }

    void finish(const Key& key, std::vector<Found> found) {
        std::lock_guard guard(lock_);
        found_[key] = std::move(found);
        pending_.erase(key);
        changed_.notify_all();
    }

    // What came in by the deadline, in place order, and the places still busy then.
    std::pair<std::vector<Found>, std::vector<fs::path>>
    wait(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock guard(lock_);
        changed_.wait_until(guard, deadline, [this] { return pending_.empty(); });
        std::vector<Found> found;
        for (const auto& [key, some] : found_)
            found.insert(found.end(), some.begin(), some.end());
        std::vector<fs::path> unanswered;
        for (const auto& [key, place] : pending_)
            unanswered.push_back(place);
        return {std::move(found), std::move(unanswered)};
    }

private:
    const DiscoveryRoots roots_;
    const std::shared_ptr<const FolderList> containerFolders_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::map<Key, fs::path> pending_;
    std::map<Key, std::vector<Found>> found_;
};

// One place's probe: what it finds, and further places it hands to workers of their own.
class Probe {
public:
    Probe(std::shared_ptr<ProbeState> state, ProbeState::Key key)
        : state_(std::move(state)), key_(std::move(key)) {}

    const DiscoveryRoots& roots() const { return state_->roots(); }
    const FolderList& containerFolders() const { return state_->containerFolders(); }

    void add(std::vector<Found> found) {
        std::move(found.begin(), found.end(), std::back_inserter(found_));
    }
    void add(std::optional<Found> found) {
        if (found)
            found_.push_back(std::move(*found));
    }

    using Work = std::function<void(Probe&)>;

    // Probes `place` in a worker of its own; its finds come after this probe's own.
    void spawn(fs::path place, Work work) {
        ProbeState::Key key = key_;
        key.push_back(++children_);
        Launch(state_, std::move(key), std::move(place), std::move(work));
    }

    static void Launch(const std::shared_ptr<ProbeState>& state, ProbeState::Key key,
                       fs::path place, Work work) {
        state->start(key, place);
        try {
            startWorker(state, key, place, std::move(work));
        } catch (const std::system_error&) {
            state->finish(key, {}); // no thread to be had: the place is left out
        }
    }

private:
    static void startWorker(const std::shared_ptr<ProbeState>& state, const ProbeState::Key& key,
                            const fs::path& place, Work work) {
        std::thread([state, key, place, work = std::move(work)]() mutable {
            Probe probe(state, key);
            if (state->roots().probeStarted)
                state->roots().probeStarted(place);
            try {
                work(probe);
            } catch (...) {
                // A place that cannot be looked at (out of memory, a name the library refuses)
                // contributes what it found so far.
            }
            // The own finds sort before the children's: key + {0} precedes key + {1}.
            ProbeState::Key own = key;
            own.push_back(0);
            state->finish(own, std::move(probe.found_));
            state->finish(key, {});
        }).detach();
    }

    std::shared_ptr<ProbeState> state_;
    ProbeState::Key key_;
    int children_ = 0;
    std::vector<Found> found_;
};

std::string prefixOrigin(std::string_view source, const fs::path& prefix) {
    return std::string(source) + ": " + prefix.filename().string();
}

// Every prefix in `folder` (wineprefixes, PlayOnLinux, Bottles), each named after its folder.
void probePrefixFolder(Probe& probe, const fs::path& folder, std::string_view source) {
    for (const fs::path& prefix : subfolders(folder))
        probe.add(winePrefixUsers(prefix, prefixOrigin(source, prefix), probe.containerFolders()));
}

void probeSteamLibrary(Probe& probe, const fs::path& library) {
    auto compatdata = folderAt(library, "steamapps/compatdata");
    if (!compatdata)
        return;
    for (const fs::path& game : subfolders(*compatdata)) {
        if (auto prefix = childNamed(game, "pfx"))
            probe.add(winePrefixUsers(*prefix, "Steam Proton " + game.filename().string(),
                                      probe.containerFolders()));
    }
}

// A library listed twice, or the installation's own folder listed as a library, is probed again;
// the duplicates are dropped with the others at the end.
void probeSteam(Probe& probe, const fs::path& steam) {
    probeSteamLibrary(probe, steam);
    for (const fs::path& library : steamLibraries(steam)) {
        probe.spawn(library, [library](Probe& inner) { probeSteamLibrary(inner, library); });
    }
}

void probeLutris(Probe& probe, const fs::path& games) {
    for (const fs::path& game : filesEndingIn(games, ".yml")) {
        auto prefix = lutrisPrefix(game);
        if (!prefix)
            continue;
        const std::string origin = "Lutris " + game.stem().string();
        probe.spawn(*prefix, [prefix = *prefix, origin](Probe& inner) {
            inner.add(winePrefixUsers(prefix, origin, inner.containerFolders()));
        });
    }
}

void probeVolume(Probe& probe, const fs::path& volume) {
    probe.add(
        volumeUsers(volume, "volume " + volume.filename().string(), probe.containerFolders()));
}

// A mount root may itself be a volume (a disk mounted on /mnt), or hold volumes, each probed on
// its own so that one dead mount does not hide the others.
void probeMountRoot(Probe& probe, const fs::path& root) {
    probeVolume(probe, root);
    for (const fs::path& volume : subfolders(root))
        probe.spawn(volume, [volume](Probe& inner) { probeVolume(inner, volume); });
}

fs::path dataHomeOf(const DiscoveryRoots& roots) {
    return roots.dataHome.empty() ? roots.home / ".local/share" : fs::path(roots.dataHome);
}

fs::path configHomeOf(const DiscoveryRoots& roots) {
    return roots.configHome.empty() ? roots.home / ".config" : fs::path(roots.configHome);
}

struct Place {
    fs::path path;
    Probe::Work work;
};

// Every place, in the order their profiles are listed when their caches are equally old.
std::vector<Place> placesOf(const DiscoveryRoots& roots) {
    std::vector<Place> places;
    const auto add = [&](fs::path path, Probe::Work work) {
        places.push_back({std::move(path), std::move(work)});
    };
    if (!roots.profileVariable.empty()) {
        std::error_code error;
        const fs::path folder = fs::absolute(roots.profileVariable, error);
        add(folder, [folder](Probe& probe) {
            probe.add(profileAt(folder, ProfileKind::Folder, "ZEZUVUR_PROFILE",
                                probe.containerFolders(), true));
        });
    }
    const auto addPrefix = [&](const fs::path& prefix, std::string origin) {
        add(prefix, [prefix, origin](Probe& probe) {
            probe.add(winePrefixUsers(prefix, origin, probe.containerFolders()));
        });
    };
    if (!roots.winePrefix.empty())
        addPrefix(roots.winePrefix, "WINEPREFIX");
    addPrefix(roots.home / ".wine", "~/.wine");

    const fs::path data = dataHomeOf(roots);
    const auto addPrefixFolder = [&](const fs::path& folder, std::string source) {
        add(folder, [folder, source](Probe& probe) { probePrefixFolder(probe, folder, source); });
    };
    addPrefixFolder(data / "wineprefixes", "wineprefixes");
    addPrefixFolder(roots.home / ".PlayOnLinux/wineprefix", "PlayOnLinux");
    addPrefixFolder(data / "bottles/bottles", "Bottles");
    addPrefixFolder(roots.home / ".var/app/com.usebottles.bottles/data/bottles/bottles",
                    "Bottles (Flatpak)");

    for (const fs::path& steam :
         {roots.home / ".steam/steam", roots.home / ".steam/root", data / "Steam",
          roots.home / ".var/app/com.valvesoftware.Steam/.local/share/Steam",
          roots.home / ".var/app/com.valvesoftware.Steam/data/Steam"})
        add(steam, [steam](Probe& probe) { probeSteam(probe, steam); });

    for (const fs::path& games : {configHomeOf(roots) / "lutris/games", data / "lutris/games"})
        add(games, [games](Probe& probe) { probeLutris(probe, games); });

    const fs::path own = ProfilesFolder(roots);
    add(own, [own](Probe& probe) {
        for (const fs::path& folder : subfolders(own))
            probe.add(profileAt(folder, ProfileKind::Folder, "profiles folder",
                                probe.containerFolders(), false));
    });

    for (const fs::path& root : roots.mountRoots)
        add(root, [root](Probe& probe) { probeMountRoot(probe, root); });
    return places;
}

// One candidate per folder (the same prefix is reached through WINEPREFIX and ~/.wine, a
// volume through /media and /media/$USER), at its first place; then the newest cache first.
std::vector<ProfileCandidate> ordered(std::vector<Found> found) {
    std::vector<ProfileCandidate> candidates;
    std::set<FileId> seen;
    for (Found& one : found) {
        if (seen.insert(one.id).second)
            candidates.push_back(std::move(one.candidate));
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const ProfileCandidate& a, const ProfileCandidate& b) {
                         if (a.cache.holdsCache() != b.cache.holdsCache())
                             return a.cache.holdsCache();
                         return a.cache.newestChange > b.cache.newestChange;
                     });
    return candidates;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string formatBytes(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
        return text;
    }
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string formatLocalTime(std::int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (::localtime_r(&time, &local) == nullptr)
        return "?";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

} // namespace

DiscoveryRoots RootsFromEnvironment() {
    DiscoveryRoots roots;
    roots.home = HomeFolder();
    roots.user = UserName();
    roots.profileVariable = environment("ZEZUVUR_PROFILE");
    roots.winePrefix = environment("WINEPREFIX");
    roots.dataHome = environment("XDG_DATA_HOME");
    roots.configHome = environment("XDG_CONFIG_HOME");
    if (!roots.user.empty()) {
        roots.mountRoots.push_back(fs::path("/media") / roots.user);
        roots.mountRoots.push_back(fs::path("/run/media") / roots.user);
    }
    roots.mountRoots.push_back("/media");
    roots.mountRoots.push_back("/mnt");
    return roots;
}

fs::path ProfilesFolder(const DiscoveryRoots& roots) {
    return dataHomeOf(roots) / "zezuvur/profiles";
}

DiscoveryResult DiscoverProfiles(const DiscoveryRoots& roots) {
    const auto deadline = std::chrono::steady_clock::now() + roots.timeLimit;
    auto state = std::make_shared<ProbeState>(roots, containerFolders());
    int index = 0;
    for (Place& place : placesOf(roots))
        Probe::Launch(state, {++index}, std::move(place.path), std::move(place.work));
    auto [found, unanswered] = state->wait(deadline);
    return {ordered(std::move(found)), std::move(unanswered)};
}

std::vector<ProfileCandidate> ProfilesInFolder(const fs::path& folder) {
    const auto folders = containerFolders();
    std::vector<Found> found;
    if (isWinePrefix(folder))
        found = winePrefixUsers(folder, "chosen Wine prefix", *folders);
    if (found.empty())
        found = volumeUsers(folder, "chosen volume", *folders);
    if (found.empty()) {
        if (auto profile = profileAt(folder, ProfileKind::Folder, "chosen folder", *folders, true))
            found.push_back(std::move(*profile));
    }
    return ordered(std::move(found));
}

const char* KindName(ProfileKind kind) {
    switch (kind) {
    case ProfileKind::WinePrefix:
        return "Wine prefix";
    case ProfileKind::WindowsVolume:
        return "Windows volume";
    case ProfileKind::Folder:
        return "folder";
    }
    return "folder";
}

std::string DescribeContents(const CacheSummary& cache) {
    if (!cache.holdsCache())
        return "no cache";
    std::string text;
    if (cache.indexContainers > 0) {
        text +=
            std::to_string(cache.indexContainers) +
            (cache.indexContainers == 1 ? " index.dat container (" : " index.dat containers (") +
            formatBytes(cache.indexBytes) + ")";
    }
    if (cache.webCache) {
        if (!text.empty())
            text += ", ";
        text += "WebCache database (" + formatBytes(cache.webCacheBytes) + ")";
    }
    return text;
}

std::string DescribeNewestChange(const CacheSummary& cache) {
    return cache.holdsCache() ? formatLocalTime(cache.newestChange) : std::string();
}

std::string DescribeCache(const CacheSummary& cache) {
    if (!cache.holdsCache())
        return DescribeContents(cache);
    return DescribeContents(cache) + ", newest " + DescribeNewestChange(cache);
}

} // namespace platform::profiles
