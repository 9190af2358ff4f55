#include "cache/IECache.h"

#include "platform/ModuleLoader.h"
#include "support/TempProfile.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using urlcache_writer::ContainerKind;
using urlcache_writer::Entry;
using urlcache_writer::FileTimeFromUtc;
using urlcache_writer::Layout;
using urlcache_writer::ProfileWriter;

namespace {

// One call the component made to the cache, as the watcher saw it.
struct CacheCall {
    enum Kind { First, Next, Close } kind;
    bool withBuffer = false;
    win::DWORD sizeIn = 0;
    win::DWORD sizeOut = 0;
    win::HANDLE handle = nullptr; // returned by First; passed to Next and Close
    bool succeeded = false;
    const char* pattern = nullptr;
};

std::vector<CacheCall> watchedCalls;
const IECacheTesting::UrlCacheCalls realCalls = IECacheTesting::DefaultUrlCacheCalls();

win::HANDLE WatchFirst(win::LPCSTR pattern, win::DWORD flags, win::DWORD filter, win::GROUPID group,
                       win::INTERNET_CACHE_ENTRY_INFOA* info, win::LPDWORD size, win::LPVOID r1,
                       win::LPDWORD r2, win::LPVOID r3) {
    const win::DWORD sizeIn = *size;
    win::HANDLE handle = realCalls.findFirst(pattern, flags, filter, group, info, size, r1, r2, r3);
    watchedCalls.push_back(
        {CacheCall::First, info != nullptr, sizeIn, *size, handle, handle != nullptr, pattern});
    return handle;
}

win::BOOL WatchNext(win::HANDLE search, win::INTERNET_CACHE_ENTRY_INFOA* info, win::LPDWORD size,
                    win::LPVOID r1, win::LPDWORD r2, win::LPVOID r3) {
    const win::DWORD sizeIn = *size;
    win::BOOL ok = realCalls.findNext(search, info, size, r1, r2, r3);
    watchedCalls.push_back({CacheCall::Next, info != nullptr, sizeIn, *size, search, ok != 0});
    return ok;
}

win::BOOL WatchClose(win::HANDLE search) {
    watchedCalls.push_back({CacheCall::Close, false, 0, 0, search});
    return realCalls.findClose(search);
}

// Records every cache call the component makes while it lives.
class CallWatcher {
public:
    CallWatcher() {
        watchedCalls.clear();
        IECacheTesting::SetUrlCacheCalls({&WatchFirst, &WatchNext, &WatchClose});
    }
    ~CallWatcher() { IECacheTesting::SetUrlCacheCalls(realCalls); }
    int count(CacheCall::Kind kind) const {
        int n = 0;
        for (const CacheCall& call : watchedCalls)
            n += call.kind == kind;
        return n;
    }
};

// Binds a "wininet.dll" that lacks one name (or none at all) for the test's lifetime.
class ReplacedModule {
public:
    explicit ReplacedModule(const char* missingName)
        : original_(platform::ModuleExportsOf("wininet.dll")) {
        if (missingName == nullptr) {
            platform::UnregisterModule("wininet.dll");
        } else {
            platform::ModuleExports reduced = original_;
            reduced.erase(missingName);
            platform::RegisterModule("wininet.dll", reduced);
        }
        IECacheTesting::ResetCacheLibraryLoaded();
    }
    ~ReplacedModule() {
        platform::RegisterModule("wininet.dll", original_);
        IECacheTesting::ResetCacheLibraryLoaded();
    }

private:
    platform::ModuleExports original_;
};

Entry ContentEntry(const std::string& url, const std::string& fileName) {
    Entry entry;
    entry.url = url;
    entry.fileName = fileName;
    entry.fileContent = "data";
    return entry;
}

// Writes three content entries into a fresh profile.
class CacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProfileWriter writer(profile.folder(), Layout::Vista);
        for (const char* name : {"a.gif", "b.htm", "c.mp3"})
            writer.add(ContainerKind::Content,
                       ContentEntry(std::string("http://example.com/") + name, name));
        writer.write();
    }

    // Runs a content enumeration and returns the URLs delivered, in order.
    std::vector<std::string> EnumerateUrls(TIECache& cache) {
        std::vector<std::string> urls;
        cache.SetSearchPattern(spUrl);
        cache.SetOnEntry([&](TObject* sender, bool&) {
            EXPECT_EQ(sender, &cache);
            urls.push_back(cache.EntryInfo().SourceUrlName);
        });
        cache.RetrieveEntries(0);
        return urls;
    }

    zz_test::TempProfile profile;
};

