#include "analysis/CacheAnalyzer.h"

#include "platform/CodePage.h"
#include "platform/ModuleLoader.h"
#include "support/TempProfile.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using urlcache_writer::ContainerKind;
using urlcache_writer::Entry;
using urlcache_writer::Layout;
using urlcache_writer::ProfileWriter;

namespace {

TEST(FileKindTest, LastExtensionLowerCasedPicksTheTable) {
    const struct {
        const char* name;
        TFileKind kind;
    } cases[] = {
        {"PHOTO.JPG", fkImage},
        {"index.Html", fkPage},
        {"clip.Mp3", fkMedia},
        {"logo.ani", fkImage},
        {"notes.text", fkPage},
        {"movie.riff", fkMedia},
        {"anim.SWF", fkMedia},
        {"report.jpg.txt", fkPage},
        {"archive.tar.gz", fkOther},
        {"README", fkOther},
        {"ends.with.", fkOther},
        {"C:\\cache\\dir.gif\\file", fkOther},
        {"C:\\cache\\x.gif:stream", fkOther},
        {"C:\\cache\\Z989AIU1\\logo[1].GIF", fkImage},
        {"x.phtmls", fkOther},
        {"", fkOther},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetFileKind(c.name), c.kind) << c.name;
}

TEST(FileKindTest, LowerCasesWithTheCodePage) {
    // 0xDD is a capital dotted I in code page 1254, whose lower case is the ASCII "i"; in 1252 it
    // is another letter. Lowering only A to Z would make both names other.
    const struct {
        win::UINT codePage;
        const char* name;
        TFileKind kind;
    } cases[] = {
        {1252, "PHOTO.JPG", fkImage},
        {1252,
         "x.G\xDD"
         "F",
         fkOther},
        {1254,
         "x.G\xDD"
         "F",
         fkImage},
    };
    for (const auto& c : cases) {
        platform::SetAnsiCodePageForTesting(c.codePage);
        EXPECT_EQ(GetFileKind(c.name), c.kind) << c.codePage << " " << c.name;
    }
    platform::SetAnsiCodePageForTesting(0);
}

TEST(TextListTest, JoinAndSplitAtLineEnds) {
    EXPECT_EQ(JoinLines({}), "");
    EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb\r\n");

    const struct {
        const char* text;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"a\nb\rc", {"a", "b", "c"}},
        {"\r\n", {""}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
}

// A stored name may hold line ends (and, built by hand, a NUL): the item still travels as one.
TEST(TextListTest, ItemsHoldingLineEndsComeBackWhole) {
    const std::vector<std::string> items = {"first\r\nsecond.htm",      "a\rb", "\n", "",
                                            std::string("nul\0r\0", 7), "plain"};
    const std::vector<std::string_view> views(items.begin(), items.end());
    const std::string text = JoinLines(views);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6) << "one line end per item";
    EXPECT_EQ(SplitLines(text), items);
}

struct Delivered {
    TSearchPattern pattern;
    std::string url;
    std::string localFile;
};

// What the three passes deliver, in order, as an enumerator of its own sees them.
std::vector<Delivered> DeliveredEntries() {
    std::vector<Delivered> delivered;
    TIECache cache;
    cache.SetFilterOptions(TFilterOptions::All());
    for (TSearchPattern pattern : {spCookies, spHistory, spUrl}) {
        cache.SetSearchPattern(pattern);
        cache.SetOnEntry([&](TObject*, bool&) {
            delivered.push_back(
                {pattern, cache.EntryInfo().SourceUrlName, cache.EntryInfo().LocalFileName});
        });
        cache.RetrieveEntries(0);
    }
    return delivered;
}

std::vector<std::string> UrlsOf(const TCacheAnalyzer::TEntryList& list) {
    std::vector<std::string> urls;
    for (const TCacheAnalyzer::TEntryCopy& copy : list)
        urls.push_back(copy.Info.SourceUrlName);
    return urls;
}

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProfileWriter writer(profile.folder(), Layout::Vista);
        for (const auto& [name, kind] : contentFiles) {
            Entry entry;
            entry.url = std::string("http://www.Example.com/") + name;
            if (*name != '\0') {
                entry.fileName = name;
                entry.fileContent = "data";
            }
            entry.headerInfo = "HTTP/1.1 200 OK\r\n";
            entry.extension = "bin";
            entry.useCount = 3;
            writer.add(ContainerKind::Content, entry);
        }
        Entry cookie;
        cookie.url = "Cookie:alice@example.com/";
        cookie.fileName = "x.txt";
        cookie.fileContent = "c=1";
        cookie.entryType = win::COOKIE_CACHE_ENTRY;
        writer.add(ContainerKind::Cookies, cookie);
        for (const char* url : {"Visited: alice@http://example.com/a.gif",
                                "Visited: alice@http://example.com/b.htm"}) {
            Entry visit;
            visit.url = url;
            visit.entryType = win::URLHISTORY_CACHE_ENTRY;
            writer.add(ContainerKind::History, visit);
        }
        writer.write();
    }

    struct ContentFile {
        const char* name; // "": no file name
        TFileKind kind;
    };
    const std::vector<ContentFile> contentFiles = {
        {"PHOTO.JPG", fkImage},
        {"index.Html", fkPage},
        {"clip.Mp3", fkMedia},
        {"report.jpg.txt", fkPage},
        {"archive.tar.gz", fkOther},
        {"noextension", fkOther}, // its only dot is in a folder name of the path
        {"", fkOther},
    };
    zz_test::TempProfile profile;
};

