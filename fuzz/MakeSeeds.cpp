// Writes the starting corpus of the URL cache fuzzer into a folder: sound profiles made by the
// index.dat writer, cut after their last record and without the allocation bitmap, so that the
// fuzzer works on the bytes that matter.

#include "UrlCacheInput.h"

#include "urlcache-writer/UrlCacheWriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace urlcache_writer;

// The file up to the end of the block that holds its last non-zero byte.
std::string Trimmed(std::string bytes) {
    const std::size_t last = bytes.find_last_not_of('\0');
    const std::size_t end = last == std::string::npos ? 0 : (last / 128 + 1) * 128;
    bytes.resize(std::min(bytes.size(), end));
    return zz_fuzz::CompactFile(bytes);
}

Entry MakeEntry(std::string url, std::optional<std::string> file, std::uint32_t type,
                std::uint8_t subFolder = 0) {
    Entry entry;
    entry.url = std::move(url);
    entry.fileName = std::move(file);
    entry.entryType = type;
    entry.subFolder = subFolder;
    entry.headerInfo = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n";
    entry.extension = "htm";
    entry.lastModified = FileTimeFromUtc(2009, 1, 2, 3, 4, 5);
    entry.lastAccess = FileTimeFromUtc(2009, 1, 3);
    entry.expireDosDateTime = DosDateTime(2009, 2, 1, 12);
    entry.lastSyncDosDateTime = DosDateTime(2009, 1, 3, 8, 30);
    entry.size = 1234;
    entry.hitRate = 3;
    entry.useCount = 1;
    return entry;
}

std::vector<Entry> ContentEntries(int count) {
    std::vector<Entry> entries;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        entries.push_back(MakeEntry("http://www.site" + n + ".example/page" + n + ".html",
                                    "page" + n + "[1].htm", win::NORMAL_CACHE_ENTRY,
                                    static_cast<std::uint8_t>(i % 3 == 2 ? 0xFF : i % 2)));
    }
    return entries;
}

// Entries whose records take one block each: enough of them fill a second hash table.
std::vector<Entry> ManySmallEntries(int count) {
    std::vector<Entry> entries;
    for (int i = 0; i < count; ++i) {
        Entry entry;
        entry.url = "http://s" + std::to_string(i % 7) + ".example/" + std::to_string(i);
        entries.push_back(entry);
    }
    return entries;
}

std::string Profile(int contentCount, Signature signature) {
    ContainerOptions options;
    options.signature = signature;
    std::vector<std::string> parts;
    parts.push_back(
        Trimmed(BuildIndexFile(ContainerKind::Content, ContentEntries(contentCount), options)));
    parts.push_back(
        Trimmed(BuildIndexFile(ContainerKind::Cookies,
                               {MakeEntry("Cookie:alice@site0.example/", "alice@site0[1].txt",
                                          win::COOKIE_CACHE_ENTRY, kContainerFolder)},
                               options)));
    parts.push_back(Trimmed(BuildIndexFile(
        ContainerKind::History,
        {MakeEntry("Visited: alice@http://www.site0.example/page0.html", std::nullopt, 0x00200001)},
        options)));
    parts.push_back(Trimmed(BuildIndexFile(
        ContainerKind::History,
        {MakeEntry(":2009010120090108: alice@http://www.site1.example/", std::nullopt, 0x00100000)},
        options)));
    return zz_fuzz::JoinParts(parts);
}

void Write(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: make-fuzz-seeds FOLDER\n", stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    Write(folder / "seed-empty-profile", Profile(0, Signature::Windows52));
    Write(folder / "seed-small-profile", Profile(3, Signature::Windows52));
    Write(folder / "seed-wine-profile", Profile(2, Signature::Wine));
    Write(folder / "seed-chained-tables",
          zz_fuzz::JoinParts({Trimmed(
              BuildIndexFile(ContainerKind::Content, ManySmallEntries(kSlotsPerHashTable + 10)))}));
    return 0;
}
