#include "platform/urlcache/UrlCacheProfile.h"

#include "platform/AsciiCase.h"
#include "platform/urlcache/SkippedContainers.h"
#include "platform/urlcache/WebCache.h"

#include <algorithm>
#include <string>
#include <system_error>

namespace platform::urlcache {

namespace {

namespace fs = std::filesystem;

constexpr const char* kIndexFileName = "index.dat";

// The entry of `folder` named `name` ignoring case: the exact name first, else the first match
// in name order. A search looks for containers twice, and a cookie folder may hold a hundred
// thousand files beside its index.dat: the folder's listing is read once while it is unchanged.
std::optional<fs::path> childIgnoringCase(const fs::path& folder, std::string_view name) {
    auto found = ChildNameIgnoringCase(folder, std::string(name));
    if (!found)
        return std::nullopt;
    return folder / *found;
}

std::optional<fs::path> resolveFolder(const fs::path& base, std::string_view relative) {
    fs::path current = base;
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        auto next = childIgnoringCase(current, relative.substr(start, end - start));
        if (!next)
            return std::nullopt;
        current = std::move(*next);
        start = end + 1;
    }
    std::error_code error;
    if (!fs::is_directory(current, error))
        return std::nullopt;
    return current;
}

std::optional<fs::path> indexFileIn(const fs::path& folder) {
    auto index = childIgnoringCase(folder, kIndexFileName);
    std::error_code error;
    if (!index || !fs::is_regular_file(*index, error))
        return std::nullopt;
    return index;
}

const char* prefixOf(ContainerKind kind) {
    switch (kind) {
    case ContainerKind::Content:
        return "";
    case ContainerKind::Cookies:
        return "Cookie:";
    case ContainerKind::History:
    case ContainerKind::PeriodicHistory:
        return "Visited:";
    case ContainerKind::Other:
        break;
    }
    return "";
}

bool isDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

std::optional<std::string> PeriodicHistoryPrefix(std::string_view folderName) {
    constexpr std::string_view kStem = "mshist01";
    if (folderName.size() != kStem.size() + 16 ||
        !EqualsIgnoringAsciiCase(folderName.substr(0, kStem.size()), kStem))
        return std::nullopt;
    const std::string_view dates = folderName.substr(kStem.size());
    if (!isDigits(dates))
        return std::nullopt;
    return ":" + std::string(dates) + ": ";
}

namespace {

std::vector<std::pair<std::string, fs::path>> periodicContainersIn(const fs::path& historyFolder) {
    std::vector<std::pair<std::string, fs::path>> found;
    std::error_code error;
    for (fs::directory_iterator it(historyFolder, error), end; !error && it != end;
         it.increment(error)) {
        auto prefix = PeriodicHistoryPrefix(it->path().filename().string());
        std::error_code kindError;
        if (!prefix || !it->is_directory(kindError))
            continue;
        if (auto index = indexFileIn(it->path()))
            found.emplace_back(*prefix, *index);
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.second.parent_path().filename() < b.second.parent_path().filename();
    });
    // Names hold the dates they cover: past the bound, the earliest ones are left out.
    if (found.size() > kMaxPeriodicContainers) {
        const auto kept = found.end() - kMaxPeriodicContainers;
        for (auto it = found.begin(); it != kept; ++it)
            NoteSkippedContainer(it->second,
                                 "is one of more than " + std::to_string(kMaxPeriodicContainers) +
                                     " periodic history containers; the " +
                                     std::to_string(kMaxPeriodicContainers) + " latest are read");
        found.erase(found.begin(), kept);
    }
    return found;
}

void addContainer(std::vector<ContainerLocation>& out, const ProfileRoot& profile,
                  ContainerKind kind, std::string prefix, fs::path index) {
    auto windowsFolder = WindowsPathFromHost(profile, index.parent_path());
    if (!windowsFolder)
        return;
    out.push_back({kind,
                   std::move(prefix),
                   std::move(index),
                   std::move(*windowsFolder),
                   ContainerFormat::IndexDat,
                   {}});
}

// Whether a folder of that kind can hold a container the pattern selects. Periodic history
// containers live in the history folders, under prefixes that start with ':'.
bool mayHoldPrefix(ContainerKind kind, const char* pattern) {
    if (pattern == nullptr)
        return true;
    const std::string_view wanted(pattern);
    if (prefixOf(kind) == wanted)
        return true;
    return kind == ContainerKind::History && wanted.starts_with(':');
}

} // namespace

const std::vector<LayoutFolder>& KnownContainerFolders() {
    static const std::vector<LayoutFolder> folders = {
        {ContainerKind::Content, "AppData/Local/Microsoft/Windows/INetCache/Content.IE5"},
        {ContainerKind::Content,
         "AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5"},
        {ContainerKind::Content,
         "AppData/Local/Microsoft/Windows/Temporary Internet Files/Low/Content.IE5"},
        {ContainerKind::Content, "Local Settings/Temporary Internet Files/Content.IE5"},
        {ContainerKind::Cookies, "AppData/Local/Microsoft/Windows/INetCookies"},
        {ContainerKind::Cookies, "AppData/Roaming/Microsoft/Windows/Cookies"},
        {ContainerKind::Cookies, "AppData/Roaming/Microsoft/Windows/Cookies/Low"},
        {ContainerKind::Cookies, "Cookies"},
        {ContainerKind::History, "AppData/Local/Microsoft/Windows/History/History.IE5"},
        {ContainerKind::History, "AppData/Local/Microsoft/Windows/History/Low/History.IE5"},
        {ContainerKind::History, "Local Settings/History/History.IE5"},
    };
    return folders;
}

std::vector<ContainerLocation> FindContainers(const ProfileRoot& profile, const char* pattern) {
    std::vector<ContainerLocation> containers;
    std::vector<fs::path> seen;
    for (const LayoutFolder& layout : KnownContainerFolders()) {
        // A cookie folder holds a file per cookie: listing it for a content search is waste.
        if (!mayHoldPrefix(layout.kind, pattern))
            continue;
        auto folder = resolveFolder(profile.hostFolder, layout.relativeFolder);
        if (!folder)
            continue;
        auto normal = folder->lexically_normal();
        if (std::find(seen.begin(), seen.end(), normal) != seen.end())
            continue;
        seen.push_back(normal);
        if (auto index = indexFileIn(*folder))
            addContainer(containers, profile, layout.kind, prefixOf(layout.kind), *index);
        if (layout.kind != ContainerKind::History)
            continue;
        for (auto& [prefix, index] : periodicContainersIn(*folder))
            addContainer(containers, profile, ContainerKind::PeriodicHistory, prefix, index);
    }
    auto database = FindWebCacheContainers(profile);
    std::move(database.begin(), database.end(), std::back_inserter(containers));
    return containers;
}

std::vector<ContainerLocation> SelectContainers(std::vector<ContainerLocation> containers,
                                                const char* pattern) {
    if (pattern == nullptr)
        return containers;
    const std::string_view wanted(pattern);
    std::erase_if(containers, [&](const ContainerLocation& c) { return c.prefix != wanted; });
    return containers;
}

} // namespace platform::urlcache
