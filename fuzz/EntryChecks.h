#pragma once
// What every entry the cache calls hand out must satisfy, for the fuzzers: any failure stops
// the run.

#include "platform/WinTypes.h"

#include <cstddef>
#include <cstring>

namespace zz_fuzz {

inline void Check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// A string the entry hands out must end inside the entry's own block.
inline void CheckInside(const char* text, const unsigned char* block, std::size_t size) {
    if (text == nullptr)
        return;
    const auto* start = reinterpret_cast<const unsigned char*>(text);
    Check(start >= block && start < block + size);
    Check(std::memchr(start, 0, static_cast<std::size_t>(block + size - start)) != nullptr);
}

inline void CheckEntry(const unsigned char* block, std::size_t size) {
    const auto* entry = reinterpret_cast<const win::INTERNET_CACHE_ENTRY_INFOA*>(block);
    Check(entry->dwStructSize == sizeof(win::INTERNET_CACHE_ENTRY_INFOA));
    CheckInside(entry->lpszSourceUrlName, block, size);
    CheckInside(entry->lpszLocalFileName, block, size);
    CheckInside(entry->lpszFileExtension, block, size);
    if (entry->lpHeaderInfo != nullptr) {
        const auto* header = reinterpret_cast<const unsigned char*>(entry->lpHeaderInfo);
        Check(header >= block && entry->dwHeaderInfoSize <= size &&
              header + entry->dwHeaderInfoSize <= block + size);
    }
}

} // namespace zz_fuzz
