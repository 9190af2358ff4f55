#include "platform/urlcache/ContainerBytes.h"

#include "platform/urlcache/IndexDatFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <new>
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

constexpr std::uint64_t kMaxAddressableBytes = std::uint64_t{1} << 32;

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

} // namespace

std::optional<FileBytes> ReadWholeFileReadOnly(const std::filesystem::path& path) {
    FileDescriptor file{openReadOnly(path)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0)
        return std::nullopt;
    if (!startsWithSignature(file.fd))
        return std::nullopt;
    // Every offset in a container is 32-bit, so nothing past 4 GiB can be reached: a larger
    // (or sparse) file is read no further than that.
    const auto expected = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(info.st_size), kMaxAddressableBytes));
    FileBytes bytes(expected);
    std::size_t have = 0;
    // A writer may shrink the file meanwhile: keep what could be read, never more than fstat said.
    while (have < expected) {
        const ssize_t got = ::read(file.fd, bytes.data() + have, expected - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    bytes.setSize(have);
    return bytes;
}

} // namespace platform::urlcache
