#pragma once
// The URL cache operations the enumerator calls, served on this host by a reader of the
// index.dat containers of one Windows user profile (see UrlCacheProfile.h for which profile).
// Read-only: no call ever writes, locks or touches a cache file.

#include "platform/ModuleLoader.h"
#include "platform/WinTypes.h"

#include <cstddef>

namespace win {

// Opens a search and delivers its first entry.
// pattern: a container prefix ("Cookie:", "Visited:", "" for content) or null for every
// container. filter: entry-type mask; an entry is delivered when its type shares a bit with it.
// group: 0 means every entry. With no buffer, or one smaller than the entry needs, the call
// fails with ERROR_INSUFFICIENT_BUFFER, stores the needed size in *entryInfoSize and leaves the
// search where it was (a later call with a large enough buffer gets the same entry).
// Returns the search handle, or null with the last error set: ERROR_NO_MORE_ITEMS when no entry
// matches, ERROR_FILE_NOT_FOUND when no container matches the pattern.
HANDLE FindFirstUrlCacheEntryExA(LPCSTR pattern, DWORD flags, DWORD filter, GROUPID group,
                                 INTERNET_CACHE_ENTRY_INFOA* entryInfo, LPDWORD entryInfoSize,
                                 LPVOID reserved1, LPDWORD reserved2, LPVOID reserved3);

// Delivers the next entry of an open search, with the same size protocol.
// FALSE with ERROR_NO_MORE_ITEMS at the end, ERROR_INVALID_HANDLE for a handle it did not open.
BOOL FindNextUrlCacheEntryExA(HANDLE search, INTERNET_CACHE_ENTRY_INFOA* entryInfo,
                              LPDWORD entryInfoSize, LPVOID reserved1, LPDWORD reserved2,
                              LPVOID reserved3);

// Ends a search. FALSE with ERROR_INVALID_HANDLE for null or an unknown handle.
BOOL FindCloseUrlCache(HANDLE search);

// Cache groups: this host's caches have none.
HANDLE FindFirstUrlCacheGroup(DWORD flags, DWORD filter, LPVOID searchCondition,
                              DWORD searchConditionSize, GROUPID* group, LPVOID reserved);
BOOL FindNextUrlCacheGroup(HANDLE find, GROUPID* group, LPVOID reserved);
BOOL GetUrlCacheGroupAttributeA(GROUPID group, DWORD flags, DWORD attributes, LPVOID info,
                                LPDWORD infoSize, LPVOID reserved);
BOOL SetUrlCacheGroupAttributeA(GROUPID group, DWORD flags, DWORD attributes, LPVOID info,
                                LPVOID reserved);

} // namespace win

namespace platform {

// The exports of the "wininet.dll" module: the four group functions, the three enumeration
// functions and FindCloseUrlCache, by their names.
ModuleExports UrlCacheModuleExports();

// How many searches are open (opened and not yet closed); for tests that look for leaks.
std::size_t OpenUrlCacheSearchCount();

// Searches read each container once and keep its bytes for the next search. A program that has
// taken its one snapshot calls this to give that memory back; a later search reads afresh.
void ForgetReadContainers();

} // namespace platform
