// Feeds arbitrary bytes as an ESE database to the reader and reads everything it offers: the
// header, the catalog, every row of every table with its long and compressed values, each value
// formatted as ese-dump prints it. Any read outside the bytes, any undefined behaviour, a walk
// that does not end, or memory beyond the limit stops the run. The same bytes also go through
// the decompressor on their own. Then they are read as a profile's WebCache database: every
// container's entries as the cache calls hand them out, each string inside its entry's block;
// and when the bytes hold any container, the cache calls walk a profile holding that database
// beside an index.dat container, which must stay readable.

#include "EntryChecks.h"
#include "ese-dump/EseFormat.h"
#include "platform/LastError.h"
#include "platform/PathMapper.h"
#include "platform/ese/EseDatabase.h"
#include "platform/urlcache/UrlCacheApi.h"
#include "platform/urlcache/UrlCacheEntry.h"
#include "platform/urlcache/WebCache.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>

namespace {

namespace fs = std::filesystem;

using zz_fuzz::Check;

void CheckEntry(const win::INTERNET_CACHE_ENTRY_INFOA& entry, std::size_t size) {
    zz_fuzz::CheckEntry(reinterpret_cast<const unsigned char*>(&entry), size);
}

// A profile with one index.dat content container, its WebCache database rewritten per input.
struct Profile {
    fs::path base;
    fs::path database;
    Profile() {
        std::string pattern = (fs::temp_directory_path() / "zz-fuzz-ese-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        base = pattern;
        const fs::path folder = base / "fuzz";
        urlcache_writer::ProfileWriter writer(folder, urlcache_writer::Layout::Wine8);
        urlcache_writer::Entry entry;
        entry.url = "http://index.example/";
        writer.add(urlcache_writer::ContainerKind::Content, entry);
        writer.write();
        database = folder / "AppData/Local/Microsoft/Windows/WebCache/WebCacheV01.dat";
        fs::create_directories(database.parent_path());
        ::setenv("ZEZUVUR_PROFILE", folder.c_str(), 1);
    }
    ~Profile() {
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }
};

// Every entry of the pattern through the calls; true when the index.dat entry came first.
bool EnumerateAll(const char* pattern) {
    win::DWORD size = 0;
    win::HANDLE search = nullptr;
    bool indexFirst = false;
    bool first = true;
    for (;;) {
        size = 0;
        const bool got =
            first ? win::FindFirstUrlCacheEntryExA(pattern, 0, 0xFFFFFFFF, 0, nullptr, &size,
                                                   nullptr, nullptr, nullptr) != nullptr
                  : win::FindNextUrlCacheEntryExA(search, nullptr, &size, nullptr, nullptr,
                                                  nullptr) != 0;
        Check(!got);
        if (win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER)
            break;
        auto block = std::make_unique<unsigned char[]>(size);
        auto* entry = reinterpret_cast<win::INTERNET_CACHE_ENTRY_INFOA*>(block.get());
        win::DWORD given = size;
        if (first) {
            search = win::FindFirstUrlCacheEntryExA(pattern, 0, 0xFFFFFFFF, 0, entry, &given,
                                                    nullptr, nullptr, nullptr);
            if (search == nullptr)
                break;
            indexFirst = std::strcmp(entry->lpszSourceUrlName, "http://index.example/") == 0;
        } else if (!win::FindNextUrlCacheEntryExA(search, entry, &given, nullptr, nullptr,
                                                  nullptr)) {
            break;
        }
        CheckEntry(*entry, size);
        first = false;
    }
    if (search != nullptr)
        Check(win::FindCloseUrlCache(search) != 0);
    return indexFirst;
}

void ReadAsWebCache(const std::string& bytes) {
    const auto contents = platform::urlcache::ReadWebCacheBytes(bytes);
    if (!contents || contents->containers.empty())
        return;
    static const Profile profile;
    const platform::ProfileRoot root = platform::CurrentProfile();
    const auto locations = platform::urlcache::WebCacheLocations(*contents, root, profile.database);
    Check(locations.size() == contents->containers.size());
    for (std::size_t i = 0; i < locations.size(); ++i) {
        platform::urlcache::WebCacheContainerReader reader(contents, contents->containers[i],
                                                           locations[i]);
        platform::urlcache::ForEachEntry(reader, 0xFFFFFFFF, CheckEntry);
    }
    {
        std::ofstream out(profile.database, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    Check(EnumerateAll(""));
    for (const char* pattern : {static_cast<const char*>(nullptr), "Cookie:", "Visited:"})
        EnumerateAll(pattern);
    Check(platform::OpenUrlCacheSearchCount() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    (void)platform::ese::decompressValue(bytes, 1 << 16);
    ReadAsWebCache(bytes);
    const auto database = platform::ese::Database::fromBytes(std::move(bytes));
    if (!database)
        return 0;
    std::string line;
    for (const auto& table : database->tables()) {
        platform::ese::TableCursor cursor(*database, table);
        platform::ese::Row row;
        while (cursor.next(row)) {
            line.clear();
            esedump::appendRow(table, row, line);
            for (std::size_t i = 0; i < row.cells.size(); ++i) {
                for (const auto& value : row.cells[i].values) {
                    (void)platform::ese::integerValue(table.columns[i], value);
                    (void)platform::ese::filetimeValue(value);
                }
            }
        }
    }
    return 0;
}