TEST_F(SnapshotTest, FilesEveryDeliveredEntryOnceInDeliveryOrder) {
    const std::vector<Delivered> delivered = DeliveredEntries();
    ASSERT_EQ(delivered.size(), contentFiles.size() + 3);

    std::vector<std::string> expected[6]; // images, pages, media, other, cookies, history
    for (const Delivered& entry : delivered) {
        int list = entry.pattern == spCookies ? 4 : entry.pattern == spHistory ? 5 : -1;
        if (list < 0) {
            const TFileKind kind = GetFileKind(entry.localFile);
            list = kind == fkImage ? 0 : kind == fkPage ? 1 : kind == fkMedia ? 2 : 3;
        }
        expected[list].push_back(entry.url);
    }

    TCacheAnalyzer analyzer;
    analyzer.Analyze();
    const TCacheAnalyzer::TEntryList* lists[6] = {&analyzer.Images(),  &analyzer.Pages(),
                                                  &analyzer.Media(),   &analyzer.Other(),
                                                  &analyzer.Cookies(), &analyzer.History()};
    const std::int32_t totals[6] = {analyzer.TotalImages,  analyzer.TotalPages,
                                    analyzer.TotalMedia,   analyzer.TotalOther,
                                    analyzer.TotalCookies, analyzer.TotalHistory};
    std::size_t sum = 0;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(UrlsOf(*lists[i]), expected[i]) << "list " << i;
        EXPECT_EQ(totals[i], static_cast<std::int32_t>(lists[i]->size())) << "list " << i;
        sum += static_cast<std::size_t>(totals[i]);
    }
    EXPECT_EQ(sum, delivered.size());
    EXPECT_EQ(analyzer.Cache().SearchPattern(), spUrl);

    // The named files land where the extension tables say, the cookie x.txt among the cookies.
    const TCacheAnalyzer::TEntryList* byKind[4] = {&analyzer.Images(), &analyzer.Media(),
                                                   &analyzer.Pages(), &analyzer.Other()};
    for (const ContentFile& file : contentFiles) {
        const std::string url = std::string("http://www.Example.com/") + file.name;
        const std::vector<std::string> urls = UrlsOf(*byKind[file.kind]);
        EXPECT_NE(std::find(urls.begin(), urls.end(), url), urls.end()) << file.name;
    }
    ASSERT_EQ(analyzer.Cookies().size(), 1u);
    EXPECT_EQ(analyzer.History().size(), 2u);
}

TEST_F(SnapshotTest, CopiesKeepTheFieldsButNotHeaderOrExtension) {
    TCacheAnalyzer analyzer;
    analyzer.Analyze();
    ASSERT_FALSE(analyzer.Images().empty());
    const TCacheAnalyzer::TEntryCopy& copy = analyzer.Images().front();
    EXPECT_EQ(copy.Info.SourceUrlName, "http://www.Example.com/PHOTO.JPG");
    EXPECT_EQ(copy.LowerUrl, "http://www.example.com/photo.jpg");
    EXPECT_NE(copy.Info.LocalFileName.find("PHOTO.JPG"), std::string::npos);
    EXPECT_EQ(copy.Info.UseCount, 3u);
    EXPECT_EQ(copy.Info.Size, 4u);
    EXPECT_EQ(copy.Info.HeaderInfo, "");
    EXPECT_EQ(copy.Info.FileExtension, "");
}

