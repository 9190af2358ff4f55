#include "platform/urlcache/ContainerBytes.h"

#include "platform/urlcache/IndexDatFormat.h"
#include "platform/urlcache/SkippedContainers.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::urlcache {

FileBytes::FileBytes(std::size_t capacity) {
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    void* block = nullptr;
    if (capacity >= kLargePage) {
        if (::posix_memalign(&block, kLargePage, capacity) != 0)
            block = nullptr;
        else
            ::madvise(block, capacity, MADV_HUGEPAGE); // a hint; refusal changes nothing
    } else {
        block = std::malloc(capacity == 0 ? 1 : capacity);
    }
    if (block == nullptr)
        throw std::bad_alloc();
    data_ = static_cast<unsigned char*>(block);
    capacity_ = capacity;
}

FileBytes::~FileBytes() {
    std::free(data_);
}

namespace {

int openReadOnly(const std::filesystem::path& path) {
    // O_NOATIME is refused for files the process does not own; fall back to a plain open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME | O_NONBLOCK);
    if (fd < 0 && errno == EPERM)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    return fd;
}

// Checked before the whole file is read, so that a large file that is no container costs one
// small read, not its size in memory.
bool startsWithSignature(int fd) {
    char head[kWindowsSignature.size()] = {};
    static_assert(kWindowsSignature.size() == kWineSignature.size());
    if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head))
        return false;
    const std::string_view text(head, sizeof head);
    return text == kWindowsSignature || text == kWineSignature;
}

struct FileDescriptor {
    int fd;
    ~FileDescriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};

// The size of the container's bytes to hold in memory, or nullopt (noted) when it is past the
// bound. The bound is on the file's size, holes included: its 32-bit offsets can reach all of it.
std::optional<std::size_t> boundedContainerSize(const std::filesystem::path& path,
                                                const struct stat& info) {
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (size > kMaxContainerBytes) {
        NoteSkippedContainer(path, "is " + std::to_string(size) + " bytes, over the " +
                                       std::to_string(kMaxContainerBytes) + " read");
        return std::nullopt;
    }
    return static_cast<std::size_t>(size);
}

// Zero bytes for a hole. Whole pages are given back instead of written: a private anonymous
// page reads as zeros afterwards and costs no memory until something is written to it.
void zeroHole(unsigned char* from, std::size_t length) {
    const auto pageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(from);
    const std::uintptr_t firstPage = (begin + pageSize - 1) / pageSize * pageSize;
    const std::uintptr_t endPage = (begin + length) / pageSize * pageSize;
    if (endPage <= firstPage ||
        ::madvise(reinterpret_cast<void*>(firstPage), endPage - firstPage, MADV_DONTNEED) != 0) {
        std::memset(from, 0, length);
        return;
    }
    std::memset(from, 0, firstPage - begin);
    std::memset(reinterpret_cast<unsigned char*>(endPage), 0, begin + length - endPage);
}

// Reads [begin, end) of the file; returns how many bytes it got (fewer when the file shrank).
std::size_t readRange(int fd, unsigned char* into, std::size_t begin, std::size_t end) {
    std::size_t have = begin;
    while (have < end) {
        const ssize_t got = ::pread(fd, into + have, end - have, static_cast<off_t>(have));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    return have;
}

// Reads the first `size` bytes of the file, only its data regions: its holes are zeroed without
// being read, so a sparse file costs memory for what it stores, not for its size. Returns how
// many bytes are valid (fewer when the file shrank while it was read).
std::size_t readDataRegions(int fd, unsigned char* into, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            data = static_cast<off_t>(size); // nothing but a hole up to the end
        else if (data < 0)
            data = static_cast<off_t>(at); // the host cannot tell: read everything
        const std::size_t dataBegin = std::min(static_cast<std::size_t>(data), size);
        zeroHole(into + at, dataBegin - at);
        if (dataBegin == size)
            break;
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        std::size_t dataEnd = hole < 0 ? size : std::min(static_cast<std::size_t>(hole), size);
        if (dataEnd <= dataBegin)
            dataEnd = size;
        const std::size_t got = readRange(fd, into, dataBegin, dataEnd);
        if (got < dataEnd)
            return got;
        at = got;
    }
    return size;
}

} // namespace

std::optional<FileBytes> ReadWholeFileReadOnly(const std::filesystem::path& path) {
    FileDescriptor file{openReadOnly(path)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0)
        return std::nullopt;
    if (!startsWithSignature(file.fd))
        return std::nullopt;
    const std::optional<std::size_t> expected = boundedContainerSize(path, info);
    if (!expected)
        return std::nullopt;
    FileBytes bytes(*expected);
    // A writer may shrink the file meanwhile: keep what could be read, never more than fstat said.
    bytes.setSize(readDataRegions(file.fd, bytes.data(), *expected));
    return bytes;
}

} // namespace platform::urlcache
