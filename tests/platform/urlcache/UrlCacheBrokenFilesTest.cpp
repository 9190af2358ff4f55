// Damaged and hostile containers (BrokenContainerCases.h) in the content container of a profile
// whose cookie container is sound. Nothing may crash or hang, the sound container must still
// enumerate, and the damaged one yields what can still be read.

#include "BrokenContainerCases.h"
#include "UrlCacheTestSupport.h"
#include "platform/urlcache/UrlCacheEntry.h"
#include "platform/urlcache/UrlCacheFile.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <optional>
#include <unistd.h>

namespace {

using namespace urlcache_writer;
using namespace zz_broken;

class BrokenContainer : public ::testing::Test {
protected:
    void SetUp() override {
        ProfileWriter writer(profile_.folder(), Layout::XP);
        writer.touch(ContainerKind::Content);
        Entry cookie;
        cookie.url = "Cookie:alice@sound.example/";
        cookie.fileName = "alice@sound[1].txt";
        cookie.subFolder = kContainerFolder;
        cookie.entryType = win::COOKIE_CACHE_ENTRY;
        writer.add(ContainerKind::Cookies, cookie);
        writer.write();
        contentIndex_ = writer.indexPath(ContainerKind::Content);
        cookieIndex_ = writer.indexPath(ContainerKind::Cookies);
    }

    void writeContent(const std::string& bytes) {
        std::ofstream(contentIndex_, std::ios::binary | std::ios::trunc) << bytes;
    }

    std::vector<std::string> urlsOf(const char* pattern) {
        std::vector<std::string> urls;
        for (const auto& entry : zz_test::EnumerateCache(pattern).entries)
            urls.push_back(entry.url);
        return urls;
    }

