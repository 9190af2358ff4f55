// Per-site queries: what one site has left in each category of the snapshot.

#include "analysis/CacheAnalyzer.h"
#include "analysis/SiteLines.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <optional>
#include <string>
#include <vector>

namespace {

using site_lines::GivesLine;
using site_lines::LineOf;
using site_lines::TLineRule;

// A plain substring test; an empty site is in every URL. The library's search (a vectorised
// scan for the first byte, then a compare) beat a shift-table search on real URL lists, where
// many URLs share long runs such as ".com/" with the site.
bool SiteFoundIn(std::string_view site, std::string_view url) {
    return site.empty() || url.find(site) != std::string_view::npos;
}

// The URLs' texts lie wherever the snapshot's allocations put them; asking for them a few
// copies ahead keeps a scan of a large list from waiting on memory at every copy.
constexpr std::size_t kPrefetchAhead = 8;

void PrefetchUrl(const TCacheAnalyzer::TEntryList& list, std::size_t i) {
    if (i >= list.size())
        return;
    const std::string& url = list[i].LowerUrl;
    __builtin_prefetch(url.data());
    if (url.size() > 64)
        __builtin_prefetch(url.data() + 64);
}

// The lines of the copies whose URL holds the site, as CR LF text. The counter is 0 until the
// text is complete, so a failure part way leaves it at 0.
std::string QuerySite(const TCacheAnalyzer::TEntryList& list, std::string_view Site, TLineRule rule,
                      std::int32_t& counter) {
    counter = 0;
    const std::string site = platform::AsciiLowerCase(Site);

    std::vector<const std::string*> lines;
    for (std::size_t i = 0; i < list.size(); ++i) {
        PrefetchUrl(list, i + kPrefetchAhead);
        const TCacheAnalyzer::TEntryCopy& copy = list[i];
        if (!SiteFoundIn(site, copy.LowerUrl))
            continue;
        const std::string& line = LineOf(copy, rule);
        if (GivesLine(line, rule))
            lines.push_back(&line);
    }
    std::string text = site_lines::JoinLineRefs(lines);
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
    return QuerySite(FImages, Site, site_lines::kFileLines, SiteImages);
}

std::string TCacheAnalyzer::GetSitePages(std::string_view Site) {
    return QuerySite(FPages, Site, site_lines::kFileLines, SitePages);
}

std::string TCacheAnalyzer::GetSiteMedia(std::string_view Site) {
    return QuerySite(FMedia, Site, site_lines::kMediaLines, SiteMedia);
}

std::string TCacheAnalyzer::GetSiteOther(std::string_view Site) {
    return QuerySite(FOther, Site, site_lines::kFileLines, SiteOther);
}

std::string TCacheAnalyzer::GetSiteCookies(std::string_view Site) {
    return QuerySite(FCookies, Site, site_lines::kFileLines, SiteCookies);
}

std::string TCacheAnalyzer::GetSiteHistory(std::string_view Site) {
    return QuerySite(FHistory, Site, site_lines::kHistoryLines, SiteHistory);
}
