#include "support/ToolRunner.h"

#include "Version.h"

#include <gmock/gmock.h>

namespace {

// Every tool answers --help and --version on standard output with status 0, wherever the
// option stands, and does nothing else.
TEST(Tools, AnswerHelpAndVersion) {
    for (const std::string tool : {"urlcache-dump", "make-profile", "zezuvur-report"}) {
        const zz_test::TempFolder scratch("zz-help");
        const std::string target = (scratch.path() / "out").string();
        for (const std::vector<std::string>& arguments : {std::vector<std::string>{"--help"},
                                                          {"--profile", target, "--help"},
                                                          {"--entries", "5", target, "-h"}}) {
            const zz_test::ToolResult help = zz_test::RunTool(tool, arguments);
            EXPECT_EQ(help.status, 0) << tool;
            EXPECT_THAT(help.out, testing::StartsWith("usage: " + tool + " ")) << tool;
            EXPECT_THAT(help.out, testing::HasSubstr("Exit status:")) << tool;
            EXPECT_THAT(help.err, testing::IsEmpty()) << tool;
        }
        const zz_test::ToolResult version = zz_test::RunTool(tool, {"--version"});
        EXPECT_EQ(version.status, 0) << tool;
        EXPECT_EQ(version.out, tool + " " + zezuvur::kVersion + "\n");
        EXPECT_FALSE(std::filesystem::exists(target)) << tool << " did some work";
    }
}

} // namespace
