// Walking a table's tree and decoding its rows: fixed, variable and tagged columns, multi-values,
// long values and compressed values.

#include "platform/ese/EseDatabase.h"
#include "platform/ese/EsePage.h"

#include <algorithm>
#include <map>

namespace platform::ese {

namespace {

// Deeper than any real tree (a 32 KiB page holds hundreds of children): a deeper walk loops.
constexpr std::size_t kMaxDepth = 32;

// Flags of a tagged value.
constexpr std::uint8_t kValueCompressed = 0x02;
constexpr std::uint8_t kValueLong = 0x04;
constexpr std::uint8_t kValueMulti = 0x08;
constexpr std::uint8_t kValueTwoSized = 0x10; // two values, the first one's size in front

// A multi-value element stored apart, as a long value.
constexpr std::uint16_t kElementSeparated = 0x8000;

std::uint32_t fixedSize(const Column& column) {
    switch (column.type) {
    case kBit:
    case kUnsignedByte:
        return 1;
    case kShort:
    case kUnsignedShort:
        return 2;
    case kLong:
    case kUnsignedLong:
    case kFloat:
        return 4;
    case kCurrency:
    case kDouble:
    case kDateTime:
    case kLongLong:
        return 8;
    case kGuid:
        return 16;
    default:
        return column.size;
    }
}

std::uint32_t bigEndian32(std::string_view bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return value;
}

} // namespace

// --- the tree walk -----------------------------------------------------------------------

TableCursor::TableCursor(const Database& database, const Table& table)
    : database_(database), table_(table) {
    descend(table.rootPage);
}

bool TableCursor::descend(std::uint32_t number) {
    if (stack_.size() >= kMaxDepth || !seen_.insert(number).second) {
        ++database_.skipped_.loops;
        return false;
    }
    const auto page = database_.page(number);
    if (!page) {
        ++database_.skipped_.pages;
        return false;
    }
    // Every page of a tree names the tree's object: a page of another tree is a broken link.
    if (stack_.empty())
        fatherObject_ = page->fatherObject();
    else if (page->fatherObject() != fatherObject_) {
        ++database_.skipped_.pages;
        return false;
    }
    stack_.push_back(Level{number, 1});
    return true;
}

bool TableCursor::nextEntry(PageEntry& entry) {
    while (!stack_.empty()) {
        Level& top = stack_.back();
        const auto page = database_.page(top.page);
        if (!page || top.nextEntry >= page->tagCount()) {
            stack_.pop_back();
            continue;
        }
        const auto index = static_cast<std::uint16_t>(top.nextEntry++);
        const auto found = page->entry(index);
        if (!found) {
            ++(page->isLeaf() ? database_.skipped_.rows : database_.skipped_.pages);
            continue;
        }
        if (found->flags & kTagDefunct)
            continue; // deleted, waiting for the page to be cleaned up
        if (page->isLeaf()) {
            entry = *found;
            return true;
        }
        const auto child = ByteReader(found->data).u32(0);
        if (!child) {
            ++database_.skipped_.pages;
            continue;
        }
        descend(*child);
    }
    return false;
}

bool TableCursor::next(Row& row) {
    PageEntry entry;
    while (nextEntry(entry)) {
        if (database_.decodeRow(table_, entry.data, row))
            return true;
        ++database_.skipped_.rows;
    }
    return false;
}

// --- long values -------------------------------------------------------------------------

// Every entry of a long-value tree by its full key: the key of a long value's header is its id,
// big-endian (4 bytes, or 8 in newer files); each chunk's key is the id and the chunk's offset
// (4 bytes, big-endian), so that the chunks of one value follow its header in key order.
struct Database::LongValues {
    std::map<std::string, std::string_view> byKey;
};

Database::Database() = default;
Database::~Database() = default;

const Database::LongValues& Database::longValues(const Table& table) const {
    auto& slot = longValues_[table.longValueRoot];
    if (slot)
        return *slot;
    slot = std::make_unique<LongValues>();
    if (table.longValueRoot == 0)
        return *slot;
    Table tree;
    tree.rootPage = table.longValueRoot;
    TableCursor cursor(*this, tree);
    PageEntry entry;
    const std::uint64_t most = bytes_.size() / 16 + 1024;
    while (cursor.nextEntry(entry)) {
        if (++longValueEntries_ > most) {
            ++skipped_.loops;
            break;
        }
        slot->byKey.emplace(entry.key(), entry.data);
    }
    return *slot;
}

std::optional<std::string> Database::longValue(const Table& table, std::string_view reference,
                                               std::size_t limit) const {
    if (reference.size() != 4 && reference.size() != 8)
        return std::nullopt;
    const std::string id(reference.rbegin(), reference.rend());
    const auto& entries = longValues(table).byKey;
    auto found = entries.find(id);
    if (found == entries.end())
        return std::nullopt;
    const auto size = ByteReader(found->second).u32(4);
    if (!size || *size > limit)
        return std::nullopt;
    std::string value;
    value.reserve(*size);
    for (++found; found != entries.end() && value.size() < *size; ++found) {
        const std::string& key = found->first;
        if (key.size() != id.size() + 4 || key.compare(0, id.size(), id) != 0)
            break;
        if (bigEndian32(std::string_view(key).substr(id.size())) != value.size())
            return std::nullopt; // a chunk missing, or two claiming the same place
        value.append(found->second.substr(0, *size - value.size()));
    }
    if (value.size() != *size)
        return std::nullopt;
    return value;
}

// --- rows ----------------------------------------------------------------------------------

class Database::RowDecoder {
public:
    RowDecoder(const Database& database, const Table& table, Row& row)
        : database_(database), table_(table), row_(row),
          budget_(database.bytes_.size() + (1u << 20)) {
        // The cells of the previous row keep their storage.
        row_.cells.resize(table.columns.size());
        for (auto& cell : row_.cells) {
            cell.values.clear();
            cell.unreadable = false;
        }
    }