TEST(FilterMaskTest, IsTheSumOfTheKindsFlags) {
    TIECache cache;
    EXPECT_EQ(cache.FilterOptions().bits(), 125);
    EXPECT_EQ(cache.FilterMask(), 0x00300035u);
    EXPECT_EQ(cache.SearchPattern(), spAll);
    EXPECT_FALSE(cache.OnEntry());

    const struct {
        TFilterOptions options;
        std::uint32_t mask;
    } cases[] = {
        {TFilterOptions(), 0},
        {TFilterOptions::All(), 0x00330037},
        {TFilterOptions{TFilterOption::COOKIE_ENTRY, TFilterOption::OCX_ENTRY}, 0x00120000},
    };
    for (const auto& c : cases) {
        cache.SetFilterOptions(c.options);
        EXPECT_EQ(cache.FilterMask(), c.mask) << c.options.bits();
    }
}

TEST_F(CacheTest, EachEntryIsASizeQueryThenAFetchOfExactlyThatSize) {
    TIECache cache;
    CallWatcher watcher;
    EXPECT_EQ(EnumerateUrls(cache).size(), 3u);

    ASSERT_EQ(watchedCalls.size() % 2, 1u); // pairs, then the close
    win::HANDLE search = nullptr;
    for (std::size_t i = 0; i + 1 < watchedCalls.size(); i += 2) {
        const CacheCall& query = watchedCalls[i];
        const CacheCall& fetch = watchedCalls[i + 1];
        EXPECT_EQ(query.kind, i == 0 ? CacheCall::First : CacheCall::Next);
        EXPECT_EQ(fetch.kind, query.kind);
        EXPECT_FALSE(query.withBuffer);
        EXPECT_EQ(query.sizeIn, 0u);
        EXPECT_EQ(fetch.withBuffer, query.sizeOut != 0);
        EXPECT_EQ(fetch.sizeIn, query.sizeOut);
        if (i == 0)
            search = fetch.handle;
        else
            EXPECT_EQ(query.handle, search);
    }
    EXPECT_NE(search, nullptr);
    EXPECT_FALSE(watchedCalls[watchedCalls.size() - 2].succeeded); // the end of the entries
    EXPECT_EQ(watchedCalls.back().kind, CacheCall::Close);
    EXPECT_EQ(watchedCalls.back().handle, search);
}

TEST_F(CacheTest, PassesEachPatternsSearchString) {
    TIECache cache;
    CallWatcher watcher;
    const struct {
        TSearchPattern pattern;
        const char* expected; // null: a null pointer
    } cases[] = {{spAll, nullptr}, {spCookies, "Cookie:"}, {spHistory, "Visited:"}, {spUrl, ""}};
    for (const auto& c : cases) {
        watchedCalls.clear();
        cache.SetSearchPattern(c.pattern);
        cache.RetrieveEntries(0);
        ASSERT_EQ(watchedCalls.at(0).kind, CacheCall::First);
        if (c.expected == nullptr) {
            EXPECT_EQ(watchedCalls[0].pattern, nullptr);
        } else {
            ASSERT_NE(watchedCalls[0].pattern, nullptr) << c.expected;
            EXPECT_STREQ(watchedCalls[0].pattern, c.expected);
        }
    }
}

