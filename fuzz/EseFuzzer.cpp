// Feeds arbitrary bytes as an ESE database to the reader and reads everything it offers: the
// header, the catalog, every row of every table with its long and compressed values, each value
// formatted as ese-dump prints it. Any read outside the bytes, any undefined behaviour, a walk
// that does not end, or memory beyond the limit stops the run. The same bytes also go through
// the decompressor on their own.

#include "ese-dump/EseFormat.h"
#include "platform/ese/EseDatabase.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    (void)platform::ese::decompressValue(bytes, 1 << 16);
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
