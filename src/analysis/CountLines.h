#pragma once
// The two count lines under the site browser's panes: totals over the whole snapshot, and the
// counts of the last per-site queries. One place for their wording, shared by the window and
// the report tool.

#include "analysis/CacheAnalyzer.h"

#include <string>

// "Total: ..." from the totals, in the order of the category table.
std::string FormatTotalLine(const TCacheAnalyzer& Analyzer);

// "Selected site:: ..." from the per-site counters, in the same order.
std::string FormatCurrentLine(const TCacheAnalyzer& Analyzer);
