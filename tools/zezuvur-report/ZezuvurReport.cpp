// zezuvur-report: the program's start-up work without a window. Lists the sites, the totals
// line, and for each site what its six tabs and its count line would show, one tab-separated
// line per item, bytes as stored but for control characters, which are escaped (see
// platform/TextEscape.h), so that no stored text can break a line or reach the terminal.

#include "analysis/CacheAnalyzer.h"
#include "analysis/CountLines.h"
#include "analysis/ManySites.h"
#include "platform/PathMapper.h"
#include "platform/ProgramInfo.h"
#include "platform/TextEscape.h"
#include "platform/urlcache/SkippedContainers.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

struct Options {
    std::optional<std::string> profile;
    bool sitesOnly = false;
    std::vector<std::string> sites;
};

constexpr const char* kHelp =
    "usage: zezuvur-report [--profile DIR] [--sites-only] [--site NAME]...\n"
    "       zezuvur-report --help | --version\n"
    "\n"
    "Does the window's start-up work without a window and prints what it would show: the\n"
    "site list, the totals line, and for each site the items of its six tabs and its count\n"
    "line. One line per item: a tag (site, total, select, pages, images, other, media,\n"
    "cookies, history, current), a tab, the text. The cache is only read.\n"
    "\n"
    "In the texts a control character (bytes 0x00-0x1F, 0x7F) is written \\xHH, and a\n"
    "backslash that would start such an escape (before a backslash, a control character or\n"
    "x and two hex digits) is written \\\\; every other byte is printed as stored. Containers\n"
    "skipped for their size or number are named on stderr.\n"
    "\n"
    "Options:\n"
    "  --profile DIR  read the URL cache of this Windows user-profile folder\n"
    "                 (default: ZEZUVUR_PROFILE, else the Wine prefix's user folder)\n"
    "  --sites-only   print only the site list and the totals line\n"
    "  --site NAME    report this site (repeatable); default: every listed site\n"
    "  --help         print this help and exit\n"
    "  --version      print the version and exit\n"
    "\n"
    "Environment:\n"
    "  ZEZUVUR_PROFILE  the profile folder to read when --profile is not given\n"
    "  WINEPREFIX       the Wine prefix whose drive_c/users/$USER is read otherwise\n"
    "                   (default: ~/.wine)\n"
    "\n"
    "Exit status:\n"
    "  0  the report was printed\n"
    "  1  the cache could not be read or the report not written\n"
    "  2  a bad argument, or no such profile folder\n";

void PrintUsage(std::FILE* to) {
    std::fputs(kHelp, to);
}

// Nullopt after a usage error has been reported.
std::optional<Options> ParseArguments(int argc, char** argv, bool& helpShown) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool takesValue = arg == "--profile" || arg == "--site";
        const bool missingValue =
            takesValue && (i + 1 >= argc || (arg == "--profile" && argv[i + 1][0] == '\0'));
        if (missingValue) {
            std::fprintf(stderr, "zezuvur-report: %s needs a value\n", argv[i]);
            return std::nullopt;
        }
        if (arg == "--profile") {
            options.profile = argv[++i];
        } else if (arg == "--site") {
            options.sites.emplace_back(argv[++i]);
        } else if (arg == "--sites-only") {
            options.sitesOnly = true;
        } else if (arg == "--help" || arg == "-h") {
            helpShown = true;
            return std::nullopt;
        } else {
            std::fprintf(stderr, "zezuvur-report: unknown argument: %s\n", argv[i]);
            return std::nullopt;
        }
    }
    return options;
}

bool ProfileExists(std::string& folder) {
    const platform::ProfileRoot profile = platform::CurrentProfile();
    folder = profile.hostFolder.string();
    std::error_code error;
    return std::filesystem::is_directory(profile.hostFolder, error);
}

// Everything goes into one buffer that is flushed in large writes: a big cache gives millions
// of lines.
class TReport {
public:
    ~TReport() { Flush(); }

    void Line(std::string_view tag, std::string_view text) {
        FBuffer.append(tag).append(1, '\t');
        if (platform::NeedsEscaping(text))
            FBuffer.append(platform::EscapeControlCharacters(text));
        else
            FBuffer.append(text);
        FBuffer.append(1, '\n');
        if (FBuffer.size() >= kFlushAt)
            Flush();
    }

    void Lines(std::string_view tag, std::string_view text) {
        for (const std::string& line : SplitLines(text))
            Line(tag, line);
    }

    bool Flush() {
        const bool written =
            std::fwrite(FBuffer.data(), 1, FBuffer.size(), stdout) == FBuffer.size();
        FBuffer.clear();
        return written && std::fflush(stdout) == 0;
    }

private:
    static constexpr std::size_t kFlushAt = 1 << 20;
    std::string FBuffer;
};

// As the sites frame shows each selected site: the tabs in the order it fills them, then
// the count line of the selected site. All sites are answered in one pass over the snapshot.
void ReportSites(TCacheAnalyzer& analyzer, const std::vector<std::string>& items, TReport& report) {
    QueryManySites(analyzer, items, [&](std::size_t index, const TSiteTraces& traces) {
        report.Line("select", items[index]);
        for (TCategory category : kFillOrder)
            report.Lines(InfoOf(category).ReportTag, traces.Of(category));
        report.Line("current", FormatCurrentLine(analyzer));
    });
}

int Run(const Options& options) {
    if (options.profile && ::setenv("ZEZUVUR_PROFILE", options.profile->c_str(), 1) != 0) {
        std::perror("zezuvur-report: setenv");
        return kExitFailure;
    }
    std::string folder;
    if (!ProfileExists(folder)) {
        std::fprintf(stderr, "zezuvur-report: no such profile folder: %s\n", folder.c_str());
        return kExitUsage;
    }

    TCacheAnalyzer analyzer;
    const std::vector<std::string> sites = SplitLines(analyzer.GetSiteList());
    analyzer.Analyze();

    TReport report;
    for (const std::string& site : sites)
        report.Line("site", site);
    // The window writes its totals line only once it shows a site; with no site listed the
    // line stays empty.
    report.Line("total", sites.empty() ? std::string() : FormatTotalLine(analyzer));
    if (!options.sitesOnly)
        ReportSites(analyzer, options.sites.empty() ? sites : options.sites, report);
    for (const auto& skipped : platform::urlcache::TakeSkippedContainers())
        std::fprintf(stderr, "zezuvur-report: skipped %s: it %s\n",
                     platform::EscapeControlCharacters(skipped.indexFile.string()).c_str(),
                     skipped.reason.c_str());
    if (!report.Flush()) {
        std::perror("zezuvur-report: writing the report");
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    if (auto answered = platform::AnswerHelpOrVersion(argc, argv, "zezuvur-report", kHelp))
        return *answered;
    bool helpShown = false;
    const std::optional<Options> options = ParseArguments(argc, argv, helpShown);
    if (!options) {
        PrintUsage(helpShown ? stdout : stderr);
        return helpShown ? kExitOk : kExitUsage;
    }
    try {
        return Run(*options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zezuvur-report: %s\n", error.what());
        return kExitFailure;
    }
}
