#pragma once
// Queries about one file named by a Windows-form path, answered through the path mapper.
// Never blocks on a dialog; a file that cannot be found is reported as such.

#include "WinTypes.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// The size of the file (or folder entry) that the Windows-form path names, or nullopt when
// there is none or it lies outside the profile once symbolic links are resolved.
std::optional<std::uint64_t> FileSizeOfWindowsPath(std::string_view windowsPath);

} // namespace platform
