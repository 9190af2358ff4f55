#include "PathMapper.h"

#include "AsciiCase.h"
#include "CodePage.h"

#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <time.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

namespace fs = std::filesystem;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

const passwd* currentUserEntry() {
    return ::getpwuid(::getuid());
}

std::string homeFolder() {
    std::string home = environment("HOME");
    if (home.empty()) {
        if (const passwd* entry = currentUserEntry(); entry && entry->pw_dir)
            home = entry->pw_dir;
    }
    return home;
}

std::string userName() {
    std::string user = environment("USER");
    if (user.empty()) {
        if (const passwd* entry = currentUserEntry(); entry && entry->pw_name)
            user = entry->pw_name;
    }
    return user;
}

// The components of a Windows path, with "." dropped and ".." applied. Nullopt when ".." climbs
// above the start or a component is not a plain name.
std::optional<std::vector<std::string>> splitComponents(std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part.find('\0') != std::string_view::npos)
            return std::nullopt;
        if (part == "..") {
            if (parts.empty())
                return std::nullopt;
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.emplace_back(part);
        }
        start = end + 1;
    }
    return parts;
}

struct WindowsPath {
    char drive = 0; // lower-case letter
    std::vector<std::string> components;
};

// "X:\a\b" only: relative, UNC and device paths are not mapped.
std::optional<WindowsPath> parseAbsolute(std::string_view path) {
    if (path.size() < 2 || path[1] != ':')
        return std::nullopt;
    const char drive = AsciiFold(path[0]);
    if (drive < 'a' || drive > 'z')
        return std::nullopt;
    const std::string_view rest = path.substr(2);
    if (!rest.empty() && rest[0] != '\\' && rest[0] != '/')
        return std::nullopt;
    auto components = splitComponents(rest);
    if (!components)
        return std::nullopt;
    return WindowsPath{drive, std::move(*components)};
}

// The names of one folder by their ASCII-lower-cased form, kept while the folder is unchanged,
// so that looking up many missing files in a big cache folder reads that folder once and not
// once per file.
struct FolderCloser {
    void operator()(DIR* folder) const { ::closedir(folder); }
};

class FolderListings {
public:
    std::optional<std::string> find(const fs::path& folder, const std::string& name) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return std::nullopt;
        std::lock_guard guard(lock_);
        // A folder is read for one name at first, and that answer kept; only a folder asked for
        // another name gets a listing of every name kept. Most folders are asked for one name
        // (each search asks again for the same one, passing by a cookie folder of a hundred
        // thousand files), and a kept listing costs a copy of every name.
        if (auto answer = singleNameAnswer(folder, name, info))
            return *answer;
        Listing& listing = listingFor(folder, info);
        auto found = listing.names.find(AsciiLowerCase(name));
        if (found == listing.names.end())
            return std::nullopt;
        return found->second;
    }

