#include "IECache.h"

#include "platform/LastError.h"
#include "platform/ModuleLoader.h"
#include "platform/TimeConversion.h"
#include "platform/urlcache/UrlCacheApi.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

const std::uint32_t FilterOptionFlags[FilterOptionCount] = {
    win::NORMAL_CACHE_ENTRY,       win::STABLE_CACHE_ENTRY,     win::STICKY_CACHE_ENTRY,
    win::COOKIE_CACHE_ENTRY,       win::URLHISTORY_CACHE_ENTRY, win::TRACK_OFFLINE_CACHE_ENTRY,
    win::TRACK_ONLINE_CACHE_ENTRY, win::SPARSE_CACHE_ENTRY,     win::OCX_CACHE_ENTRY,
};

const char* const SearchPatternStrings[4] = {nullptr, "Cookie:", "Visited:", ""};

namespace {

// Process-wide binding state. Written without a lock: in practice only at program start.
bool CacheLibraryLoaded = false;
win::FARPROC FindFirstUrlCacheGroupAddress = nullptr;
win::FARPROC FindNextUrlCacheGroupAddress = nullptr;
win::FARPROC GetUrlCacheGroupAttributeAddress = nullptr;
win::FARPROC SetUrlCacheGroupAttributeAddress = nullptr;

IECacheTesting::UrlCacheCalls Calls = {&win::FindFirstUrlCacheEntryExA,
                                       &win::FindNextUrlCacheEntryExA, &win::FindCloseUrlCache};

constexpr win::DWORD LibraryNotBound = win::ERROR_FILE_NOT_FOUND;

// Resolves the five names in order, keeping each group address as soon as it is found; stops
// at the first missing name.
bool ResolveCacheFunctions(win::HMODULE module) {
    struct Slot {
        const char* name;
        win::FARPROC* address;
    };
    const Slot slots[] = {
        {"FindFirstUrlCacheGroup", &FindFirstUrlCacheGroupAddress},
        {"FindNextUrlCacheGroup", &FindNextUrlCacheGroupAddress},
        {"GetUrlCacheGroupAttributeA", &GetUrlCacheGroupAttributeAddress},
        {"SetUrlCacheGroupAttributeA", &SetUrlCacheGroupAttributeAddress},
    };
    for (const Slot& slot : slots) {
        win::FARPROC address = win::GetProcAddress(module, slot.name);
        if (address == nullptr)
            return false;
        *slot.address = address;
    }
    // The enumeration functions are linked directly; this only proves the module offers them.
    return win::GetProcAddress(module, "FindFirstUrlCacheEntryExA") != nullptr;
}

// The four texts of an entry point into the block the cache filled. A text is read only inside
// that block, so a missing NUL or a stray pointer cannot take the copy past its end.
std::string_view TextInBlock(const char* text, const std::byte* block, std::size_t blockSize) {
    if (text == nullptr || block == nullptr)
        return {};
    const auto start = reinterpret_cast<std::uintptr_t>(block);
    const auto at = reinterpret_cast<std::uintptr_t>(text);
    if (at < start || at >= start + blockSize)
        return {};
    const std::size_t room = start + blockSize - at;
    const void* nul = std::memchr(text, '\0', room);
    return {text, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : room};
}

// A local time stamp as days since 30 December 1899. Every entry has four stamps, so this is
// plain arithmetic on the tick count rather than a detour through calendar fields: whole days
// since 1 January 1601 shifted to the epoch, the milliseconds of the day as the fraction.
constexpr std::uint64_t TicksPerMillisecond = 10'000;
constexpr std::uint64_t MillisecondsPerDay = 86'400'000;
constexpr std::int64_t DaysFrom1601To1899Epoch = 109'205; // 1 Jan 1601 to 30 Dec 1899
constexpr std::uint64_t DaysFrom1601To10000 = 3'067'671;  // 1 Jan 1601 to 1 Jan 10000

bool LocalTicksToDateTime(std::uint64_t ticks, TDateTime& value) {
    // The stamp's year must lie in 1 to 9999 (it is never before 1601).
    const std::uint64_t milliseconds = ticks / TicksPerMillisecond;
    const std::uint64_t days = milliseconds / MillisecondsPerDay;
    if (ticks >> 63 != 0 || days >= DaysFrom1601To10000)
        return false;
    const std::int64_t sinceEpoch = static_cast<std::int64_t>(days) - DaysFrom1601To1899Epoch;
    // Whole milliseconds below 2^53 are exact doubles, so this is the fraction to the last bit.
    const double fraction =
        static_cast<double>(milliseconds % MillisecondsPerDay) / double(MillisecondsPerDay);
    value = sinceEpoch >= 0 ? static_cast<double>(sinceEpoch) + fraction
                            : static_cast<double>(sinceEpoch) - fraction;
    return true;
}

// A heap block of exactly the size the cache asked for; none for a size of 0. Memory from
// new[] is aligned for the entry structure that the cache writes at its start.
class EntryBlock {
public:
    explicit EntryBlock(win::DWORD size)
        : size_(size), bytes_(size ? std::make_unique_for_overwrite<std::byte[]>(size) : nullptr) {}
    win::INTERNET_CACHE_ENTRY_INFOA* entry() {
        return reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(bytes_.get());
    }
    const std::byte* bytes() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    // The cache can only have filled a structure when the block holds one.
    bool holdsEntry() const { return size_ >= sizeof(win::INTERNET_CACHE_ENTRY_INFOA); }

private:
    std::size_t size_;
    std::unique_ptr<std::byte[]> bytes_;
};

// Binds once while the program starts, before any component exists.
struct BindAtStart {
    BindAtStart() { LoadCacheLibrary(); }
} const bindAtStart;

} // namespace