TEST_F(CacheTest, CancelOnTheFirstEntryClosesTheSearchWithoutFetchingMore) {
    TIECache cache;
    CallWatcher watcher;
    int calls = 0;
    cache.SetSearchPattern(spUrl);
    cache.SetOnEntry([&](TObject*, bool& cancel) {
        ++calls;
        cancel = true;
    });
    cache.RetrieveEntries(0);

    EXPECT_EQ(calls, 1);
    EXPECT_EQ(watcher.count(CacheCall::Next), 0);
    ASSERT_EQ(watcher.count(CacheCall::Close), 1);
    EXPECT_NE(watchedCalls.back().handle, nullptr);
    // The next enumeration starts afresh and is not cut short by the old flag.
    cache.SetOnEntry([&](TObject*, bool&) { ++calls; });
    cache.RetrieveEntries(0);
    EXPECT_EQ(calls, 4);
}

TEST_F(CacheTest, AHandlerThatThrowsStillClosesTheSearch) {
    TIECache cache;
    CallWatcher watcher;
    cache.SetSearchPattern(spUrl);
    cache.SetOnEntry([](TObject*, bool&) { throw std::runtime_error("handler failed"); });
    EXPECT_THROW(cache.RetrieveEntries(0), std::runtime_error);

    ASSERT_EQ(watcher.count(CacheCall::Close), 1);
    EXPECT_NE(watchedCalls.back().handle, nullptr);
    // The closed handle is not reused: a fetch now fails instead of continuing that search.
    EXPECT_NE(cache.FindNextEntry(), 0u);
    EXPECT_EQ(EnumerateUrls(cache).size(), 3u);
}

TEST_F(CacheTest, EntryInfoKeepsTheLastEntryAndSurvivesAFailedFirstFetch) {
    TIECache cache;
    const std::vector<std::string> urls = EnumerateUrls(cache);
    ASSERT_EQ(urls.size(), 3u);
    EXPECT_EQ(cache.EntryInfo().SourceUrlName, urls.back());

    CallWatcher watcher;
    cache.SetSearchPattern(spCookies); // no cookie container in this profile
    int calls = 0;
    cache.SetOnEntry([&](TObject*, bool&) { ++calls; });
    EXPECT_NE(cache.FindFirstEntry(0), 0u);
    cache.RetrieveEntries(0);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(cache.EntryInfo().SourceUrlName, urls.back());
    ASSERT_GE(watcher.count(CacheCall::Close), 1);
    EXPECT_EQ(watchedCalls.back().kind, CacheCall::Close);
    EXPECT_EQ(watchedCalls.back().handle, nullptr);
}

