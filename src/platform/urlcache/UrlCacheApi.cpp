#include "platform/urlcache/UrlCacheApi.h"

#include "platform/LastError.h"
#include "platform/urlcache/ContainerBytes.h"
#include "platform/urlcache/UrlCacheEntry.h"
#include "platform/urlcache/UrlCacheProfile.h"
#include "platform/urlcache/WebCache.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <unordered_map>

namespace {

using namespace platform::urlcache;
using win::DWORD;

// What identifies the files a search would read, so that a search parked after a size query is
// only reused for the very same containers in the very same state.
struct LocationStamp {
    std::string location;
    FileStamp file;
    bool operator==(const LocationStamp&) const = default;
};

std::vector<LocationStamp> stampsOf(const std::vector<ContainerLocation>& containers) {
    std::vector<LocationStamp> stamps;
    stamps.reserve(containers.size());
    for (const ContainerLocation& container : containers) {
        stamps.push_back(
            {container.file.string() + '\n' + container.windowsFolder + '\n' + container.name,
             StampOfFile(container.file).value_or(FileStamp{})});
    }
    return stamps;
}

struct SearchKey {
    bool allContainers = true;
    std::string pattern;
    DWORD filter = 0;
    win::GROUPID group = 0;
    std::vector<LocationStamp> files;
    bool operator==(const SearchKey&) const = default;
};

class Search {
public:
    // Held while a call works on the search: two threads that share a handle take turns.
    std::mutex lock;

    Search(std::vector<ContainerLocation> containers, DWORD filter, win::GROUPID group)
        : containers_(std::move(containers)), filter_(filter), group_(group) {}

    // Makes the next selected entry the pending one. False when there is none left.
    bool preparePending() {
        if (pending_)
            return true;
        if (filter_ == 0 || group_ != 0)
            return false; // no entry matches an empty mask; this host's caches have no groups
        for (;;) {
            if (current_) {
                while (auto entry = current_->nextEntry()) {
                    if ((entry->entryType & filter_) != 0) {
                        pending_ = *entry;
                        return true;
                    }
                }
                current_.reset();
            }
            if (!openNextContainer())
                return false;
        }
    }

    // Copies the pending entry into the caller's buffer under the size protocol.
    bool deliver(win::INTERNET_CACHE_ENTRY_INFOA* entry, DWORD* size) {
        const std::size_t needed = neededSize();
        if (needed > 0xFFFFFFFFu) {
            pending_.reset(); // it can never be delivered: move on past it
            win::SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
            return false;
        }
        if (entry == nullptr || *size < needed) {
            *size = static_cast<DWORD>(needed);
            win::SetLastError(win::ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        fill(entry);
        *size = static_cast<DWORD>(needed);
        pending_.reset();
        return true;
    }

private:
    bool openNextContainer() {
        while (next_ < containers_.size()) {
            current_ = OpenContainer(containers_[next_++]);
            if (current_)
                return true;
        }
        return false;
    }

    std::size_t neededSize() const { return EntrySize(*pending_); }
    void fill(win::INTERNET_CACHE_ENTRY_INFOA* entry) const { FillEntry(*pending_, entry); }

    std::vector<ContainerLocation> containers_;
    std::size_t next_ = 0;
    DWORD filter_;
    win::GROUPID group_;
    std::unique_ptr<Container> current_;
    std::optional<CacheEntry> pending_;
};

// The open searches by handle, and at most one search parked by a first call's size query: the
// caller's next call with the same arguments takes it over instead of reading the first
// container again. Any other first call drops it.
struct Searches {
    std::mutex lock;
    std::unordered_map<Search*, std::shared_ptr<Search>> open;
    std::unique_ptr<Search> parked;
    SearchKey parkedKey;
};

Searches& searches() {
    static Searches instance;
    return instance;
}

std::unique_ptr<Search> takeParked(const SearchKey& key) {
    Searches& all = searches();
    std::lock_guard guard(all.lock);
    std::unique_ptr<Search> parked = std::move(all.parked);
    if (parked && all.parkedKey == key)
        return parked;
    return nullptr;
}

void park(std::unique_ptr<Search> search, SearchKey key) {
    Searches& all = searches();
    std::lock_guard guard(all.lock);
    all.parked = std::move(search);
    all.parkedKey = std::move(key);
}

win::HANDLE registerSearch(std::unique_ptr<Search> search) {
    Searches& all = searches();
    std::lock_guard guard(all.lock);
    Search* handle = search.get();
    all.open.emplace(handle, std::move(search));
    return handle;
}

// The search behind a handle, kept alive for the caller even if another thread closes the
// handle meanwhile.
std::shared_ptr<Search> findSearch(win::HANDLE handle) {
    Searches& all = searches();
    std::lock_guard guard(all.lock);
    auto found = all.open.find(static_cast<Search*>(handle));
    return found == all.open.end() ? nullptr : found->second;
}

// Runs one call; no exception leaves the cache calls. Running out of memory (a container too big
// to hold) fails the call with ERROR_NOT_ENOUGH_MEMORY.
template <typename Result, typename Call> Result guarded(Result failed, Call call) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        win::SetLastError(win::ERROR_NOT_ENOUGH_MEMORY);
    } catch (const std::exception&) {
        win::SetLastError(win::ERROR_INVALID_PARAMETER);
    }
    return failed;
}

} // namespace