bool LoadCacheLibrary() {
    if (CacheLibraryLoaded)
        return true;
    bool found = false;
    if (win::HMODULE module = win::LoadLibraryA("wininet.dll")) {
        try {
            found = ResolveCacheFunctions(module);
        } catch (...) {
            found = false;
        }
    }
    CacheLibraryLoaded = found;
    return found;
}

TDateTime CacheTimeToDateTime(const win::FILETIME& time) {
    win::FILETIME local;
    if (!win::FileTimeToLocalFileTime(&time, &local))
        return 0;
    TDateTime value = 0;
    if (!LocalTicksToDateTime(std::uint64_t{local.dwHighDateTime} << 32 | local.dwLowDateTime,
                              value))
        return 0;
    return value;
}

TIECache::TIECache(TObject* /*AOwner*/) {
    ClearEntryInfo();
    SetFilterOptions({TFilterOption::NORMAL_ENTRY, TFilterOption::STICKY_ENTRY,
                      TFilterOption::COOKIE_ENTRY, TFilterOption::URLHISTORY_ENTRY,
                      TFilterOption::TRACK_OFFLINE_ENTRY, TFilterOption::TRACK_ONLINE_ENTRY});
}

TIECache::~TIECache() {
    // Only a direct FindFirstEntry can leave a search open; RetrieveEntries always closes its own.
    if (FSearchHandle != nullptr)
        CloseSearch();
}

bool TIECache::LibraryFound() const {
    return LoadCacheLibrary();
}

void TIECache::SetFilterOptions(TFilterOptions value) {
    FFilterOptions = value;
    UpdateFilterMask();
}

void TIECache::UpdateFilterMask() {
    FFilterMask = 0;
    if (FFilterOptions.empty())
        return;
    for (int ordinal = 0; ordinal < FilterOptionCount; ++ordinal)
        if (FFilterOptions.contains(static_cast<TFilterOption>(ordinal)))
            FFilterMask += FilterOptionFlags[ordinal];
}

void TIECache::ClearEntryInfo() {
    if (!LoadCacheLibrary())
        return;
    FEntryInfo = TEntryInfo{};
}

