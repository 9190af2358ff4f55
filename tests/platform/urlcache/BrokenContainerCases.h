#pragma once
// Damaged and hostile content containers, shared by the tests of the cache calls and of the
// programs built on them. Each case breaks one promise of the format in a sound container of
// three entries and names the URLs still readable from it, in delivery order ("<null>" where a
// record is delivered but its URL cannot be read).

#include "platform/ByteReader.h"
#include "platform/urlcache/UrlCacheFile.h"
#include "urlcache-writer/UrlCacheWriter.h"

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace zz_broken {

namespace fmt = platform::urlcache;

inline void put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<char>(value >> (8 * i));
}

inline std::uint32_t get32(const std::string& bytes, std::size_t at) {
    return *platform::ByteReader(bytes).u32(at);
}

constexpr std::uint32_t kTable = 0x4000;
inline std::size_t slot(int index) {
    return kTable + fmt::kHashFirstSlot + fmt::kHashSlotSize * index;
}
// The offset of the record that slot `index` of the first table points at.
inline std::uint32_t record(const std::string& bytes, int index) {
    return get32(bytes, slot(index) + 4);
}
// Where the blocks of that record end.
inline std::uint32_t recordEnd(const std::string& bytes, int index) {
    return record(bytes, index) + get32(bytes, record(bytes, index) + 4) * fmt::kBlockSize;
}

inline std::vector<urlcache_writer::Entry> threeEntries() {
    std::vector<urlcache_writer::Entry> entries;
    for (const char* name : {"zero", "one", "two"}) {
        urlcache_writer::Entry entry;
        entry.url = std::string("http://") + name + ".example/";
        entry.fileName = std::string(name) + ".htm";
        entry.headerInfo = "HTTP/1.1 200 OK\r\n";
        entry.extension = "htm";
        entries.push_back(entry);
    }
    return entries;
}

inline std::string soundContainer() {
    return urlcache_writer::BuildIndexFile(urlcache_writer::ContainerKind::Content, threeEntries());
}

using Edit = std::function<void(std::string&)>;
// Puts the edited bytes where the container's index.dat belongs; null: as a plain file.
using Place = std::function<void(const std::filesystem::path&, const std::string&)>;

struct BrokenCase {
    std::string name;
    Edit edit;
    std::vector<std::string> expectedUrls;
    Place place = nullptr;
    bool needsUnreadableFile = false; // skipped when the process reads any file
};

inline const std::vector<std::string> kAll = {"http://zero.example/", "http://one.example/",
                                              "http://two.example/"};

inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Replaces whatever the previous case left at `path` with this case's container.
inline void placeContainer(const BrokenCase& c, const std::filesystem::path& path,
                           const std::string& bytes) {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path, ignored);
    if (c.place)
        c.place(path, bytes);
    else
        writeFile(path, bytes);
}

// Whether this case can be run by this process.
inline bool runnable(const BrokenCase& c, const std::filesystem::path& path) {
    return !c.needsUnreadableFile || ::access(path.c_str(), R_OK) != 0;
}

// Puts this case's damaged copy of `sound` at `path`: the bytes it wrote, or nothing where this
// process cannot run the case.
inline std::optional<std::string> placeCase(const BrokenCase& c, const std::string& sound,
                                            const std::filesystem::path& path) {
    std::string bytes = sound;
    c.edit(bytes);
    placeContainer(c, path, bytes);
    if (!runnable(c, path))
        return std::nullopt;
    return bytes;
}

// The sound container cut at `at`, keeping the entries whose records lie wholly before it.
inline BrokenCase cutAt(const std::string& sound, std::string name, std::size_t at) {
    std::vector<std::string> kept;
    for (int i = 0; i < 3; ++i)
        if (recordEnd(sound, i) <= at)
            kept.push_back(kAll[i]);
    return {std::move(name) + " (" + std::to_string(at) + ")",
            [at](std::string& b) { b.resize(at); }, kept};
}