    bool decode(std::string_view record) {
        const ByteReader reader(record);
        const auto lastFixed = reader.u8(0);
        const auto lastVariable = reader.u8(1);
        const auto variableOffset = reader.u16(2);
        if (!lastFixed || !lastVariable || !variableOffset || *variableOffset < 4 ||
            *variableOffset > record.size())
            return false;
        const std::uint32_t nullBitmapSize = (*lastFixed + 7u) / 8u;
        if (*variableOffset < 4u + nullBitmapSize)
            return false;
        readFixed(reader, *lastFixed, *variableOffset - nullBitmapSize);
        const auto taggedStart = readVariable(reader, *lastVariable, *variableOffset);
        if (!taggedStart)
            return false;
        readTagged(record.substr(*taggedStart));
        return true;
    }

private:
    std::optional<std::size_t> columnIndex(std::uint32_t id) const {
        const auto& columns = table_.columns;
        const auto found = std::lower_bound(
            columns.begin(), columns.end(), id,
            [](const Column& column, std::uint32_t wanted) { return column.id < wanted; });
        if (found == columns.end() || found->id != id)
            return std::nullopt;
        return static_cast<std::size_t>(found - columns.begin());
    }

    void unreadable(std::size_t index) {
        row_.cells[index].unreadable = true;
        ++database_.skipped_.values;
    }

    void readFixed(const ByteReader& reader, std::uint32_t lastFixed, std::uint32_t bitmapAt) {
        std::uint32_t computed = 4;
        for (std::size_t i = 0; i < table_.columns.size(); ++i) {
            const Column& column = table_.columns[i];
            if (column.id > 127)
                break;
            const std::uint32_t size = fixedSize(column);
            // Fixed columns lie one after the other in column id order.
            const std::uint32_t offset = computed;
            computed = offset + size;
            if (column.id > lastFixed)
                continue;
            const auto bits = reader.u8(bitmapAt + (column.id - 1) / 8);
            if (bits && (*bits >> ((column.id - 1) % 8)) & 1)
                continue; // set to NULL
            if (std::uint64_t{offset} + size > bitmapAt) {
                unreadable(i);
                continue;
            }
            if (const auto bytes = reader.bytes(offset, size))
                row_.cells[i].values.emplace_back(*bytes);
            else
                unreadable(i);
        }
    }

    std::optional<std::size_t> readVariable(const ByteReader& reader, std::uint32_t lastVariable,
                                            std::uint32_t at) {
        const std::uint32_t count = lastVariable >= 128 ? lastVariable - 127 : 0;
        const std::uint64_t dataStart = at + 2ull * count;
        if (dataStart > reader.size())
            return std::nullopt;
        std::uint32_t previousEnd = 0;
        for (std::uint32_t j = 0; j < count; ++j) {
            const auto raw = reader.u16(at + 2ull * j);
            if (!raw)
                return std::nullopt;
            const std::uint32_t end = *raw & 0x7FFF;
            if (end < previousEnd || dataStart + end > reader.size())
                return std::nullopt;
            const auto index = columnIndex(128 + j);
            if (index && !(*raw & 0x8000)) {
                if (const auto bytes = reader.bytes(dataStart + previousEnd, end - previousEnd))
                    row_.cells[*index].values.emplace_back(*bytes);
            }
            previousEnd = end;
        }
        return static_cast<std::size_t>(dataStart + previousEnd);
    }

