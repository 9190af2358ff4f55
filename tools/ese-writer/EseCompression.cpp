#include "EseWriter.h"

#include <algorithm>
#include <stdexcept>

namespace ese_writer {

namespace {

constexpr std::uint8_t kSevenBitAscii = 0x08;
constexpr std::uint8_t kSevenBitUnicode = 0x10;
constexpr std::uint8_t kXpress = 0x18;

std::vector<std::uint8_t> sevenBitUnits(const std::string& data, bool utf16) {
    std::vector<std::uint8_t> units;
    if (utf16) {
        if (data.size() % 2 != 0)
            throw std::invalid_argument("7-bit compression: odd UTF-16 byte count");
        for (std::size_t i = 0; i < data.size(); i += 2) {
            if (static_cast<std::uint8_t>(data[i]) >= 0x80 || data[i + 1] != 0)
                throw std::invalid_argument("7-bit compression: UTF-16 unit of 0x80 or more");
            units.push_back(static_cast<std::uint8_t>(data[i]));
        }
    } else {
        for (char c : data) {
            if (static_cast<std::uint8_t>(c) >= 0x80)
                throw std::invalid_argument("7-bit compression: byte of 0x80 or more");
            units.push_back(static_cast<std::uint8_t>(c));
        }
    }
    if (units.empty())
        throw std::invalid_argument("7-bit compression: empty value");
    return units;
}

std::string packSevenBit(const std::string& data, bool utf16) {
    const std::vector<std::uint8_t> units = sevenBitUnits(data, utf16);
    const std::size_t bits = units.size() * 7;
    std::string out(1 + (bits + 7) / 8, '\0');
    std::size_t bit = 0;
    for (std::uint8_t unit : units) {
        for (int i = 0; i < 7; ++i, ++bit) {
            if (unit & (1u << i))
                out[1 + bit / 8] = static_cast<char>(out[1 + bit / 8] | (1u << (bit % 8)));
        }
    }
    const unsigned usedInLast = bits % 8 == 0 ? 8 : static_cast<unsigned>(bits % 8);
    out[0] = static_cast<char>((utf16 ? kSevenBitUnicode : kSevenBitAscii) | (usedInLast - 1));
    return out;
}

void put16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

// Plain LZ77 XPRESS: groups of 32 items behind a 32-bit flag word (most significant bit first,
// 1 = match); a match is a 16-bit word (offset - 1) << 3 | length - 3 with longer lengths in
// shared half-bytes, then a byte, then 16 bits. The stream ends on a set flag bit.
class XpressEncoder {
public:
    explicit XpressEncoder(std::string& out) : out_(out) {}

    void literal(char c) {
        flag(false);
        out_.push_back(c);
    }

    void match(std::size_t offset, std::size_t length) {
        flag(true);
        const std::size_t extra = length - 3;
        put16(out_,
              static_cast<std::uint16_t>(((offset - 1) << 3) | std::min<std::size_t>(extra, 7)));
        if (extra < 7)
            return;
        const std::size_t more = extra - 7;
        halfByte(static_cast<std::uint8_t>(std::min<std::size_t>(more, 15)));
        if (more < 15)
            return;
        const std::size_t rest = more - 15;
        if (rest < 255) {
            out_.push_back(static_cast<char>(rest));
            return;
        }
        out_.push_back(static_cast<char>(0xFF));
        put16(out_, static_cast<std::uint16_t>(extra)); // lengths here stay below 65536
    }

    void finish() {
        if (open_ && count_ == 32)
            writeFlags();
        if (!open_ || count_ == 32)
            startGroup();
        while (count_ < 32) {
            flags_ = (flags_ << 1) | 1u;
            ++count_;
        }
        writeFlags();
    }

private:
    void flag(bool set) {
        if (!open_ || count_ == 32) {
            if (open_)
                writeFlags();
            startGroup();
        }
        flags_ = (flags_ << 1) | (set ? 1u : 0u);
        ++count_;
    }

    void startGroup() {
        flagsAt_ = out_.size();
        out_.append(4, '\0');
        flags_ = 0;
        count_ = 0;
        open_ = true;
    }

    void writeFlags() {
        for (int i = 0; i < 4; ++i)
            out_[flagsAt_ + i] = static_cast<char>(flags_ >> (8 * i));
    }

    void halfByte(std::uint8_t value) {
        if (pendingHalf_) {
            out_[halfAt_] = static_cast<char>(out_[halfAt_] | (value << 4));
            pendingHalf_ = false;
            return;
        }
        halfAt_ = out_.size();
        out_.push_back(static_cast<char>(value));
        pendingHalf_ = true;
    }

    std::string& out_;
    std::size_t flagsAt_ = 0;
    std::uint32_t flags_ = 0;
    int count_ = 0;
    bool open_ = false;
    std::size_t halfAt_ = 0;
    bool pendingHalf_ = false;
};

std::string xpress(const std::string& data) {
    if (data.size() > 0xFFFF)
        throw std::invalid_argument("XPRESS compression: more than 65535 bytes");
    std::string out(1, static_cast<char>(kXpress));
    put16(out, static_cast<std::uint16_t>(data.size()));
    XpressEncoder encoder(out);
    // Greedy matching against the last occurrence of each 3-byte prefix: simple and deterministic.
    std::vector<std::int64_t> last(1 << 16, -1);
    auto hashAt = [&](std::size_t at) {
        return (static_cast<std::uint8_t>(data[at]) * 33u * 33u +
                static_cast<std::uint8_t>(data[at + 1]) * 33u +
                static_cast<std::uint8_t>(data[at + 2])) &
               0xFFFFu;
    };
    std::size_t at = 0;
    while (at < data.size()) {
        std::size_t bestLength = 0;
        std::size_t bestOffset = 0;
        if (at + 3 <= data.size()) {
            const std::uint32_t h = hashAt(at);
            const std::int64_t candidate = last[h];
            if (candidate >= 0 && at - static_cast<std::size_t>(candidate) <= 8192) {
                std::size_t length = 0;
                while (at + length < data.size() && length < 4000 &&
                       data[static_cast<std::size_t>(candidate) + length] == data[at + length])
                    ++length;
                if (length >= 3) {
                    bestLength = length;
                    bestOffset = at - static_cast<std::size_t>(candidate);
                }
            }
        }
        const std::size_t step = bestLength >= 3 ? bestLength : 1;
        for (std::size_t i = at; i < at + step && i + 3 <= data.size(); ++i)
            last[hashAt(i)] = static_cast<std::int64_t>(i);
        if (bestLength >= 3)
            encoder.match(bestOffset, bestLength);
        else
            encoder.literal(data[at]);
        at += step;
    }
    encoder.finish();
    return out;
}

} // namespace

std::string Compress(const std::string& data, Compression how, bool utf16) {
    switch (how) {
    case Compression::None:
        return data;
    case Compression::SevenBit:
        return packSevenBit(data, utf16);
    case Compression::Xpress:
        return xpress(data);
    }
    return data;
}

} // namespace ese_writer
