#pragma once
// Runs one of the built command-line tools (found through ZEZUVUR_BIN_DIR) and collects its
// exit status and output.

#include "support/TempFolder.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace zz_test {

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string ShellQuoted(const std::string& argument) {
    std::string quoted = "'";
    for (char c : argument)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// ZEZUVUR_BIN_DIR names the tools' folder; without it they sit beside the test binary.
inline std::filesystem::path ToolPath(const std::string& tool) {
    const char* dir = std::getenv("ZEZUVUR_BIN_DIR");
    const std::filesystem::path folder =
        dir ? std::filesystem::path(dir)
            : std::filesystem::read_symlink("/proc/self/exe").parent_path();
    return folder / tool;
}

// The program of that name in a PATH folder, if there is one.
inline std::optional<std::filesystem::path> FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::filesystem::path candidate =
            std::filesystem::path(folders.substr(start, end - start)) / program;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

inline std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `program` (a full path) with the arguments; stdout and stderr are captured separately.
inline ToolResult RunProgram(const std::filesystem::path& program,
                             const std::vector<std::string>& arguments) {
    const TempFolder scratch("zz-tools");
    std::string command = ShellQuoted(program.string());
    for (const std::string& argument : arguments)
        command.append(" ").append(ShellQuoted(argument));
    const auto out = scratch.path() / "out";
    const auto err = scratch.path() / "err";
    command.append(" >").append(ShellQuoted(out.string()));
    command.append(" 2>").append(ShellQuoted(err.string()));
    ToolResult result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

inline ToolResult RunTool(const std::string& tool, const std::vector<std::string>& arguments) {
    return RunProgram(ToolPath(tool), arguments);
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline std::vector<std::string> Columns(const std::string& line) {
    std::vector<std::string> columns;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        columns.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return columns;
        start = tab + 1;
    }
}

} // namespace zz_test
