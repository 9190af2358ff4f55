// Prints the tables of an ESE database (a WebCache, a Windows Search index, an SRUM file...):
// per table its name, a header line of column names, then one tab-separated line per row, in
// key order. Values are formatted as Debian's esedbexport writes them where that is simple:
// integers in decimal, booleans as true/false, binary as lowercase hex, text as UTF-8 with a
// backslash doubled. A summary of what could not be read goes to stderr.

#include "EseFormat.h"
#include "Version.h"
#include "platform/ese/EseDatabase.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

struct Options {
    std::string file;
    std::optional<std::string> table;
};

void printUsage(std::FILE* to) {
    std::fputs("usage: ese-dump [--table NAME] FILE\n"
               "Prints every table of the ESE database FILE, each after a line \"table NAME\",\n"
               "or only table NAME: a header line of column names, then one line per row,\n"
               "values separated by tabs. What could not be read is skipped and summed up on\n"
               "stderr.\n"
               "  --table NAME   only this table\n"
               "  --help         this text\n"
               "  --version      the program's version\n",
               to);
}

enum class Parsed { Run, Help, Version, Bad };

Parsed parseArguments(int argc, char** argv, Options& options) {
    bool fileSeen = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h")
            return Parsed::Help;
        if (argument == "--version")
            return Parsed::Version;
        if (argument == "--table" && i + 1 < argc) {
            options.table = argv[++i];
        } else if (argument.rfind("--table=", 0) == 0) {
            options.table = argument.substr(8);
        } else if (argument == "--" && i + 1 < argc && !fileSeen) {
            options.file = argv[++i];
            fileSeen = true;
        } else if (!fileSeen && !argument.empty() && argument[0] != '-') {
            options.file = argument;
            fileSeen = true;
        } else {
            return Parsed::Bad;
        }
    }
    return fileSeen ? Parsed::Run : Parsed::Bad;
}

void dumpTable(const platform::ese::Database& database, const platform::ese::Table& table,
               bool named, std::string& line) {
    line.clear();
    if (named) {
        line = "table ";
        esedump::appendAnsi(table.name, line);
        line += '\n';
    }
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        if (i > 0)
            line += '\t';
        esedump::appendAnsi(table.columns[i].name, line);
    }
    line += '\n';
    // Rows go out in large writes: a table can have millions of them.
    constexpr std::size_t kFlushAt = 1 << 20;
    platform::ese::TableCursor cursor(database, table);
    platform::ese::Row row;
    while (cursor.next(row)) {
        esedump::appendRow(table, row, line);
        line += '\n';
        if (line.size() >= kFlushAt) {
            std::fwrite(line.data(), 1, line.size(), stdout);
            line.clear();
        }
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    switch (parseArguments(argc, argv, options)) {
    case Parsed::Help:
        printUsage(stdout);
        return 0;
    case Parsed::Version:
        std::printf("ese-dump %s\n", zezuvur::kVersion);
        return 0;
    case Parsed::Bad:
        printUsage(stderr);
        return kExitUsage;
    case Parsed::Run:
        break;
    }
    std::string error;
    const auto database = platform::ese::Database::open(options.file, &error);
    if (!database) {
        std::fprintf(stderr, "ese-dump: %s: %s\n", options.file.c_str(), error.c_str());
        return kExitFailure;
    }
    std::string line;
    bool found = false;
    for (const auto& table : database->tables()) {
        if (options.table && table.name != *options.table)
            continue;
        found = true;
        dumpTable(*database, table, !options.table, line);
    }
    std::fflush(stdout);
    const auto& header = database->header();
    const auto& skipped = database->skipped();
    std::fprintf(stderr, "ese-dump: format 0x%x revision 0x%x, %u-byte pages, state %u%s%s%s\n",
                 header.formatVersion, header.formatRevision, header.pageSize, header.state,
                 header.state ==
                         static_cast<std::uint32_t>(platform::ese::DatabaseState::DirtyShutdown)
                     ? " (dirty shutdown: recent changes may be only in the logs)"
                     : "",
                 header.checksumMatches ? "" : ", header checksum does not match",
                 header.fromShadowCopy ? ", read from the shadow header" : "");
    std::fprintf(stderr,
                 "ese-dump: skipped %llu pages, %llu rows, %llu values, %llu catalog entries; "
                 "%llu walks cut short\n",
                 static_cast<unsigned long long>(skipped.pages),
                 static_cast<unsigned long long>(skipped.rows),
                 static_cast<unsigned long long>(skipped.values),
                 static_cast<unsigned long long>(skipped.catalogEntries),
                 static_cast<unsigned long long>(skipped.loops));
    if (options.table && !found) {
        std::fprintf(stderr, "ese-dump: no table %s\n", options.table->c_str());
        return kExitFailure;
    }
    return 0;
}
