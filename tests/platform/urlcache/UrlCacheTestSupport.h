#pragma once
// A plain enumeration of the URL cache calls into comparable values, and the temporary
// profile the tests run them on.

#include "platform/LastError.h"
#include "platform/urlcache/UrlCacheApi.h"
#include "support/TempProfile.h"

#include <optional>
#include <string>
#include <vector>

namespace zz_test {

struct Delivered {
    std::string url;
    std::optional<std::string> localFile;
    win::DWORD type = 0;
    bool operator==(const Delivered&) const = default;
};

inline std::optional<std::string> textOf(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

// Every entry the calls deliver, with the two-step size protocol; the error that ended it.
struct Enumeration {
    std::vector<win::INTERNET_CACHE_ENTRY_INFOA> infos; // pointers are not valid afterwards
    std::vector<Delivered> entries;
    win::DWORD endError = 0;
};

inline Enumeration EnumerateCache(const char* pattern, win::DWORD filter = 0xFFFFFFFF) {
    Enumeration result;
    std::vector<char> buffer;
    auto keep = [&] {
        const auto* info = reinterpret_cast<const win::INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
        result.infos.push_back(*info);
        result.entries.push_back({info->lpszSourceUrlName ? info->lpszSourceUrlName : "<null>",
                                  textOf(info->lpszLocalFileName), info->CacheEntryType});
    };
    win::DWORD size = 0;
    win::FindFirstUrlCacheEntryExA(pattern, 0, filter, 0, nullptr, &size, nullptr, nullptr,
                                   nullptr);
    if (win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER) {
        result.endError = win::GetLastError();
        return result;
    }
    buffer.assign(size, 0);
    auto* info = reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    win::HANDLE search = win::FindFirstUrlCacheEntryExA(pattern, 0, filter, 0, info, &size, nullptr,
                                                        nullptr, nullptr);
    if (search == nullptr) {
        result.endError = win::GetLastError();
        return result;
    }
    keep();
    for (;;) {
        size = 0;
        if (win::FindNextUrlCacheEntryExA(search, nullptr, &size, nullptr, nullptr, nullptr) ||
            win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER) {
            result.endError = win::GetLastError();
            break;
        }
        buffer.assign(size, 0);
        info = reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
        if (!win::FindNextUrlCacheEntryExA(search, info, &size, nullptr, nullptr, nullptr)) {
            result.endError = win::GetLastError();
            break;
        }
        keep();
    }
    win::FindCloseUrlCache(search);
    return result;
}

} // namespace zz_test
