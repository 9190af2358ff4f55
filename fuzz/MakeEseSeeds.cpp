// Writes the starting corpus of the ESE fuzzer into a folder: small databases from the ESE
// writer (pages of 4 and 8 KiB, flat and deep trees, every kind of column, long values in chunks,
// compressed values, a WebCache layout), and the first pages of a real WebCache (its header, its
// catalog, and with more pages the first small tables), cut short so that the fuzzer works on few
// bytes.
//
//   make_ese_fuzz_seeds FOLDER [WebCacheV01.dat.gz]

#include "ese-writer/EseWriter.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string Unpacked(const std::string& packed) {
    std::string bytes;
    const std::string command = "gzip -dc '" + packed + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return bytes;
    char buffer[1 << 16];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        bytes.append(buffer, got);
    ::pclose(pipe);
    return bytes;
}

void Write(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

namespace w = ese_writer;

w::Column MakeColumn(const char* name, w::ColumnType type, bool multiValued = false) {
    w::Column column;
    column.name = name;
    column.type = type;
    column.multiValued = multiValued;
    return column;
}

w::Table EveryKind(int rows) {
    w::Table table;
    table.name = "EveryKind";
    table.columns = {
        MakeColumn("Id", w::ColumnType::LongLong),
        MakeColumn("Flag", w::ColumnType::Bit),
        MakeColumn("Small", w::ColumnType::Short),
        MakeColumn("Number", w::ColumnType::Long),
        MakeColumn("Real", w::ColumnType::IEEEDouble),
        MakeColumn("Name", w::ColumnType::Text),
        MakeColumn("Blob", w::ColumnType::Binary),
        MakeColumn("Note", w::ColumnType::LongText),
        MakeColumn("Tags", w::ColumnType::LongText, true),
        MakeColumn("Numbers", w::ColumnType::Long, true),
        MakeColumn("Big", w::ColumnType::LongBinary),
        MakeColumn("Seven", w::ColumnType::LongText),
        MakeColumn("Packed", w::ColumnType::LongBinary),
    };
    table.keyColumns = {"Id"};
    for (int i = 0; i < rows; ++i) {
        w::Row row;
        row["Id"] = w::Int64(i * 3 - 5);
        row["Flag"] = w::Bool(i % 2 == 1);
        if (i % 3 != 0)
            row["Small"] = w::Int16(static_cast<std::int16_t>(-i));
        row["Number"] = w::Int32(i * 1000);
        row["Real"] = w::Double(i / 4.0);
        row["Name"] = w::Utf16("name " + std::to_string(i));
        row["Blob"] = w::Bytes(std::string(static_cast<std::size_t>(i % 7), '\x5a'));
        row["Note"] = w::Utf16("a note " + std::to_string(i));
        if (i % 2 == 0)
            row["Tags"] = w::Multi({w::Utf16("one"), w::Utf16("two " + std::to_string(i))});
        if (i % 3 == 1)
            row["Numbers"] = w::Multi({w::Int32(i), w::Int32(-i), w::Int32(7)});
        if (i % 5 == 2)
            row["Big"] = w::Bytes(std::string(2500, static_cast<char>('a' + i % 26))).longValue();
        row["Seven"] = w::Utf16("seven " + std::to_string(i)).compressed(w::Compression::SevenBit);
        if (i % 2 == 1) {
            std::string repeated;
            for (int k = 0; k < 40; ++k)
                repeated += "xpress " + std::to_string(k % 5);
            row["Packed"] = w::Bytes(repeated).compressed(w::Compression::Xpress);
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

w::Table SmallWebCacheContent() {
    w::Table content = w::WebCacheContainerTable(1);
    for (int i = 0; i < 12; ++i) {
        w::Row entry;
        entry["EntryId"] = w::Int64(i + 1);
        entry["UrlHash"] = w::Int64(i * 977 % 13);
        entry["Url"] = w::Utf16("https://example.com/" + std::to_string(i));
        entry["ResponseHeaders"] = w::Bytes("HTTP/1.1 200 OK\r\n\r\n");
        content.rows.push_back(entry);
    }
    return content;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: make_ese_fuzz_seeds FOLDER [WebCacheV01.dat.gz]\n", stderr);
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    int written = 0;
    struct Seed {
        const char* name;
        std::uint32_t pageSize;
        std::uint32_t perPage;
        std::uint32_t chunk;
    };
    for (const Seed seed :
         {Seed{"writer-4k-flat", 4096, 0, 0}, Seed{"writer-4k-deep", 4096, 3, 700},
          Seed{"writer-8k-deep", 8192, 4, 0}}) {
        w::Options options;
        options.pageSize = seed.pageSize;
        options.maxEntriesPerPage = seed.perPage;
        options.longValueChunk = seed.chunk;
        Write(folder / seed.name, w::Build({EveryKind(16)}, options).bytes);
        ++written;
    }
    w::Options webCache;
    webCache.pageSize = 4096;
    webCache.state = w::DatabaseState::DirtyShutdown;
    Write(folder / "writer-4k-webcache",
          w::Build({w::WebCacheContainersTable(), SmallWebCacheContent()}, webCache).bytes);
    ++written;
    if (argc > 2 && std::filesystem::exists(argv[2])) {
        const std::string sample = Unpacked(argv[2]);
        constexpr std::size_t kPage = 32768;
        // Header and shadow, the catalog (page 4), its copy (page 24) and the first small tables
        // (pages 29 to 31) would take 33 pages: 1 MiB, too slow to fuzz. The catalog it is.
        for (const std::size_t pages : {6}) {
            if (sample.size() < pages * kPage)
                continue;
            Write(folder / ("webcache-" + std::to_string(pages) + "-pages"),
                  sample.substr(0, pages * kPage));
            ++written;
        }
    }
    std::printf("%d ESE seeds in %s\n", written, folder.c_str());
    return 0;
}