TEST_F(SnapshotTest, ASecondAnalyzeLeavesOnlyItsOwnSnapshot) {
    TCacheAnalyzer analyzer;
    analyzer.Analyze();
    const std::vector<std::string> firstOther = UrlsOf(analyzer.Other());
    const std::int32_t firstTotal = analyzer.TotalOther;
    analyzer.SiteImages = 5; // a per-site counter survives a snapshot
    analyzer.Analyze();
    EXPECT_EQ(UrlsOf(analyzer.Other()), firstOther);
    EXPECT_EQ(analyzer.TotalOther, firstTotal);
    EXPECT_EQ(analyzer.TotalCookies, 1);
    EXPECT_EQ(analyzer.SiteImages, 5);
}

TEST_F(SnapshotTest, AnUnboundLibraryGivesAnEmptySnapshot) {
    const platform::ModuleExports original = platform::ModuleExportsOf("wininet.dll");
    for (bool moduleMissing : {true, false}) {
        SCOPED_TRACE(moduleMissing ? "no module" : "a group function missing");
        if (moduleMissing) {
            platform::UnregisterModule("wininet.dll");
        } else {
            platform::ModuleExports reduced = original;
            reduced.erase("GetUrlCacheGroupAttributeA");
            platform::RegisterModule("wininet.dll", reduced);
        }
        IECacheTesting::ResetCacheLibraryLoaded();
        TCacheAnalyzer analyzer;
        analyzer.Analyze();
        platform::RegisterModule("wininet.dll", original);
        IECacheTesting::ResetCacheLibraryLoaded();

        for (const TCacheAnalyzer::TEntryList* list :
             {&analyzer.Images(), &analyzer.Pages(), &analyzer.Media(), &analyzer.Other(),
              &analyzer.Cookies(), &analyzer.History()})
            EXPECT_TRUE(list->empty());
        EXPECT_EQ(analyzer.TotalImages + analyzer.TotalPages + analyzer.TotalMedia +
                      analyzer.TotalOther + analyzer.TotalCookies + analyzer.TotalHistory,
                  0);
    }
}

} // namespace

namespace {

// Reading can be stopped part way, by the caller or by memory running out: what was read before
// is kept, and the analyzer says why it stopped.
TEST(ReadingProgressTest, StoppingKeepsWhatWasReadAndSaysWhy) {
    zz_test::TempProfile profile;
    {
        ProfileWriter writer(profile.folder(), Layout::Vista);
        for (int i = 0; i < 600; ++i) {
            Entry entry;
            entry.url = "http://site" + std::to_string(i) + ".example/";
            writer.add(ContainerKind::Content, entry);
        }
        writer.write();
    }
    struct Case {
        const char* name;
        TCacheAnalyzer::TProgress progress;
        bool outOfMemory;
    };
    const Case cases[] = {
        {"stopped", [](std::size_t) { return false; }, false},
        {"out of memory", [](std::size_t) -> bool { throw std::bad_alloc(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCacheAnalyzer analyzer;
        std::vector<std::size_t> asked;
        analyzer.SetProgress([&](std::size_t read) {
            asked.push_back(read);
            return c.progress(read);
        });
        EXPECT_EQ(SplitLines(analyzer.GetSiteList()).size(), 256u);
        EXPECT_TRUE(analyzer.Cancelled());
        EXPECT_EQ(analyzer.RanOutOfMemory(), c.outOfMemory);
        analyzer.Analyze();
        EXPECT_EQ(analyzer.TotalOther, 256);
        EXPECT_EQ(asked, (std::vector<std::size_t>{256, 256}));
        EXPECT_EQ(analyzer.RanOutOfMemory(), c.outOfMemory);

        analyzer.SetProgress([](std::size_t) { return true; });
        analyzer.Analyze();
        EXPECT_EQ(analyzer.TotalOther, 600);
        EXPECT_FALSE(analyzer.Cancelled());
        EXPECT_FALSE(analyzer.RanOutOfMemory());
    }
}

} // namespace
