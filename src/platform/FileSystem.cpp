#include "platform/FileSystem.h"

#include "platform/PathMapper.h"

#include <sys/stat.h>

namespace platform {

// A stat never waits for a removable drive or asks the user anything, so nothing here can block
// on a dialog. A folder reports size 0, as a directory listing would.
std::optional<std::uint64_t> FileSizeOfWindowsPath(std::string_view windowsPath) {
    const std::optional<std::filesystem::path> hostPath = HostPathFromWindows(windowsPath);
    if (!hostPath)
        return std::nullopt;
    struct stat info {};
    if (::stat(hostPath->c_str(), &info) != 0)
        return std::nullopt;
    if (S_ISDIR(info.st_mode))
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

} // namespace platform
