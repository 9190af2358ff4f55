#pragma once
// The --help and --version answers that every program of the project gives the same way: on
// standard output, exit status 0, nothing else done.

#include <optional>
#include <string>

namespace platform {

// "NAME 1.11.0.0" and a line end.
std::string VersionText(const char* program);

// When an argument before any "--" is --help (or -h) or --version, prints the help text or the
// version and gives the exit status 0; otherwise nullopt, and the program goes on.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv, const char* program,
                                       const char* help);

} // namespace platform
