#pragma once
// The program search path handed to what the window starts. Programs start in a cached file's
// folder inside the profile, so an empty, "." or relative entry in PATH would let a cached file
// named like a helper program (run-mailcap, a terminal, an editor) run in its place.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// `path` (a PATH value) with only its absolute entries, in their order; a standard list of
// system folders when none is left (an empty PATH would mean the working folder).
std::string CleanSearchPath(std::string_view path);

// The clean form of this process's PATH.
std::string CleanSearchPathOfProcess();

// The absolute file name of `program` in the folders of `searchPath` (the first executable
// regular file of that name), or `program` itself when it is an absolute path; nullopt when there
// is none. A name with a "/" that is not absolute is never looked up.
std::optional<std::string> FindProgram(std::string_view program, std::string_view searchPath);

} // namespace platform
