#pragma once
// What a search walks: containers, each with a prefix and a kind, each yielding its entries in
// its own order. The cache calls know nothing of how a container is stored. An index.dat file
// holds one container; a database file holds several, each reached by its own location (the
// same file, another container name).

#include "platform/WinTypes.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform::urlcache {

enum class ContainerKind { Content, Cookies, History, PeriodicHistory, Other };

// How the file of a container stores it.
enum class ContainerFormat { IndexDat, WebCache };

// Where a container lies and what it is.
struct ContainerLocation {
    ContainerKind kind = ContainerKind::Content;
    std::string prefix; // "", "Cookie:", "Visited:", ":yyyymmddyyyymmdd: ", or another's own
    std::filesystem::path file; // the host path of the file that holds it
    std::string windowsFolder;  // the container folder as programs see it, no trailing '\'
    ContainerFormat format = ContainerFormat::IndexDat;
    std::string name; // the container's name inside a file that holds several
};

// One entry as the cache calls hand it out. Its views point into the container that yielded it
// and stay valid while that container lives. A string the container does not hold intact is
// nullopt.
struct CacheEntry {
    std::optional<std::string_view> url;
    std::string_view fileFolder; // the folder of the local file, with its trailing '\'
    std::optional<std::string_view> fileName;
    std::optional<std::string_view> headerInfo; // headerInfoSize bytes, may hold NULs
    std::uint32_t headerInfoSize = 0;
    std::optional<std::string_view> extension;
    std::uint32_t entryType = 0;
    std::uint32_t useCount = 0;
    std::uint32_t hitRate = 0;
    std::uint32_t exemptDelta = 0;
    std::uint64_t size = 0;
    win::FILETIME lastModified;
    win::FILETIME expireTime;
    win::FILETIME lastAccess;
    win::FILETIME lastSync;
};

class Container {
public:
    virtual ~Container() = default;

    virtual const ContainerLocation& location() const = 0;
    // The next entry in the container's order; nullopt once every entry was yielded. Entries
    // the container cannot read are skipped.
    virtual std::optional<CacheEntry> nextEntry() = 0;
};

// The container at `location`, read from its file; null when the file cannot be read or holds
// no such container.
std::unique_ptr<Container> OpenContainer(const ContainerLocation& location);

} // namespace platform::urlcache
