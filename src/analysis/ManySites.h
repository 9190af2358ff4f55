#pragma once
// The six per-site queries answered for many sites at once. Asking each site in turn scans the
// whole snapshot once per site; this finds every listed site in every URL in a single pass,
// then hands out, site by site, exactly what the six queries would have given.

#include "analysis/CacheAnalyzer.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The query results for one site, as CR LF text, by category.
struct TSiteTraces {
    TPerCategory<std::string> Texts;
    const std::string& Of(TCategory Category) const { return Texts[Category]; }
};

using TOnSiteTraces = std::function<void(std::size_t Index, const TSiteTraces& Traces)>;

// For each of Sites in order: sets the analyzer's per-site counters as the queries would for
// that site (in fill order), then calls OnSite with its index and results. A site is lower-cased A
// to Z first, as the queries do; the same site may be given more than once.
//
// The sites are answered in runs, one pass over the snapshot each, so that the matches held at
// once stay near MatchBudget (a site alone may hold more: as many as its own query would).
// Gives the number of passes it took.
constexpr std::size_t kManySitesMatchBudget = std::size_t{4} << 20;
std::size_t QueryManySites(TCacheAnalyzer& Analyzer, const std::vector<std::string>& Sites,
                           const TOnSiteTraces& OnSite,
                           std::size_t MatchBudget = kManySitesMatchBudget);
