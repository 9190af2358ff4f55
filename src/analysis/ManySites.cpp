#include "analysis/ManySites.h"
#include "platform/AsciiCase.h"

#include "analysis/SiteLines.h"
#include "platform/CodePage.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string_view>
#include <unordered_map>

namespace {

// A multi-pattern matcher over bytes (a trie of the sites with fall-back links): one walk over a
// URL reports every site that occurs in it, wherever and however often. The queries' own search
// (TUrlText::ForEachHolding) scans the whole text once per site: too slow for thousands of sites.
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

// One category of the snapshot as a sweep sees it.
struct TSweptCategory {
    TCategory Category;
    const TCacheAnalyzer::TEntryList& List;
    TLineRule Rule;
};

// The matching copies of a run of sites, site by site and category by category, in list order.
// A hostile cache can make short sites match nearly every copy, so what it holds is kept under a
// budget: when the matches pass it, the sites at the end of the run are dropped (down to the
// first site, which is always kept) and left for a later run.
class TBatch {
public:
    TBatch(const std::vector<std::string>& sites, std::size_t first, std::size_t budget)
        : FFirst(first), FEnd(sites.size()), FBudget(budget),
          FMatcher(std::vector<std::string>(sites.begin() + static_cast<std::ptrdiff_t>(first),
                                            sites.end())),
          FMatches(kCategoryCount * (sites.size() - first)), FCounts(sites.size() - first) {}

    // Finds the run's sites in every copy of each category; gives where the run ends.
    std::size_t Sweep(const std::vector<TSweptCategory>& categories) {
        for (std::size_t category = 0; category < categories.size(); ++category)
            SweepCategory(category, categories[category].List);
        return FEnd;
    }

    std::vector<std::uint32_t>& Matches(std::size_t category, std::size_t site) {
        return FMatches[Slot(category, site - FFirst)];
    }

private:
    std::size_t Slot(std::size_t category, std::size_t offset) const {
        return offset * kCategoryCount + category;
    }

    void SweepCategory(std::size_t category, const TCacheAnalyzer::TEntryList& list) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const auto position = static_cast<std::uint32_t>(i);
            FMatcher.Scan(list[i].LowerUrl, [&](std::int32_t found) {
                const auto offset = static_cast<std::size_t>(found);
                if (FFirst + offset >= FEnd)
                    return;
                std::vector<std::uint32_t>& matches = FMatches[Slot(category, offset)];
                if (!matches.empty() && matches.back() == position) // once per copy
                    return;
                matches.push_back(position);
                ++FCounts[offset];
                if (++FStored > FBudget)
                    Shrink();
            });
        }
    }

    // Keeps the longest run of sites holding at most half the budget so far, so that the run
    // does not shrink again at the very next match.
    void Shrink() {
        std::size_t kept = 1;
        std::size_t stored = FCounts[0];
        while (FFirst + kept < FEnd && stored + FCounts[kept] <= FBudget / 2)
            stored += FCounts[kept++];
        for (std::size_t offset = kept; FFirst + offset < FEnd; ++offset) {
            for (std::size_t category = 0; category < kCategoryCount; ++category)
                std::vector<std::uint32_t>().swap(FMatches[Slot(category, offset)]);
            FCounts[offset] = 0;
        }
        FEnd = FFirst + kept;
        FStored = stored;
        // One site alone holds no more than its own query would; let it through.
        if (kept == 1)
            FBudget = static_cast<std::size_t>(-1);
    }

    std::size_t FFirst;
    std::size_t FEnd;
    std::size_t FBudget;
    std::size_t FStored = 0;
    TSiteMatcher FMatcher;
    std::vector<std::vector<std::uint32_t>> FMatches; // site by site, six categories each
    std::vector<std::size_t> FCounts;                 // matches held per site
};

// The lines that one site's query gives, from the copies already found to match it (or from
// every copy for the empty site).
std::string LinesFor(const TSweptCategory& category, const std::string& site,
                     const std::vector<std::uint32_t>& matches, std::int32_t& count) {
    std::vector<std::string_view> lines;
    auto take = [&](const TCacheAnalyzer::TEntryCopy& copy) {
        const std::string& line = site_lines::LineOf(copy, category.Rule);
        if (site_lines::GivesLine(line, category.Rule))
            lines.push_back(line);
    };
    if (site.empty()) {
        for (const TCacheAnalyzer::TEntryCopy& copy : category.List)
            take(copy);
    } else {
        for (std::uint32_t position : matches)
            take(category.List[position]);
    }
    count = static_cast<std::int32_t>(lines.size());
    return JoinLines(lines);
}

} // namespace

std::size_t QueryManySites(TCacheAnalyzer& Analyzer, const std::vector<std::string>& Sites,
                           const TOnSiteTraces& OnSite, std::size_t MatchBudget) {
    std::vector<std::string> sites;
    sites.reserve(Sites.size());
    for (const std::string& site : Sites)
        sites.push_back(platform::AsciiLowerCase(site));

    std::vector<TSweptCategory> categories;
    for (TCategory category : kFillOrder)
        categories.push_back({category, Analyzer.List(category), InfoOf(category).Rule});
    std::size_t sweeps = 0;
    for (std::size_t first = 0; first < sites.size();) {
        TBatch batch(sites, first, MatchBudget);
        const std::size_t end = batch.Sweep(categories);
        ++sweeps;
        for (std::size_t site = first; site < end; ++site) {
            TSiteTraces traces;
            for (std::size_t category = 0; category < categories.size(); ++category) {
                const TSweptCategory& c = categories[category];
                std::int32_t& counter = Analyzer.SiteCount(c.Category);
                counter = 0;
                std::vector<std::uint32_t>& matches = batch.Matches(category, site);
                traces.Texts[c.Category] = LinesFor(c, sites[site], matches, counter);
                // Done with; a long report need not hold them all to the end of the run.
                std::vector<std::uint32_t>().swap(matches);
            }
            OnSite(site, traces);
        }
        first = end;
    }
    return sweeps;
}
