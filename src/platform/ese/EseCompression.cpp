// Compressed column values. The first byte names the kind in its top five bits: 7-bit packed
// 8-bit text, 7-bit packed UTF-16 text, and XPRESS (plain LZ77). Other kinds are not readable.

#include "platform/ByteReader.h"
#include "platform/ese/EseDatabase.h"

namespace platform::ese {

namespace {

constexpr std::uint8_t kSevenBitAnsi = 1;
constexpr std::uint8_t kSevenBitUnicode = 2;
constexpr std::uint8_t kXpress = 3;

// Characters of 7 bits each, low bits first. The low three bits of the lead byte say how many
// bits of the last byte are used (less one), so the character count is exact.
std::optional<std::string> unpackSevenBit(std::string_view data, bool wide, std::size_t limit) {
    if (data.size() < 2)
        return std::string();
    const std::size_t usedInLast = (static_cast<unsigned char>(data[0]) & 7u) + 1u;
    const std::size_t bits = (data.size() - 2) * 8 + usedInLast;
    const std::size_t characters = bits / 7;
    if (characters * (wide ? 2 : 1) > limit)
        return std::nullopt;
    std::string out;
    out.reserve(characters * (wide ? 2 : 1));
    std::uint32_t buffer = 0;
    std::size_t buffered = 0;
    std::size_t at = 1;
    for (std::size_t i = 0; i < characters; ++i) {
        while (buffered < 7 && at < data.size()) {
            buffer |= std::uint32_t{static_cast<unsigned char>(data[at++])} << buffered;
            buffered += 8;
        }
        out.push_back(static_cast<char>(buffer & 0x7F));
        if (wide)
            out.push_back('\0');
        buffer >>= 7;
        buffered -= 7;
    }
    return out;
}

// Plain LZ77 as the XPRESS family defines it: 32-bit flag words, literals, and matches of a
// 13-bit offset and a length that grows through a shared half byte, a byte, a word, a dword.
std::optional<std::string> unpackXpress(const ByteReader& in, std::size_t at, std::size_t size) {
    std::string out;
    out.reserve(size);
    std::uint32_t flags = 0;
    int flagCount = 0;
    std::size_t halfByte = 0; // where the pending shared length nibble is; 0: none
    while (out.size() < size) {
        if (flagCount == 0) {
            const auto word = in.u32(at);
            if (!word)
                return std::nullopt;
            flags = *word;
            flagCount = 32;
            at += 4;
        }
        --flagCount;
        if (!((flags >> flagCount) & 1)) {
            const auto literal = in.u8(at++);
            if (!literal)
                return std::nullopt;
            out.push_back(static_cast<char>(*literal));
            continue;
        }
        const auto match = in.u16(at);
        if (!match)
            return std::nullopt;
        at += 2;
        std::size_t length = *match & 7u;
        const std::size_t offset = (*match >> 3) + 1u;
        if (length == 7) {
            if (halfByte == 0) {
                const auto nibble = in.u8(at);
                if (!nibble)
                    return std::nullopt;
                length = *nibble & 0xFu;
                halfByte = at++;
            } else {
                length = *in.u8(halfByte) >> 4;
                halfByte = 0;
            }
            if (length == 15) {
                const auto byte = in.u8(at++);
                if (!byte)
                    return std::nullopt;
                length = *byte;
                if (length == 255) {
                    const auto word = in.u16(at);
                    if (!word)
                        return std::nullopt;
                    at += 2;
                    length = *word;
                    if (length == 0) {
                        const auto dword = in.u32(at);
                        if (!dword)
                            return std::nullopt;
                        at += 4;
                        length = *dword;
                    }
                    if (length < 15 + 7)
                        return std::nullopt;
                    length -= 15 + 7;
                }
                length += 15;
            }
            length += 7;
        }
        length += 3;
        if (offset > out.size() || length > size - out.size())
            return std::nullopt; // reaches before the start, or past the size it announced
        const std::size_t from = out.size() - offset;
        for (std::size_t i = 0; i < length; ++i)
            out.push_back(out[from + i]);
    }
    return out;
}

} // namespace

std::optional<std::string> decompressValue(std::string_view data, std::size_t limit) {
    const ByteReader reader(data);
    const auto lead = reader.u8(0);
    if (!lead)
        return std::nullopt;
    switch (*lead >> 3) {
    case kSevenBitAnsi:
        return unpackSevenBit(data, false, limit);
    case kSevenBitUnicode:
        return unpackSevenBit(data, true, limit);
    case kXpress: {
        const auto size = reader.u16(1);
        if (!size || *size > limit)
            return std::nullopt;
        return unpackXpress(reader, 3, *size);
    }
    default:
        return std::nullopt;
    }
}

} // namespace platform::ese