TEST(EntryFieldsTest, AreCopiedFromTheCachesRecord) {
    setenv("TZ", "UTC", 1);
    tzset();
    zz_test::TempProfile profile;
    ProfileWriter writer(profile.folder(), Layout::Vista);
    Entry big = ContentEntry("http://example.com/big.iso", "big.iso");
    big.size = 0x100000000ull + 5;
    big.entryType = win::NORMAL_CACHE_ENTRY | win::STICKY_CACHE_ENTRY;
    big.useCount = 7;
    big.hitRate = 9;
    big.exemptDelta = 600;
    big.headerInfo = std::string("HTTP/1.1 200 OK\r\n\0hidden", 25);
    big.extension = "iso";
    big.lastModified = FileTimeFromUtc(2000, 1, 1, 12);
    Entry far = ContentEntry("http://example.com/far.gif", "far.gif");
    far.lastModified = win::FILETIME{0, 0x30000000}; // about the year 12500
    Entry bare;
    bare.url = "http://example.com/bare";
    writer.add(ContainerKind::Content, big);
    writer.add(ContainerKind::Content, far);
    writer.add(ContainerKind::Content, bare);
    writer.write();

    TIECache cache;
    cache.SetSearchPattern(spUrl);
    std::map<std::string, TEntryInfo> seen;
    cache.SetOnEntry(
        [&](TObject*, bool&) { seen[cache.EntryInfo().SourceUrlName] = cache.EntryInfo(); });
    cache.RetrieveEntries(0);
    ASSERT_EQ(seen.size(), 3u);

    const TEntryInfo& info = seen.at(big.url);
    EXPECT_EQ(info.LocalFileName, writer.windowsFilePath(ContainerKind::Content, big));
    EXPECT_EQ(info.EntryType, big.entryType);
    EXPECT_EQ(info.UseCount, 7u);
    EXPECT_EQ(info.HitRate, 9u);
    EXPECT_EQ(info.Size, 5u);
    EXPECT_EQ(info.HeaderInfo, "HTTP/1.1 200 OK\r\n");
    EXPECT_EQ(info.FileExtension, "iso");
    EXPECT_EQ(info.ExemptDelta, 600u);
    EXPECT_DOUBLE_EQ(info.LastModifiedTime, 36526.5);

    EXPECT_EQ(seen.at(far.url).LastModifiedTime, 0);
    EXPECT_EQ(seen.at(bare.url).LocalFileName, "");
    EXPECT_EQ(seen.at(bare.url).HeaderInfo, "");
    EXPECT_EQ(seen.at(bare.url).FileExtension, "");
}

TEST(CacheTimeTest, CountsDaysFromTheEndOf1899InLocalTime) {
    setenv("TZ", "UTC", 1);
    tzset();
    const struct {
        win::FILETIME time;
        double expected;
    } cases[] = {
        {FileTimeFromUtc(1899, 12, 30), 0},
        {FileTimeFromUtc(2000, 1, 1, 12), 36526.5},
        {FileTimeFromUtc(2000, 3, 1), 36586},        // after a leap day
        {FileTimeFromUtc(2100, 3, 1), 73110},        // 2100 has none
        {FileTimeFromUtc(1800, 1, 1, 6), -36522.25}, // before the epoch the fraction is subtracted
        {FileTimeFromUtc(1601, 1, 1), -109205},
        {win::FILETIME{0, 0x30000000}, 0}, // past the year 9999
        {win::FILETIME{0, 0xFFFFFFFF}, 0}, // not a valid time stamp at all
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(CacheTimeToDateTime(c.time), c.expected)
            << c.time.dwHighDateTime << ":" << c.time.dwLowDateTime;
}

TEST_F(CacheTest, AModuleLackingANameLeavesTheCacheUnbound) {
    TIECache cache;
    const std::vector<std::string> urls = EnumerateUrls(cache);
    ASSERT_EQ(urls.size(), 3u);
    const TEntryInfo before = cache.EntryInfo();

    const char* missing[] = {"FindFirstUrlCacheGroup",     "FindNextUrlCacheGroup",
                             "GetUrlCacheGroupAttributeA", "SetUrlCacheGroupAttributeA",
                             "FindFirstUrlCacheEntryExA",  nullptr};
    for (const char* name : missing) {
        SCOPED_TRACE(name ? name : "no module at all");
        ReplacedModule replaced(name);
        CallWatcher watcher;
        EXPECT_FALSE(cache.LibraryFound());
        EXPECT_TRUE(EnumerateUrls(cache).empty());
        EXPECT_EQ(cache.FindFirstEntry(0), 2u);
        EXPECT_EQ(cache.FindNextEntry(), 2u);
        EXPECT_TRUE(watchedCalls.empty());
        EXPECT_EQ(cache.EntryInfo().SourceUrlName, before.SourceUrlName);
    }
    // A failed binding is not final: with the module back, the next call binds.
    EXPECT_TRUE(cache.LibraryFound());
    EXPECT_EQ(EnumerateUrls(cache).size(), 3u);
}

} // namespace
