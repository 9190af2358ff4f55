#include "ProgramInfo.h"

#include "Version.h"

#include <cstdio>
#include <string_view>

namespace platform {

std::string VersionText(const char* program) {
    return std::string(program) + " " + zezuvur::kVersion + "\n";
}

std::optional<int> AnswerHelpOrVersion(int argc, char** argv, const char* program,
                                       const char* help) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--")
            break;
        if (argument == "--help" || argument == "-h") {
            std::fputs(help, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::fputs(VersionText(program).c_str(), stdout);
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace platform
