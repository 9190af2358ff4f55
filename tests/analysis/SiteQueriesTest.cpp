#include "analysis/CacheAnalyzer.h"
#include "analysis/ManySites.h"
#include "platform/CodePage.h"
#include "platform/PathMapper.h"
#include "support/ScopedEnv.h"
#include "support/TempFolder.h"
#include "support/TempProfile.h"
#include "support/WriterEntries.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace urlcache_writer;
using zz_test::MakeEntry;

enum class Query { Pages, Images, Other, Media, Cookies, History };

// One snapshot shared by every test: a profile with a little of everything.
class SiteQueriesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        platform::SetAnsiCodePageForTesting(1252);
        folder_ = new zz_test::TempFolder("zz-queries");
        profileEnv_ = new zz_test::ScopedEnv("ZEZUVUR_PROFILE", folder_->path().string());

        ProfileWriter writer(folder_->path(), Layout::Vista);
        auto content = [&](std::string url, std::optional<std::string> file,
                           std::optional<std::string> data = std::string("data")) {
            Entry entry = MakeEntry(std::move(url), std::move(file), std::move(data));
            writer.add(ContainerKind::Content, entry);
            return entry.fileName ? writer.windowsFilePath(ContainerKind::Content, entry) : "";
        };
        paths_ = new std::vector<std::string>{
            content("http://www.Example.com/logo.gif", "logo[1].gif"),
            content("http://cdn.example.com/page.html", "page[1].html"),
            content("http://other.org/x.html", "x[1].html"),
            content("http://example.com/nofile.gif", std::nullopt),
            content("http://example.com/data.bin", "data[1].bin"),
            content("http://\xC9t\xE9.fr/a.gif", "a[1].gif"),
            content("http://example.com/m0.mp3", "m0[1].mp3", ""),
            content("http://example.com/m1.mp3", "m1[1].mp3", "1"),
            content("http://example.com/m2.mp3", "m2[1].mp3", "12"),
            content("http://example.com/gone.mp3", "gone[1].mp3", std::nullopt),
            content("http://example.com/huge.avi", "huge[1].avi", "x"),
            content("http://example.com/m3.mp3", "m3[1].mp3", "123"),
        };
        Entry cookie = MakeEntry("Cookie:alice@example.com/", "alice@example[1].txt", "c");
        writer.add(ContainerKind::Cookies, cookie);
        paths_->push_back(writer.windowsFilePath(ContainerKind::Cookies, cookie));
        writer.add(ContainerKind::History,
                   MakeEntry("Visited: alice@http://www.example.com/index.html"));
        writer.add(ContainerKind::History, MakeEntry("Visited: alice@http://other.org/"));
        writer.write();

        // 2.5 GiB without writing them: its low 32 bits read as a negative size.
        const auto huge = platform::HostPathFromWindows(paths_->at(kHuge));
        ASSERT_TRUE(huge);
        fs::resize_file(*huge, std::uint64_t(5) << 29);

        analyzer_ = new TCacheAnalyzer;
        analyzer_->Analyze();
    }

    static void TearDownTestSuite() {
        delete analyzer_;
        delete profileEnv_;
        delete folder_;
        delete paths_;
        platform::SetAnsiCodePageForTesting(0);
    }

    void SetUp() override { profileEnv_->Set(folder_->path().string()); }

    // The query's text; its counter goes to `counter`.
    static std::string Run(Query query, const std::string& site, std::int32_t& counter) {
        TCacheAnalyzer& a = *analyzer_;
        std::string text;
        switch (query) {
        case Query::Pages:
            text = a.GetSitePages(site);
            counter = a.SitePages;
            break;
        case Query::Images:
            text = a.GetSiteImages(site);
            counter = a.SiteImages;
            break;
        case Query::Other:
            text = a.GetSiteOther(site);
            counter = a.SiteOther;
            break;
        case Query::Media:
            text = a.GetSiteMedia(site);
            counter = a.SiteMedia;
            break;
        case Query::Cookies:
            text = a.GetSiteCookies(site);
            counter = a.SiteCookies;
            break;
        case Query::History:
            text = a.GetSiteHistory(site);
            counter = a.SiteHistory;
            break;
        }
        return text;
    }

    static std::string Lines(std::initializer_list<std::string> lines) {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\r\n";
        return text;
    }
    static const std::string& Path(int i) { return paths_->at(i); }
    static void ExpectSweepGivesEachQuery(const std::vector<std::string>& sites,
                                          std::size_t budget);

    enum {
        kLogo,
        kPage,
        kOtherPage,
        kNoFile,
        kData,
        kAccented,
        kM0,
        kM1,
        kM2,
        kGone,
        kHuge,
        kM3,
        kCookie
    };
    static zz_test::TempFolder* folder_;
    static zz_test::ScopedEnv* profileEnv_;
    static std::vector<std::string>* paths_;
    static TCacheAnalyzer* analyzer_;
};

