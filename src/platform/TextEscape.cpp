#include "platform/TextEscape.h"

#include <algorithm>

namespace platform {

namespace {

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    return (c | 0x20) - 'a' + 10;
}

// Whether the bytes from `at` on would be read as an escape if a single backslash came first.
bool readsAsEscapeAfterBackslash(std::string_view text, std::size_t at) {
    if (at >= text.size())
        return false;
    const char next = text[at];
    if (next == '\\' || isControl(static_cast<unsigned char>(next)))
        return true;
    return next == 'x' && at + 2 < text.size() && isHexDigit(text[at + 1]) &&
           isHexDigit(text[at + 2]);
}

} // namespace

bool HasControlCharacters(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return isControl(static_cast<unsigned char>(c)); });
}

bool NeedsEscaping(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isControl(c) || (c == '\\' && readsAsEscapeAfterBackslash(text, i + 1)))
            return true;
    }
    return false;
}

std::string EscapeControlCharacters(std::string_view text) {
    if (!NeedsEscaping(text))
        return std::string(text);
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (isControl(c)) {
            escaped += "\\x";
            escaped += kDigits[c >> 4];
            escaped += kDigits[c & 0xF];
        } else if (c == '\\' && readsAsEscapeAfterBackslash(text, i + 1)) {
            escaped += "\\\\";
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

std::string UnescapeControlCharacters(std::string_view text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            plain += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
                   isHexDigit(text[i + 2]) && isHexDigit(text[i + 3])) {
            plain += static_cast<char>(hexValue(text[i + 2]) * 16 + hexValue(text[i + 3]));
            i += 3;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

} // namespace platform