private:
    struct Listing {
        dev_t device = 0;
        ino_t inode = 0;
        timespec modified{};
        bool settled = false; // taken long enough after the last change to be trusted
        std::unordered_map<std::string, std::string> names; // lower-cased -> as on disk
    };

    // File systems stamp changes with a coarse clock (a few milliseconds), so a change made in
    // the same tick as the one before leaves the same time stamp. A listing taken well after the
    // folder's last change is safe: any later change gets a later stamp. One taken right after
    // a change is read again next time.
    static bool settledSince(const timespec& modified) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const std::int64_t elapsedNs =
            (std::int64_t{now.tv_sec} - modified.tv_sec) * 1'000'000'000 +
            (now.tv_nsec - modified.tv_nsec);
        return elapsedNs > 100'000'000;
    }

    static bool unchanged(const Listing& listing, const struct stat& info) {
        return listing.device == info.st_dev && listing.inode == info.st_ino &&
               listing.modified.tv_sec == info.st_mtim.tv_sec &&
               listing.modified.tv_nsec == info.st_mtim.tv_nsec;
    }

    Listing& listingFor(const fs::path& folder, const struct stat& info) {
        const std::string key = folder.string();
        auto cached = listings_.find(key);
        if (cached != listings_.end() && cached->second.settled && unchanged(cached->second, info))
            return cached->second;
        if (listings_.size() >= kMaxFolders)
            listings_.clear();
        Listing& listing = listings_[key];
        listing = Listing{info.st_dev, info.st_ino, info.st_mtim, settledSince(info.st_mtim), {}};
        // A cookie folder holds one file per cookie: names are taken as readdir leaves them,
        // without a path object for each.
        std::unique_ptr<DIR, FolderCloser> entries(::opendir(folder.c_str()));
        while (const dirent* entry = entries ? ::readdir(entries.get()) : nullptr) {
            const std::string_view name(entry->d_name);
            if (name == "." || name == "..")
                continue;
            std::string actual(name);
            auto [slot, added] = listing.names.try_emplace(AsciiLowerCase(actual), actual);
            // Of names that differ only in case, the first in name order wins, whatever order
            // the folder lists them in.
            if (!added && actual < slot->second)
                slot->second = std::move(actual);
        }
        return listing;
    }

    // The one name a folder was asked for so far, and what was found for it.
    struct SingleName {
        Listing stamp; // names stay empty
        std::string name;
        std::optional<std::string> found;
    };

    // The answer for `name` in a folder that has no kept listing and was, unchanged and settled,
    // asked for that name only (or never): nullopt when the folder needs a listing instead.
    std::optional<std::optional<std::string>>
    singleNameAnswer(const fs::path& folder, const std::string& name, const struct stat& info) {
        const std::string key = folder.string();
        if (listings_.count(key) != 0)
            return std::nullopt;
        auto asked = single_.find(key);
        if (asked != single_.end() && asked->second.stamp.settled &&
            unchanged(asked->second.stamp, info)) {
            if (asked->second.name == name)
                return asked->second.found;
            single_.erase(asked);
            return std::nullopt; // a second name: list the folder from now on
        }
        if (single_.size() >= kMaxFolders * 4)
            single_.clear();
        SingleName& entry = single_[key];
        entry.stamp =
            Listing{info.st_dev, info.st_ino, info.st_mtim, settledSince(info.st_mtim), {}};
        entry.name = name;
        entry.found = scanFor(folder, name);
        return entry.found;
    }

    // The entry named like `name` ignoring ASCII case, read straight from the folder: of names
    // that differ only in case, the first in name order, as a listing would give.
    static std::optional<std::string> scanFor(const fs::path& folder, const std::string& name) {
        std::optional<std::string> best;
        std::unique_ptr<DIR, FolderCloser> entries(::opendir(folder.c_str()));
        while (const dirent* entry = entries ? ::readdir(entries.get()) : nullptr) {
            const std::string_view actual(entry->d_name);
            if (actual == "." || actual == ".." || !EqualsIgnoringAsciiCase(actual, name))
                continue;
            if (!best || actual < *best)
                best = std::string(actual);
        }
        return best;
    }

    static constexpr std::size_t kMaxFolders = 64;
    std::mutex lock_;
    std::unordered_map<std::string, Listing> listings_;
    std::unordered_map<std::string, SingleName> single_;
};

FolderListings& folderListings() {
    static FolderListings instance;
    return instance;
}

// The entry of `folder` named like `name` ignoring ASCII case; the exact name wins.
std::optional<std::string> findIgnoringCase(const fs::path& folder, const std::string& name) {
    std::error_code error;
    if (fs::exists(folder / name, error))
        return name;
    return folderListings().find(folder, name);
}

fs::path resolveBelow(const fs::path& base, const std::vector<std::string>& components,
                      std::size_t first) {
    fs::path exact = base;
    for (std::size_t i = first; i < components.size(); ++i)
        exact /= components[i];
    std::error_code error;
    if (fs::exists(exact, error))
        return exact;
    // Mostly only the file itself is missing or differs in case (a cache copied without its
    // files has thousands of these): when its folder exists as written, every folder on the
    // way would be found under its own name, so only the last name needs looking up.
    if (components.size() > first) {
        fs::path folder = base;
        for (std::size_t i = first; i + 1 < components.size(); ++i)
            folder /= components[i];
        if (fs::exists(folder, error)) {
            const std::optional<std::string> found = findIgnoringCase(folder, components.back());
            return folder / (found ? *found : components.back());
        }
    }
    fs::path resolved = base;
    bool searching = true;
    for (std::size_t i = first; i < components.size(); ++i) {
        std::optional<std::string> found;
        if (searching)
            found = findIgnoringCase(resolved, components[i]);
        searching = found.has_value();
        resolved /= found ? *found : components[i];
    }
    return resolved;
}

bool startsWithIgnoringCase(const std::vector<std::string>& path,
                            const std::vector<std::string>& prefix) {
    if (path.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (!EqualsIgnoringAsciiCase(path[i], prefix[i]))
            return false;
    }
    return true;
}