zz_test::TempFolder* SiteQueriesTest::folder_ = nullptr;
zz_test::ScopedEnv* SiteQueriesTest::profileEnv_ = nullptr;
std::vector<std::string>* SiteQueriesTest::paths_ = nullptr;
TCacheAnalyzer* SiteQueriesTest::analyzer_ = nullptr;

TEST_F(SiteQueriesTest, EachQueryGivesTheSitesLinesAndCountsThem) {
    struct Case {
        Query query;
        std::string site;
        std::string expected;
    };
    const Case cases[] = {
        {Query::Images, "example.com", Lines({Path(kLogo)})},
        {Query::Images, "EXAMPLE.COM", Lines({Path(kLogo)})},
        {Query::Images, "", Lines({Path(kLogo), Path(kAccented)})},
        {Query::Images, "logo.gif", Lines({Path(kLogo)})},
        {Query::Images, "\xC9t\xE9.FR", Lines({Path(kAccented)})},
        {Query::Images, "\xC9T\xC9.fr", ""},
        {Query::Pages, "example.com", Lines({Path(kPage)})},
        {Query::Pages, "", Lines({Path(kPage), Path(kOtherPage)})},
        {Query::Other, "Example.Com", Lines({Path(kData)})},
        {Query::Media, "", Lines({Path(kM3)})},
        {Query::Cookies, "example.com", Lines({Path(kCookie)})},
        {Query::History, "example.com",
         Lines({"Visited: alice@http://www.example.com/index.html"})},
        {Query::History, "",
         Lines({"Visited: alice@http://www.example.com/index.html",
                "Visited: alice@http://other.org/"})},
        {Query::History, "nowhere.test", ""},
        {Query::Cookies, "nowhere.test", ""},
        // URLs hold no NUL, though one ends each of them in the text searched.
        {Query::Images, std::string("gif\0http", 8), ""},
        {Query::Images, std::string(1, '\0'), ""},
    };
    for (const Case& c : cases) {
        std::int32_t counter = -1;
        const std::string text = Run(c.query, c.site, counter);
        EXPECT_EQ(text, c.expected) << "query " << int(c.query) << " site " << c.site;
        EXPECT_EQ(counter, std::int32_t(SplitLines(text).size()))
            << "query " << int(c.query) << " site " << c.site;
    }
}

TEST_F(SiteQueriesTest, CopiesWithoutALineStillCountInTheTotals) {
    EXPECT_EQ(analyzer_->TotalOther, 2); // the copy without a local file included
    EXPECT_EQ(analyzer_->TotalMedia, 6); // small, missing and oversized files included
}

TEST_F(SiteQueriesTest, MediaSizeIsTheLow32BitsOfTheFileSize) {
    EXPECT_EQ(GetLocalFileSize(Path(kM3)), 3);
    EXPECT_EQ(GetLocalFileSize(Path(kM0)), 0);
    EXPECT_EQ(GetLocalFileSize(Path(kGone)), -1);
    EXPECT_LT(GetLocalFileSize(Path(kHuge)), 0);
    const std::string folder = Path(kM3).substr(0, Path(kM3).rfind('\\'));
    EXPECT_EQ(GetLocalFileSize(folder), 0) << folder;
}

