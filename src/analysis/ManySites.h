#pragma once
// The six per-site queries answered for many sites at once. Asking each site in turn scans the
// whole snapshot once per site; this finds every listed site in every URL in a single pass,
// then hands out, site by site, exactly what the six queries would have given.

#include "analysis/CacheAnalyzer.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The six query results for one site, as CR LF text, in the order the sites frame asks.
struct TSiteTraces {
    std::string Pages;
    std::string Images;
    std::string Other;
    std::string Media;
    std::string Cookies;
    std::string History;
};

using TOnSiteTraces = std::function<void(std::size_t Index, const TSiteTraces& Traces)>;

// For each of Sites in order: sets the analyzer's six per-site counters as the queries would for
// that site, then calls OnSite with its index and results. A site is lower-cased A to Z first,
// as the queries do; the same site may be given more than once.
void QueryManySites(TCacheAnalyzer& Analyzer, const std::vector<std::string>& Sites,
                    const TOnSiteTraces& OnSite);
