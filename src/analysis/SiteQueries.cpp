// Per-site queries: what one site has left in each category of the snapshot.

#include "analysis/CacheAnalyzer.h"
#include "analysis/SiteLines.h"
#include "platform/AsciiCase.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <optional>
#include <string>
#include <vector>

namespace {

using site_lines::GivesLine;
using site_lines::LineOf;

// The lines of the copies whose URL holds the site, as CR LF text. The counter is 0 until the
// text is complete, so a failure part way leaves it at 0.
std::string QuerySite(const TCacheAnalyzer::TEntryList& list, const TUrlText& urls,
                      std::string_view Site, TLineRule rule, std::int32_t& counter) {
    counter = 0;
    const std::string site = platform::AsciiLowerCase(Site);

    std::vector<std::string_view> lines;
    urls.ForEachHolding(site, [&](std::size_t index) {
        const std::string& line = LineOf(list[index], rule);
        if (GivesLine(line, rule))
            lines.push_back(line);
    });
    std::string text = JoinLines(lines);
    counter = static_cast<std::int32_t>(lines.size());
    return text;
}

} // namespace

std::int32_t GetLocalFileSize(std::string_view FileName) {
    const std::optional<std::uint64_t> size = platform::FileSizeOfWindowsPath(FileName);
    if (!size)
        return -1;
    // Only the low 32 bits count, read as signed: a file of 2 to 4 GiB comes out negative.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*size));
}

std::string TCacheAnalyzer::GetSite(TCategory Category, std::string_view Site) {
    return QuerySite(FLists[Category], FUrls[Category], Site, InfoOf(Category).Rule,
                     FSiteCounts[Category]);
}
