// Every damaged content container of the shared table, beside sound cookie and history
// containers, through urlcache-dump and through the snapshot and the site index: the readable
// entries show, nothing crashes, and each case ends in bounded time.

#include "analysis/CacheAnalyzer.h"
#include "platform/urlcache/BrokenContainerCases.h"
#include "support/TempProfile.h"
#include "support/ToolRunner.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace zz_broken;
using urlcache_writer::ContainerKind;

constexpr const char* kCookie = "Cookie:alice@sound.example/";
constexpr const char* kVisit = "Visited: alice@http://sound.example/";
constexpr auto kCaseTimeLimit = std::chrono::seconds(20); // generous: a hang would take forever
// Peak memory allowed, with room for the sanitizers: a container that made the reader allocate by
// its forged counts would need far more.
constexpr long kPeakKiB = 1024 * 1024;

long peakKiB(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_maxrss;
}

std::vector<std::string> urlsOf(const TCacheAnalyzer::TEntryList& list) {
    std::vector<std::string> urls;
    for (const auto& copy : list)
        urls.push_back(copy.Info.SourceUrlName);
    return urls;
}

std::vector<std::string> sorted(std::vector<std::string> texts) {
    std::sort(texts.begin(), texts.end());
    return texts;
}

// What the cache calls deliver for an unreadable URL, once it is text: nothing.
std::vector<std::string> asText(std::vector<std::string> urls) {
    for (std::string& url : urls)
        if (url == "<null>")
            url.clear();
    return urls;
}

std::string siteListOf(const std::vector<std::string>& urls) {
    std::set<std::string> sites;
    for (const std::string& url : urls)
        if (!url.empty())
            sites.insert(ExtractSiteName(url));
    return JoinLines({sites.begin(), sites.end()});
}

class BrokenCache : public testing::Test {
protected:
    void SetUp() override {
        urlcache_writer::ProfileWriter writer(profile_.folder(), urlcache_writer::Layout::XP);
        writer.touch(ContainerKind::Content);
        urlcache_writer::Entry cookie;
        cookie.url = kCookie;
        cookie.fileName = "alice@sound[1].txt";
        cookie.subFolder = urlcache_writer::kContainerFolder;
        cookie.entryType = win::COOKIE_CACHE_ENTRY;
        writer.add(ContainerKind::Cookies, cookie);
        urlcache_writer::Entry visit;
        visit.url = kVisit;
        visit.entryType = 0x00200001;
        writer.add(ContainerKind::History, visit);
        writer.write();
        contentIndex_ = writer.indexPath(ContainerKind::Content);
    }

    zz_test::TempProfile profile_;
    std::filesystem::path contentIndex_;
};

TEST_F(BrokenCache, DumpAndSnapshotShowTheReadableEntries) {
    const std::string sound = soundContainer();
    for (const BrokenCase& c : brokenCases()) {
        SCOPED_TRACE(c.name);
        if (!placeCase(c, sound, contentIndex_))
            continue;
        const auto started = std::chrono::steady_clock::now();
        const std::vector<std::string> content = asText(c.expectedUrls);

        const auto dump =
            zz_test::RunTool("urlcache-dump", {"--profile", profile_.folder().string()});
        EXPECT_EQ(dump.status, 0) << dump.err;
        std::vector<std::string> dumped;
        for (const std::string& line : zz_test::Lines(dump.out))
            dumped.push_back(zz_test::Columns(line)[0]);
        std::vector<std::string> everything = content;
        everything.insert(everything.end(), {kCookie, kVisit});
        EXPECT_EQ(dumped, everything);

        TCacheAnalyzer analyzer;
        analyzer.Analyze();
        std::vector<std::string> snapshot;
        for (const auto* list :
             {&analyzer.Images(), &analyzer.Pages(), &analyzer.Media(), &analyzer.Other()}) {
            const auto urls = urlsOf(*list);
            snapshot.insert(snapshot.end(), urls.begin(), urls.end());
        }
        EXPECT_EQ(sorted(snapshot), sorted(content));
        EXPECT_EQ(urlsOf(analyzer.Cookies()), std::vector<std::string>{kCookie});
        EXPECT_EQ(urlsOf(analyzer.History()), std::vector<std::string>{kVisit});
        EXPECT_EQ(analyzer.TotalImages + analyzer.TotalPages + analyzer.TotalMedia +
                      analyzer.TotalOther,
                  static_cast<std::int32_t>(content.size()));
        EXPECT_EQ(analyzer.GetSiteList(), siteListOf(content));

        EXPECT_LT(std::chrono::steady_clock::now() - started, kCaseTimeLimit);
    }
    EXPECT_LT(peakKiB(RUSAGE_SELF), kPeakKiB);
    EXPECT_LT(peakKiB(RUSAGE_CHILDREN), kPeakKiB);
}

} // namespace