inline std::vector<BrokenCase> brokenCases() {
    const std::string sound = soundContainer();
    std::vector<BrokenCase> cases = {
        {"bad signature", [](std::string& b) { b[0] = 'X'; }, {}},
        {"signature without NUL", [](std::string& b) { b[27] = '!'; }, {}},
        {"zero-length file", [](std::string& b) { b.clear(); }, {}},
        {"no hash table", [](std::string& b) { put32(b, 32, 0); }, {}},
        {"first table past the end", [](std::string& b) { put32(b, 32, 0xFFFFFF80); }, {}},
        {"first table misaligned", [](std::string& b) { put32(b, 32, kTable + 8); }, {}},
        {"table loops to itself", [](std::string& b) { put32(b, kTable + 8, kTable); }, kAll},
        {"chain past the end", [](std::string& b) { put32(b, kTable + 8, 0x7FFFFF80); }, kAll},
        {"chain to a URL record", [](std::string& b) { put32(b, kTable + 8, record(b, 0)); }, kAll},
        {"table blocks past the end", [](std::string& b) { put32(b, kTable + 4, 0xFFFFFFFF); },
         kAll},
        {"table bytes overflow 32 bits", [](std::string& b) { put32(b, kTable + 4, 0x02000000); },
         kAll},
        {"cut inside the slots", [](std::string& b) { b.resize(slot(1) + 4); }, {}},
        {"cut inside a record",
         [](std::string& b) { b.resize(record(b, 2) + 40); },
         {"http://zero.example/", "http://one.example/"}},
        {"cut inside a block count",
         [](std::string& b) { b.resize(record(b, 2) + 6); },
         {"http://zero.example/", "http://one.example/"}},
        {"cut inside the last file name",
         [](std::string& b) {
             const std::uint32_t at = record(b, 2);
             b.resize(at + get32(b, at + 60) + 2);
         },
         kAll},
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
        {"header text size overflows",
         [](std::string& b) { put32(b, record(b, 1) + 72, 0xFFFFFFFF); }, kAll},
        {"record claims no blocks",
         [](std::string& b) { put32(b, record(b, 1) + 4, 0); },
         {"http://zero.example/", "http://one.example/", "http://two.example/"}},
        {"records claim every block",
         [](std::string& b) {
             put32(b, record(b, 0) + 4, 0xFFFFFFFF);
             put32(b, record(b, 2) + 4, 0xFFFFFFFF);
         },
         kAll},
        {"record bytes overflow 32 bits",
         [](std::string& b) { put32(b, record(b, 0) + 4, 0x02000001); }, kAll},
        {"repeated slot",
         [](std::string& b) { put32(b, slot(1) + 4, record(b, 0)); },
         {"http://zero.example/", "http://two.example/"}},
        {"absurd sub-folder count", [](std::string& b) { put32(b, 72, 0xFFFFFFFF); }, kAll},
        {"folder named index.dat",
         [](std::string&) {},
         {},
         [](const std::filesystem::path& path, const std::string&) {
             std::filesystem::create_directory(path);
             writeFile(path / "index.dat", soundContainer());
         }},
        {"unreadable file",
         [](std::string&) {},
         {},
         [](const std::filesystem::path& path, const std::string& bytes) {
             writeFile(path, bytes);
             std::filesystem::permissions(path, std::filesystem::perms::none);
         },
         true},
    };
    // Cut inside the header: before and inside the signature, inside the fixed fields and the
    // sub-folder table, inside the allocation bitmap.
    for (std::size_t at : {1u, 27u, 28u, 60u, 75u, 90u, 0x250u, 0x3FFFu})
        cases.push_back(cutAt(sound, "cut inside the header", at));
    // Cut at every record boundary: before the table, after it, after each record.
    cases.push_back(cutAt(sound, "cut before the first table", kTable));
    for (int i = 0; i < 3; ++i)
        cases.push_back(cutAt(sound, "cut before record " + std::to_string(i), record(sound, i)));
    cases.push_back(cutAt(sound, "cut after the last record", recordEnd(sound, 2)));
    return cases;
}

} // namespace zz_broken
