// The start-up work of the window without the window: the site pass, then the snapshot, on the
// profile in ZEZUVUR_PROFILE. Prints one line of key=value pairs:
//   sites=N entries=N site_list_ms=T analyze_ms=T startup_ms=T peak_kb=K
// peak_kb is the process's peak resident memory once both are done.

#include "analysis/CacheAnalyzer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace {

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

long PeakResidentKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main() {
    TCacheAnalyzer analyzer;
    const auto start = std::chrono::steady_clock::now();
    const std::string sites = analyzer.GetSiteList();
    const double siteListMs = MillisecondsSince(start);
    const auto analyzeStart = std::chrono::steady_clock::now();
    analyzer.Analyze();
    const double analyzeMs = MillisecondsSince(analyzeStart);
    const double startupMs = MillisecondsSince(start);

    const std::size_t siteCount = SplitLines(sites).size();
    const long entries = long{analyzer.TotalImages} + analyzer.TotalPages + analyzer.TotalMedia +
                         analyzer.TotalOther + analyzer.TotalCookies + analyzer.TotalHistory;
    std::printf("sites=%zu entries=%ld site_list_ms=%.1f analyze_ms=%.1f startup_ms=%.1f "
                "peak_kb=%ld\n",
                siteCount, entries, siteListMs, analyzeMs, startupMs, PeakResidentKilobytes());
    std::fflush(stdout);
    // The snapshot's teardown is not part of start-up; the window keeps it until it closes.
    std::_Exit(0);
}
