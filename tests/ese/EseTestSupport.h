#pragma once
// Shared by the ESE reader tests: the real WebCache sample, our reader's rows as ese-dump prints
// them, and Debian's independent reader (esedbexport) run on the same bytes.

#include "ese-dump/EseFormat.h"
#include "platform/ese/EseDatabase.h"
#include "support/TempFolder.h"
#include "support/ToolRunner.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <ctime>
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

// esedbexport writes the FILETIME columns of the WebCache tables it knows as dates.
inline std::string AsExportDate(std::int64_t filetime) {
    const auto ticks = static_cast<std::uint64_t>(filetime);
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kSecondsTo1970 = 11644473600LL;
    const std::time_t seconds = static_cast<std::time_t>(
        static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsTo1970);
    std::tm parts{};
    char buffer[64] = "";
    if (gmtime_r(&seconds, &parts) == nullptr || parts.tm_year + 1900 > 9999) {
        std::snprintf(buffer, sizeof buffer, "(0x%08" PRIx64 " 0x%08" PRIx64 ")", ticks >> 32,
                      ticks & 0xFFFFFFFF);
        return buffer;
    }
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::snprintf(buffer, sizeof buffer, "%s %02d, %04d %02d:%02d:%02d.%07" PRIu64 "00",
                  kMonths[parts.tm_mon], parts.tm_mday, parts.tm_year + 1900, parts.tm_hour,
                  parts.tm_min, parts.tm_sec, ticks % kTicksPerSecond);
    return buffer;
}

struct Differences {
    std::size_t nullFixed = 0;  // esedbexport prints a fixed column the row marks NULL
    std::size_t longValues = 0; // esedbexport leaves out a value kept under a 64-bit id
    std::vector<std::string> other;
};

inline void CompareField(const platform::ese::Table& table, std::size_t column,
                         const std::string& ours, const std::string& theirs,
                         Differences& differences) {
    if (ours == theirs)
        return;
    const auto& definition = table.columns[column];
    const bool integer =
        !ours.empty() && ours.find_first_not_of("-0123456789") == std::string::npos;
    if (integer && AsExportDate(std::stoll(ours)) == theirs)
        return;
    if (ours.empty() && definition.id < 128) {
        ++differences.nullFixed;
        return;
    }
    // The reader of 2018 knows only 32-bit long value ids; Windows 10 writes 64-bit ones.
    // It also stops after the first chunk of a long value.
    const bool longType = definition.type == platform::ese::kLongBinary ||
                          definition.type == platform::ese::kLongText;
    if (longType && !theirs.empty() && ours.size() > theirs.size() && ours.rfind(theirs, 0) == 0) {
        ++differences.longValues;
        return;
    }
    if (theirs.empty() && longType) {
        ++differences.longValues;
        if (definition.name == "Url") {
            EXPECT_EQ(ours.rfind("http", 0), 0u) << ours;
        }
        if (definition.name == "ResponseHeaders") {
            EXPECT_EQ(ours.rfind("485454502f312e31", 0), 0u) << ours; // "HTTP/1.1"
        }
        return;
    }
    const auto shortened = [](const std::string& text) {
        return text.size() <= 80 ? text
                                 : text.substr(0, 80) + "... (" + std::to_string(text.size()) + ")";
    };
    differences.other.push_back(table.name + "." + definition.name + ": ours \"" + shortened(ours) +
                                "\", esedbexport \"" + shortened(theirs) + "\"");
}

// Every table and row of `database` (read from `file`) against esedbexport's export of `file`;
// returns the rows compared.
inline std::size_t CompareWithEsedbexport(const platform::ese::Database& database,
                                          const std::filesystem::path& file,
                                          Differences& differences) {
    const auto theirs = EsedbexportTables(file);
    EXPECT_EQ(theirs.size(), database.tables().size());
    std::size_t rows = 0;
    for (const auto& table : database.tables()) {
        SCOPED_TRACE(table.name);
        const auto found = theirs.find(table.name);
        if (found == theirs.end()) {
            ADD_FAILURE() << "esedbexport wrote no " << table.name;
            continue;
        }
        const auto ours = DumpLines(database, table);
        EXPECT_EQ(ours.size(), found->second.size());
        if (ours.size() != found->second.size())
            continue;
        EXPECT_EQ(ours[0], found->second[0]);
        for (std::size_t line = 1; line < ours.size(); ++line) {
            const auto ourFields = Columns(ours[line]);
            const auto theirFields = Columns(found->second[line]);
            EXPECT_EQ(ourFields.size(), theirFields.size()) << ours[line];
            for (std::size_t i = 0; i < ourFields.size() && i < theirFields.size(); ++i)
                CompareField(table, i, ourFields[i], theirFields[i], differences);
            ++rows;
        }
    }
    return rows;
}

} // namespace zz_test
