#pragma once
// The WebCache database of Windows 8, 8.1, 10 and 11 (WebCacheV01.dat, early previews
// WebCacheV24.dat) as URL cache containers beside a profile's index.dat ones.
//
// Which containers, in this order (a search visits them after every index.dat container):
//   1. one per row of the Containers table, by ContainerId; every partition (main "M",
//      low-integrity "L", app containers) is included. The row's Name gives the prefix a search
//      pattern selects: Content "" (content), Cookies "Cookie:", History "Visited:",
//      MSHist01yyyymmddyyyymmdd ":yyyymmddyyyymmdd: " (periodic history, like the MSHist01
//      folders), any other name "<Name>:";
//   2. one cookie container ("Cookie:") per CookieEntryEx_N table, by N: the cookies the
//      database holds itself (the Cookies containers of Windows 10 stay empty).
// Within a container, entries come in the order of the rows of its table.
//
// A Container_N row becomes an entry as an index.dat URL record does:
//
// | column                | type        | goes to (`INTERNET_CACHE_ENTRY_INFOA`)                  |
// |-----------------------|-------------|---------------------------------------------------------|
// | Url                   | large text  | `lpszSourceUrlName`                                     |
// | Directory (container) | large text  | `lpszLocalFileName`: Directory, re-based onto the | |
// SecureDirectories     | large text  | profile (PathMapper's RebaseOnProfile), then the         |
// | SecureDirectory (row) | uint32      | SecureDirectory-th 8-character name and '\' (an index |
// | Filename              | large text  | past the list: Directory alone), then Filename; none | |
// |             | without a Filename                                       | | Type | uint32      |
// `CacheEntryType`                                        | | AccessCount           | uint32      |
// `dwHitRate`                                             | | SyncCount             | uint32      |
// `dwUseCount`                                            | | FileSize              | int64       |
// `dwSizeLow`, `dwSizeHigh`                               | | ModifiedTime          | FILETIME    |
// `LastModifiedTime`                                      | | ExpiryTime            | FILETIME    |
// `ExpireTime`                                            | | AccessedTime          | FILETIME    |
// `LastAccessTime`                                        | | SyncTime              | FILETIME    |
// `LastSyncTime`                                          | | ResponseHeaders       | large binary|
// `lpHeaderInfo`, `dwHeaderInfoSize` (bytes as stored)    | | FileExtension         | large text  |
// `lpszFileExtension`                                     | | ExemptionDelta        | uint32      |
// `dwExemptDelta`                                         |
//
// Texts stored as UTF-16 are handed out in the ANSI code page (Utf16ToAnsi: a character the code
// page lacks becomes "?"); 8-bit texts as they are.
//
// The cookies of a CookieEntryEx_N table become one entry per (domain, path), in the order of
// their first row, as the old store kept one file per domain and path:
//
// | column        | goes to                                                              |
// |---------------|----------------------------------------------------------------------|
// | RDomain, Path | URL `Cookie:<user>@<domain><path>`, the domain's labels put back in   |
// |               | order (com.github -> github.com); <user> as the database's history    |
// |               | entries name the user, else the user folder of its Directory columns  |
// | LastModified  | `LastModifiedTime`, `LastAccessTime`: the latest of the group         |
// | Expires       | `ExpireTime`: the latest of the group                                 |
// | Name, Value   | `dwSizeLow`: their bytes summed over the group; `dwHitRate`: cookies  |
// |               | in the group                                                         |
//
// Such a cookie has no file. Its `lpszLocalFileName` is its URL: the Cookies tab shows the part
// after the last ':' ("john@github.com/"), which names domain and path, and the text is no
// Windows path (it starts with "Cookie:"), so the path mapper maps it to nothing and opening it
// or its file menu does nothing. Type: COOKIE_CACHE_ENTRY.
//
// A database is read whole once per process and kept while its file stays the same (device,
// inode, size, modification time), so every search after the first costs a stat. A dirty
// database (copied from a running system) is read as it is; what could not be read is skipped
// and counted.

