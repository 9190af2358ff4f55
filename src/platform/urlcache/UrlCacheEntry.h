#pragma once
// Turning a cache entry into the entry structure that the cache calls hand out: the structure,
// then its strings in the same block. Shared by the calls and by checks that work on container
// images in memory (tests, fuzzing).

#include "platform/WinTypes.h"
#include "platform/urlcache/Container.h"
#include "platform/urlcache/UrlCacheFile.h"

#include <cstddef>
#include <functional>
#include <string>

namespace platform::urlcache {

// The bytes the structure and its strings need.
std::size_t EntrySize(const CacheEntry& cached);

// Fills `entry` and the EntrySize() - sizeof(*entry) bytes right after it.
void FillEntry(const CacheEntry& cached, win::INTERNET_CACHE_ENTRY_INFOA* entry);

using EntryVisitor = std::function<void(const win::INTERNET_CACHE_ENTRY_INFOA&, std::size_t size)>;

// Every entry of a container whose type shares a bit with `filter`, in the calls' order, each
// filled into a block of exactly its size. Returns how many there were.
std::size_t ForEachEntry(Container& container, win::DWORD filter, const EntryVisitor& visit);
// The same over an index.dat image whose folder is `containerFolder`.
std::size_t ForEachEntry(const UrlCacheFile& file, const std::string& containerFolder,
                         win::DWORD filter, const EntryVisitor& visit);

} // namespace platform::urlcache
