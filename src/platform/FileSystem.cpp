#include "platform/FileSystem.h"

#include "platform/PathMapper.h"
#include "platform/ProfileBoundary.h"

namespace platform {

// Nothing here waits for a removable drive, asks the user anything or reads a byte of the file.
// A folder reports size 0, as a directory listing would; a file that lies outside the profile
// once its links are resolved is not there.
std::optional<std::uint64_t> FileSizeOfWindowsPath(std::string_view windowsPath) {
    const ProfileRoot profile = CurrentProfile();
    const std::optional<std::filesystem::path> hostPath = HostPathFromWindows(profile, windowsPath);
    if (!hostPath)
        return std::nullopt;
    return SizeInsideProfile(profile, *hostPath);
}

} // namespace platform
