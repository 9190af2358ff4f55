#include "platform/urlcache/ContainerBytes.h"

#include "platform/urlcache/IndexDatFormat.h"
#include "platform/urlcache/SkippedContainers.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

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

FileStamp stampOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_size),
            std::int64_t{info.st_mtim.tv_sec} * 1'000'000'000 + info.st_mtim.tv_nsec};
}

} // namespace

std::optional<FileStamp> StampOfFile(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return stampOf(info);
}

namespace {

int openReadOnly(const std::filesystem::path& path) {
    // O_NOATIME is refused for files the process does not own; fall back to a plain open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME | O_NONBLOCK | O_NOCTTY);
    if (fd < 0 && errno == EPERM)
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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
    int fd = -1;

    explicit FileDescriptor(int opened) : fd(opened) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&&) = delete;
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

// The bytes of the open file `fd`, whose fstat gave `size`, into `bytes` (grown when too small).
// A writer may shrink the file meanwhile: keep what could be read, never more than fstat said.
// The caller has bounded `size` by kMaxContainerBytes.
void readAll(int fd, std::uint64_t size, FileBytes& bytes) {
    const auto expected = static_cast<std::size_t>(size);
    if (bytes.capacity() < expected)
        bytes = FileBytes(expected);
    bytes.setSize(readDataRegions(fd, bytes.data(), expected));
}

// An open container file: regular, and starting with a container signature.
struct OpenedFile {
    FileDescriptor file;
    struct stat info {};
};

std::optional<OpenedFile> openContainerFile(const std::filesystem::path& path) {
    OpenedFile opened{FileDescriptor(openReadOnly(path))};
    if (opened.file.fd < 0 || ::fstat(opened.file.fd, &opened.info) != 0 ||
        !S_ISREG(opened.info.st_mode) || opened.info.st_size < 0)
        return std::nullopt;
    if (!startsWithSignature(opened.file.fd) || !boundedContainerSize(path, opened.info))
        return std::nullopt;
    return opened;
}

// The bytes of the containers read so far, by path, each with the stamp of the file it was read
// from. A search reads a container only when the file's stamp differs from the one kept, and
// then reuses the kept block when no search holds it any more, so that reading a changed file
// costs no fresh pages. What is kept is bounded in bytes and in files; the longest unused goes
// first.
class BytesCache {
public:
    void clear() {
        std::lock_guard guard(lock_);
        kept_.clear();
    }

    std::shared_ptr<const FileBytes> read(const std::filesystem::path& path) {
        auto opened = openContainerFile(path);
        if (!opened)
            return nullptr;
        const FileStamp stamp = stampOf(opened->info);
        const std::string key = path.string();
        std::lock_guard guard(lock_);
        Kept* kept = find(key);
        if (kept && kept->stamp == stamp) {
            kept->lastUse = ++clock_;
            return kept->bytes;
        }
        std::shared_ptr<FileBytes> bytes;
        if (kept && kept->bytes.use_count() == 1)
            bytes = std::move(kept->bytes); // no search holds it: read over it
        else
            bytes = std::make_shared<FileBytes>();
        forget(key);
        readAll(opened->file.fd, stamp.size, *bytes);
        // A file written to while it was read is not kept: its next reader reads it again.
        struct stat after {};
        if (::fstat(opened->file.fd, &after) == 0 && stampOf(after) == stamp &&
            bytes->size() == stamp.size)
            keep(key, stamp, bytes);
        return bytes;
    }

private:
    static constexpr std::size_t kMaxKeptBytes = std::size_t{1} << 30;
    static constexpr std::size_t kMaxKeptFiles = 1024;

    struct Kept {
        std::string path;
        FileStamp stamp;
        std::shared_ptr<FileBytes> bytes;
        std::uint64_t lastUse = 0;
    };

    Kept* find(const std::string& path) {
        auto found =
            std::find_if(kept_.begin(), kept_.end(), [&](const Kept& k) { return k.path == path; });
        return found == kept_.end() ? nullptr : &*found;
    }

    void forget(const std::string& path) {
        std::erase_if(kept_, [&](const Kept& k) { return k.path == path; });
    }

    void keep(const std::string& path, const FileStamp& stamp, std::shared_ptr<FileBytes> bytes) {
        if (bytes->size() > kMaxKeptBytes)
            return;
        kept_.push_back({path, stamp, std::move(bytes), ++clock_});
        while (kept_.size() > kMaxKeptFiles || keptBytes() > kMaxKeptBytes) {
            auto oldest =
                std::min_element(kept_.begin(), kept_.end(), [](const Kept& a, const Kept& b) {
                    return a.lastUse < b.lastUse;
                });
            kept_.erase(oldest);
        }
    }

    std::size_t keptBytes() const {
        std::size_t total = 0;
        for (const Kept& k : kept_)
            total += k.bytes->capacity();
        return total;
    }

    std::mutex lock_;
    std::vector<Kept> kept_;
    std::uint64_t clock_ = 0;
};

} // namespace

std::optional<FileBytes> ReadWholeFileReadOnly(const std::filesystem::path& path) {
    auto opened = openContainerFile(path);
    if (!opened)
        return std::nullopt;
    FileBytes bytes;
    readAll(opened->file.fd, static_cast<std::uint64_t>(opened->info.st_size), bytes);
    return bytes;
}

BytesCache& bytesCache() {
    static BytesCache cache;
    return cache;
}

std::shared_ptr<const FileBytes> ReadContainerBytes(const std::filesystem::path& path) {
    return bytesCache().read(path);
}

void ForgetContainerBytes() {
    bytesCache().clear();
}

} // namespace platform::urlcache
