#pragma once
// Text in the system's 8-bit ("ANSI") code page: which code page that is, its locale-aware
// lower-casing and comparison, and conversion to UTF-16 for display. Strings stay 8-bit
// everywhere else in the program.

#include "WinTypes.h"

#include <string>
#include <string_view>

namespace win {

constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr DWORD NORM_IGNORECASE = 0x00000001;
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;

// The ANSI code page, chosen from the process locale (LC_ALL, LC_CTYPE, LANG) as Wine does:
// en and other western languages 1252, ru and other Cyrillic 1251, ja 932, zh_CN 936, ko 949,
// zh_TW 950, el 1253, tr 1254, he 1255, ar 1256, baltic 1257, vi 1258, central European 1250,
// th 874. "C"/"POSIX" or unknown: 1252. Chosen on first use and kept.
UINT GetACP();

// True when `c` starts a two-byte character in the ANSI code page.
BOOL IsDBCSLeadByte(BYTE c);

// Lower-cases `length` bytes in place: every letter of the ANSI code page, not only A to Z.
// In a double-byte code page a lead byte and its trail byte are kept together. Returns length.
DWORD CharLowerBuffA(LPSTR text, DWORD length);

// Locale-aware comparison of two 8-bit strings (length -1: up to the NUL).
// Returns CSTR_LESS_THAN, CSTR_EQUAL or CSTR_GREATER_THAN; 0 on failure.
int CompareStringA(LCID locale, DWORD flags, LPCSTR a, int lengthA, LPCSTR b, int lengthB);

} // namespace win

namespace platform {

// CharLowerBuffA on a copy.
std::string AnsiLowerCase(std::string_view text);

// Decodes ANSI text for display. Bytes the code page does not define become U+FFFD; nothing is
// dropped or interpreted.
std::u16string AnsiToUtf16(std::string_view text);

// Encodes UTF-16 text in the ANSI code page, as the platform's A-calls hand out text they hold
// in UTF-16: a character the code page lacks (or a lone surrogate) becomes "?", one per
// character.
std::string Utf16ToAnsi(std::u16string_view text);

// A key such that two strings have equal keys exactly when CompareStringA with
// NORM_IGNORECASE for LOCALE_USER_DEFAULT reports them equal, and keys compare (bytewise) in
// the same order as that comparison. For hashing and sorting large lists of names.
std::string IgnoreCaseCollationKey(std::string_view text);

// Forces the ANSI code page (and the collation locale that goes with it) for this process, as
// a test would set the system locale. `collationLocale` is an ICU locale id ("" = root); none
// picks a typical language of the code page. 0 chooses both afresh from the locale variables,
// so a test that changes them sees the result.
void SetAnsiCodePageForTesting(win::UINT codePage, const char* collationLocale = nullptr);

} // namespace platform
