#include "support/ScopedEnv.h"
#include "support/ToolRunner.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <cinttypes>

namespace {

using namespace urlcache_writer;
using namespace zz_test;

std::string hex16(win::FILETIME time) {
    char text[17];
    std::snprintf(text, sizeof text, "%08X%08X", time.dwHighDateTime, time.dwLowDateTime);
    return text;
}

// The line the dump should print for an entry the writer stored.
std::string expectedLine(const ProfileWriter& writer, ContainerKind kind, const Entry& entry) {
    char type[9];
    std::snprintf(type, sizeof type, "%08X", entry.entryType);
    const std::uint64_t size =
        entry.size == 0 && entry.fileContent ? entry.fileContent->size() : entry.size;
    const std::string local = entry.fileName ? writer.windowsFilePath(kind, entry) : "";
    std::string line = entry.url + "\t" + local + "\t" + type + "\t" +
                       std::to_string(entry.useCount) + "\t" + std::to_string(entry.hitRate) +
                       "\t" + std::to_string(static_cast<std::uint32_t>(size)) + "\t" +
                       std::to_string(static_cast<std::uint32_t>(size >> 32));
    return line;
}

struct Sample {
    ContainerKind kind;
    Entry entry;
    win::FILETIME expire;
    win::FILETIME lastSync;
};

std::vector<Sample> samples() {
    std::vector<Sample> list;
    Entry image;
    image.url = "http://a.example/caf\xE9.gif";
    image.fileName = "caf\xE9[1].gif";
    image.subFolder = 1;
    image.fileContent = "GIF89a..";
    image.useCount = 2;
    image.hitRate = 9;
    image.lastModified = FileTimeFromUtc(2009, 1, 2, 3, 4, 5);
    image.lastAccess = FileTimeFromUtc(2009, 2, 3, 4, 5, 6);
    image.expireDosDateTime = DosDateTime(2010, 12, 31, 23, 59, 58);
    image.lastSyncDosDateTime = DosDateTime(2009, 2, 3, 4, 5, 6);
    image.headerInfo = "HTTP/1.1 200 OK\r\n\r\n";
    image.extension = "gif";
    image.exemptDelta = 600;
    list.push_back({ContainerKind::Content, image, FileTimeFromUtc(2010, 12, 31, 23, 59, 58),
                    FileTimeFromUtc(2009, 2, 3, 4, 5, 6)});

    Entry huge;
    huge.url = "http://b.example/movie";
    huge.fileName = "movie[1]";
    huge.size = 0x1'0000'0010ull;
    list.push_back({ContainerKind::Content, huge, {}, {}});

    Entry cookie;
    cookie.url = "Cookie:alice@a.example/";
    cookie.fileName = "alice@a.example[1].txt";
    cookie.subFolder = kContainerFolder;
    cookie.entryType = win::COOKIE_CACHE_ENTRY;
    cookie.fileContent = "id\n1\na.example/\n";
    list.push_back({ContainerKind::Cookies, cookie, {}, {}});

    Entry visit;
    visit.url = "Visited: alice@http://a.example/";
    visit.entryType = win::URLHISTORY_CACHE_ENTRY | win::NORMAL_CACHE_ENTRY;
    visit.useCount = 5;
    list.push_back({ContainerKind::History, visit, {}, {}});
    return list;
}

std::string fullLine(const ProfileWriter& writer, const Sample& sample) {
    const Entry& e = sample.entry;
    return expectedLine(writer, sample.kind, e) + "\t" + hex16(e.lastModified) + "\t" +
           hex16(sample.expire) + "\t" + hex16(e.lastAccess) + "\t" + hex16(sample.lastSync) +
           "\t" + std::to_string(e.headerInfo ? e.headerInfo->size() : 0) + "\t" +
           e.extension.value_or("") + "\t" + std::to_string(e.exemptDelta);
}

TEST(UrlCacheDump, PrintsEveryEntryOfEveryLayoutAndSignature) {
    for (Layout layout : {Layout::Wine8, Layout::Vista, Layout::XP}) {
        for (Signature signature : {Signature::Windows52, Signature::Wine}) {
            SCOPED_TRACE(static_cast<int>(layout) * 10 + static_cast<int>(signature));
            TempFolder scratch;
            const auto profile = scratch.path() / "alice";
            ProfileWriter writer(profile, layout);
            ContainerOptions options;
            options.signature = signature;
            const auto list = samples();
            for (const Sample& sample : list)
                writer.add(sample.kind, sample.entry, options);
            writer.write();

            std::vector<std::string> all;
            for (const Sample& sample : list)
                all.push_back(fullLine(writer, sample));
            struct Case {
                std::vector<std::string> arguments;
                std::vector<std::string> expected;
            };
            const Case cases[] = {
                {{"--profile", profile.string()}, all},
                {{"--profile", profile.string(), ""}, {all[0], all[1]}},
                {{"--profile", profile.string(), "Cookie:"}, {all[2]}},
                {{"--profile", profile.string(), "Visited:"}, {all[3]}},
            };
            for (const Case& c : cases) {
                const ToolResult result = RunTool("urlcache-dump", c.arguments);
                EXPECT_EQ(result.status, 0) << result.err;
                EXPECT_EQ(Lines(result.out), c.expected);
            }
        }
    }
}

TEST(UrlCacheDump, ReadsTheProfileFromTheEnvironmentWithoutOption) {
    TempFolder scratch;
    const auto profile = scratch.path() / "bob";
    ProfileWriter writer(profile, Layout::XP);
    const auto list = samples();
    writer.add(list[3].kind, list[3].entry);
    writer.write();
    const ScopedEnv selected("ZEZUVUR_PROFILE", profile.string());
    const ToolResult result = RunTool("urlcache-dump", {});
    EXPECT_EQ(result.status, 0);
    ASSERT_EQ(Lines(result.out).size(), 1u);
    EXPECT_EQ(Columns(Lines(result.out)[0]).size(), 14u);
}

TEST(UrlCacheDump, MissingProfileOrBadUsageExitsWithTwo) {
    TempFolder scratch;
    const ToolResult missing =
        RunTool("urlcache-dump", {"--profile", (scratch.path() / "nobody").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(missing.out.empty());
    EXPECT_NE(missing.err.find("nobody"), std::string::npos);

    const ToolResult bad = RunTool("urlcache-dump", {"--frobnicate"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("usage"), std::string::npos);

    // An existing profile without any container is an empty listing, not an error.
    const ToolResult empty = RunTool("urlcache-dump", {"--profile", scratch.path().string()});
    EXPECT_EQ(empty.status, 0);
    EXPECT_TRUE(empty.out.empty());
}

} // namespace