namespace win {

HANDLE FindFirstUrlCacheEntryExA(LPCSTR pattern, DWORD /*flags*/, DWORD filter, GROUPID group,
                                 INTERNET_CACHE_ENTRY_INFOA* entryInfo, LPDWORD entryInfoSize,
                                 LPVOID, LPDWORD, LPVOID) {
    return guarded(static_cast<HANDLE>(nullptr), [&]() -> HANDLE {
        if (entryInfoSize == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        auto containers =
            SelectContainers(FindContainers(platform::CurrentProfile(), pattern), pattern);
        if (containers.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return nullptr;
        }
        SearchKey key{pattern == nullptr, pattern ? pattern : "", filter, group,
                      stampsOf(containers)};
        std::unique_ptr<Search> search = takeParked(key);
        if (!search)
            search = std::make_unique<Search>(std::move(containers), filter, group);
        if (!search->preparePending()) {
            SetLastError(ERROR_NO_MORE_ITEMS);
            return nullptr;
        }
        if (!search->deliver(entryInfo, entryInfoSize)) {
            if (GetLastError() == ERROR_INSUFFICIENT_BUFFER)
                park(std::move(search), std::move(key));
            return nullptr;
        }
        return registerSearch(std::move(search));
    });
}

BOOL FindNextUrlCacheEntryExA(HANDLE handle, INTERNET_CACHE_ENTRY_INFOA* entryInfo,
                              LPDWORD entryInfoSize, LPVOID, LPDWORD, LPVOID) {
    return guarded(FALSE, [&]() -> BOOL {
        std::shared_ptr<Search> search = findSearch(handle);
        if (search == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (entryInfoSize == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard busy(search->lock);
        if (!search->preparePending()) {
            SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        return search->deliver(entryInfo, entryInfoSize) ? TRUE : FALSE;
    });
}

BOOL FindCloseUrlCache(HANDLE handle) {
    std::shared_ptr<Search> closing;
    {
        Searches& all = searches();
        std::lock_guard guard(all.lock);
        auto found = all.open.find(static_cast<::Search*>(handle));
        if (found == all.open.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        closing = std::move(found->second);
        all.open.erase(found);
    }
    return TRUE;
}

HANDLE FindFirstUrlCacheGroup(DWORD, DWORD, LPVOID, DWORD, GROUPID*, LPVOID) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return nullptr;
}

BOOL FindNextUrlCacheGroup(HANDLE, GROUPID*, LPVOID) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

BOOL GetUrlCacheGroupAttributeA(GROUPID, DWORD, DWORD, LPVOID, LPDWORD, LPVOID) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

BOOL SetUrlCacheGroupAttributeA(GROUPID, DWORD, DWORD, LPVOID, LPVOID) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

} // namespace win

namespace platform {

namespace {
template <typename Function> win::FARPROC exported(Function* function) {
    return reinterpret_cast<win::FARPROC>(function);
}
} // namespace

ModuleExports UrlCacheModuleExports() {
    return {
        {"FindFirstUrlCacheGroup", exported(&win::FindFirstUrlCacheGroup)},
        {"FindNextUrlCacheGroup", exported(&win::FindNextUrlCacheGroup)},
        {"GetUrlCacheGroupAttributeA", exported(&win::GetUrlCacheGroupAttributeA)},
        {"SetUrlCacheGroupAttributeA", exported(&win::SetUrlCacheGroupAttributeA)},
        {"FindFirstUrlCacheEntryExA", exported(&win::FindFirstUrlCacheEntryExA)},
        {"FindNextUrlCacheEntryExA", exported(&win::FindNextUrlCacheEntryExA)},
        {"FindCloseUrlCache", exported(&win::FindCloseUrlCache)},
    };
}

std::size_t OpenUrlCacheSearchCount() {
    Searches& all = searches();
    std::lock_guard guard(all.lock);
    return all.open.size();
}

void ForgetReadContainers() {
    urlcache::ForgetContainerBytes();
    urlcache::ForgetWebCacheContents();
}

} // namespace platform
