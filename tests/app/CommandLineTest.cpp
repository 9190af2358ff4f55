// The program's answers on the terminal, through the built binary with no display at all.

#include "support/ToolRunner.h"

#include "Version.h"

#include <gmock/gmock.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::IsEmpty;
using zz_test::ToolResult;

// zezuvur with the display variables removed and the environment given (NAME=VALUE, or NAME
// alone to remove it), so that nothing can reach a window system.
ToolResult RunZezuvur(const std::vector<std::string>& arguments,
                      const std::vector<std::string>& environment = {}) {
    std::vector<std::string> command = {"-u", "DISPLAY",        "-u", "WAYLAND_DISPLAY",
                                        "-u", "QT_QPA_PLATFORM"};
    for (const std::string& setting : environment) { // env takes every -u before the settings
        if (setting.find('=') == std::string::npos)
            command.insert(command.end(), {"-u", setting});
    }
    for (const std::string& setting : environment) {
        if (setting.find('=') != std::string::npos)
            command.push_back(setting);
    }
    command.push_back(zz_test::ToolPath("zezuvur").string());
    command.insert(command.end(), arguments.begin(), arguments.end());
    return zz_test::RunProgram("/usr/bin/env", command);
}

TEST(CommandLine, HelpAndVersionAnswerWithoutADisplay) {
    const ToolResult help = RunZezuvur({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, testing::StartsWith("usage: zezuvur [--profile DIR]\n"));
    for (const char* option : {"--profile DIR", "--list-profiles", "--all", "--version",
                               "ZEZUVUR_PROFILE", "Exit status:"})
        EXPECT_THAT(help.out, HasSubstr(option));
    EXPECT_THAT(help.err, IsEmpty());

    const ToolResult version = RunZezuvur({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("zezuvur ") + zezuvur::kVersion + "\n");
}

TEST(CommandLine, ABadCommandLineIsRefusedWithStatusTwo) {
    const zz_test::TempFolder folder("zz-cli");
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"profile"},
        {"--profile"},
        {"--profile", ""},
        {"--profile", (folder.path() / "missing").string()},
        {"--profile=" + (folder.path() / "missing").string()},
        {"--profile", folder.path().string(), "--profile", folder.path().string()},
        {"--all"},
        {"--list-profiles", "--profile", folder.path().string()},
    };
    for (const auto& arguments : cases) {
        const ToolResult result = RunZezuvur(arguments);
        const std::string shown = arguments.empty() ? "" : arguments[0];
        EXPECT_EQ(result.status, 2) << shown;
        EXPECT_THAT(result.err, testing::StartsWith("zezuvur: ")) << shown;
        EXPECT_THAT(result.out, IsEmpty()) << shown;
    }
    EXPECT_THAT(RunZezuvur({"--profile", (folder.path() / "missing").string()}).err,
                HasSubstr("no such profile folder"));
}

TEST(CommandLine, ListsTheProfilesThatHoldACache) {
    const zz_test::TempFolder home("zz-cli-home");
    const fs::path bob = home.path() / ".wine/drive_c/users/bob";
    ASSERT_EQ(
        zz_test::RunTool("make-profile", {"--entries", "20", "--layout", "wine8", bob.string()})
            .status,
        0);
    const fs::path bottle = home.path() / ".local/share/bottles/bottles/Empty/drive_c/users/bob";
    fs::create_directories(bottle);
    const std::vector<std::string> environment = {"HOME=" + home.path().string(),
                                                  "USER=bob",
                                                  "ZEZUVUR_PROFILE",
                                                  "WINEPREFIX",
                                                  "XDG_DATA_HOME",
                                                  "XDG_CONFIG_HOME"};

    const ToolResult holding = RunZezuvur({"--list-profiles"}, environment);
    EXPECT_EQ(holding.status, 0);
    const std::string wineLine = "Wine prefix (~/.wine)\tbob\t" + bob.string() + "\t3 index.dat";
    EXPECT_THAT(holding.out, HasSubstr(wineLine));
    EXPECT_THAT(holding.out, testing::Not(HasSubstr(bottle.string())));

    const ToolResult all = RunZezuvur({"--list-profiles", "--all"}, environment);
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_THAT(all.out, HasSubstr(wineLine));
    EXPECT_THAT(all.out, HasSubstr("Wine prefix (Bottles: Empty)\tbob\t" + bottle.string() +
                                   "\tno cache\n"));
    // The one that holds a cache comes first.
    EXPECT_LT(all.out.find(wineLine), all.out.find(bottle.string()));
}

} // namespace
