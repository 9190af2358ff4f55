#pragma once
// Reading a container's bytes from disk: read-only, never locked, never mapped (a file that
// another program cuts short while it is mapped would kill the reader; a copy is only ever out
// of date).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

namespace platform::urlcache {

// Bytes read from a file, in one block owned by this object. Large blocks are laid out so that
// the host can back them with few, large pages: reading a big container then costs little more
// than the copy itself.
class FileBytes {
public:
    FileBytes() = default;
    explicit FileBytes(std::size_t capacity);
    FileBytes(FileBytes&& other) noexcept { swap(other); }
    FileBytes& operator=(FileBytes&& other) noexcept {
        swap(other);
        return *this;
    }
    ~FileBytes();

    unsigned char* data() { return data_; }
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }
    void setSize(std::size_t size) { size_ = size < capacity_ ? size : capacity_; }

private:
    void swap(FileBytes& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// The largest container read, 512 MiB: what one reaches with a few million entries, and about
// three times that in memory once its entries are listed. A larger file is skipped and noted
// (SkippedContainers.h). Sparse holes count towards the size but cost no memory.
constexpr std::uint64_t kMaxContainerBytes = std::uint64_t{512} << 20;

// The whole content of a regular file, read with O_RDONLY (and O_NOATIME where permitted), only
// its data regions: holes read as zeros without costing memory. Nullopt for a missing or
// unreadable file, a folder or anything else that is not a regular file, a file without a
// container's signature, and a container over kMaxContainerBytes (which is noted).
std::optional<FileBytes> ReadWholeFileReadOnly(const std::filesystem::path& path);

} // namespace platform::urlcache