#include "platform/PathMapper.h"
#include "platform/WinTypes.h"
#include "platform/ese/EseDatabase.h"
#include "platform/urlcache/Container.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform::urlcache {

// A text of an entry: where it lies in its container's `texts`.
struct WebCacheText {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    bool present = false;
};

struct WebCacheEntry {
    WebCacheText url;
    WebCacheText fileName; // cookies: the URL (see above)
    WebCacheText headerInfo;
    WebCacheText extension;
    std::uint32_t secureDirectory = 0xFFFFFFFF;
    CacheEntry numbers; // its type, counts, size and times; its texts are the ones above
};

struct WebCacheContainer {
    std::string table; // Container_N or CookieEntryEx_N: names the container inside the file
    std::string name;  // the Containers row's Name ("Cookies" for a cookie table)
    std::string partition;
    ContainerKind kind = ContainerKind::Content;
    std::string prefix;
    std::string directory; // as the database names it, without a trailing '\'; may be empty
    std::vector<std::string> secureDirectories;
    bool filesOfTheirOwn = true; // false: cookies held in the database
    std::vector<WebCacheEntry> entries;
    std::string texts; // every text of the entries, one after the other: few, large blocks

    std::optional<std::string_view> text(const WebCacheText& text) const {
        if (!text.present)
            return std::nullopt;
        return std::string_view(texts).substr(text.offset, text.size);
    }
};

// What one read of a database file found.
struct WebCacheContents {
    bool opened = false;
    std::string error; // why it could not be opened
    std::uint32_t state = 0;
    bool dirty = false;
    ese::Skipped skipped;
    std::vector<WebCacheContainer> containers;                     // in the order above
    std::unordered_map<std::string, std::size_t> containerByTable; // table name -> index above
    std::size_t containersLeftOut = 0;                             // past kMaxWebCacheContainers
};

// A real database has a few dozen containers. A hostile one may list far more; past this many
// the rest are left out (and noted), so that no search walks an unbounded list.
constexpr std::size_t kMaxWebCacheContainers = 4096;

// The database files of a profile, WebCacheV01.dat then WebCacheV24.dat: regular files only.
std::vector<std::filesystem::path> FindWebCacheFiles(const ProfileRoot& profile);

// The contents of the database at `file`, read once while the file stays the same (and the ANSI
// code page too). Null only when the file cannot be looked at.
std::shared_ptr<const WebCacheContents> ReadWebCache(const std::filesystem::path& file);

// Lets go of the databases kept for later searches, as ForgetContainerBytes does for index.dat.
void ForgetWebCacheContents();

// The same over bytes in memory, not kept (tests, fuzzing).
std::shared_ptr<const WebCacheContents> ReadWebCacheBytes(std::string bytes);

// The locations of the containers of every database of the profile, in the order above, with
// their folders re-based onto the profile.
std::vector<ContainerLocation> FindWebCacheContainers(const ProfileRoot& profile);

// The locations of one database's containers, its file named `file`.
std::vector<ContainerLocation> WebCacheLocations(const WebCacheContents& contents,
                                                 const ProfileRoot& profile,
                                                 const std::filesystem::path& file);

// One database container's entries through the container interface.
class WebCacheContainerReader final : public Container {
public:
    WebCacheContainerReader(std::shared_ptr<const WebCacheContents> contents,
                            const WebCacheContainer& container, ContainerLocation location);

    const ContainerLocation& location() const override { return location_; }
    std::optional<CacheEntry> nextEntry() override;

private:
    std::shared_ptr<const WebCacheContents> contents_;
    const WebCacheContainer& container_;
    ContainerLocation location_;
    std::string folder_;
    std::vector<std::string> secureFolders_;
    std::size_t next_ = 0;
};

// The reader of the container at `location` (format WebCache); null when the database no longer
// holds it.
std::unique_ptr<Container> OpenWebCacheContainer(const ContainerLocation& location);

} // namespace platform::urlcache
