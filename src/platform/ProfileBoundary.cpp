#include "platform/ProfileBoundary.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace fs = std::filesystem;

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0)
        ::close(fd_);
}

namespace {

// The argument of openat2, declared here so that older system headers do not matter.
struct OpenHow {
    std::uint64_t flags;
    std::uint64_t mode;
    std::uint64_t resolve;
};
constexpr std::uint64_t kResolveNoMagicLinks = 0x02;
constexpr std::uint64_t kResolveBeneath = 0x08;

std::atomic<bool> kernelCheckAllowed{true};

int openat2Call(int folder, const char* path, std::uint64_t flags, std::uint64_t resolve) {
#ifdef SYS_openat2
    OpenHow how{flags, 0, resolve};
    return static_cast<int>(::syscall(SYS_openat2, folder, path, &how, sizeof how));
#else
    (void)folder, (void)path, (void)flags, (void)resolve;
    errno = ENOSYS;
    return -1;
#endif
}

bool kernelHasOpenat2() {
    // Absent on kernels before 5.6 (ENOSYS) and refused by some sandboxes (EPERM).
    static const bool available = [] {
        const int fd = openat2Call(AT_FDCWD, "/", O_PATH | O_CLOEXEC, 0);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }();
    return available;
}

// O_NOATIME is refused for files the process does not own; the open is then made without it.
template <typename Open> int openKeepingAccessTime(int flags, Open open) {
    int fd = open(flags | O_CLOEXEC);
    if (fd < 0 && errno == EPERM && (flags & O_NOATIME) != 0)
        fd = open((flags & ~O_NOATIME) | O_CLOEXEC);
    return fd;
}

// The part of `hostPath` below the boundary, lexically; nullopt when it is not below it.
std::optional<fs::path> relativeBelow(const fs::path& boundary, const fs::path& hostPath) {
    if (boundary.empty())
        return std::nullopt;
    const fs::path relative =
        hostPath.lexically_normal().lexically_relative(boundary.lexically_normal());
    if (relative.empty() || *relative.begin() == "..")
        return std::nullopt;
    return relative;
}

bool isInside(const std::string& path, const std::string& folder) {
    if (folder == "/")
        return !path.empty() && path.front() == '/';
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

std::optional<std::string> realPathOf(const fs::path& path) {
    struct FreeDeleter {
        void operator()(char* text) const { std::free(text); }
    };
    std::unique_ptr<char, FreeDeleter> resolved(::realpath(path.c_str(), nullptr));
    if (!resolved)
        return std::nullopt;
    return std::string(resolved.get());
}

// What the descriptor really names now; nullopt where /proc is not there to say.
std::optional<std::string> pathOfDescriptor(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target)
        return std::nullopt;
    return std::string(target, static_cast<std::size_t>(length));
}

UniqueFd openWithKernelCheck(const fs::path& boundary, const fs::path& relative, int flags) {
    UniqueFd root(::open(boundary.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root.valid())
        return {};
    return UniqueFd(openKeepingAccessTime(flags, [&](int withFlags) {
        return openat2Call(root.get(), relative.c_str(), static_cast<std::uint64_t>(withFlags),
                           kResolveBeneath | kResolveNoMagicLinks);
    }));
}

// Without openat2: resolve, compare, open what was resolved without following a link in its
// last name, and compare again what was opened, in case a folder on the way was swapped.
UniqueFd openWithResolvedCheck(const fs::path& boundary, const fs::path& hostPath, int flags) {
    const auto realBoundary = realPathOf(boundary);
    const auto realFile = realPathOf(hostPath);
    if (!realBoundary || !realFile || !isInside(*realFile, *realBoundary))
        return {};
    UniqueFd fd(openKeepingAccessTime(
        flags | O_NOFOLLOW, [&](int withFlags) { return ::open(realFile->c_str(), withFlags); }));
    if (!fd.valid())
        return {};
    if (const auto opened = pathOfDescriptor(fd.get()); opened && !isInside(*opened, *realBoundary))
        return {};
    return fd;
}

} // namespace

const fs::path& BoundaryOf(const ProfileRoot& profile) {
    return profile.hostFolder;
}

bool KernelChecksBoundary() {
    return kernelCheckAllowed && kernelHasOpenat2();
}

bool SetKernelBoundaryCheckForTesting(bool allowed) {
    return kernelCheckAllowed.exchange(allowed);
}

UniqueFd OpenInsideProfile(const ProfileRoot& profile, const fs::path& hostPath, int flags) {
    const fs::path& boundary = BoundaryOf(profile);
    const auto relative = relativeBelow(boundary, hostPath);
    if (!relative)
        return {};
    if (KernelChecksBoundary())
        return openWithKernelCheck(boundary, *relative, flags);
    return openWithResolvedCheck(boundary, hostPath, flags);
}

std::optional<fs::path> RealPathInsideProfile(const ProfileRoot& profile,
                                              const fs::path& hostPath) {
    const UniqueFd fd = OpenInsideProfile(profile, hostPath, O_PATH);
    if (!fd.valid())
        return std::nullopt;
    if (auto opened = pathOfDescriptor(fd.get()))
        return fs::path(*opened);
    return realPathOf(hostPath); // checked by the open above
}

std::optional<std::uint64_t> SizeInsideProfile(const ProfileRoot& profile,
                                               const fs::path& hostPath) {
    // An O_PATH descriptor reads nothing: no FIFO can block it and no access time changes.
    const UniqueFd fd = OpenInsideProfile(profile, hostPath, O_PATH);
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0)
        return std::nullopt;
    if (S_ISDIR(info.st_mode))
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

namespace {

std::optional<FileHead> readInsideProfile(const ProfileRoot& profile, const fs::path& hostPath,
                                          std::size_t maxBytes, bool wholeOnly) {
    // A profile can hold a FIFO or a device under a cached file's name: opening one for reading
    // could block for good or act on the device, so the type is looked at before the open, and
    // what was opened must be the same file.
    struct stat named {};
    const UniqueFd looked = OpenInsideProfile(profile, hostPath, O_PATH);
    if (!looked.valid() || ::fstat(looked.get(), &named) != 0 || !S_ISREG(named.st_mode))
        return std::nullopt;
    const UniqueFd fd =
        OpenInsideProfile(profile, hostPath, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOATIME);
    struct stat opened {};
    if (!fd.valid() || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
        return std::nullopt;
    FileHead head;
    head.size = static_cast<std::uint64_t>(opened.st_size);
    if (wholeOnly && head.size > maxBytes)
        return std::nullopt;
    head.bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes, head.size)));
    std::size_t have = 0;
    while (have < head.bytes.size()) {
        const ssize_t got = ::read(fd.get(), head.bytes.data() + have, head.bytes.size() - have);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        have += static_cast<std::size_t>(got);
    }
    head.bytes.resize(have);
    return head;
}

} // namespace

std::optional<FileHead> ReadHeadInsideProfile(const ProfileRoot& profile, const fs::path& hostPath,
                                              std::size_t maxBytes) {
    return readInsideProfile(profile, hostPath, maxBytes, false);
}

std::optional<std::string> ReadFileInsideProfile(const ProfileRoot& profile,
                                                 const fs::path& hostPath, std::size_t maxBytes) {
    auto whole = readInsideProfile(profile, hostPath, maxBytes, true);
    if (!whole)
        return std::nullopt;
    return std::move(whole->bytes);
}

} // namespace platform
