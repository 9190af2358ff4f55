#pragma once
// Which containers a user profile holds, and in which order a search visits them.
//
// Order (fixed): content, then cookies, then history containers; within each kind the layouts
// Wine 8, Windows Vista/7, Vista/7 "Low", Windows 2000/XP; the periodic history containers
// (MSHist01...) of a history folder follow it, by folder name. A folder reached by more than one
// layout is listed once, at its first place. After every index.dat container come the
// containers of the profile's WebCache database (WebCache.h tells their order).

#include "platform/PathMapper.h"
#include "platform/urlcache/Container.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::urlcache {

// A history folder holds a periodic container per day or week kept: a few dozen at most. Past
// this many, only the latest are read and the others are noted as skipped (SkippedContainers.h).
constexpr std::size_t kMaxPeriodicContainers = 64;

// Every container of the profile, in the order above. A missing profile or folder, or an
// index.dat that is not a regular file, contributes nothing. Components match ignoring case.
// With a pattern, folders of kinds that cannot hold a container of that prefix are not looked
// at (the result may still hold others: SelectContainers picks the exact ones).
std::vector<ContainerLocation> FindContainers(const ProfileRoot& profile,
                                              const char* pattern = nullptr);

// The prefix of a periodic history container named "MSHist01" and two dates of 8 digits
// (":yyyymmddyyyymmdd: "); nullopt for any other name.
std::optional<std::string> PeriodicHistoryPrefix(std::string_view name);

// Those whose prefix equals `pattern` exactly; every container when `pattern` is null.
std::vector<ContainerLocation> SelectContainers(std::vector<ContainerLocation> containers,
                                                const char* pattern);

// The folder (relative to the profile, '/'-separated) of each layout's container of a kind.
struct LayoutFolder {
    ContainerKind kind;
    const char* relativeFolder;
};
const std::vector<LayoutFolder>& KnownContainerFolders();

} // namespace platform::urlcache
