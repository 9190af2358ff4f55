// Per-site queries: what one site has left in each category of the snapshot.

#include "analysis/CacheAnalyzer.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

// A media file of this size or less holds nothing worth showing (or is missing: -1).
constexpr std::int32_t kMinMediaFileSize = 2;

// Which line a matching copy gives, and whether its file must hold more than a stub.
struct TLineRule {
    bool HistoryLine = false; // the URL itself instead of the local file
    bool NeedsMediaSize = false;
};

constexpr TLineRule kFileLines{};
constexpr TLineRule kMediaLines{false, true};
constexpr TLineRule kHistoryLines{true, false};

// A plain substring test of one needle against many haystacks. Longer needles skip ahead
// with a precomputed shift table; short ones are left to the library's scan.
class TSubstringMatcher {
public:
    explicit TSubstringMatcher(std::string_view needle) : FNeedle(needle) {
        if (FNeedle.size() >= kShiftTableFrom)
            FSearcher.emplace(FNeedle.begin(), FNeedle.end());
    }

    bool FoundIn(std::string_view text) const {
        if (FNeedle.empty())
            return true;
        if (!FSearcher)
            return text.find(FNeedle) != std::string_view::npos;
        return std::search(text.begin(), text.end(), *FSearcher) != text.end();
    }

private:
    static constexpr std::size_t kShiftTableFrom = 4;
    std::string_view FNeedle;
    std::optional<std::boyer_moore_horspool_searcher<std::string_view::const_iterator>> FSearcher;
};

const std::string& LineOf(const TCacheAnalyzer::TEntryCopy& copy, TLineRule rule) {
    return rule.HistoryLine ? copy.Info.SourceUrlName : copy.Info.LocalFileName;
}

bool GivesLine(const std::string& line, TLineRule rule) {
    if (line.empty())
        return false;
    return !rule.NeedsMediaSize || GetLocalFileSize(line) > kMinMediaFileSize;
}

// The lines of the copies whose URL holds the site, as CR LF text. The counter is 0 until the
// text is complete, so a failure part way leaves it at 0.
std::string QuerySite(const TCacheAnalyzer::TEntryList& list, std::string_view Site, TLineRule rule,
                      std::int32_t& counter) {
    counter = 0;
    const std::string site = platform::AsciiLowerCase(Site);
    const TSubstringMatcher matcher(site);

    std::vector<const std::string*> lines;
    std::size_t length = 0;
    for (const TCacheAnalyzer::TEntryCopy& copy : list) {
        if (!matcher.FoundIn(copy.LowerUrl))
            continue;
        const std::string& line = LineOf(copy, rule);
        if (!GivesLine(line, rule))
            continue;
        lines.push_back(&line);
        length += line.size() + 2;
    }

    std::string text;
    text.reserve(length);
    for (const std::string* line : lines)
        text.append(*line).append("\r\n");
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

std::string TCacheAnalyzer::GetSiteImages(std::string_view Site) {
    return QuerySite(FImages, Site, kFileLines, SiteImages);
}

std::string TCacheAnalyzer::GetSitePages(std::string_view Site) {
    return QuerySite(FPages, Site, kFileLines, SitePages);
}

std::string TCacheAnalyzer::GetSiteMedia(std::string_view Site) {
    return QuerySite(FMedia, Site, kMediaLines, SiteMedia);
}

std::string TCacheAnalyzer::GetSiteOther(std::string_view Site) {
    return QuerySite(FOther, Site, kFileLines, SiteOther);
}

std::string TCacheAnalyzer::GetSiteCookies(std::string_view Site) {
    return QuerySite(FCookies, Site, kFileLines, SiteCookies);
}

std::string TCacheAnalyzer::GetSiteHistory(std::string_view Site) {
    return QuerySite(FHistory, Site, kHistoryLines, SiteHistory);
}
