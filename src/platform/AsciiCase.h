#pragma once
// Case folding of the ASCII letters A to Z only. Names that the program matches on (folders,
// files, modules, key paths) are compared this way, whatever the process locale: a locale's
// rules (Turkish dotless i, the upper half of an 8-bit code page) must not decide whether a
// name is found.

#include <algorithm>
#include <string>
#include <string_view>

namespace platform {

constexpr char AsciiFold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiFold(x) == AsciiFold(y);
           });
}

// A copy of `text` with only A to Z lower-cased; every other byte stays as it is.
inline std::string AsciiLowerCase(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), AsciiFold);
    return result;
}

} // namespace platform
