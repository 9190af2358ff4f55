#include "UrlCacheTestSupport.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

using namespace urlcache_writer;
using zz_test::Delivered;
using zz_test::EnumerateCache;

namespace {

Entry contentEntry(std::string url, std::string file, std::uint8_t subFolder = 0) {
    Entry entry;
    entry.url = std::move(url);
    entry.fileName = std::move(file);
    entry.subFolder = subFolder;
    entry.fileContent = "data";
    return entry;
}

Entry cookieEntry(std::string url, std::string file) {
    Entry entry;
    entry.url = std::move(url);
    entry.fileName = std::move(file);
    entry.subFolder = kContainerFolder;
    entry.entryType = win::COOKIE_CACHE_ENTRY;
    return entry;
}

Entry historyEntry(std::string url) {
    Entry entry;
    entry.url = std::move(url);
    entry.entryType = win::URLHISTORY_CACHE_ENTRY | win::NORMAL_CACHE_ENTRY;
    return entry;
}

// One profile with two content entries, a cookie and a history entry.
struct SmallProfile {
    zz_test::TempProfile profile;
    ProfileWriter writer{profile.folder(), Layout::Vista};
    SmallProfile() {
        writer.add(ContainerKind::Content,
                   contentEntry("http://a.example/logo.gif", "logo[1].gif"));
        writer.add(ContainerKind::Content, contentEntry("http://b.example/", "index[1].htm", 1));
        writer.add(ContainerKind::Cookies,
                   cookieEntry("Cookie:alice@a.example/", "alice@a.example[1].txt"));
        writer.add(ContainerKind::History, historyEntry("Visited: alice@http://a.example/"));
        writer.write();
    }
};

const std::string kVistaRoot = "C:\\Users\\alice\\AppData\\";

TEST(UrlCacheApi, SelectsContainersByPatternInFixedOrder) {
    SmallProfile small;
    const Delivered logo{"http://a.example/logo.gif",
                         kVistaRoot + "Local\\Microsoft\\Windows\\Temporary Internet "
                                      "Files\\Content.IE5\\Z989AIU1\\logo[1].gif",
                         win::NORMAL_CACHE_ENTRY};
    const Delivered index{"http://b.example/",
                          kVistaRoot + "Local\\Microsoft\\Windows\\Temporary Internet "
                                       "Files\\Content.IE5\\Q2W3E4R5\\index[1].htm",
                          win::NORMAL_CACHE_ENTRY};
    const Delivered cookie{"Cookie:alice@a.example/",
                           kVistaRoot +
                               "Roaming\\Microsoft\\Windows\\Cookies\\alice@a.example[1].txt",
                           win::COOKIE_CACHE_ENTRY};
    const Delivered history{"Visited: alice@http://a.example/", std::nullopt,
                            win::URLHISTORY_CACHE_ENTRY | win::NORMAL_CACHE_ENTRY};
    struct Case {
        const char* pattern;
        std::vector<Delivered> expected;
        win::DWORD endError;
    };
    const Case cases[] = {
        {nullptr, {logo, index, cookie, history}, win::ERROR_NO_MORE_ITEMS},
        {"", {logo, index}, win::ERROR_NO_MORE_ITEMS},
        {"Cookie:", {cookie}, win::ERROR_NO_MORE_ITEMS},
        {"Visited:", {history}, win::ERROR_NO_MORE_ITEMS},
        {"cookie:", {}, win::ERROR_FILE_NOT_FOUND},
        {"Visited", {}, win::ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern ? c.pattern : "(null)");
        auto result = EnumerateCache(c.pattern);
        EXPECT_EQ(result.entries, c.expected);
        EXPECT_EQ(result.endError, c.endError);
    }
    EXPECT_EQ(platform::OpenUrlCacheSearchCount(), 0u);
}

TEST(UrlCacheApi, FilterMaskSelectsEntriesSharingABit) {
    SmallProfile small;
    struct Case {
        win::DWORD mask;
        std::size_t count;
    };
    const Case cases[] = {
        {0, 0},
        {win::NORMAL_CACHE_ENTRY, 3}, // the history entry carries the bit too
        {win::COOKIE_CACHE_ENTRY, 1},
        {win::URLHISTORY_CACHE_ENTRY, 1},
        {win::STICKY_CACHE_ENTRY, 0},
        {0x00300035, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        auto result = EnumerateCache(nullptr, c.mask);
        EXPECT_EQ(result.entries.size(), c.count);
        EXPECT_EQ(result.endError, win::ERROR_NO_MORE_ITEMS);
    }
}

} // namespace
