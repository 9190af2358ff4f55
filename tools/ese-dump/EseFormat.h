#pragma once
// How ese-dump writes values: as Debian's esedbexport does where that is simple, so that the two
// can be compared line by line.

#include "platform/ese/EseDatabase.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace esedump {

inline void appendUtf8(std::uint32_t code, std::string& out) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

inline bool isControlCharacter(std::uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code < 0xA0);
}

// A backslash doubled, a tab written as \t and any other control character as \xHH, so that
// values never split a line's fields or reach the terminal as line ends or escape sequences.
inline void appendCharacter(std::uint32_t code, std::string& out) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (code == '\\') {
        out += "\\\\";
    } else if (code == '\t') {
        out += "\\t";
    } else if (isControlCharacter(code)) {
        out += "\\x";
        out += kDigits[code >> 4];
        out += kDigits[code & 0xF];
    } else {
        appendUtf8(code, out);
    }
}

// UTF-16LE up to the first NUL; a lone surrogate becomes U+FFFD.
inline void appendUtf16(std::string_view bytes, std::string& out) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t units = bytes.size() / 2;
    const auto unit = [&](std::size_t i) {
        return static_cast<std::uint32_t>(data[2 * i]) |
               (static_cast<std::uint32_t>(data[2 * i + 1]) << 8);
    };
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t code = unit(i);
        if (code == 0)
            break;
        if (code < 0x80 && code != '\\' && !isControlCharacter(code)) {
            out += static_cast<char>(code);
            continue;
        }
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        appendCharacter(code, out);
    }
}

// 8-bit text as Windows-1252 up to the first NUL.
inline void appendAnsi(std::string_view bytes, std::string& out) {
    static constexpr std::uint16_t k80To9F[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0)
            break;
        appendCharacter(byte >= 0x80 && byte < 0xA0 ? k80To9F[byte - 0x80] : byte, out);
    }
}

inline void appendHex(std::string_view bytes, std::string& out) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const std::size_t at = out.size();
    out.resize(at + 2 * bytes.size());
    char* to = out.data() + at;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *to++ = kDigits[byte >> 4];
        *to++ = kDigits[byte & 0xF];
    }
}

inline void appendInteger(std::int64_t value, std::string& out) {
    char buffer[24];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    out.append(buffer, end);
}

inline void appendValue(const platform::ese::Column& column, std::string_view bytes,
                        std::string& out) {
    using namespace platform::ese;
    char buffer[64];
    switch (column.type) {
    case kBit:
        out += bytes.size() == 1 && bytes[0] != 0 ? "true" : "false";
        return;
    case kUnsignedByte:
    case kShort:
    case kUnsignedShort:
    case kLong:
    case kUnsignedLong:
    case kCurrency:
    case kLongLong:
        if (const auto value = integerValue(column, bytes)) {
            appendInteger(*value, out);
        } else {
            appendHex(bytes, out);
        }
        return;
    case kFloat:
        if (bytes.size() == 4) {
            float value = 0;
            std::memcpy(&value, bytes.data(), 4);
            std::snprintf(buffer, sizeof buffer, "%f", static_cast<double>(value));
            out += buffer;
            return;
        }
        break;
    case kDouble:
    case kDateTime:
        if (bytes.size() == 8) {
            double value = 0;
            std::memcpy(&value, bytes.data(), 8);
            std::snprintf(buffer, sizeof buffer, "%f", value);
            out += buffer;
            return;
        }
        break;
    case kGuid:
        if (bytes.size() == 16) {
            const auto b = [&](int i) { return static_cast<unsigned char>(bytes[i]); };
            std::snprintf(buffer, sizeof buffer,
                          "{%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                          b(3), b(2), b(1), b(0), b(5), b(4), b(7), b(6), b(8), b(9), b(10), b(11),
                          b(12), b(13), b(14), b(15));
            out += buffer;
            return;
        }
        break;
    case kText:
    case kLongText:
        if (column.codePage == 1200)
            appendUtf16(bytes, out);
        else
            appendAnsi(bytes, out);
        return;
    default:
        break;
    }
    appendHex(bytes, out);
}

// One row, tab-separated; the values of a multi-value column separated by "; ".
inline void appendRow(const platform::ese::Table& table, const platform::ese::Row& row,
                      std::string& out) {
    for (std::size_t i = 0; i < table.columns.size() && i < row.cells.size(); ++i) {
        if (i > 0)
            out += '\t';
        const auto& values = row.cells[i].values;
        for (std::size_t v = 0; v < values.size(); ++v) {
            if (v > 0)
                out += "; ";
            appendValue(table.columns[i], values[v], out);
        }
    }
}

} // namespace esedump
