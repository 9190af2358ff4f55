// Cross-checks the writer and the reader against msiecfexport (Debian libmsiecf-utils), a reader
// of index.dat files written by other people: both must find the same records with the same
// URLs, files, folders and times. Skipped where the program is not installed.

#include "platform/urlcache/UrlCacheTestSupport.h"
#include "support/ToolRunner.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace urlcache_writer;
using namespace zz_test;

// One record as msiecfexport prints it: "Name<tabs>: value" lines, records split by blank lines.
using Record = std::map<std::string, std::string>;

std::vector<Record> exportedRecords(const fs::path& program, const fs::path& index) {
    const ToolResult result = RunProgram(program, {index.string()});
    EXPECT_EQ(result.status, 0) << result.err;
    std::vector<Record> records;
    Record current;
    for (const std::string& line : Lines(result.out)) {
        const auto colon = line.find(": ");
        if (line.empty() || colon == std::string::npos) {
            if (current.count("Record type"))
                records.push_back(current);
            current.clear();
            continue;
        }
        std::string name = line.substr(0, colon);
        name.erase(name.find_last_not_of("\t ") + 1);
        current[name] = line.substr(colon + 2);
    }
    if (current.count("Record type"))
        records.push_back(current);
    return records;
}

// "May 06, 2011 07:08:10", the way the other reader prints a DOS date and time.
std::string formatted(win::FILETIME time) {
    using namespace std::chrono;
    const std::int64_t ticks =
        static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
    const sys_seconds moment{seconds{ticks / 10'000'000 - 11'644'473'600}};
    const auto day = floor<days>(moment);
    const year_month_day date{day};
    const hh_mm_ss clock{moment - day};
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[40];
    std::snprintf(
        text, sizeof text, "%s %02u, %04d %02ld:%02ld:%02ld",
        kMonths[static_cast<unsigned>(date.month()) - 1], static_cast<unsigned>(date.day()),
        static_cast<int>(date.year()), static_cast<long>(clock.hours().count()),
        static_cast<long>(clock.minutes().count()), static_cast<long>(clock.seconds().count()));
    return text;
}

Entry sampleEntry(int i) {
    Entry entry;
    entry.url = "http://site" + std::to_string(i % 37) + ".example/item" + std::to_string(i) +
                (i % 5 == 0 ? "" : ".gif");
    if (i % 9 != 0)
        entry.fileName = "item" + std::to_string(i) + "[1]" + (i % 5 == 0 ? "" : ".gif");
    entry.subFolder = i % 7 == 0 ? kContainerFolder : static_cast<std::uint8_t>(i % 3);
    entry.size = 100 + i;
    entry.lastModified = FileTimeFromUtc(2008, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60);
    entry.lastAccess = FileTimeFromUtc(2009, 1 + i % 12, 1 + i % 28);
    if (i % 4 != 0)
        entry.expireDosDateTime = DosDateTime(2010, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60);
    entry.lastSyncDosDateTime = DosDateTime(2009, 1 + i % 12, 1 + i % 28, 12, 30, 0);
    entry.headerInfo = "HTTP/1.1 200 OK\r\n\r\n";
    entry.extension = "gif";
    return entry;
}

TEST(IndependentReader, AgreesOnEveryRecordOfWriterMadeContainers) {
    const auto program = FindOnPath("msiecfexport");
    if (!program)
        GTEST_SKIP() << "msiecfexport is not installed";
    for (Signature signature : {Signature::Windows52, Signature::Wine}) {
        SCOPED_TRACE(static_cast<int>(signature));
        zz_test::TempProfile profile;
        ProfileWriter writer(profile.folder(), Layout::Vista);
        ContainerOptions options;
        options.signature = signature;
        options.subFolders = {"AAAA0001", "BBBB0002", "CCCC0003"};
        for (int i = 0; i < 1100; ++i) // more than two hash tables' worth
            writer.add(ContainerKind::Content, sampleEntry(i), options);
        for (int i = 0; i < 5; ++i) {
            Entry cookie = sampleEntry(i);
            cookie.url = "Cookie:alice@site" + std::to_string(i) + ".example/";
            cookie.fileName = "alice@site" + std::to_string(i) + ".example[1].txt";
            cookie.subFolder = kContainerFolder;
            cookie.entryType = win::COOKIE_CACHE_ENTRY;
            writer.add(ContainerKind::Cookies, cookie, options);
            Entry visit = sampleEntry(i);
            visit.url = "Visited: alice@http://site" + std::to_string(i) + ".example/";
            visit.fileName.reset();
            visit.entryType = win::URLHISTORY_CACHE_ENTRY | win::NORMAL_CACHE_ENTRY;
            writer.add(ContainerKind::History, visit, options);
        }
        writer.write();

        struct Container {
            ContainerKind kind;
            const char* pattern;
            std::size_t records;
        };
        for (auto [kind, pattern, records] : {Container{ContainerKind::Content, "", 1100},
                                              Container{ContainerKind::Cookies, "Cookie:", 5},
                                              Container{ContainerKind::History, "Visited:", 5}}) {
            SCOPED_TRACE(pattern);
            // The other reader knows only the Windows signature; the layout is the same.
            fs::path index = writer.indexPath(kind);
            std::string bytes = ReadFile(index);
            if (signature == Signature::Wine) {
                ASSERT_EQ(bytes.substr(0, 27), "WINE URLCache Ver 0.2012001");
                bytes.replace(0, 27, "Client UrlCache MMF Ver 5.2");
                index = profile.folder() / "windows-signature.dat";
                std::ofstream(index, std::ios::binary) << bytes;
            }
            const auto theirs = exportedRecords(*program, index);
            const auto ours = zz_test::EnumerateCache(pattern);
            ASSERT_EQ(theirs.size(), records);
            ASSERT_EQ(ours.infos.size(), records);
            for (std::size_t i = 0; i < theirs.size(); ++i) {
                SCOPED_TRACE(i);
                const Record& record = theirs[i];
                const auto& info = ours.infos[i];
                EXPECT_EQ(record.at("Record type"), "URL");
                EXPECT_EQ(record.at("Location"), ours.entries[i].url);
                const auto file = record.find("Filename");
                ASSERT_EQ(file != record.end(), ours.entries[i].localFile.has_value());
                if (file != record.end()) {
                    // "0 (0x00)(AAAA0001)" names the folder; "-2 (0xfe)" is the container.
                    const std::string& folder = record.at("Cache directory index");
                    const auto open = folder.rfind('(');
                    const std::string name =
                        folder.back() == ')' && folder.find("(0x") != open
                            ? folder.substr(open + 1, folder.size() - open - 2) + "\\"
                            : "";
                    const std::string tail = "\\" + name + file->second;
                    const std::string& local = *ours.entries[i].localFile;
                    ASSERT_GE(local.size(), tail.size());
                    EXPECT_EQ(local.substr(local.size() - tail.size()), tail);
                }
                const auto expiry = record.find("Expiration time");
                if (info.ExpireTime.dwHighDateTime == 0) {
                    EXPECT_EQ(expiry, record.end());
                } else {
                    ASSERT_NE(expiry, record.end());
                    EXPECT_EQ(expiry->second, formatted(info.ExpireTime));
                }
                EXPECT_EQ(record.at("Last checked time"), formatted(info.LastSyncTime));
            }
        }
    }
}

} // namespace
