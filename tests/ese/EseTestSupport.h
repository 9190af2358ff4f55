#pragma once
// Shared by the ESE reader tests: the real WebCache sample, our reader's rows as ese-dump prints
// them, and Debian's independent reader (esedbexport) run on the same bytes.

#include "ese-dump/EseFormat.h"
#include "platform/ese/EseDatabase.h"
#include "support/TempFolder.h"
#include "support/ToolRunner.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zz_test {

inline std::filesystem::path WebCacheSamplePath() {
    return std::filesystem::path(ZEZUVUR_SAMPLES_DIR) / "webcache-win10" / "WebCacheV01.dat.gz";
}

// The sample's database bytes, unpacked once per test binary; nullopt when the sample folder
// is not there.
inline const std::optional<std::string>& WebCacheSample() {
    static const std::optional<std::string> bytes = []() -> std::optional<std::string> {
        const auto packed = WebCacheSamplePath();
        if (!std::filesystem::exists(packed))
            return std::nullopt;
        const TempFolder scratch("zz-ese-sample");
        const auto unpacked = scratch.path() / "WebCacheV01.dat";
        const std::string command =
            "gzip -dc " + ShellQuoted(packed.string()) + " > " + ShellQuoted(unpacked.string());
        if (std::system(command.c_str()) != 0)
            return std::nullopt;
        return ReadFile(unpacked);
    }();
    return bytes;
}

inline void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A table as ese-dump prints it with --table: the header line, then one line per row.
inline std::vector<std::string> DumpLines(const platform::ese::Database& database,
                                          const platform::ese::Table& table) {
    std::vector<std::string> lines;
    std::string header;
    for (std::size_t i = 0; i < table.columns.size(); ++i)
        header += (i ? "\t" : "") + table.columns[i].name;
    lines.push_back(header);
    platform::ese::TableCursor cursor(database, table);
    platform::ese::Row row;
    while (cursor.next(row)) {
        std::string line;
        esedump::appendRow(table, row, line);
        lines.push_back(line);
    }
    return lines;
}

inline bool HaveEsedbexport() {
    return std::system("command -v esedbexport >/dev/null 2>&1") == 0;
}

// What esedbexport writes for the database `file`: table name -> lines of its export file.
inline std::map<std::string, std::vector<std::string>>
EsedbexportTables(const std::filesystem::path& file) {
    const TempFolder scratch("zz-esedbexport");
    const auto target = scratch.path() / "out";
    const std::string command = "esedbexport -t " + ShellQuoted(target.string()) + " " +
                                ShellQuoted(file.string()) + " >/dev/null 2>&1";
    std::map<std::string, std::vector<std::string>> tables;
    if (std::system(command.c_str()) != 0)
        return tables;
    for (const auto& entry : std::filesystem::directory_iterator(target.string() + ".export")) {
        // Files are named TABLE.N, N the table's place in the catalog.
        const std::string name = entry.path().filename().string();
        tables[name.substr(0, name.rfind('.'))] = Lines(ReadFile(entry.path()));
    }
    return tables;
}

} // namespace zz_test
