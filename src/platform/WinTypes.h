#pragma once
// The program's own declarations of the host-platform types and constants that the cache,
// analysis and window layers were designed around. Only what the program uses is declared.

#include <cstdint>

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using BOOL = int;
using LONG = std::int32_t;
using UINT = unsigned int;
using LCID = DWORD;
using LPSTR = char*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;
using LPVOID = void*;
using HANDLE = void*;
using GROUPID = std::int64_t;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

// A count of 100-nanosecond intervals since 1 January 1601 (UTC unless said otherwise).
struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;
};

struct SYSTEMTIME {
    WORD wYear = 0;
    WORD wMonth = 0;
    WORD wDayOfWeek = 0;
    WORD wDay = 0;
    WORD wHour = 0;
    WORD wMinute = 0;
    WORD wSecond = 0;
    WORD wMilliseconds = 0;
};

// System error codes the program produces or relies on.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_MORE_ITEMS = 259;

// URL cache entry-type flag bits.
constexpr DWORD NORMAL_CACHE_ENTRY = 0x00000001;
constexpr DWORD STABLE_CACHE_ENTRY = 0x00000002;
constexpr DWORD STICKY_CACHE_ENTRY = 0x00000004;
constexpr DWORD TRACK_OFFLINE_CACHE_ENTRY = 0x00000010;
constexpr DWORD TRACK_ONLINE_CACHE_ENTRY = 0x00000020;
constexpr DWORD SPARSE_CACHE_ENTRY = 0x00010000;
constexpr DWORD OCX_CACHE_ENTRY = 0x00020000;
constexpr DWORD COOKIE_CACHE_ENTRY = 0x00100000;
constexpr DWORD URLHISTORY_CACHE_ENTRY = 0x00200000;

// One URL cache entry as the cache library hands it out. The strings point into the same
// caller-supplied buffer, after the structure.
struct INTERNET_CACHE_ENTRY_INFOA {
    DWORD dwStructSize = 0;
    LPSTR lpszSourceUrlName = nullptr;
    LPSTR lpszLocalFileName = nullptr;
    DWORD CacheEntryType = 0;
    DWORD dwUseCount = 0;
    DWORD dwHitRate = 0;
    DWORD dwSizeLow = 0;
    DWORD dwSizeHigh = 0;
    FILETIME LastModifiedTime;
    FILETIME ExpireTime;
    FILETIME LastAccessTime;
    FILETIME LastSyncTime;
    LPSTR lpHeaderInfo = nullptr;
    DWORD dwHeaderInfoSize = 0;
    LPSTR lpszFileExtension = nullptr;
    DWORD dwExemptDelta = 0;
};

} // namespace win
