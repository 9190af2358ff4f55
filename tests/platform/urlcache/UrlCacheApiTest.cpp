#include "UrlCacheTestSupport.h"
#include "support/ScopedEnv.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>

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

namespace {

std::uint64_t ticksOf(win::FILETIME time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// Fetches the first entry of a search into a buffer of exactly the reported size.
struct FirstEntry {
    std::vector<char> buffer;
    win::HANDLE search = nullptr;
    win::DWORD size = 0;
    const win::INTERNET_CACHE_ENTRY_INFOA& info() const {
        return *reinterpret_cast<const win::INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    }
    explicit FirstEntry(const char* pattern) {
        win::FindFirstUrlCacheEntryExA(pattern, 0, ~0u, 0, nullptr, &size, nullptr, nullptr,
                                       nullptr);
        buffer.assign(size, '\x55');
        search = win::FindFirstUrlCacheEntryExA(
            pattern, 0, ~0u, 0, reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(buffer.data()),
            &size, nullptr, nullptr, nullptr);
    }
    ~FirstEntry() { win::FindCloseUrlCache(search); }
};

TEST(UrlCacheApi, FillsEveryMemberFromTheRecord) {
    zz_test::TempProfile profile;
    ProfileWriter writer(profile.folder(), Layout::XP);
    Entry entry = contentEntry("http://a.example/big.mp4", "big[1].mp4", 1);
    entry.entryType = win::NORMAL_CACHE_ENTRY | win::STICKY_CACHE_ENTRY;
    entry.size = 0x1'2345'6789ull;
    entry.useCount = 3;
    entry.hitRate = 17;
    entry.exemptDelta = 86400;
    entry.lastModified = FileTimeFromUtc(2009, 3, 4, 5, 6, 7);
    entry.lastAccess = FileTimeFromUtc(2010, 11, 12, 13, 14, 15);
    entry.expireDosDateTime = DosDateTime(2011, 1, 31, 23, 59, 58);
    entry.lastSyncDosDateTime = 0xFFFFFFFF; // nonsense fields: a zero time
    entry.headerInfo = std::string("HTTP/1.1 200 OK\r\n\0tail", 23);
    entry.extension = "mp4";
    writer.add(ContainerKind::Content, entry);
    writer.write();

    FirstEntry first("");
    ASSERT_NE(first.search, nullptr);
    const auto& info = first.info();
    EXPECT_EQ(info.dwStructSize, sizeof(win::INTERNET_CACHE_ENTRY_INFOA));
    EXPECT_STREQ(info.lpszSourceUrlName, "http://a.example/big.mp4");
    EXPECT_EQ(info.lpszLocalFileName, writer.windowsFilePath(ContainerKind::Content, entry));
    EXPECT_STREQ(info.lpszLocalFileName, "C:\\Users\\alice\\Local Settings\\Temporary Internet "
                                         "Files\\Content.IE5\\Q2W3E4R5\\big[1].mp4");
    EXPECT_EQ(info.CacheEntryType, entry.entryType);
    EXPECT_EQ(info.dwUseCount, 3u);
    EXPECT_EQ(info.dwHitRate, 17u);
    EXPECT_EQ(info.dwSizeLow, 0x23456789u);
    EXPECT_EQ(info.dwSizeHigh, 1u);
    EXPECT_EQ(ticksOf(info.LastModifiedTime), ticksOf(entry.lastModified));
    EXPECT_EQ(ticksOf(info.LastAccessTime), ticksOf(entry.lastAccess));
    EXPECT_EQ(ticksOf(info.ExpireTime), ticksOf(FileTimeFromUtc(2011, 1, 31, 23, 59, 58)));
    EXPECT_EQ(ticksOf(info.LastSyncTime), 0u);
    EXPECT_EQ(info.dwHeaderInfoSize, 23u);
    ASSERT_NE(info.lpHeaderInfo, nullptr);
    EXPECT_EQ(std::string(info.lpHeaderInfo, 23), *entry.headerInfo);
    EXPECT_STREQ(info.lpszFileExtension, "mp4");
    EXPECT_EQ(info.dwExemptDelta, 86400u);

    // The strings lie in the caller's buffer right after the structure, and fill it exactly.
    const char* begin = first.buffer.data() + sizeof(win::INTERNET_CACHE_ENTRY_INFOA);
    const char* end = first.buffer.data() + first.buffer.size();
    for (const char* text : std::initializer_list<const char*>{
             info.lpszSourceUrlName, info.lpszLocalFileName,
             static_cast<const char*>(info.lpHeaderInfo), info.lpszFileExtension}) {
        EXPECT_GE(text, begin);
        EXPECT_LT(text, end);
    }
    EXPECT_EQ(first.size, sizeof(win::INTERNET_CACHE_ENTRY_INFOA) + 25 +
                              std::string(info.lpszLocalFileName).size() + 1 + 24 + 4);
}

TEST(UrlCacheApi, LocalFileNameFollowsTheSubFolderIndex) {
    zz_test::TempProfile profile;
    ProfileWriter writer(profile.folder(), Layout::Vista);
    const std::string folder = "C:\\Users\\alice\\AppData\\Local\\Microsoft\\Windows\\Temporary "
                               "Internet Files\\Content.IE5\\";
    struct Case {
        std::uint8_t index;
        std::optional<std::string> fileName;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {0, "a.gif", folder + "Z989AIU1\\a.gif"}, {1, "b.gif", folder + "Q2W3E4R5\\b.gif"},
        {0xFE, "c.gif", folder + "c.gif"},        {0xFF, "d.gif", folder + "d.gif"},
        {2, "e.gif", folder + "e.gif"}, // past the two-folder table
        {31, "f.gif", folder + "f.gif"},          {0, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        Entry entry;
        entry.url = "http://x/" + c.fileName.value_or("none");
        entry.fileName = c.fileName;
        entry.subFolder = c.index;
        writer.add(ContainerKind::Content, entry);
    }
    writer.write();
    auto result = EnumerateCache("");
    ASSERT_EQ(result.entries.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(result.entries[i].localFile, cases[i].expected);
    }
}

TEST(UrlCacheApi, SizeQueryLeavesTheSearchWhereItWas) {
    SmallProfile small;
    win::DWORD size = 0;
    EXPECT_EQ(win::FindFirstUrlCacheEntryExA(nullptr, 0, ~0u, 0, nullptr, &size, nullptr, nullptr,
                                             nullptr),
              nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    const win::DWORD needed = size;
    EXPECT_GT(needed, sizeof(win::INTERNET_CACHE_ENTRY_INFOA));
    EXPECT_EQ(platform::OpenUrlCacheSearchCount(), 0u);

    std::vector<char> buffer(needed + 64);
    auto* info = reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    size = needed - 1; // one byte short
    EXPECT_EQ(
        win::FindFirstUrlCacheEntryExA(nullptr, 0, ~0u, 0, info, &size, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, needed);
    EXPECT_EQ(platform::OpenUrlCacheSearchCount(), 0u);

    size = static_cast<win::DWORD>(buffer.size()); // larger than needed is fine
    win::HANDLE search =
        win::FindFirstUrlCacheEntryExA(nullptr, 0, ~0u, 0, info, &size, nullptr, nullptr, nullptr);
    ASSERT_NE(search, nullptr);
    EXPECT_STREQ(info->lpszSourceUrlName, "http://a.example/logo.gif");
    EXPECT_EQ(platform::OpenUrlCacheSearchCount(), 1u);

    // Repeated size queries report the same next entry and do not skip it.
    for (int i = 0; i < 3; ++i) {
        size = 0;
        EXPECT_FALSE(
            win::FindNextUrlCacheEntryExA(search, nullptr, &size, nullptr, nullptr, nullptr));
        EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    }
    ASSERT_LE(size, buffer.size());
    EXPECT_TRUE(win::FindNextUrlCacheEntryExA(search, info, &size, nullptr, nullptr, nullptr));
    EXPECT_STREQ(info->lpszSourceUrlName, "http://b.example/");

    for (int i = 0; i < 2; ++i) { // the cookie and the history entry
        size = static_cast<win::DWORD>(buffer.size());
        EXPECT_TRUE(win::FindNextUrlCacheEntryExA(search, info, &size, nullptr, nullptr, nullptr));
    }
    for (int i = 0; i < 2; ++i) {
        size = static_cast<win::DWORD>(buffer.size());
        EXPECT_FALSE(win::FindNextUrlCacheEntryExA(search, info, &size, nullptr, nullptr, nullptr));
        EXPECT_EQ(win::GetLastError(), win::ERROR_NO_MORE_ITEMS);
    }
    EXPECT_TRUE(win::FindCloseUrlCache(search));
    EXPECT_EQ(platform::OpenUrlCacheSearchCount(), 0u);

    // A closed, null or foreign handle is refused.
    for (win::HANDLE bad :
         {search, static_cast<win::HANDLE>(nullptr), static_cast<win::HANDLE>(buffer.data())}) {
        size = static_cast<win::DWORD>(buffer.size());
        EXPECT_FALSE(win::FindNextUrlCacheEntryExA(bad, info, &size, nullptr, nullptr, nullptr));
        EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
        EXPECT_FALSE(win::FindCloseUrlCache(bad));
        EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
    }
}

TEST(UrlCacheApi, EachFirstCallReadsTheProfileOfTheMoment) {
    SmallProfile small;
    win::DWORD size = 0;
    win::FindFirstUrlCacheEntryExA("", 0, ~0u, 0, nullptr, &size, nullptr, nullptr, nullptr);
    {
        // Between the size query and the fetch the cache is replaced by another one.
        zz_test::TempProfile other("bob");
        ProfileWriter writer(other.folder(), Layout::Wine8);
        writer.add(ContainerKind::Content, contentEntry("http://other.example/", "o.htm"));
        writer.write();
        auto result = EnumerateCache("");
        ASSERT_EQ(result.entries.size(), 1u);
        EXPECT_EQ(result.entries[0].url, "http://other.example/");
        EXPECT_EQ(*result.entries[0].localFile,
                  "C:\\Users\\bob\\AppData\\Local\\Microsoft\\Windows\\INetCache\\Content.IE5\\"
                  "Z989AIU1\\o.htm");
    }
    EXPECT_EQ(EnumerateCache("").entries.size(), 2u);

    // Rewriting the files between a size query and the fetch is seen too.
    size = 0;
    win::FindFirstUrlCacheEntryExA("Visited:", 0, ~0u, 0, nullptr, &size, nullptr, nullptr,
                                   nullptr);
    ProfileWriter rewrite(small.profile.folder(), Layout::Vista);
    rewrite.add(ContainerKind::History, historyEntry("Visited: alice@http://new.example/"));
    rewrite.add(ContainerKind::History, historyEntry("Visited: alice@http://new.example/2"));
    rewrite.write();
    EXPECT_EQ(EnumerateCache("Visited:").entries.size(), 2u);
}

TEST(UrlCacheApi, AContainerReadBeforeIsReadAgainOnceItChanges) {
    SmallProfile small;
    ASSERT_EQ(EnumerateCache("").entries.size(), 2u);
    const std::filesystem::path index =
        small.profile.folder() /
        "AppData/Local/Microsoft/Windows/Temporary Internet Files/Content.IE5/index.dat";
    const auto firstSize = std::filesystem::file_size(index);
    const auto firstTime = std::filesystem::last_write_time(index);

    // The same size and another time stamp: other entries.
    ProfileWriter rewrite(small.profile.folder(), Layout::Vista);
    rewrite.add(ContainerKind::Content, contentEntry("http://c.example/", "c.htm"));
    rewrite.write();
    ASSERT_EQ(std::filesystem::file_size(index), firstSize);
    std::filesystem::last_write_time(index, firstTime + std::chrono::seconds(1));
    auto rewritten = EnumerateCache("");
    ASSERT_EQ(rewritten.entries.size(), 1u);
    EXPECT_EQ(rewritten.entries[0].url, "http://c.example/");

    // Cut short by another program: what is left is read, and nothing past it.
    std::filesystem::resize_file(index, 0x4000);
    EXPECT_TRUE(EnumerateCache("").entries.empty());
}

// Letting go of the kept container bytes in the middle of a search: the search goes on over the
// bytes it holds, and the next search reads the containers afresh.
TEST(UrlCacheApi, ForgettingReadContainersMidSearchKeepsTheSearchWhole) {
    SmallProfile small;
    alignas(8) std::array<char, 4096> buffer{};
    auto* info = reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(buffer.data());
    win::DWORD size = buffer.size();
    const win::HANDLE search = win::FindFirstUrlCacheEntryExA(nullptr, 0, 0xFFFFFFFF, 0, info,
                                                              &size, nullptr, nullptr, nullptr);
    ASSERT_NE(search, nullptr);
    std::vector<std::string> urls{info->lpszSourceUrlName};
    platform::ForgetReadContainers();
    for (size = buffer.size();
         win::FindNextUrlCacheEntryExA(search, info, &size, nullptr, nullptr, nullptr);
         size = buffer.size())
        urls.push_back(info->lpszSourceUrlName);
    EXPECT_TRUE(win::FindCloseUrlCache(search));
    EXPECT_EQ(urls.size(), 4u);
    EXPECT_EQ(EnumerateCache("").entries.size(), 2u);
}

TEST(UrlCacheApi, EmptyOrMissingProfileIsAnEmptyCache) {
    zz_test::TempProfile profile;
    EXPECT_EQ(EnumerateCache(nullptr).endError, win::ERROR_FILE_NOT_FOUND);
    ProfileWriter writer(profile.folder(), Layout::Wine8);
    writer.touch(ContainerKind::Content);
    writer.write();
    EXPECT_EQ(EnumerateCache(nullptr).endError, win::ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(EnumerateCache("Cookie:").endError, win::ERROR_FILE_NOT_FOUND);
    ::setenv("ZEZUVUR_PROFILE", (profile.folder() / "nowhere").c_str(), 1);
    EXPECT_EQ(EnumerateCache(nullptr).endError, win::ERROR_FILE_NOT_FOUND);
}

TEST(UrlCacheApi, NonZeroGroupSelectsNothingAndGroupsAreEmpty) {
    SmallProfile small;
    win::DWORD size = 0;
    EXPECT_EQ(win::FindFirstUrlCacheEntryExA(nullptr, 0, ~0u, 42, nullptr, &size, nullptr, nullptr,
                                             nullptr),
              nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_NO_MORE_ITEMS);
    win::GROUPID group = 0;
    EXPECT_EQ(win::FindFirstUrlCacheGroup(0, 0, nullptr, 0, &group, nullptr), nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_NO_MORE_ITEMS);
    EXPECT_FALSE(win::FindNextUrlCacheGroup(nullptr, &group, nullptr));
}

TEST(UrlCacheApi, ModuleExportsTheCacheFunctionsByName) {
    win::HMODULE module = win::LoadLibraryA("WININET.DLL");
    ASSERT_NE(module, nullptr);
    for (const char* name :
         {"FindFirstUrlCacheGroup", "FindNextUrlCacheGroup", "GetUrlCacheGroupAttributeA",
          "SetUrlCacheGroupAttributeA", "FindFirstUrlCacheEntryExA", "FindNextUrlCacheEntryExA",
          "FindCloseUrlCache"})
        EXPECT_NE(win::GetProcAddress(module, name), nullptr) << name;
    EXPECT_EQ(win::GetProcAddress(module, "DeleteUrlCacheEntryA"), nullptr);
}

TEST(UrlCacheApi, FindsContainersOfEveryLayoutIgnoringCase) {
    for (Layout layout : {Layout::Wine8, Layout::Vista, Layout::XP}) {
        SCOPED_TRACE(static_cast<int>(layout));
        zz_test::TempProfile profile;
        ProfileWriter writer(profile.folder(), layout);
        const Entry page = contentEntry("http://a.example/", "index[1].htm");
        writer.add(ContainerKind::Content, page);
        writer.add(ContainerKind::Cookies, cookieEntry("Cookie:alice@a.example/", "c.txt"));
        writer.add(ContainerKind::History, historyEntry("Visited: alice@http://a.example/"));
        if (layout == Layout::Vista) {
            ContainerOptions low;
            low.lowIntegrity = true;
            writer.add(ContainerKind::Content, contentEntry("http://low.example/", "l.htm"), low);
            writer.add(ContainerKind::Cookies, cookieEntry("Cookie:alice@low.example/", "l.txt"),
                       low);
            writer.add(ContainerKind::History, historyEntry("Visited: alice@http://low.example/"),
                       low);
        }
        writer.write();
        const std::size_t perKind = layout == Layout::Vista ? 2 : 1;
        EXPECT_EQ(EnumerateCache("").entries.size(), perKind);
        EXPECT_EQ(EnumerateCache("Cookie:").entries.size(), perKind);
        EXPECT_EQ(EnumerateCache("Visited:").entries.size(), perKind);

        // The same profile with other letter cases still reads, and reports the names on disk.
        const auto index = writer.indexPath(ContainerKind::Content);
        std::filesystem::rename(index, index.parent_path() / "INDEX.DAT");
        const auto folder = index.parent_path();
        std::filesystem::rename(folder, folder.parent_path() / "CONTENT.ie5");
        auto result = EnumerateCache("");
        ASSERT_EQ(result.entries.size(), perKind);
        std::string expected = writer.windowsFilePath(ContainerKind::Content, page);
        expected.replace(expected.find("Content.IE5"), 11, "CONTENT.ie5");
        EXPECT_EQ(result.entries[0].localFile, expected);
    }
}

TEST(UrlCacheApi, WinePrefixProfileAndPeriodicHistory) {
    zz_test::TempProfile scratch;
    const zz_test::ScopedEnv noProfile("ZEZUVUR_PROFILE", nullptr);
    const auto prefix = scratch.folder() / "prefix";
    const zz_test::ScopedEnv winePrefix("WINEPREFIX", prefix.string());
    const zz_test::ScopedEnv user("USER", "bob");
    ProfileWriter writer(prefix / "drive_c" / "users" / "bob", Layout::Wine8);
    const Entry image = contentEntry("http://a.example/x.png", "x[1].png");
    writer.add(ContainerKind::Content, image);
    writer.add(ContainerKind::History, historyEntry("Visited: bob@http://a.example/"));
    writer.write();
    // A periodic container beside the main history one.
    const auto history = writer.indexPath(ContainerKind::History).parent_path();
    std::filesystem::create_directories(history / "MSHist012009010520090112");
    std::ofstream(history / "MSHist012009010520090112" / "index.dat", std::ios::binary)
        << BuildIndexFile(ContainerKind::History,
                          {historyEntry(":2009010520090112: bob@http://a.example/")});

    auto content = EnumerateCache("");
    ASSERT_EQ(content.entries.size(), 1u);
    EXPECT_EQ(content.entries[0].localFile,
              "C:\\users\\bob\\AppData\\Local\\Microsoft\\Windows\\INetCache\\Content.IE5\\"
              "Z989AIU1\\x[1].png");
    EXPECT_EQ(content.entries[0].localFile, writer.windowsFilePath(ContainerKind::Content, image));
    EXPECT_EQ(EnumerateCache("Visited:").entries.size(), 1u);
    EXPECT_EQ(EnumerateCache(":2009010520090112: ").entries.size(), 1u);
    auto all = EnumerateCache(nullptr);
    ASSERT_EQ(all.entries.size(), 3u);
    EXPECT_EQ(all.entries[2].url, ":2009010520090112: bob@http://a.example/");
}

} // namespace
