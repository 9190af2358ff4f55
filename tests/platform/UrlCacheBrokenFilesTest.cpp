// Damaged and hostile containers: each case breaks one promise of the format in the content
// container of a profile whose cookie container is sound. Nothing may crash or hang, the sound
// container must still enumerate, and the damaged one yields what can still be read.

#include "UrlCacheTestSupport.h"
#include "platform/UrlCacheEntry.h"
#include "platform/UrlCacheFile.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <unistd.h>

namespace {

using namespace urlcache_writer;
namespace fmt = platform::urlcache;

void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<char>(value >> (8 * i));
}

std::uint32_t get32(const std::string& bytes, std::size_t at) {
    return *platform::ByteReader(bytes).u32(at);
}

constexpr std::uint32_t kTable = 0x4000;
std::size_t slot(int index) {
    return kTable + fmt::kHashFirstSlot + fmt::kHashSlotSize * index;
}
// The offset of the record that slot `index` of the first table points at.
std::uint32_t record(const std::string& bytes, int index) {
    return get32(bytes, slot(index) + 4);
}

std::vector<Entry> threeEntries() {
    std::vector<Entry> entries;
    for (const char* name : {"zero", "one", "two"}) {
        Entry entry;
        entry.url = std::string("http://") + name + ".example/";
        entry.fileName = std::string(name) + ".htm";
        entry.headerInfo = "HTTP/1.1 200 OK\r\n";
        entry.extension = "htm";
        entries.push_back(entry);
    }
    return entries;
}

using Edit = std::function<void(std::string&)>;

struct BrokenCase {
    const char* name;
    Edit edit;
    std::vector<std::string> expectedUrls; // "<null>" where the URL cannot be read
};

const std::vector<std::string> kAll = {"http://zero.example/", "http://one.example/",
                                       "http://two.example/"};

std::vector<BrokenCase> brokenCases() {
    return {
        {"bad signature", [](std::string& b) { b[0] = 'X'; }, {}},
        {"signature without NUL", [](std::string& b) { b[27] = '!'; }, {}},
        {"cut inside the header", [](std::string& b) { b.resize(60); }, {}},
        {"cut inside the sub-folder table", [](std::string& b) { b.resize(90); }, {}},
        {"zero-length file", [](std::string& b) { b.clear(); }, {}},
        {"no hash table", [](std::string& b) { put32(b, 32, 0); }, {}},
        {"first table past the end", [](std::string& b) { put32(b, 32, 0xFFFFFF80); }, {}},
        {"first table misaligned", [](std::string& b) { put32(b, 32, kTable + 8); }, {}},
        {"table loops to itself", [](std::string& b) { put32(b, kTable + 8, kTable); }, kAll},
        {"chain past the end", [](std::string& b) { put32(b, kTable + 8, 0x7FFFFF80); }, kAll},
        {"chain to a URL record", [](std::string& b) { put32(b, kTable + 8, record(b, 0)); }, kAll},
        {"table blocks past the end", [](std::string& b) { put32(b, kTable + 4, 0xFFFFFFFF); },
         kAll},
        {"cut inside the slots", [](std::string& b) { b.resize(slot(1) + 4); }, {}},
        {"cut inside a record",
         [](std::string& b) { b.resize(record(b, 2) + 40); },
         {"http://zero.example/", "http://one.example/"}},
        {"slot past the end",
         [](std::string& b) { put32(b, slot(1) + 4, 0xFFFFFF00); },
         {"http://zero.example/", "http://two.example/"}},
        {"slot inside another record",
         [](std::string& b) { put32(b, slot(1) + 4, record(b, 0) + 64); },
         {"http://zero.example/", "http://two.example/"}},
        {"slot at the table itself",
         [](std::string& b) { put32(b, slot(1) + 4, kTable); },
         {"http://zero.example/", "http://two.example/"}},
        {"empty and redirect slot keys",
         [](std::string& b) {
             put32(b, slot(0), 1);                     // deleted
             put32(b, slot(1), get32(b, slot(1) + 4)); // key equals its offset
             put32(b, slot(2), get32(b, slot(2)) | 5); // a redirect
         },
         {}},
        {"fill values in slots",
         [](std::string& b) {
             put32(b, slot(0), 0x0BADF00D);
             put32(b, slot(1), 0xDEADBEEF);
         },
         {"http://two.example/"}},
        {"URL without NUL in its record",
         [](std::string& b) {
             const std::uint32_t at = record(b, 1);
             const std::uint32_t end = at + get32(b, at + 4) * 128;
             for (std::uint32_t i = at + get32(b, at + 52); i < end; ++i)
                 b[i] = 'x';
         },
         {"http://zero.example/", "<null>", "http://two.example/"}},
        {"string offsets overflow",
         [](std::string& b) {
             const std::uint32_t at = record(b, 1);
             for (std::uint32_t field : {52u, 60u, 68u, 76u})
                 put32(b, at + field, 0xFFFFFFF0);
             put32(b, at + 72, 0xFFFFFFFF);
         },
         {"http://zero.example/", "<null>", "http://two.example/"}},
        {"record claims no blocks",
         [](std::string& b) { put32(b, record(b, 1) + 4, 0); },
         {"http://zero.example/", "http://one.example/", "http://two.example/"}},
        {"records claim every block",
         [](std::string& b) {
             put32(b, record(b, 0) + 4, 0xFFFFFFFF);
             put32(b, record(b, 2) + 4, 0xFFFFFFFF);
         },
         kAll},
        {"repeated slot",
         [](std::string& b) { put32(b, slot(1) + 4, record(b, 0)); },
         {"http://zero.example/", "http://two.example/"}},
        {"absurd sub-folder count", [](std::string& b) { put32(b, 72, 0xFFFFFFFF); }, kAll},
    };
}

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
};

TEST_F(BrokenContainer, YieldsWhatCanBeReadAndSkipsTheRest) {
    const std::string sound = BuildIndexFile(ContainerKind::Content, threeEntries());
    ASSERT_EQ(get32(sound, kTable + 8), 0u);
    for (const BrokenCase& c : brokenCases()) {
        SCOPED_TRACE(c.name);
        std::string bytes = sound;
        c.edit(bytes);
        writeContent(bytes);
        EXPECT_EQ(urlsOf(""), c.expectedUrls);
        // The same container image in memory gives the same entries.
        std::vector<std::string> inMemory;
        if (auto file = fmt::UrlCacheFile::FromBytes(bytes)) {
            fmt::ForEachEntry(*file, "C:\\x", ~0u, [&](const auto& entry, std::size_t) {
                inMemory.push_back(entry.lpszSourceUrlName ? entry.lpszSourceUrlName : "<null>");
            });
        }
        EXPECT_EQ(inMemory, c.expectedUrls);
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

TEST_F(BrokenContainer, FolderOrUnreadableIndexIsSkipped) {
    std::filesystem::remove(contentIndex_);
    std::filesystem::create_directory(contentIndex_);
    EXPECT_EQ(urlsOf(nullptr), std::vector<std::string>{"Cookie:alice@sound.example/"});
    std::filesystem::remove(contentIndex_);

    writeContent(BuildIndexFile(ContainerKind::Content, threeEntries()));
    std::filesystem::permissions(contentIndex_, std::filesystem::perms::none);
    if (::access(contentIndex_.c_str(), R_OK) == 0)
        GTEST_SKIP() << "running with rights that read any file";
    EXPECT_EQ(urlsOf(nullptr), std::vector<std::string>{"Cookie:alice@sound.example/"});
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
