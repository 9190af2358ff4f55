#pragma once
// The current user's registry, as far as the settings record needs it: open or create a key,
// test and read a value, write a 32-bit number, close. Each key "Software\<Org>\<App>" is the
// settings file <config folder>/<Org>/<App>.conf (the config folder is $XDG_CONFIG_HOME, else
// ~/.config); deeper key paths are groups inside that file. Values are stored as decimal text;
// a value whose text is not a 32-bit number reads as REG_SZ.
//
// The file is rewritten as a whole when a key is flushed, so a file that cannot be read or parsed
// is never opened: the key reports the error instead, and nothing is ever written over it. Only a
// regular file is opened (a FIFO or a device in its place is refused without blocking), and a file
// over 64 KiB counts as one that cannot be parsed.

#include "platform/WinTypes.h"

#include <functional>
#include <string_view>

namespace win {

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LPBYTE = BYTE*;

// The only predefined root the store serves.
inline const HKEY HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens subKey under hKey (HKEY_CURRENT_USER only), creating it when missing. Fails with
// ERROR_ACCESS_DENIED when its file exists but cannot be read, ERROR_INVALID_DATA when the file
// cannot be parsed, ERROR_INVALID_PARAMETER for a key path that does not name a settings file.
// lpClass and lpSecurityAttributes are ignored; lpdwDisposition may be null.
LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                     REGSAM samDesired, const void* lpSecurityAttributes, PHKEY phkResult,
                     LPDWORD lpdwDisposition);

// With lpData null: whether the value exists (and its type and size). Otherwise copies the
// value into lpData; ERROR_MORE_DATA (with the size needed in *lpcbData) when it does not fit.
// ERROR_FILE_NOT_FOUND when there is no such value. Text values come back as UTF-8 with a NUL.
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                      LPBYTE lpData, LPDWORD lpcbData);

// Stores a REG_DWORD (cbData 4, little-endian) in the key; RegFlushKey or RegCloseKey writes it to
// the file. Any other type is refused with ERROR_INVALID_PARAMETER. Fails with
// ERROR_ACCESS_DENIED when the file or its folder cannot be written. Other values in the file
// are kept.
LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                    DWORD cbData);

// Writes every value set on the key since the last flush to the file in one rewrite and makes it
// durable. ERROR_ACCESS_DENIED when that failed (then, and after any earlier failure, the key
// takes no more writes).
LONG RegFlushKey(HKEY hKey);

// Flushes (a failure of that flush is not reported: call RegFlushKey first to know) and closes.
LONG RegCloseKey(HKEY hKey);

} // namespace win

namespace desktop {

// Called after every value that reached the store, so that tests can see which values a
// caller wrote and in which order. Returns the observer it replaces; null removes it.
using RegistryWriteObserver = std::function<void(std::string_view valueName, win::DWORD value)>;
RegistryWriteObserver SetRegistryWriteObserver(RegistryWriteObserver observer);

} // namespace desktop