    zz_test::TempProfile profile_;
    std::filesystem::path contentIndex_;
    std::filesystem::path cookieIndex_;
};

TEST_F(BrokenContainer, YieldsWhatCanBeReadAndSkipsTheRest) {
    const std::string sound = soundContainer();
    ASSERT_EQ(get32(sound, kTable + 8), 0u);
    for (const BrokenCase& c : brokenCases()) {
        SCOPED_TRACE(c.name);
        const std::optional<std::string> bytes = placeCase(c, sound, contentIndex_);
        if (!bytes)
            continue;
        EXPECT_EQ(urlsOf(""), c.expectedUrls);
        // The same container image in memory gives the same entries.
        if (!c.place) {
            std::vector<std::string> inMemory;
            if (auto file = fmt::UrlCacheFile::FromBytes(*bytes)) {
                fmt::ForEachEntry(*file, "C:\\x", ~0u, [&](const auto& entry, std::size_t) {
                    inMemory.push_back(entry.lpszSourceUrlName ? entry.lpszSourceUrlName
                                                               : "<null>");
                });
            }
            EXPECT_EQ(inMemory, c.expectedUrls);
        }
        std::vector<std::string> all = c.expectedUrls;
        all.push_back("Cookie:alice@sound.example/");
        EXPECT_EQ(urlsOf(nullptr), all);
    }
}

TEST_F(BrokenContainer, FieldsOutsideTheRecordAreDropped) {
    std::string bytes = BuildIndexFile(ContainerKind::Content, threeEntries());
    const std::uint32_t at = record(bytes, 0);
    const std::uint32_t blocks = get32(bytes, at + 4);
    put32(bytes, at + 72, 0x10000);      // header size past the record: clipped
    put32(bytes, at + 76, blocks * 128); // extension starts right after the record
    put32(bytes, at + 60, 0);            // no file name
    writeContent(bytes);
    auto result = zz_test::EnumerateCache("");
    ASSERT_EQ(result.infos.size(), 3u);
    const auto& info = result.infos[0];
    EXPECT_EQ(info.dwHeaderInfoSize, blocks * 128 - get32(bytes, at + 68));
    EXPECT_EQ(result.entries[0].localFile, std::nullopt);
    EXPECT_EQ(result.infos[0].lpszFileExtension, nullptr);
}

// One fetch under the size protocol; nullopt when the call fails for any other reason.
template <typename Call> std::optional<std::string> fetchUrl(Call call) {
    std::vector<std::max_align_t> block;
    win::DWORD size = 0;
    while (!call(reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(block.data()), &size)) {
        if (win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER)
            return std::nullopt;
        block.resize(size / sizeof(std::max_align_t) + 1);
        size = static_cast<win::DWORD>(block.size() * sizeof(std::max_align_t));
    }
    const auto* entry = reinterpret_cast<const win::INTERNET_CACHE_ENTRY_INFOA*>(block.data());
    return entry->lpszSourceUrlName ? entry->lpszSourceUrlName : "<null>";
}

std::vector<Entry> grownEntries() {
    std::vector<Entry> entries = threeEntries();
    for (const char* url : {"http://grown-b.example/", "http://grown-a.example/"}) {
        Entry entry;
        entry.url = url;
        entries.insert(entries.begin(), entry);
    }
    return entries;
}

// A writer that changes a container while a search is open: the search keeps the copy it read
// when it reached that container, ends cleanly, and the next search sees the new state.
TEST_F(BrokenContainer, ChangesDuringASearchEndItCleanly) {
    const std::string sound = soundContainer();
    const std::string grown = BuildIndexFile(ContainerKind::Content, grownEntries());
    const std::filesystem::path cookieIndex = cookieIndex_;
    const std::string cookies = [&] {
        std::ifstream in(cookieIndex, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    const std::string cookie = "Cookie:alice@sound.example/";
    const std::vector<std::string> grownUrls = {
        "http://grown-a.example/", "http://grown-b.example/", kAll[0], kAll[1], kAll[2], cookie};
    const struct {
        const char* name;
        std::function<void()> change;
        std::vector<std::string> rest;  // what the open search still delivers
        std::vector<std::string> after; // what a new search delivers
    } cases[] = {
        {"content emptied", [&] { writeContent(""); }, {kAll[1], kAll[2], cookie}, {cookie}},
        {"content cut in a record",
         [&] { writeContent(sound.substr(0, record(sound, 1) + 40)); },
         {kAll[1], kAll[2], cookie},
         {kAll[0], cookie}},
        {"content grown", [&] { writeContent(grown); }, {kAll[1], kAll[2], cookie}, grownUrls},
        {"content appended to",
         [&] { std::ofstream(contentIndex_, std::ios::binary | std::ios::app) << sound; },
         {kAll[1], kAll[2], cookie},
         {kAll[0], kAll[1], kAll[2], cookie}},
        {"cookies emptied before the search reaches them",
         [&] { writeFile(cookieIndex, ""); },
         {kAll[1], kAll[2]},
         {kAll[0], kAll[1], kAll[2]}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeContent(sound);
        writeFile(cookieIndex, cookies);
        win::HANDLE search = nullptr;
        const auto first = fetchUrl([&](auto* entry, win::DWORD* size) {
            search = win::FindFirstUrlCacheEntryExA(nullptr, 0, ~0u, 0, entry, size, nullptr,
                                                    nullptr, nullptr);
            return search != nullptr;
        });
        ASSERT_EQ(first, kAll[0]);
        c.change();
        std::vector<std::string> rest;
        while (auto url = fetchUrl([&](auto* entry, win::DWORD* size) {
                   return win::FindNextUrlCacheEntryExA(search, entry, size, nullptr, nullptr,
                                                        nullptr);
               }))
            rest.push_back(*url);
        EXPECT_EQ(win::GetLastError(), win::ERROR_NO_MORE_ITEMS);
        EXPECT_TRUE(win::FindCloseUrlCache(search));
        EXPECT_EQ(rest, c.rest);
        EXPECT_EQ(urlsOf(nullptr), c.after);
    }
    EXPECT_EQ(platform::OpenUrlCacheSearchCount(), 0u);
}

// A size query parks the search it opened; a change before the fetch must not hand out the
// parked, outdated one.
TEST_F(BrokenContainer, ChangeBetweenSizeQueryAndFetchIsSeen) {
    writeContent(soundContainer());
    win::DWORD size = 0;
    ASSERT_EQ(
        win::FindFirstUrlCacheEntryExA("", 0, ~0u, 0, nullptr, &size, nullptr, nullptr, nullptr),
        nullptr);
    ASSERT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    writeContent(BuildIndexFile(ContainerKind::Content, grownEntries()));
    win::HANDLE search = nullptr;
    const auto first = fetchUrl([&](auto* entry, win::DWORD* size) {
        search =
            win::FindFirstUrlCacheEntryExA("", 0, ~0u, 0, entry, size, nullptr, nullptr, nullptr);
        return search != nullptr;
    });
    EXPECT_EQ(first, "http://grown-a.example/");
    EXPECT_TRUE(win::FindCloseUrlCache(search));
}

TEST_F(BrokenContainer, LongChainLoopEndsAfterEachTableOnce) {
    // 1200 entries take three chained tables; the last one points back at the second.
    std::vector<Entry> entries;
    for (int i = 0; i < 1200; ++i) {
        Entry entry;
        entry.url = "http://e.example/" + std::to_string(i);
        entries.push_back(entry);
    }
    std::string bytes = BuildIndexFile(ContainerKind::Content, entries);
    const std::uint32_t second = get32(bytes, kTable + 8);
    const std::uint32_t third = get32(bytes, second + 8);
    ASSERT_NE(third, 0u);
    ASSERT_EQ(get32(bytes, third + 8), 0u);
    writeContent(bytes);
    const auto sound = urlsOf("");
    ASSERT_EQ(sound.size(), 1200u);
    EXPECT_EQ(sound[1199], "http://e.example/1199");
    put32(bytes, third + 8, second);
    writeContent(bytes);
    EXPECT_EQ(urlsOf(""), sound);
}

} // namespace
