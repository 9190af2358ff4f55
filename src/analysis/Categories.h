#pragma once
// The six categories of the snapshot and everything that differs between them, in one table.
// The analyzer's lists, totals and site counters, the per-site queries, the count lines, the
// report tool and the sites frame's tabs, boxes and path lists all iterate it; adding a category
// means adding a row here.

#include <array>
#include <cstddef>
#include <cstdint>

enum class TCategory { Images, Pages, Media, Other, Cookies, History };
constexpr std::size_t kCategoryCount = 6;

constexpr std::size_t IndexOf(TCategory category) {
    return static_cast<std::size_t>(category);
}

// Which line a matching entry copy gives in a per-site result.
struct TLineRule {
    bool HistoryLine = false;    // the URL itself instead of the local file
    bool NeedsMediaSize = false; // a local file that must hold more than a stub
};

struct TCategoryInfo {
    TCategory Category;
    TLineRule Rule;
    // Where the sites frame fills it when a site is selected (and the report tool lists it):
    // pages, images, other, media, cookies, history, the order the window has always used.
    int FillRank;
    const char* ReportTag;  // the report tool's line tag
    const char* CountWords; // its words in the count lines
    // Before its count in the "Total:" line after the first; the missing space before cookies
    // is what users of the window have always seen.
    const char* TotalJoin;
    const char* TabCaption;
    const char* TabName; // the frame's object names, which tests and styles look up
    const char* BoxName;
    const char* BoxHint; // the box's tool tip, or null
};

// In the order of the tabs and of the count lines.
inline constexpr std::array<TCategoryInfo, kCategoryCount> kCategories = {{
    {TCategory::Images,
     {},
     1,
     "images",
     "images",
     ", ",
     "Images",
     "tabImages",
     "lbxImages",
     nullptr},
    {TCategory::Pages, {}, 0, "pages", "pages", ", ", "Pages", "TabSheet4", "lbxPages", nullptr},
    {TCategory::Media,
     {false, true},
     3,
     "media",
     "media files",
     ", ",
     "Media",
     "tbcMedia",
     "lbxMedia",
     "Double-click to view file"},
    {TCategory::Other,
     {},
     2,
     "other",
     "unknown files",
     ", ",
     "Other",
     "TabSheet1",
     "lbxOther",
     "Double-click to view file"},
    {TCategory::Cookies,
     {},
     4,
     "cookies",
     "cookies",
     ",",
     "Cookies",
     "TabSheet2",
     "lbxCookies",
     "Double-click to view file"},
    {TCategory::History,
     {true, false},
     5,
     "history",
     "history entires",
     ", ",
     "History",
     "TabSheet3",
     "lbxHistory",
     "Double-click to view file"},
}};

// The categories in fill order.
inline constexpr std::array<TCategory, kCategoryCount> kFillOrder = [] {
    std::array<TCategory, kCategoryCount> order{};
    for (const TCategoryInfo& info : kCategories)
        order[static_cast<std::size_t>(info.FillRank)] = info.Category;
    return order;
}();

constexpr const TCategoryInfo& InfoOf(TCategory category) {
    return kCategories[IndexOf(category)];
}

static_assert(
    [] {
        for (std::size_t i = 0; i < kCategoryCount; ++i)
            if (IndexOf(kCategories[i].Category) != i)
                return false;
        return true;
    }(),
    "the table lists the categories in enum order");

// A value per category, indexed by category.
template <typename T> struct TPerCategory {
    std::array<T, kCategoryCount> Values{};
    T& operator[](TCategory category) { return Values[IndexOf(category)]; }
    const T& operator[](TCategory category) const { return Values[IndexOf(category)]; }
};
