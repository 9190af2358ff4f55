#include "platform/SearchPath.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::string_view kSystemFolders = "/usr/local/bin:/usr/bin:/bin";

template <typename Visit> void forEachEntry(std::string_view path, Visit visit) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string_view::npos)
            end = path.size();
        visit(path.substr(start, end - start));
        start = end + 1;
    }
}

bool isExecutableFile(const std::string& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(file.c_str(), X_OK) == 0;
}

} // namespace

std::string CleanSearchPath(std::string_view path) {
    std::string clean;
    forEachEntry(path, [&](std::string_view entry) {
        if (entry.empty() || entry.front() != '/')
            return;
        if (!clean.empty())
            clean += ':';
        clean += entry;
    });
    return clean.empty() ? std::string(kSystemFolders) : clean;
}

std::string CleanSearchPathOfProcess() {
    const char* path = std::getenv("PATH");
    return CleanSearchPath(path ? path : "");
}

std::optional<std::string> FindProgram(std::string_view program, std::string_view searchPath) {
    if (program.empty())
        return std::nullopt;
    if (program.front() == '/')
        return std::string(program);
    if (program.find('/') != std::string_view::npos)
        return std::nullopt;
    std::optional<std::string> found;
    forEachEntry(searchPath, [&](std::string_view folder) {
        if (found || folder.empty() || folder.front() != '/')
            return;
        std::string candidate(folder);
        if (candidate.back() != '/')
            candidate += '/';
        candidate += program;
        if (isExecutableFile(candidate))
            found = std::move(candidate);
    });
    return found;
}

} // namespace platform
