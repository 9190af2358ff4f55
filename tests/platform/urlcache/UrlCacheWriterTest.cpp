#include "urlcache-writer/UrlCacheWriter.h"
#include "platform/urlcache/UrlCacheFile.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <bit>

namespace {

using namespace urlcache_writer;
namespace fmt = platform::urlcache;

// The header's allocation bitmap, one bit per block; the reader has no use for it.
constexpr std::uint32_t kAllocationBitmap = 0x250;

std::vector<Entry> entries(int count) {
    std::vector<Entry> list;
    for (int i = 0; i < count; ++i) {
        Entry entry;
        entry.url = std::string("http://w.example/").append(std::to_string(i));
        if (i % 4 != 3)
            entry.fileName = std::string("f").append(std::to_string(i));
        entry.subFolder = static_cast<std::uint8_t>(i % 3); // index 2 is past a two-folder table
        entry.size = 1000 + i;
        list.push_back(entry);
    }
    return list;
}

TEST(UrlCacheWriter, HeaderBitmapAndFolderCountsDescribeTheFile) {
    for (int count : {0, 3, 1100}) {
        SCOPED_TRACE(count);
        const auto list = entries(count);
        const std::string bytes = BuildIndexFile(ContainerKind::Content, list);
        const platform::ByteReader reader(bytes);
        auto header = fmt::ParseHeader(reader);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->recordedFileSize, bytes.size());
        EXPECT_EQ(bytes.size() % 0x8000, 0u);
        EXPECT_EQ(header->firstHashTable, kFirstHashTable);
        EXPECT_EQ(header->capacityBlocks, (bytes.size() - 0x4000) / 128);

        std::uint64_t marked = 0;
        for (std::uint32_t at = kAllocationBitmap; at < 0x4000; ++at)
            marked += std::popcount(*reader.u8(at));
        EXPECT_EQ(marked, header->blocksInUse);

        std::uint64_t usage = 0;
        std::uint32_t inFolder[2] = {0, 0};
        for (const Entry& entry : list) {
            usage += entry.size;
            if (entry.fileName && entry.subFolder < 2)
                ++inFolder[entry.subFolder];
        }
        EXPECT_EQ(header->cacheUsage, usage);
        ASSERT_EQ(header->subFolders.size(), 2u);
        EXPECT_EQ(header->subFolders[0].name, "Z989AIU1");
        EXPECT_EQ(header->subFolders[0].fileCount, inFolder[0]);
        EXPECT_EQ(header->subFolders[1].fileCount, inFolder[1]);

        // Tables chain in sequence, every record lies in blocks marked in use, and the walk
        // meets the records in the order they were added.
        std::uint32_t table = kFirstHashTable;
        for (std::uint32_t sequence = 0; table != 0; ++sequence) {
            ASSERT_TRUE(reader.matches(table, "HASH"));
            EXPECT_EQ(reader.u32(table + 12), sequence);
            table = *reader.u32(table + 8);
        }
        fmt::HashChainWalker walker(reader, header->firstHashTable);
        int seen = 0;
        while (auto span = walker.nextUrlRecord()) {
            auto record = fmt::ParseUrlRecord(reader, span->offset, span->limit);
            ASSERT_TRUE(record);
            EXPECT_EQ(record->url, list[seen].url);
            EXPECT_LE(span->limit, 0x4000 + std::uint64_t{header->blocksInUse} * 128);
            ++seen;
        }
        EXPECT_EQ(seen, count);
    }
}

TEST(UrlCacheWriter, RefusesFileNamesThatLeaveTheirFolder) {
    const zz_test::TempFolder folder("zz-writer-names");
    ProfileWriter writer(folder.path(), Layout::XP);
    for (const char* name : {"../escape.txt", "a/b.txt", "..", ""}) {
        Entry entry;
        entry.url = "http://x/";
        entry.fileName = name;
        entry.fileContent.emplace(1, 'x');
        EXPECT_THROW(writer.add(ContainerKind::Content, entry), std::invalid_argument) << name;
    }
}

} // namespace
