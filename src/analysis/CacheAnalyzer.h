#pragma once
// TCacheAnalyzer: one snapshot of the URL cache in six categories (images, pages, media, other
// files, cookies, history), the list of sites the cache has seen, and per-site queries over the
// snapshot. Plain C++ over the cache enumerator and the platform's text services.

#include "analysis/Categories.h"
#include "analysis/ChunkedList.h"
#include "analysis/UrlText.h"
#include "cache/IECache.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum TFileKind { fkImage, fkMedia, fkPage, fkOther };

// Lower-case extensions without the dot, tried in this order: images, pages, media.
extern const char* const ImageExts[10];
extern const char* const PageExts[17];
extern const char* const MediaExts[14];

// Classifies a local file name by its last extension, lower-cased with the code page.
TFileKind GetFileKind(std::string_view FileName);

// The site name of a URL: the host part after "://" (or from the start), up to the first "/",
// lower-cased with the code page, with everything up to and including its first "www." dropped.
// Never throws; a failure gives an empty name.
std::string ExtractSiteName(std::string_view URL);

// The size of the file a Windows-form path names, as a signed 32-bit number (the low 32 bits of
// the size); -1 when there is no such file.
std::int32_t GetLocalFileSize(std::string_view FileName);

// Lists of texts travel as one text: each item followed by CR LF.
std::string JoinLines(const std::vector<std::string_view>& lines);
// Splits at CR, LF or CR LF; the final line end adds no item; an empty text gives none.
std::vector<std::string> SplitLines(std::string_view text);

// An entry copy: the fields the analyzer keeps, and what the queries derive from them once.
struct TAnalyzerEntryCopy {
    TEntryInfo Info;           // HeaderInfo and FileExtension stay empty
    std::string_view LowerUrl; // SourceUrlName with A to Z lower-cased, held by the analyzer
};

class TCacheAnalyzer : public TObject {
public:
    using TEntryCopy = TAnalyzerEntryCopy;
    using TEntryList = TChunkedList<TEntryCopy>;

private:
    // Per category (see Categories.h): the copies in delivery order, their lower-cased URLs in
    // the same order for the per-site queries, the totals and the last per-site counts.
    TPerCategory<TEntryList> FLists;
    TPerCategory<TUrlText> FUrls;
    TPerCategory<std::int32_t> FTotals;
    TPerCategory<std::int32_t> FSiteCounts;

public:
    TCacheAnalyzer();
    ~TCacheAnalyzer() override;
    TCacheAnalyzer(const TCacheAnalyzer&) = delete;
    TCacheAnalyzer& operator=(const TCacheAnalyzer&) = delete;

    // Replaces the snapshot: cookie, history and content passes, in that order; sets the totals.
    void Analyze();

    // The distinct site names of the cached-content entries, sorted, as CR LF text. Runs its
    // own pass over the cache; independent of Analyze.
    std::string GetSiteList();

    // The per-site query of a category over the snapshot: the matching lines as CR LF text; sets
    // that category's site counter to the number of lines.
    std::string GetSite(TCategory Category, std::string_view Site);
    std::string GetSiteImages(std::string_view Site) { return GetSite(TCategory::Images, Site); }
    std::string GetSitePages(std::string_view Site) { return GetSite(TCategory::Pages, Site); }
    std::string GetSiteMedia(std::string_view Site) { return GetSite(TCategory::Media, Site); }
    std::string GetSiteOther(std::string_view Site) { return GetSite(TCategory::Other, Site); }
    std::string GetSiteCookies(std::string_view Site) { return GetSite(TCategory::Cookies, Site); }
    std::string GetSiteHistory(std::string_view Site) { return GetSite(TCategory::History, Site); }

    std::int32_t& SiteCount(TCategory Category) { return FSiteCounts[Category]; }
    std::int32_t SiteCount(TCategory Category) const { return FSiteCounts[Category]; }
    std::int32_t& Total(TCategory Category) { return FTotals[Category]; }
    std::int32_t Total(TCategory Category) const { return FTotals[Category]; }

    // The fixed names of the counters, over the same values.
    std::int32_t& SiteOther = FSiteCounts[TCategory::Other];
    std::int32_t& SiteMedia = FSiteCounts[TCategory::Media];
    std::int32_t& SiteCookies = FSiteCounts[TCategory::Cookies];
    std::int32_t& SitePages = FSiteCounts[TCategory::Pages];
    std::int32_t& SiteHistory = FSiteCounts[TCategory::History];
    std::int32_t& SiteImages = FSiteCounts[TCategory::Images];
    std::int32_t& TotalCookies = FTotals[TCategory::Cookies];
    std::int32_t& TotalPages = FTotals[TCategory::Pages];
    std::int32_t& TotalOther = FTotals[TCategory::Other];
    std::int32_t& TotalHistory = FTotals[TCategory::History];
    std::int32_t& TotalImages = FTotals[TCategory::Images];
    std::int32_t& TotalMedia = FTotals[TCategory::Media];

    // The enumerator, for tests that check how the analyzer leaves it.
    const TIECache& Cache() const { return *FCache; }

    // The category lists, in delivery order, and their lower-cased URLs in the same order.
    const TEntryList& List(TCategory Category) const { return FLists[Category]; }
    const TUrlText& Urls(TCategory Category) const { return FUrls[Category]; }
    const TEntryList& Images() const { return List(TCategory::Images); }
    const TEntryList& Pages() const { return List(TCategory::Pages); }
    const TEntryList& Media() const { return List(TCategory::Media); }
    const TEntryList& Other() const { return List(TCategory::Other); }
    const TEntryList& Cookies() const { return List(TCategory::Cookies); }
    const TEntryList& History() const { return List(TCategory::History); }
    const TUrlText& ImageUrls() const { return Urls(TCategory::Images); }
    const TUrlText& PageUrls() const { return Urls(TCategory::Pages); }
    const TUrlText& MediaUrls() const { return Urls(TCategory::Media); }
    const TUrlText& OtherUrls() const { return Urls(TCategory::Other); }
    const TUrlText& CookieUrls() const { return Urls(TCategory::Cookies); }
    const TUrlText& HistoryUrls() const { return Urls(TCategory::History); }

private:
    void CacheEntry(TObject* Sender, bool& Cancel);
    void CollectSiteUrl(TObject* Sender, bool& Cancel);
    void AddEntry(const TEntryInfo& Info, TSearchPattern Pattern);
    static TCategory CategoryOf(const TEntryInfo& Info, TSearchPattern Pattern);
    void ClearLists();

    std::unique_ptr<std::vector<std::string>> FSiteUrls; // exists only while GetSiteList runs
    std::unique_ptr<TIECache> FCache;
};
