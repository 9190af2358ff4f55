#pragma once
// Which index.dat containers a user profile holds, and in which order a search visits them.
//
// Order (fixed): content, then cookies, then history containers; within each kind the layouts
// Wine 8, Windows Vista/7, Vista/7 "Low", Windows 2000/XP; the periodic history containers
// (MSHist01...) of a history folder follow it, by folder name. A folder reached by more than one
// layout is listed once, at its first place.

#include "platform/PathMapper.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace platform::urlcache {

// A history folder holds a periodic container per day or week kept: a few dozen at most. Past
// this many, only the latest are read and the others are noted as skipped (SkippedContainers.h).
constexpr std::size_t kMaxPeriodicContainers = 64;

enum class ContainerKind { Content, Cookies, History, PeriodicHistory };

struct ContainerLocation {
    ContainerKind kind = ContainerKind::Content;
    std::string prefix;              // "", "Cookie:", "Visited:", or ":yyyymmddyyyymmdd: "
    std::filesystem::path indexFile; // the host path of its index.dat
    std::string windowsFolder;       // the container folder as programs see it, no trailing '\'
};

// Every container of the profile, in the order above. A missing profile or folder, or an
// index.dat that is not a regular file, contributes nothing. Components match ignoring case.
// With a pattern, folders of kinds that cannot hold a container of that prefix are not looked
// at (the result may still hold others: SelectContainers picks the exact ones).
std::vector<ContainerLocation> FindContainers(const ProfileRoot& profile,
                                              const char* pattern = nullptr);

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