// The sweep over many sites must answer exactly as the queries do, also for sites that overlap,
// repeat, occur twice in one URL or are empty.
// A small budget for the matches held at once splits the sites into several passes, which must
// not change a single line either.
TEST_F(SiteQueriesTest, ManySitesAtOnceGiveWhatEachQueryGives) {
    const std::vector<std::string> sites = {"example.com",
                                            "EXAMPLE.COM",
                                            "",
                                            "www.example",
                                            "ample",
                                            "e.c",
                                            "m",
                                            "mp3",
                                            "a",
                                            "nowhere.test",
                                            "\xC9t\xE9.fr",
                                            "example.com",
                                            "alice@",
                                            "other.org",
                                            "r.org/x",
                                            std::string("gif\0http", 8)};
    for (const std::size_t budget :
         {kManySitesMatchBudget, std::size_t{0}, std::size_t{3}, std::size_t{20}}) {
        SCOPED_TRACE("budget " + std::to_string(budget));
        ExpectSweepGivesEachQuery(sites, budget);
    }
}

void SiteQueriesTest::ExpectSweepGivesEachQuery(const std::vector<std::string>& sites,
                                                std::size_t budget) {
    std::vector<TSiteTraces> swept;
    std::vector<std::vector<std::int32_t>> sweptCounts;
    const std::size_t sweeps = QueryManySites(
        *analyzer_, sites,
        [&](std::size_t index, const TSiteTraces& traces) {
            EXPECT_EQ(index, swept.size());
            swept.push_back(traces);
            const TCacheAnalyzer& a = *analyzer_;
            sweptCounts.push_back({a.SitePages, a.SiteImages, a.SiteOther, a.SiteMedia,
                                   a.SiteCookies, a.SiteHistory});
        },
        budget);
    ASSERT_EQ(swept.size(), sites.size());
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const std::vector<Query> order = {Query::Pages, Query::Images,  Query::Other,
                                          Query::Media, Query::Cookies, Query::History};
        const TCategory texts[] = {TCategory::Pages, TCategory::Images,  TCategory::Other,
                                   TCategory::Media, TCategory::Cookies, TCategory::History};
        for (std::size_t q = 0; q < order.size(); ++q) {
            std::int32_t counter = -1;
            EXPECT_EQ(swept[i].Of(texts[q]), Run(order[q], sites[i], counter))
                << "site " << sites[i] << " query " << q;
            EXPECT_EQ(sweptCounts[i][q], counter) << "site " << sites[i] << " query " << q;
        }
    }
    if (budget == kManySitesMatchBudget)
        EXPECT_EQ(sweeps, 1u);
    else
        EXPECT_GT(sweeps, 2u);
}

// Long URLs fill more than one block of the text the queries search: a site is found in each.
TEST(SiteQueriesOverLongLists, FindTheSiteInEveryBlockOfUrls) {
    zz_test::TempProfile profile;
    ProfileWriter writer(profile.folder(), Layout::Vista);
    std::vector<std::string> expected;
    constexpr int kUrls = 300; // of about 4 KB each: over 1 MiB
    for (int i = 0; i < kUrls; ++i) {
        const bool needle = i % 100 == 99 || i == 0;
        const std::string url = std::string("Visited: alice@http://") +
                                (needle ? "Needle.Test" : "hay.test") + "/" +
                                std::string(4000, 'p') + std::to_string(i);
        writer.add(ContainerKind::History, MakeEntry(url));
        if (needle)
            expected.push_back(url);
    }
    writer.write();
    TCacheAnalyzer analyzer;
    analyzer.Analyze();
    ASSERT_EQ(analyzer.TotalHistory, kUrls);

    const std::string text = analyzer.GetSiteHistory("needle.TEST");
    EXPECT_EQ(analyzer.SiteHistory, 4);
    EXPECT_EQ(text, JoinLines({expected.begin(), expected.end()}));
    QueryManySites(analyzer, {"needle.test"}, [&](std::size_t, const TSiteTraces& traces) {
        EXPECT_EQ(traces.Of(TCategory::History), text);
    });
}

} // namespace
