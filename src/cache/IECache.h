#pragma once
// TIECache: the program's one reader of the URL cache. It runs one enumeration at a time over
// the cache, chosen by a search pattern and a set of entry kinds, copies each entry into its own
// record (EntryInfo) and fires OnEntry once per entry.

#include "platform/WinTypes.h"
#include "platform/urlcache/UrlCacheApi.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Days since 30 December 1899 in local time, the time of day as the fraction.
using TDateTime = double;

class TObject {
public:
    virtual ~TObject() = default;
};

// One URL cache entry. A copy owns its texts.
struct TEntryInfo {
    std::string SourceUrlName;
    std::string LocalFileName;
    std::uint32_t EntryType = 0;
    std::uint32_t UseCount = 0;
    std::uint32_t HitRate = 0;
    std::uint32_t Size = 0; // low 32 bits of the size
    TDateTime LastModifiedTime = 0;
    TDateTime ExpireTime = 0;
    TDateTime LastAccessTime = 0;
    TDateTime LastSyncTime = 0;
    std::string HeaderInfo; // up to the first NUL
    std::string FileExtension;
    std::uint32_t ExemptDelta = 0;
};

enum class TFilterOption : std::uint8_t {
    NORMAL_ENTRY,
    STABLE_ENTRY,
    STICKY_ENTRY,
    COOKIE_ENTRY,
    URLHISTORY_ENTRY,
    TRACK_OFFLINE_ENTRY,
    TRACK_ONLINE_ENTRY,
    SPARSE_ENTRY,
    OCX_ENTRY,
};
constexpr int FilterOptionCount = 9;

// The entry-type flag bit of each kind, by ordinal.
extern const std::uint32_t FilterOptionFlags[FilterOptionCount];

// A set of TFilterOption; bit n stands for ordinal n.
class TFilterOptions {
public:
    constexpr TFilterOptions() = default;
    constexpr explicit TFilterOptions(std::uint16_t bits) : bits_(bits & 0x1FF) {}
    constexpr TFilterOptions(std::initializer_list<TFilterOption> kinds) {
        for (TFilterOption kind : kinds)
            bits_ |= bitOf(kind);
    }
    static constexpr TFilterOptions All() { return TFilterOptions(0x1FF); }

    constexpr bool contains(TFilterOption kind) const { return (bits_ & bitOf(kind)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }
    constexpr std::uint16_t bits() const { return bits_; }
    constexpr bool operator==(const TFilterOptions&) const = default;

private:
    static constexpr std::uint16_t bitOf(TFilterOption kind) {
        return static_cast<std::uint16_t>(1u << static_cast<unsigned>(kind));
    }
    std::uint16_t bits_ = 0;
};

enum TSearchPattern { spAll, spCookies, spHistory, spUrl };

// The search string each pattern gives to the cache: null for spAll, "" for spUrl.
extern const char* const SearchPatternStrings[4];

class TIECache;
using TOnEntryEvent = std::function<void(TObject* Sender, bool& Cancel)>;
using TOnGroupEvent = std::function<void(TObject* Sender, std::int64_t GroupID, bool& Cancel)>;

// One cache group. Held by the component but never filled.
struct TGroupInfo {
    std::uint32_t dwGroupSize = 0;
    std::uint32_t dwGroupFlags = 0;
    std::uint32_t dwGroupType = 0;
    std::uint32_t dwDiskUsage = 0;
    std::uint32_t dwDiskQuota = 0;
    std::string szGroupName;
};

// Binds to the cache library by name. True once every needed name has been found; a failure is
// not final, and the next call tries again.
bool LoadCacheLibrary();

// UTC time stamp to a local date-time value; 0 when any step fails.
TDateTime CacheTimeToDateTime(const win::FILETIME& time);

class TIECache : public TObject {
public:
    explicit TIECache(TObject* AOwner = nullptr);
    ~TIECache() override;
    TIECache(const TIECache&) = delete;
    TIECache& operator=(const TIECache&) = delete;

    // Runs one whole enumeration, firing OnEntry per entry. The search is closed on every way
    // out, also when a handler throws.
    void RetrieveEntries(std::int64_t GroupID);
    // 0 when EntryInfo now holds an entry; 2 when the library is not bound; otherwise the
    // platform's error code for the failed fetch.
    std::uint32_t FindFirstEntry(std::int64_t GroupID);
    std::uint32_t FindNextEntry();

    const TEntryInfo& EntryInfo() const { return FEntryInfo; }
    bool LibraryFound() const;

    TSearchPattern SearchPattern() const { return FSearchPattern; }
    void SetSearchPattern(TSearchPattern value) { FSearchPattern = value; }
    TFilterOptions FilterOptions() const { return FFilterOptions; }
    void SetFilterOptions(TFilterOptions value);
    std::uint32_t FilterMask() const { return FFilterMask; }

    const TOnEntryEvent& OnEntry() const { return FOnEntry; }
    void SetOnEntry(TOnEntryEvent handler) { FOnEntry = std::move(handler); }
    const TOnGroupEvent& OnGroup() const { return FOnGroup; }
    void SetOnGroup(TOnGroupEvent handler) { FOnGroup = std::move(handler); }

private:
    void UpdateFilterMask();
    void ClearEntryInfo();
    // block: the bytes the cache filled; the entry's texts are read only inside them.
    void FillEntryInfo(const win::INTERNET_CACHE_ENTRY_INFOA& info, const std::byte* block,
                       std::size_t blockSize);
    void FireOnEntry();
    void CloseSearch();

    TSearchPattern FSearchPattern = spAll;
    TFilterOptions FFilterOptions;
    std::uint32_t FFilterMask = 0;
    TOnEntryEvent FOnEntry;
    TOnGroupEvent FOnGroup;
    win::HANDLE FSearchHandle = nullptr;
    bool FCancel = false;
    TEntryInfo FEntryInfo;
    TGroupInfo FGroupInfo;
};

namespace IECacheTesting {
// Forgets a successful binding, as a fresh process would, so a test can bind another module.
void ResetCacheLibraryLoaded();

// The three enumeration calls the component makes, replaceable so that a test can watch them
// (typically by forwarding to the defaults).
struct UrlCacheCalls {
    decltype(&win::FindFirstUrlCacheEntryExA) findFirst;
    decltype(&win::FindNextUrlCacheEntryExA) findNext;
    decltype(&win::FindCloseUrlCache) findClose;
};
// Installs `calls` and returns the ones they replace.
UrlCacheCalls SetUrlCacheCalls(UrlCacheCalls calls);
UrlCacheCalls DefaultUrlCacheCalls();
} // namespace IECacheTesting
