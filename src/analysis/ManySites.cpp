#include "analysis/ManySites.h"

#include "analysis/SiteLines.h"
#include "platform/CodePage.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string_view>
#include <unordered_map>

namespace {

using site_lines::TLineRule;

// A multi-pattern matcher over bytes (a trie of the sites with fall-back links): one walk over a
// URL reports every site that occurs in it, wherever and however often.
class TSiteMatcher {
public:
    explicit TSiteMatcher(const std::vector<std::string>& sites) : FNodes(1) {
        FRootNext.fill(kNone);
        for (std::size_t i = 0; i < sites.size(); ++i)
            if (!sites[i].empty())
                Insert(sites[i], static_cast<std::int32_t>(i));
        LinkFallbacks();
    }

    // Calls found(site index) for each site in `text`, once per occurrence.
    template <typename Found> void Scan(std::string_view text, Found&& found) const {
        std::int32_t state = kRoot;
        for (char c : text) {
            state = Step(state, static_cast<std::uint8_t>(c));
            for (std::int32_t node = FNodes[state].Sites.empty() ? FNodes[state].Output : state;
                 node != kNone; node = FNodes[node].Output)
                for (std::int32_t site : FNodes[node].Sites)
                    found(site);
        }
    }

private:
    static constexpr std::int32_t kRoot = 0;
    static constexpr std::int32_t kNone = -1;

    struct TNode {
        std::int32_t Fallback = kRoot;
        std::int32_t Output = kNone; // nearest node down the fall-back chain that ends sites
        std::vector<std::int32_t> Sites;
        std::vector<std::pair<std::uint8_t, std::int32_t>> Children;
    };

    static std::uint64_t EdgeKey(std::int32_t node, std::uint8_t c) {
        return (static_cast<std::uint64_t>(node) << 8) | c;
    }

    std::int32_t Child(std::int32_t node, std::uint8_t c) const {
        if (node == kRoot)
            return FRootNext[c];
        const auto edge = FEdges.find(EdgeKey(node, c));
        return edge == FEdges.end() ? kNone : edge->second;
    }

    std::int32_t Step(std::int32_t state, std::uint8_t c) const {
        for (;;) {
            const std::int32_t next = Child(state, c);
            if (next != kNone)
                return next;
            if (state == kRoot)
                return kRoot;
            state = FNodes[state].Fallback;
        }
    }

    void Insert(std::string_view site, std::int32_t index) {
        std::int32_t node = kRoot;
        for (char ch : site) {
            const auto c = static_cast<std::uint8_t>(ch);
            std::int32_t next = Child(node, c);
            if (next == kNone) {
                next = static_cast<std::int32_t>(FNodes.size());
                FNodes.emplace_back();
                FNodes[node].Children.emplace_back(c, next);
                if (node == kRoot)
                    FRootNext[c] = next;
                else
                    FEdges.emplace(EdgeKey(node, c), next);
            }
            node = next;
        }
        FNodes[node].Sites.push_back(index);
    }

    // Breadth first, so that every shorter suffix is linked before it is needed.
    void LinkFallbacks() {
        std::deque<std::int32_t> queue;
        for (const auto& [c, child] : FNodes[kRoot].Children)
            queue.push_back(child);
        while (!queue.empty()) {
            const std::int32_t node = queue.front();
            queue.pop_front();
            for (const auto& [c, child] : FNodes[node].Children) {
                const std::int32_t fallback = Step(FNodes[node].Fallback, c);
                FNodes[child].Fallback = fallback;
                FNodes[child].Output =
                    FNodes[fallback].Sites.empty() ? FNodes[fallback].Output : fallback;
                queue.push_back(child);
            }
        }
    }

    std::vector<TNode> FNodes;
    std::array<std::int32_t, 256> FRootNext{};
    std::unordered_map<std::uint64_t, std::int32_t> FEdges;
};

// For one category list: per site, the positions of its matching copies in list order.
std::vector<std::vector<std::uint32_t>> MatchesPerSite(const TCacheAnalyzer::TEntryList& list,
                                                       const std::vector<std::string>& sites,
                                                       const TSiteMatcher& matcher) {
    std::vector<std::vector<std::uint32_t>> matches(sites.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        const auto position = static_cast<std::uint32_t>(i);
        matcher.Scan(list[i].LowerUrl, [&](std::int32_t site) {
            std::vector<std::uint32_t>& found = matches[static_cast<std::size_t>(site)];
            if (found.empty() || found.back() != position) // once per copy, however often
                found.push_back(position);
        });
    }
    return matches;
}

struct TCategory {
    const TCacheAnalyzer::TEntryList& List;
    TLineRule Rule;
    std::int32_t TCacheAnalyzer::*Counter;
    std::string TSiteTraces::*Text;
};

// The lines that one site's query gives, from the copies already found to match it (or from
// every copy for the empty site).
std::string LinesFor(const TCategory& category, const std::string& site,
                     const std::vector<std::uint32_t>& matches, std::int32_t& count) {
    std::vector<const std::string*> lines;
    auto take = [&](const TCacheAnalyzer::TEntryCopy& copy) {
        const std::string& line = site_lines::LineOf(copy, category.Rule);
        if (site_lines::GivesLine(line, category.Rule))
            lines.push_back(&line);
    };
    if (site.empty()) {
        for (const TCacheAnalyzer::TEntryCopy& copy : category.List)
            take(copy);
    } else {
        for (std::uint32_t position : matches)
            take(category.List[position]);
    }
    count = static_cast<std::int32_t>(lines.size());
    return site_lines::JoinLineRefs(lines);
}

} // namespace

void QueryManySites(TCacheAnalyzer& Analyzer, const std::vector<std::string>& Sites,
                    const TOnSiteTraces& OnSite) {
    std::vector<std::string> sites;
    sites.reserve(Sites.size());
    for (const std::string& site : Sites)
        sites.push_back(platform::AsciiLowerCase(site));

    const TCategory categories[] = {
        {Analyzer.Pages(), site_lines::kFileLines, &TCacheAnalyzer::SitePages, &TSiteTraces::Pages},
        {Analyzer.Images(), site_lines::kFileLines, &TCacheAnalyzer::SiteImages,
         &TSiteTraces::Images},
        {Analyzer.Other(), site_lines::kFileLines, &TCacheAnalyzer::SiteOther, &TSiteTraces::Other},
        {Analyzer.Media(), site_lines::kMediaLines, &TCacheAnalyzer::SiteMedia,
         &TSiteTraces::Media},
        {Analyzer.Cookies(), site_lines::kFileLines, &TCacheAnalyzer::SiteCookies,
         &TSiteTraces::Cookies},
        {Analyzer.History(), site_lines::kHistoryLines, &TCacheAnalyzer::SiteHistory,
         &TSiteTraces::History},
    };
    const TSiteMatcher matcher(sites);
    std::vector<std::vector<std::vector<std::uint32_t>>> matches;
    for (const TCategory& category : categories)
        matches.push_back(MatchesPerSite(category.List, sites, matcher));

    for (std::size_t site = 0; site < sites.size(); ++site) {
        TSiteTraces traces;
        std::size_t index = 0;
        for (const TCategory& category : categories) {
            std::int32_t& counter = Analyzer.*category.Counter;
            counter = 0;
            traces.*category.Text = LinesFor(category, sites[site], matches[index][site], counter);
            // The matches are done with; a long report need not hold them all to the end.
            std::vector<std::uint32_t>().swap(matches[index][site]);
            ++index;
        }
        OnSite(site, traces);
    }
}
