// The site index: which sites the cached-content entries name, each once, in the locale's
// case-insensitive order.

#include "analysis/CacheAnalyzer.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// The first occurrence of `needle` in `text` that starts on a character boundary: a match that
// begins on the trail byte of a double-byte character is no match.
std::size_t FindOnCharBoundary(std::string_view text, std::string_view needle) {
    std::size_t boundary = 0; // every position walked to from 0 is a character start
    std::size_t from = 0;
    for (;;) {
        const std::size_t candidate = text.find(needle, from);
        if (candidate == std::string_view::npos)
            return candidate;
        while (boundary < candidate)
            boundary += win::IsDBCSLeadByte(static_cast<win::BYTE>(text[boundary])) ? 2 : 1;
        if (boundary == candidate)
            return candidate;
        from = candidate + 1;
    }
}

std::string CutSiteName(std::string lowered) {
    constexpr std::string_view schemeEnd = "://";
    constexpr std::string_view wwwPrefix = "www.";
    std::string_view text = lowered;
    const std::size_t scheme = FindOnCharBoundary(text, schemeEnd);
    std::size_t start = scheme == std::string_view::npos ? 0 : scheme + schemeEnd.size();
    std::string_view name = text.substr(std::min(start, text.size()));
    // "/" is never the trail byte of a double-byte character, so a plain search is safe here.
    name = name.substr(0, name.find('/'));
    const std::size_t www = FindOnCharBoundary(name, wwwPrefix);
    if (www != std::string_view::npos)
        name.remove_prefix(www + wwwPrefix.size());
    return std::string(name);
}

// Distinct names in the locale's case-insensitive order. Two names count as one when their
// collation keys are equal; of those the first met stays.
class TSiteNameSet {
public:
    void Add(std::string name) {
        if (name.empty() || !FExactNames.insert(name).second)
            return;
        auto [key, isNew] = FKeys.insert(platform::IgnoreCaseCollationKey(name));
        if (isNew)
            FSites.push_back({&*key, std::move(name)});
    }

    std::string SortedText() {
        std::stable_sort(FSites.begin(), FSites.end(),
                         [](const TSite& a, const TSite& b) { return *a.Key < *b.Key; });
        std::vector<std::string_view> names;
        names.reserve(FSites.size());
        for (const TSite& site : FSites)
            names.push_back(site.Name);
        return JoinLines(names);
    }

private:
    struct TSite {
        const std::string* Key; // into FKeys, whose nodes never move
        std::string Name;
    };
    // Byte-equal names need no collation key; most URLs repeat a site already met.
    std::unordered_set<std::string> FExactNames;
    std::unordered_set<std::string> FKeys;
    std::vector<TSite> FSites;
};

} // namespace

std::string ExtractSiteName(std::string_view URL) {
    try {
        std::string lowered(URL);
        if (!lowered.empty())
            win::CharLowerBuffA(lowered.data(), static_cast<win::DWORD>(lowered.size()));
        return CutSiteName(std::move(lowered));
    } catch (...) {
        return {};
    }
}

void TCacheAnalyzer::CollectSiteUrl(TObject* /*Sender*/, bool& Cancel) {
    KeepEntry(Cancel, [this] { FSiteUrls->push_back(FCache->EntryInfo().SourceUrlName); });
}

std::string TCacheAnalyzer::GetSiteList() {
    // The pass borrows the enumerator's handler; whatever happens, the analyzer gets it back.
    struct TBorrowedHandler {
        TCacheAnalyzer& Owner;
        ~TBorrowedHandler() {
            Owner.FSiteUrls.reset();
            Owner.FCache->SetOnEntry([&owner = Owner](TObject* Sender, bool& Cancel) {
                owner.CacheEntry(Sender, Cancel);
            });
        }
    } borrowed{*this};

    StartReading();
    FSiteUrls = std::make_unique<std::vector<std::string>>();
    FCache->SetOnEntry([this](TObject* Sender, bool& Cancel) { CollectSiteUrl(Sender, Cancel); });
    FCache->SetSearchPattern(spUrl);
    FCache->RetrieveEntries(0);

    TSiteNameSet sites;
    for (const std::string& url : *FSiteUrls)
        sites.Add(ExtractSiteName(url));
    return sites.SortedText();
}
