// A site selection in the sites frame, as the user makes it: the six per-site queries, the
// filling of the six boxes and the repaint that follows, on the profile in ZEZUVUR_PROFILE.
// The frame is built offscreen. Picks the site with the most traces and the median site (by
// traces, over the listed sites), selects each several times and prints key=value pairs:
//   load_ms: InitFrame and LoadSites; peak_kb: peak resident memory after them;
//   <which>_ms: median time of one selection, repaint included; <which>_query_ms: median time
//   of the six queries alone; <which>_items: the traces the selection lists.

#include "analysis/ManySites.h"
#include "ui/CachedSitesFrame.h"
#include "ui/ListBox.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long PeakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::int64_t TracesShown(const TCacheAnalyzer& analyzer) {
    return std::int64_t{analyzer.SiteImages} + analyzer.SitePages + analyzer.SiteMedia +
           analyzer.SiteOther + analyzer.SiteCookies + analyzer.SiteHistory;
}

// The traces each listed site shows, from one pass over the snapshot.
std::vector<std::int64_t> TracesPerSite(TCacheAnalyzer& analyzer,
                                        const std::vector<std::string>& sites) {
    std::vector<std::int64_t> traces(sites.size());
    QueryManySites(analyzer, sites, [&](std::size_t index, const TSiteTraces&) {
        traces[index] = TracesShown(analyzer);
    });
    return traces;
}

void RunSixQueries(TCacheAnalyzer& analyzer, const std::string& site) {
    analyzer.GetSitePages(site);
    analyzer.GetSiteImages(site);
    analyzer.GetSiteOther(site);
    analyzer.GetSiteMedia(site);
    analyzer.GetSiteCookies(site);
    analyzer.GetSiteHistory(site);
}

void MeasureSelection(QApplication& app, TframeCachedSites& frame, int index, const char* which,
                      int repeats) {
    TCacheAnalyzer& analyzer = *frame.CacheAnalyzer();
    const std::string site = frame.lbxSites->Item(index);
    std::vector<double> selections;
    std::vector<double> queries;
    for (int i = 0; i < repeats; ++i) {
        // Another site in between, so that each selection replaces full boxes as a user's does.
        frame.lbxSites->SetItemIndex(index == 0 ? 1 : 0);
        frame.lbxSitesClick(frame.lbxSites);
        app.processEvents();

        const auto start = Clock::now();
        frame.lbxSites->SetItemIndex(index);
        frame.lbxSitesClick(frame.lbxSites);
        app.processEvents();
        selections.push_back(MillisecondsSince(start));

        const auto queryStart = Clock::now();
        RunSixQueries(analyzer, site);
        queries.push_back(MillisecondsSince(queryStart));
    }
    std::printf(" %s=%s %s_items=%lld %s_ms=%.2f %s_query_ms=%.2f", which, site.c_str(), which,
                static_cast<long long>(TracesShown(analyzer)), which, Median(selections), which,
                Median(queries));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int repeats = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QApplication app(argc, argv);

    TframeCachedSites frame;
    frame.resize(800, 600);
    frame.show();
    app.processEvents();

    const auto start = Clock::now();
    frame.InitFrame();
    frame.LoadSites();
    app.processEvents();
    const double loadMs = MillisecondsSince(start);
    std::printf("load_ms=%.1f peak_kb=%ld sites=%d", loadMs, PeakResidentKilobytes(),
                frame.lbxSites->Count());

    const std::vector<std::string>& sites = frame.lbxSites->Items();
    if (sites.size() >= 2) {
        const std::vector<std::int64_t> traces = TracesPerSite(*frame.CacheAnalyzer(), sites);
        std::vector<int> order(sites.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = static_cast<int>(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return traces[a] > traces[b]; });
        MeasureSelection(app, frame, order.front(), "largest", repeats);
        MeasureSelection(app, frame, order[order.size() / 2], "median", repeats);
    }
    std::printf("\n");
    std::fflush(stdout);
    std::_Exit(0);
}
