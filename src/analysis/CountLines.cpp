#include "analysis/CountLines.h"

#include <cstdio>

namespace {

// The wording (its spacing and spelling included) is what users of the window have always
// seen; keep it byte for byte.
constexpr const char* kTotalFormat = "Total: %d images, %d pages, %d media files, %d unknown "
                                     "files,%d cookies, %d history entires";
constexpr const char* kCurrentFormat = "Selected site:: %d images, %d pages, %d media files, %d "
                                       "unknown files, %d cookies, %d history entires";

std::string FormatCounts(const char* format, std::int32_t images, std::int32_t pages,
                         std::int32_t media, std::int32_t other, std::int32_t cookies,
                         std::int32_t history) {
    char buffer[256];
    const int length = std::snprintf(buffer, sizeof buffer, format, int(images), int(pages),
                                     int(media), int(other), int(cookies), int(history));
    return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

} // namespace

std::string FormatTotalLine(const TCacheAnalyzer& Analyzer) {
    return FormatCounts(kTotalFormat, Analyzer.TotalImages, Analyzer.TotalPages,
                        Analyzer.TotalMedia, Analyzer.TotalOther, Analyzer.TotalCookies,
                        Analyzer.TotalHistory);
}

std::string FormatCurrentLine(const TCacheAnalyzer& Analyzer) {
    return FormatCounts(kCurrentFormat, Analyzer.SiteImages, Analyzer.SitePages, Analyzer.SiteMedia,
                        Analyzer.SiteOther, Analyzer.SiteCookies, Analyzer.SiteHistory);
}
