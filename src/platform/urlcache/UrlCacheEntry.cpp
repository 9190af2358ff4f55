#include "platform/urlcache/UrlCacheEntry.h"

#include <algorithm>
#include <memory>
#include <new>

namespace platform::urlcache {

namespace {

std::size_t stringSize(const std::optional<std::string_view>& text) {
    return text ? text->size() + 1 : 0;
}

} // namespace

std::size_t EntrySize(const CacheEntry& cached) {
    std::size_t size = sizeof(win::INTERNET_CACHE_ENTRY_INFOA);
    size += stringSize(cached.url) + stringSize(cached.headerInfo) + stringSize(cached.extension);
    if (cached.fileName)
        size += cached.fileFolder.size() + cached.fileName->size() + 1;
    return size;
}

void FillEntry(const CacheEntry& cached, win::INTERNET_CACHE_ENTRY_INFOA* entry) {
    char* out = reinterpret_cast<char*>(entry) + sizeof(win::INTERNET_CACHE_ENTRY_INFOA);
    auto put = [&out](std::string_view head, std::string_view tail = {}) {
        char* start = out;
        out = std::copy(head.begin(), head.end(), out);
        out = std::copy(tail.begin(), tail.end(), out);
        *out++ = '\0';
        return start;
    };
    *entry = win::INTERNET_CACHE_ENTRY_INFOA{};
    entry->dwStructSize = sizeof(win::INTERNET_CACHE_ENTRY_INFOA);
    entry->lpszSourceUrlName = cached.url ? put(*cached.url) : nullptr;
    entry->lpszLocalFileName = cached.fileName ? put(cached.fileFolder, *cached.fileName) : nullptr;
    entry->CacheEntryType = cached.entryType;
    entry->dwUseCount = cached.useCount;
    entry->dwHitRate = cached.hitRate;
    entry->dwSizeLow = static_cast<win::DWORD>(cached.size);
    entry->dwSizeHigh = static_cast<win::DWORD>(cached.size >> 32);
    entry->LastModifiedTime = cached.lastModified;
    entry->ExpireTime = cached.expireTime;
    entry->LastAccessTime = cached.lastAccess;
    entry->LastSyncTime = cached.lastSync;
    entry->lpHeaderInfo = cached.headerInfo ? put(*cached.headerInfo) : nullptr;
    entry->dwHeaderInfoSize = cached.headerInfoSize;
    entry->lpszFileExtension = cached.extension ? put(*cached.extension) : nullptr;
    entry->dwExemptDelta = cached.exemptDelta;
}

std::size_t ForEachEntry(Container& container, win::DWORD filter, const EntryVisitor& visit) {
    std::size_t count = 0;
    while (auto cached = container.nextEntry()) {
        if ((cached->entryType & filter) == 0)
            continue;
        const std::size_t size = EntrySize(*cached);
        // Exactly the reported size, so that a tool watching memory sees any write past it.
        auto block = std::make_unique<unsigned char[]>(size);
        auto* entry = new (block.get()) win::INTERNET_CACHE_ENTRY_INFOA;
        FillEntry(*cached, entry);
        visit(*entry, size);
        ++count;
    }
    return count;
}

std::size_t ForEachEntry(const UrlCacheFile& file, const std::string& containerFolder,
                         win::DWORD filter, const EntryVisitor& visit) {
    ContainerLocation location;
    location.windowsFolder = containerFolder;
    IndexDatContainer container(file, std::move(location));
    return ForEachEntry(container, filter, visit);
}

} // namespace platform::urlcache