void TIECache::FillEntryInfo(const win::INTERNET_CACHE_ENTRY_INFOA& info, const std::byte* block,
                             std::size_t blockSize) {
    if (!LoadCacheLibrary())
        return;
    FEntryInfo.SourceUrlName.assign(TextInBlock(info.lpszSourceUrlName, block, blockSize));
    FEntryInfo.LocalFileName.assign(TextInBlock(info.lpszLocalFileName, block, blockSize));
    FEntryInfo.EntryType = info.CacheEntryType;
    FEntryInfo.UseCount = info.dwUseCount;
    FEntryInfo.HitRate = info.dwHitRate;
    FEntryInfo.Size = info.dwSizeLow;
    FEntryInfo.LastModifiedTime = CacheTimeToDateTime(info.LastModifiedTime);
    FEntryInfo.ExpireTime = CacheTimeToDateTime(info.ExpireTime);
    FEntryInfo.LastAccessTime = CacheTimeToDateTime(info.LastAccessTime);
    FEntryInfo.LastSyncTime = CacheTimeToDateTime(info.LastSyncTime);
    FEntryInfo.HeaderInfo.assign(TextInBlock(info.lpHeaderInfo, block, blockSize));
    FEntryInfo.FileExtension.assign(TextInBlock(info.lpszFileExtension, block, blockSize));
    FEntryInfo.ExemptDelta = info.dwExemptDelta;
}

std::uint32_t TIECache::FindFirstEntry(std::int64_t GroupID) {
    if (!LoadCacheLibrary())
        return LibraryNotBound;
    // A search left open by an earlier direct call would otherwise never be closed.
    if (FSearchHandle != nullptr)
        CloseSearch();
    const char* pattern = SearchPatternStrings[FSearchPattern];
    win::DWORD size = 0;
    // Asks only for the size the first entry needs; the handle of this call means nothing.
    Calls.findFirst(pattern, 0, FFilterMask, GroupID, nullptr, &size, nullptr, nullptr, nullptr);
    EntryBlock block(size);
    FSearchHandle = Calls.findFirst(pattern, 0, FFilterMask, GroupID, block.entry(), &size, nullptr,
                                    nullptr, nullptr);
    if (FSearchHandle == nullptr)
        return win::GetLastError();
    if (!block.holdsEntry())
        return win::ERROR_INSUFFICIENT_BUFFER;
    FillEntryInfo(*block.entry(), block.bytes(), block.size());
    return win::ERROR_SUCCESS;
}

std::uint32_t TIECache::FindNextEntry() {
    if (!LoadCacheLibrary())
        return LibraryNotBound;
    win::DWORD size = 0;
    Calls.findNext(FSearchHandle, nullptr, &size, nullptr, nullptr, nullptr);
    EntryBlock block(size);
    if (!Calls.findNext(FSearchHandle, block.entry(), &size, nullptr, nullptr, nullptr))
        return win::GetLastError();
    if (!block.holdsEntry())
        return win::ERROR_INSUFFICIENT_BUFFER;
    FillEntryInfo(*block.entry(), block.bytes(), block.size());
    return win::ERROR_SUCCESS;
}

void TIECache::FireOnEntry() {
    // A copy, so that a handler may rebind OnEntry without destroying itself mid-call.
    if (TOnEntryEvent handler = FOnEntry)
        handler(this, FCancel);
}

void TIECache::CloseSearch() {
    Calls.findClose(FSearchHandle);
    // A closed handle must never reach the cache again.
    FSearchHandle = nullptr;
}

void TIECache::RetrieveEntries(std::int64_t GroupID) {
    if (!LoadCacheLibrary())
        return;
    FCancel = false;
    // Closes the search on every way out, including a handler that throws.
    struct CloseOnExit {
        TIECache& cache;
        ~CloseOnExit() { cache.CloseSearch(); }
    } closeOnExit{*this};
    std::uint32_t result = FindFirstEntry(GroupID);
    if (result == win::ERROR_SUCCESS)
        FireOnEntry();
    while (result == win::ERROR_SUCCESS && !FCancel) {
        result = FindNextEntry();
        if (result == win::ERROR_SUCCESS)
            FireOnEntry();
    }
}

namespace IECacheTesting {

void ResetCacheLibraryLoaded() {
    CacheLibraryLoaded = false;
    FindFirstUrlCacheGroupAddress = nullptr;
    FindNextUrlCacheGroupAddress = nullptr;
    GetUrlCacheGroupAttributeAddress = nullptr;
    SetUrlCacheGroupAttributeAddress = nullptr;
}

UrlCacheCalls SetUrlCacheCalls(UrlCacheCalls calls) {
    UrlCacheCalls previous = Calls;
    Calls = calls;
    return previous;
}

UrlCacheCalls DefaultUrlCacheCalls() {
    return {&win::FindFirstUrlCacheEntryExA, &win::FindNextUrlCacheEntryExA,
            &win::FindCloseUrlCache};
}

} // namespace IECacheTesting
