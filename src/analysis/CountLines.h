#pragma once
// The two count lines under the site browser's panes: totals over the whole snapshot, and the
// counts of the last per-site queries. One place for their wording, shared by the window and
// the report tool.

#include "analysis/CacheAnalyzer.h"

#include <string>

// "Total: ..." from the six totals, in the order images, pages, media, other, cookies, history.
std::string FormatTotalLine(const TCacheAnalyzer& Analyzer);

// "Selected site:: ..." from the six per-site counters, in the same order.
std::string FormatCurrentLine(const TCacheAnalyzer& Analyzer);