// The components of `path` below `base`, both lexically normal; nullopt when not below it.
std::optional<std::vector<std::string>> componentsBelow(const fs::path& base,
                                                        const fs::path& path) {
    const fs::path normalBase = base.lexically_normal();
    const fs::path normalPath = path.lexically_normal();
    auto b = normalBase.begin();
    auto p = normalPath.begin();
    for (; b != normalBase.end(); ++b, ++p) {
        if (b->empty())
            continue; // the trailing "" of a base that ends with a separator
        if (p == normalPath.end() || *p != *b)
            return std::nullopt;
    }
    std::vector<std::string> rest;
    for (; p != normalPath.end(); ++p) {
        const std::string part = p->string();
        if (part == "..")
            return std::nullopt;
        if (!part.empty() && part != ".")
            rest.push_back(part);
    }
    return rest;
}

std::string joinWindows(std::string head, const std::vector<std::string>& components) {
    for (const std::string& part : components) {
        if (head.empty() || head.back() != '\\')
            head += '\\';
        head += part;
    }
    return head;
}

} // namespace

ProfileRoot CurrentProfile() {
    ProfileRoot root;
    const std::string profile = environment("ZEZUVUR_PROFILE");
    if (!profile.empty()) {
        // Absolute, so that a relative setting such as "." still names the folder.
        std::error_code error;
        fs::path absolute = fs::absolute(profile, error);
        root.hostFolder = (error ? fs::path(profile) : absolute).lexically_normal();
        fs::path named = root.hostFolder;
        if (!named.has_filename())
            named = named.parent_path();
        root.windowsFolder = "C:\\Users\\" + named.filename().string();
        return root;
    }
    std::string prefix = environment("WINEPREFIX");
    if (prefix.empty())
        prefix = homeFolder() + "/.wine";
    const std::string user = userName();
    root.driveRoot = (fs::path(prefix) / "drive_c").lexically_normal();
    root.hostFolder = root.driveRoot / "users" / user;
    root.windowsFolder = "C:\\users\\" + user;
    return root;
}

std::optional<fs::path> HostPathFromWindows(std::string_view windowsPath) {
    return HostPathFromWindows(CurrentProfile(), windowsPath);
}

std::optional<fs::path> HostPathFromWindows(const ProfileRoot& profile,
                                            std::string_view windowsPath) {
    auto path = parseAbsolute(windowsPath);
    if (!path || path->drive != 'c')
        return std::nullopt;
    if (!profile.driveRoot.empty())
        return resolveBelow(profile.driveRoot, path->components, 0);
    auto root = parseAbsolute(profile.windowsFolder);
    if (!root || !startsWithIgnoringCase(path->components, root->components))
        return std::nullopt;
    return resolveBelow(profile.hostFolder, path->components, root->components.size());
}

std::string RebaseOnProfile(const ProfileRoot& profile, std::string_view windowsPath) {
    auto isSeparator = [](char c) { return c == '\\' || c == '/'; };
    if (windowsPath.size() < 3 || windowsPath[1] != ':' || !isSeparator(windowsPath[2]))
        return std::string(windowsPath);
    auto componentEnd = [&](std::size_t start) {
        std::size_t end = start;
        while (end < windowsPath.size() && !isSeparator(windowsPath[end]))
            ++end;
        return end;
    };
    const std::size_t usersEnd = componentEnd(3);
    const std::string_view users = windowsPath.substr(3, usersEnd - 3);
    if (usersEnd >= windowsPath.size() ||
        (!EqualsIgnoringAsciiCase(users, "Users") &&
         !EqualsIgnoringAsciiCase(users, "Documents and Settings")))
        return std::string(windowsPath);
    const std::size_t userEnd = componentEnd(usersEnd + 1);
    const std::string_view user = windowsPath.substr(usersEnd + 1, userEnd - usersEnd - 1);
    if (user.empty() || user == "." || user == "..")
        return std::string(windowsPath);
    std::string rebased = profile.windowsFolder;
    while (!rebased.empty() && rebased.back() == '\\')
        rebased.pop_back();
    rebased.append(windowsPath.substr(userEnd));
    return rebased;
}

std::optional<std::string> ChildNameIgnoringCase(const fs::path& folder, const std::string& name) {
    return findIgnoringCase(folder, name);
}

std::optional<std::string> WindowsPathFromHost(const ProfileRoot& profile,
                                               const fs::path& hostPath) {
    if (auto below = componentsBelow(profile.hostFolder, hostPath))
        return joinWindows(profile.windowsFolder, *below);
    if (!profile.driveRoot.empty()) {
        if (auto below = componentsBelow(profile.driveRoot, hostPath))
            return joinWindows("C:\\", *below);
    }
    return std::nullopt;
}

} // namespace platform
