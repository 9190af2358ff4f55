#pragma once
// Reading a container's bytes from disk: read-only, never locked, never mapped (a file that
// another program cuts short while it is mapped would kill the reader; a copy is only ever out
// of date).

#include <cstddef>
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

// The whole content of a regular file, read with O_RDONLY (and O_NOATIME where permitted).
// Nullopt for a missing or unreadable file, a folder or anything else that is not a regular file.
std::optional<FileBytes> ReadWholeFileReadOnly(const std::filesystem::path& path);

} // namespace platform::urlcache
