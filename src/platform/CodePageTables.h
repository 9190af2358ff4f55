#pragma once
// Internal to the code-page layer: which code page and collation locale a POSIX locale name
// stands for, and the per-code-page tables that the hot paths read without touching ICU.

#include "WinTypes.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace platform::codepage {

// The pieces of a POSIX locale name "language_TERRITORY.codeset@modifier".
struct LocaleName {
    std::string language;  // lower case
    std::string territory; // upper case
    std::string modifier;  // lower case
};

LocaleName ParseLocaleName(std::string_view name);

// The locale name the process runs in: LC_ALL, else LC_CTYPE, else LANG (first non-empty).
std::string ProcessLocaleName();

win::UINT AnsiCodePageFor(const LocaleName& locale);

// An ICU locale id for collation ("" = root, also for "C", "POSIX" and unknown languages).
std::string CollationLocaleFor(const LocaleName& locale);

// The collation locale that goes with a code page when a test forces one without naming it.
std::string DefaultCollationLocaleFor(win::UINT codePage);

// The ICU converter name for a Windows code page.
std::string IcuConverterName(win::UINT codePage);

// Decoded and lower-cased views of one code page, built once from ICU and never changed after.
struct CodePageData {
    win::UINT codePage = 0;
    bool doubleByte = false;
    std::array<bool, 256> leadByte{};
    // Single bytes lower-cased; a byte without a lower-case form in the code page maps to itself.
    std::array<unsigned char, 256> lower{};
    // Single bytes decoded for display (undefined: U+FFFD) and for collation (undefined: a
    // private-use character per byte, so that different bytes never compare equal).
    std::array<char16_t, 256> display{};
    std::array<char16_t, 256> collation{};
    // Double-byte code pages: (lead << 8 | trail) -> its lower-case pair, 0 when unchanged.
    std::vector<std::uint16_t> pairLower;
};

// The tables of a code page; an unknown code page or one ICU cannot open yields ASCII-only
// tables. The result lives until the process ends.
const CodePageData& CodePageDataFor(win::UINT codePage);

// The first private-use character that stands for an undefined byte in collation.
constexpr char16_t kUndefinedByteBase = 0xF700;

} // namespace platform::codepage
