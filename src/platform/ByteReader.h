#pragma once
// The one bounds-checked view over binary data that every parser of the program uses. Each read
// names an absolute offset and a length; anything that does not lie wholly inside the data
// (including offsets and lengths whose sum overflows) yields nullopt instead of a read.
// Values are little-endian. The reader never owns the bytes it looks at.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

namespace platform {

class ByteReader {
public:
    constexpr ByteReader() = default;
    ByteReader(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(data ? size : 0) {}
    explicit ByteReader(std::string_view bytes) : ByteReader(bytes.data(), bytes.size()) {}

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // True when [offset, offset + length) lies inside the data; never overflows.
    bool contains(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }

    std::optional<std::uint8_t> u8(std::uint64_t offset) const {
        if (!contains(offset, 1))
            return std::nullopt;
        return data_[offset];
    }
    std::optional<std::uint16_t> u16(std::uint64_t offset) const {
        return little<std::uint16_t>(offset);
    }
    std::optional<std::uint32_t> u32(std::uint64_t offset) const {
        return little<std::uint32_t>(offset);
    }
    std::optional<std::uint64_t> u64(std::uint64_t offset) const {
        return little<std::uint64_t>(offset);
    }

    // `length` bytes from `offset`.
    std::optional<std::string_view> bytes(std::uint64_t offset, std::uint64_t length) const {
        if (!contains(offset, length))
            return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(data_ + offset),
                                static_cast<std::size_t>(length));
    }

    // Whether the bytes at `offset` equal `expected`.
    bool matches(std::uint64_t offset, std::string_view expected) const {
        auto found = bytes(offset, expected.size());
        return found && *found == expected;
    }

    // A NUL-terminated string that starts at `offset` and whose NUL lies before `limit` (an
    // absolute offset, clipped to the data). The result excludes the NUL.
    std::optional<std::string_view> cString(std::uint64_t offset, std::uint64_t limit) const {
        if (limit > size_)
            limit = size_;
        if (offset >= limit)
            return std::nullopt;
        const auto* start = data_ + offset;
        const auto span = static_cast<std::size_t>(limit - offset);
        const void* nul = std::memchr(start, 0, span);
        if (nul == nullptr)
            return std::nullopt;
        return std::string_view(
            reinterpret_cast<const char*>(start),
            static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - start));
    }

    // A reader over [offset, offset + length), whose offsets start at 0 again.
    std::optional<ByteReader> sub(std::uint64_t offset, std::uint64_t length) const {
        if (!contains(offset, length))
            return std::nullopt;
        return ByteReader(data_ + offset, static_cast<std::size_t>(length));
    }

private:
    template <typename T> std::optional<T> little(std::uint64_t offset) const {
        if (!contains(offset, sizeof(T)))
            return std::nullopt;
        // One load rather than a byte loop: every entry of a cache reads a dozen of these.
        T value = 0;
        std::memcpy(&value, data_ + offset, sizeof(T));
        if constexpr (std::endian::native == std::endian::big) {
            T swapped = 0;
            for (std::size_t i = 0; i < sizeof(T); ++i, value >>= 8)
                swapped = static_cast<T>((swapped << 8) | (value & 0xFF));
            value = swapped;
        }
        return value;
    }

    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace platform
