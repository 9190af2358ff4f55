#pragma once
// Reading a container's bytes from disk: read-only, never locked, never mapped (a file that
// another program cuts short while it is mapped would kill the reader; a copy is only ever out
// of date).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
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
    std::size_t capacity() const { return capacity_; }
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

// What tells one state of a file from another: a file replaced, grown, cut or written to has
// another stamp (a write within the file system's time-stamp granularity that keeps the size is
// the one change it cannot see).
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at `path` (links followed); nullopt when it cannot be looked at.
std::optional<FileStamp> StampOfFile(const std::filesystem::path& path);

// The whole content of a regular file, read with O_RDONLY (and O_NOATIME where permitted), only
// its data regions: holes read as zeros without costing memory. Nullopt for a missing or
// unreadable file, a folder or anything else that is not a regular file, a file without a
// container's signature, and a container over kMaxContainerBytes (which is noted).
std::optional<FileBytes> ReadWholeFileReadOnly(const std::filesystem::path& path);

// The bytes of a container file, as ReadWholeFileReadOnly reads them, shared and never changed.
// A file is read once per process: while its device, inode, size and modification time stay
// the same, the bytes read before are handed out again.
std::shared_ptr<const FileBytes> ReadContainerBytes(const std::filesystem::path& path);

// Lets go of the bytes kept for later searches (those a search still holds go with it). For a
// program that has read all it will read: the next search reads its containers afresh.
void ForgetContainerBytes();

} // namespace platform::urlcache
