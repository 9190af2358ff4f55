#include "analysis/CacheAnalyzer.h"
#include "platform/CodePage.h"
#include "support/TempProfile.h"
#include "support/WriterEntries.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace urlcache_writer;
using zz_test::MakeEntry;

struct SiteNameCase {
    unsigned codePage;
    std::string url;
    std::string site;
};

void PrintTo(const SiteNameCase& c, std::ostream* os) {
    *os << c.codePage << " " << ::testing::PrintToString(c.url);
}

class ExtractSiteNameTest : public ::testing::TestWithParam<SiteNameCase> {
protected:
    void TearDown() override { platform::SetAnsiCodePageForTesting(0); }
};

TEST_P(ExtractSiteNameTest, CutsTheSiteOutOfTheUrl) {
    const SiteNameCase& c = GetParam();
    platform::SetAnsiCodePageForTesting(c.codePage);
    EXPECT_EQ(ExtractSiteName(c.url), c.site) << c.url;
}

INSTANTIATE_TEST_SUITE_P(
    Urls, ExtractSiteNameTest,
    ::testing::Values(SiteNameCase{1252, "http://Example.COM/a/b.gif", "example.com"},
                      SiteNameCase{1252, "HTTPS://WWW.Example.com:8443/x", "example.com:8443"},
                      SiteNameCase{1252, "ftp://user:pw@files.example.org/",
                                   "user:pw@files.example.org"},
                      SiteNameCase{1252, "http://host.org?q=1#top", "host.org?q=1#top"},
                      SiteNameCase{1252, "http://shopwww.mall.net/", "mall.net"},
                      SiteNameCase{1252, "http://www.www.site.com/www.x", "www.site.com"},
                      SiteNameCase{1252, "http://site.www./", ""},
                      SiteNameCase{1252, "Example.NET/path", "example.net"},
                      SiteNameCase{1252, "no-slash-at-all", "no-slash-at-all"},
                      SiteNameCase{1252, "http:///path", ""}, SiteNameCase{1252, "http://", ""},
                      SiteNameCase{1252, "", ""}, SiteNameCase{1252, "a://b://c/d", "b:"},
                      // Every letter of the code page is lowered, not only A to Z.
                      SiteNameCase{1252,
                                   "http://\xC9"
                                   "COLE.fr/",
                                   "\xE9"
                                   "cole.fr"},
                      // The trail byte of a double-byte character starts no "www.".
                      SiteNameCase{932, "http://\x83www.x.jp/", "\x83www.x.jp"},
                      SiteNameCase{932, "http://\x83\x41www.x.jp/", "x.jp"}));

// A profile folder of its own, read through ZEZUVUR_PROFILE, removed afterwards.
class SiteListTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetAnsiCodePageForTesting(1252); }
    void TearDown() override { platform::SetAnsiCodePageForTesting(0); }

    void WriteContent(const std::vector<std::string>& urls) {
        ProfileWriter writer(profile_.folder(), Layout::Vista);
        int n = 0;
        for (const std::string& url : urls)
            writer.add(ContainerKind::Content, MakeEntry(url, "f" + std::to_string(n++) + ".gif"));
        writer.add(ContainerKind::Cookies,
                   MakeEntry("Cookie:bob@cookie-only.com/", "bob@cookie-only[1].txt"));
        writer.write();
    }

    zz_test::TempProfile profile_;
};

TEST_F(SiteListTest, ListsEachSiteOnceInLocaleOrder) {
    WriteContent({"http://Example.COM/a.gif", "https://example.com/b/c.html",
                  "EXAMPLE.com/no-scheme", "http://www.news.org/", "http://example.com:8080/",
                  "http://user@example.com/", "http://site.www./", "http:///x", "http://",
                  "http://\xC9"
                  "cole.fr/",
                  "http://zeta.net/"});
    TCacheAnalyzer analyzer;
    EXPECT_EQ(analyzer.GetSiteList(), "\xE9"
                                      "cole.fr\r\n"
                                      "example.com\r\n"
                                      "example.com:8080\r\n"
                                      "news.org\r\n"
                                      "user@example.com\r\n"
                                      "zeta.net\r\n");
    EXPECT_EQ(analyzer.Cache().SearchPattern(), spUrl);
    EXPECT_TRUE(analyzer.Images().empty()) << "the site pass files nothing";
}

TEST_F(SiteListTest, EmptyCacheGivesEmptyText) {
    TCacheAnalyzer analyzer;
    EXPECT_EQ(analyzer.GetSiteList(), "");
}

// The enumeration fails part way: the error reaches the caller, and the analyzer still has its
// own handler bound, so a snapshot afterwards files every entry.
TEST_F(SiteListTest, FailedPassGivesTheEnumeratorBack) {
    WriteContent({"http://a.com/", "http://b.com/", "http://c.com/"});
    TCacheAnalyzer analyzer;

    IECacheTesting::UrlCacheCalls failing = IECacheTesting::DefaultUrlCacheCalls();
    failing.findNext = [](win::HANDLE, win::INTERNET_CACHE_ENTRY_INFOA*, win::LPDWORD, win::LPVOID,
                          win::LPDWORD, win::LPVOID) -> win::BOOL {
        throw std::runtime_error("cache read failed");
    };
    const IECacheTesting::UrlCacheCalls previous = IECacheTesting::SetUrlCacheCalls(failing);
    EXPECT_THROW(analyzer.GetSiteList(), std::runtime_error);
    IECacheTesting::SetUrlCacheCalls(previous);

    EXPECT_EQ(analyzer.Cache().SearchPattern(), spUrl);
    analyzer.Analyze();
    EXPECT_EQ(analyzer.TotalImages, 3);
    EXPECT_EQ(analyzer.TotalCookies, 1);
    EXPECT_EQ(analyzer.GetSiteList(), "a.com\r\nb.com\r\nc.com\r\n");
}

} // namespace
