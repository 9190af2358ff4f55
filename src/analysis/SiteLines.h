#pragma once
// Which line a matching entry copy gives in a per-site result, shared by the one-site queries
// and the many-sites sweep so that both always give the same lines.

#include "analysis/CacheAnalyzer.h"
#include "analysis/Categories.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace site_lines {

// A media file of this size or less holds nothing worth showing (or is missing: -1).
constexpr std::int32_t kMinMediaFileSize = 2;

inline const std::string& LineOf(const TCacheAnalyzer::TEntryCopy& copy, ::TLineRule rule) {
    return rule.HistoryLine ? copy.Info.SourceUrlName : copy.Info.LocalFileName;
}

// An empty line is never shown; a media file must hold more than a stub.
inline bool GivesLine(const std::string& line, ::TLineRule rule) {
    if (line.empty())
        return false;
    return !rule.NeedsMediaSize || GetLocalFileSize(line) > kMinMediaFileSize;
}

} // namespace site_lines
