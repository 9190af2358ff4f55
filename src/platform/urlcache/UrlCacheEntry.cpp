#include "platform/urlcache/UrlCacheEntry.h"

#include "platform/TimeConversion.h"

#include <algorithm>
#include <memory>
#include <new>

namespace platform::urlcache {

namespace {

std::size_t stringSize(const std::optional<std::string_view>& text) {
    return text ? text->size() + 1 : 0;
}

} // namespace

EntryFolders::EntryFolders(const FileHeader& header, const std::string& containerFolder)
    : containerFolder_(containerFolder + '\\') {
    subFolders_.reserve(header.subFolders.size());
    for (const SubFolder& folder : header.subFolders)
        subFolders_.push_back(folder.name.empty() ? containerFolder_
                                                  : containerFolder_ + folder.name + '\\');
}

std::size_t EntrySize(const UrlRecord& record, const EntryFolders& folders) {
    std::size_t size = sizeof(win::INTERNET_CACHE_ENTRY_INFOA);
    size += stringSize(record.url) + stringSize(record.headerInfo) + stringSize(record.extension);
    if (record.fileName)
        size += folders.folderOf(record.subFolderIndex).size() + record.fileName->size() + 1;
    return size;
}

void FillEntry(const UrlRecord& record, const EntryFolders& folders,
               win::INTERNET_CACHE_ENTRY_INFOA* entry) {
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
    entry->lpszSourceUrlName = record.url ? put(*record.url) : nullptr;
    entry->lpszLocalFileName =
        record.fileName ? put(folders.folderOf(record.subFolderIndex), *record.fileName) : nullptr;
    entry->CacheEntryType = record.entryType;
    entry->dwUseCount = record.useCount;
    entry->dwHitRate = record.hitRate;
    entry->dwSizeLow = static_cast<win::DWORD>(record.size);
    entry->dwSizeHigh = static_cast<win::DWORD>(record.size >> 32);
    entry->LastModifiedTime = record.lastModified;
    entry->ExpireTime = FileTimeFromDosDateTime(record.expireDosDateTime);
    entry->LastAccessTime = record.lastAccess;
    entry->LastSyncTime = FileTimeFromDosDateTime(record.lastSyncDosDateTime);
    entry->lpHeaderInfo = record.headerInfo ? put(*record.headerInfo) : nullptr;
    entry->dwHeaderInfoSize = record.headerInfoSize;
    entry->lpszFileExtension = record.extension ? put(*record.extension) : nullptr;
    entry->dwExemptDelta = record.exemptDelta;
}

std::size_t ForEachEntry(
    const UrlCacheFile& file, const std::string& containerFolder, win::DWORD filter,
    const std::function<void(const win::INTERNET_CACHE_ENTRY_INFOA&, std::size_t size)>& visit) {
    const EntryFolders folders(file.header(), containerFolder);
    HashChainWalker walker = file.walk();
    std::size_t count = 0;
    while (auto span = walker.nextUrlRecord()) {
        auto record = ParseUrlRecord(file.reader(), span->offset, span->limit);
        if (!record || (record->entryType & filter) == 0)
            continue;
        const std::size_t size = EntrySize(*record, folders);
        // Exactly the reported size, so that a tool watching memory sees any write past it.
        auto block = std::make_unique<unsigned char[]>(size);
        auto* entry = new (block.get()) win::INTERNET_CACHE_ENTRY_INFOA;
        FillEntry(*record, folders, entry);
        visit(*entry, size);
        ++count;
    }
    return count;
}

} // namespace platform::urlcache