    void readTagged(std::string_view area) {
        if (area.empty())
            return;
        const ByteReader reader(area);
        const std::uint16_t mask = database_.flagsInRecord_ ? 0x7FFF : 0x3FFF;
        const auto first = reader.u16(2);
        if (!first)
            return;
        const std::size_t count = (*first & mask) / 4u;
        for (std::size_t k = 0; k < count; ++k) {
            const auto id = reader.u16(4 * k);
            const auto rawOffset = reader.u16(4 * k + 2);
            if (!id || !rawOffset)
                return;
            std::size_t end = area.size();
            if (k + 1 < count) {
                const auto next = reader.u16(4 * (k + 1) + 2);
                if (!next)
                    return;
                end = *next & mask;
            }
            const std::size_t start = *rawOffset & mask;
            const auto index = columnIndex(*id);
            if (!index)
                continue;
            if (start > end || end > area.size() || start < 4 * count) {
                unreadable(*index);
                continue;
            }
            std::string_view value = area.substr(start, end - start);
            std::uint8_t flags = 0;
            if ((database_.flagsInRecord_ || (*rawOffset & 0x4000)) && !value.empty()) {
                flags = static_cast<std::uint8_t>(value.front());
                value.remove_prefix(1);
            }
            readTaggedValue(*index, value, flags);
        }
    }

    // One value as stored: expanded when it is compressed or kept apart as a long value.
    std::optional<std::string> expand(std::string_view stored, bool separated, bool compressed) {
        std::optional<std::string> value;
        if (separated)
            value = database_.longValue(table_, stored, budget_);
        else
            value = std::string(stored);
        if (value && compressed)
            value = decompressValue(*value, budget_);
        if (value) {
            if (value->size() > budget_)
                return std::nullopt;
            budget_ -= value->size();
        }
        return value;
    }

    void keep(std::size_t index, std::optional<std::string> value) {
        if (value)
            row_.cells[index].values.push_back(std::move(*value));
        else
            unreadable(index);
    }

    void readTaggedValue(std::size_t index, std::string_view value, std::uint8_t flags) {
        const bool compressed = (flags & kValueCompressed) != 0;
        if (flags & kValueTwoSized) {
            const auto firstSize = ByteReader(value).u8(0);
            if (!firstSize || 1u + *firstSize > value.size())
                return unreadable(index);
            keep(index, expand(value.substr(1, *firstSize), false, compressed));
            keep(index, expand(value.substr(1 + *firstSize), false, false));
            return;
        }
        if (flags & kValueMulti)
            return readMultiValue(index, value, compressed);
        keep(index, expand(value, (flags & kValueLong) != 0, compressed));
    }

    void readMultiValue(std::size_t index, std::string_view value, bool compressed) {
        const ByteReader reader(value);
        const auto first = reader.u16(0);
        if (!first)
            return unreadable(index);
        const std::size_t count = (*first & 0x7FFF) / 2u;
        for (std::size_t k = 0; k < count; ++k) {
            const auto raw = reader.u16(2 * k);
            if (!raw)
                return unreadable(index);
            std::size_t end = value.size();
            if (k + 1 < count) {
                const auto next = reader.u16(2 * (k + 1));
                if (!next)
                    return unreadable(index);
                end = *next & 0x7FFF;
            }
            const std::size_t start = *raw & 0x7FFF;
            if (start > end || end > value.size() || start < 2 * count) {
                unreadable(index);
                continue;
            }
            // Only the first element of a compressed multi-value is compressed.
            keep(index, expand(value.substr(start, end - start), (*raw & kElementSeparated) != 0,
                               compressed && k == 0));
        }
    }

    const Database& database_;
    const Table& table_;
    Row& row_;
    std::size_t budget_; // bytes this row's values may still take: a small multiple of the file
};

bool Database::decodeRow(const Table& table, std::string_view record, Row& row) const {
    return RowDecoder(*this, table, row).decode(record);
}

// --- value helpers -------------------------------------------------------------------------

std::optional<std::int64_t> integerValue(const Column& column, std::string_view bytes) {
    const ByteReader reader(bytes);
    switch (column.type) {
    case kBit:
    case kUnsignedByte:
        if (bytes.size() == 1)
            return *reader.u8(0);
        break;
    case kShort:
        if (bytes.size() == 2)
            return static_cast<std::int16_t>(*reader.u16(0));
        break;
    case kUnsignedShort:
        if (bytes.size() == 2)
            return *reader.u16(0);
        break;
    case kLong:
        if (bytes.size() == 4)
            return static_cast<std::int32_t>(*reader.u32(0));
        break;
    case kUnsignedLong:
        if (bytes.size() == 4)
            return *reader.u32(0);
        break;
    case kCurrency:
    case kLongLong:
    case kDateTime:
        if (bytes.size() == 8)
            return static_cast<std::int64_t>(*reader.u64(0));
        break;
    default:
        break;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> unsignedValue(const Column& column, std::string_view bytes) {
    const auto value = integerValue(column, bytes);
    if (!value)
        return std::nullopt;
    switch (column.type) {
    case kShort:
        return static_cast<std::uint16_t>(*value);
    case kLong:
        return static_cast<std::uint32_t>(*value);
    default:
        return static_cast<std::uint64_t>(*value);
    }
}

std::optional<std::uint64_t> filetimeValue(std::string_view bytes) {
    if (bytes.size() != 8)
        return std::nullopt;
    return ByteReader(bytes).u64(0);
}

} // namespace platform::ese
