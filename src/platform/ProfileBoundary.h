#pragma once
// The profile folder as a boundary. A profile may come from anywhere, and a symbolic link in it
// (a sub-folder linked to "/", a cached file linked to /etc/shadow, the links a Wine prefix keeps
// to the user's own Documents) must not lead a read, a size, a preview or an open outside it.
// Every cached file is reached through here: it counts only when it really lies inside the
// profile folder once every link on the way is resolved; anything else behaves as a missing file.

#include "platform/PathMapper.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// An open file descriptor, closed when the object goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

// The folder no cached file may leave: the profile folder, which for a Wine prefix is the
// user's folder under drive_c.
const std::filesystem::path& BoundaryOf(const ProfileRoot& profile);

// Opens `hostPath` with `flags` (O_CLOEXEC is added) when it lies inside the profile folder after
// every symbolic link is resolved; an invalid descriptor otherwise. The kernel checks this on
// the open itself where it can (openat2 with RESOLVE_BENEATH and RESOLVE_NO_MAGICLINKS); else the
// path is resolved and compared before the open and again on what was opened. O_NOATIME is asked
// for and dropped silently where the system refuses it.
UniqueFd OpenInsideProfile(const ProfileRoot& profile, const std::filesystem::path& hostPath,
                           int flags);

// The resolved path of `hostPath` (no links left in it) when it lies inside the profile folder.
std::optional<std::filesystem::path> RealPathInsideProfile(const ProfileRoot& profile,
                                                           const std::filesystem::path& hostPath);

// The size of what `hostPath` names inside the profile (0 for a folder); nullopt when there is
// nothing there or it lies outside.
std::optional<std::uint64_t> SizeInsideProfile(const ProfileRoot& profile,
                                               const std::filesystem::path& hostPath);

struct FileHead {
    std::string bytes;      // at most the number asked for
    std::uint64_t size = 0; // of the whole file
};

// The first `maxBytes` of a regular file inside the profile, read without waiting on a FIFO or
// a device and without changing its access time where the system allows. Nullopt for anything
// else (missing, outside, not a regular file, unreadable).
std::optional<FileHead> ReadHeadInsideProfile(const ProfileRoot& profile,
                                              const std::filesystem::path& hostPath,
                                              std::size_t maxBytes);

// The whole of a regular file inside the profile, read as ReadHeadInsideProfile reads; nullopt
// also when the file is larger than `maxBytes` (nothing of it is read then).
std::optional<std::string> ReadFileInsideProfile(const ProfileRoot& profile,
                                                 const std::filesystem::path& hostPath,
                                                 std::size_t maxBytes);

// Tests run both ways of checking: false makes the resolve-and-compare way be used even where
// the kernel could check. Returns the previous setting.
bool SetKernelBoundaryCheckForTesting(bool allowed);

// Whether the kernel can check the boundary on this machine.
bool KernelChecksBoundary();

} // namespace platform
