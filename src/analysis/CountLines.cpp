#include "analysis/CountLines.h"

#include <string>

namespace {

// The wording (its spacing and spelling included, see the table) is what users of the window
// have always seen; keep it byte for byte.
std::string CountLine(std::string text, bool totals, const TCacheAnalyzer& Analyzer) {
    bool first = true;
    for (const TCategoryInfo& category : kCategories) {
        const std::int32_t count =
            totals ? Analyzer.Total(category.Category) : Analyzer.SiteCount(category.Category);
        text += first ? " " : (totals ? category.TotalJoin : ", ");
        text += std::to_string(count);
        text += ' ';
        text += category.CountWords;
        first = false;
    }
    return text;
}

} // namespace

std::string FormatTotalLine(const TCacheAnalyzer& Analyzer) {
    return CountLine("Total:", true, Analyzer);
}

std::string FormatCurrentLine(const TCacheAnalyzer& Analyzer) {
    return CountLine("Selected site::", false, Analyzer);
}
