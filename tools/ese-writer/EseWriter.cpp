#include "EseWriter.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>

namespace ese_writer {

namespace {

constexpr std::uint32_t kSignature = 0x89ABCDEF;
constexpr std::uint32_t kFormatVersion = 0x620;

constexpr std::uint32_t kPageRoot = 0x1;
constexpr std::uint32_t kPageLeaf = 0x2;
constexpr std::uint32_t kPageParent = 0x4;
constexpr std::uint32_t kPageSpaceTree = 0x20;
constexpr std::uint32_t kPageLongValue = 0x80;
// Bits every page of a current-format file carries (seen on all pages of real files).
constexpr std::uint32_t kPageCommon = 0x0800 | 0x2000 | 0x8000;

constexpr std::uint8_t kTagVersion = 0x1; // set on the leaf entries of real files
constexpr std::uint8_t kTagDefunct = 0x2; // a deleted entry the engine has not cleaned up yet
constexpr std::uint8_t kTagCommonKey = 0x4;

constexpr std::uint8_t kTaggedVariable = 0x01;
constexpr std::uint8_t kTaggedCompressed = 0x02;
constexpr std::uint8_t kTaggedLongValue = 0x04;
constexpr std::uint8_t kTaggedMulti = 0x08;

constexpr std::uint32_t kDatabaseRootPage = 1;
constexpr std::uint32_t kOwnedSpacePage = 2;
constexpr std::uint32_t kAvailableSpacePage = 3;
constexpr std::uint32_t kCatalogRootPage = 4;
constexpr std::uint32_t kCatalogPoolEnd = 24; // pages 5..23 are kept for the catalog
constexpr std::uint32_t kShadowRootPage = 24;
constexpr std::uint32_t kFirstTablePage = 25;

constexpr std::uint32_t kCatalogObject = 2;
constexpr std::uint32_t kShadowObject = 3;
constexpr std::uint32_t kFirstUserObject = 8;

constexpr std::int32_t kSystemTableFlags = static_cast<std::int32_t>(0xC0000000u);
constexpr std::int32_t kPrimaryIndexFlags = 0x1002F;
constexpr std::int32_t kColumnNotNull = 0x4;
constexpr std::int32_t kColumnMultiValued = 0x400;

constexpr std::uint64_t kDatabaseTime = 0x1000;
constexpr std::uint64_t kPageTime = 0x100;

// ---- bytes -----------------------------------------------------------------------------------

void le16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void le32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string be32(std::uint32_t value) {
    std::string out;
    for (int i = 3; i >= 0; --i)
        out.push_back(static_cast<char>(value >> (8 * i)));
    return out;
}

void set16(std::string& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<char>(value & 0xFF);
    out[at + 1] = static_cast<char>(value >> 8);
}

void set32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<char>(value >> (8 * i));
}

void set64(std::string& out, std::size_t at, std::uint64_t value) {
    set32(out, at, static_cast<std::uint32_t>(value));
    set32(out, at + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint32_t get32(const std::string& data, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= std::uint32_t{static_cast<std::uint8_t>(data[at + i])} << (8 * i);
    return value;
}

std::uint32_t xorWords(const std::string& data, std::size_t from, std::size_t to,
                       std::uint32_t seed) {
    for (std::size_t at = from; at < to; at += 4)
        seed ^= get32(data, at);
    return seed;
}

std::string le32Bytes(std::uint32_t value) {
    std::string out;
    le32(out, value);
    return out;
}

// ---- pages and trees -------------------------------------------------------------------------

struct Geometry {
    std::uint32_t pageSize = 0;
    std::uint32_t header = 0;
    bool large = false;
    std::uint32_t maxEntries = 0;

    std::uint32_t capacity() const { return pageSize - header; }
};

struct PageValue {
    std::string bytes;
    std::uint8_t flags = 0;
};

struct PageContent {
    std::uint32_t objectId = 0;
    std::uint32_t previous = 0;
    std::uint32_t next = 0;
    std::uint32_t flags = 0;
    std::string tag0;
    std::vector<PageValue> values;
};

void stampChecksums(std::string& page, std::uint32_t number, const Geometry& geometry) {
    constexpr std::uint32_t kBlock = 8192;
    if (geometry.large) {
        set64(page, 64, number);
        for (std::uint32_t block = 1; block * kBlock < geometry.pageSize; ++block)
            set32(page, 40 + 8 * (block - 1),
                  xorWords(page, block * kBlock, (block + 1) * kBlock, number));
    }
    set32(page, 0, xorWords(page, 8, std::min(kBlock, geometry.pageSize), number));
}

std::string assemblePage(std::uint32_t number, const PageContent& content,
                         const Geometry& geometry) {
    std::string page(geometry.pageSize, '\0');
    std::uint32_t used = 0;
    std::uint32_t tags = 0;
    auto place = [&](std::string bytes, std::uint8_t flags) {
        if (geometry.large && flags != 0) {
            // Large pages keep the value flags in the top bits of its first 16-bit word.
            bytes[1] = static_cast<char>(static_cast<std::uint8_t>(bytes[1]) | (flags << 5));
        }
        const std::uint32_t tagAt = geometry.pageSize - 4 * (tags + 1);
        if (geometry.header + used + bytes.size() > tagAt)
            throw std::logic_error("page overflow");
        std::memcpy(page.data() + geometry.header + used, bytes.data(), bytes.size());
        set16(page, tagAt, static_cast<std::uint16_t>(bytes.size()));
        const std::uint16_t tagFlags = geometry.large ? 0 : static_cast<std::uint16_t>(flags << 13);
        set16(page, tagAt + 2, static_cast<std::uint16_t>(used | tagFlags));
        used += static_cast<std::uint32_t>(bytes.size());
        ++tags;
    };
    place(content.tag0, 0);
    for (const PageValue& value : content.values)
        place(value.bytes, value.flags);

    set64(page, 8, kPageTime);
    set32(page, 16, content.previous);
    set32(page, 20, content.next);
    set32(page, 24, content.objectId);
    set16(page, 28, static_cast<std::uint16_t>(geometry.capacity() - used - 4 * tags));
    set16(page, 30, 0);
    set16(page, 32, static_cast<std::uint16_t>(used));
    set16(page, 34, static_cast<std::uint16_t>(tags));
    set32(page, 36, content.flags | kPageCommon);
    stampChecksums(page, number, geometry);
    return page;
}

struct TreeEntry {
    std::string key;
    std::string data;
    std::uint8_t flags = 0; // page-tag flags of its leaf entry (kTagDefunct)
};

std::string rootHeader(std::uint32_t initialPages, std::uint32_t parentFdp,
                       std::uint32_t extentKind, std::uint32_t spaceTreePage) {
    std::string out;
    le32(out, initialPages);
    le32(out, parentFdp);
    le32(out, extentKind);
    le32(out, spaceTreePage);
    return out;
}

PageValue nodeValue(const TreeEntry& entry, std::size_t common) {
    PageValue value;
    if (common > 0) {
        le16(value.bytes, static_cast<std::uint16_t>(common));
        value.flags = kTagCommonKey;
    }
    le16(value.bytes, static_cast<std::uint16_t>(entry.key.size() - common));
    value.bytes.append(entry.key, common);
    value.bytes += entry.data;
    value.flags |= entry.flags;
    return value;
}

std::string commonPrefix(const std::vector<TreeEntry>& entries) {
    if (entries.empty())
        return {};
    std::string prefix = entries.front().key;
    for (const TreeEntry& entry : entries) {
        std::size_t n = 0;
        while (n < prefix.size() && n < entry.key.size() && prefix[n] == entry.key[n])
            ++n;
        prefix.resize(n);
    }
    return prefix;
}

struct TreeSpec {
    std::uint32_t objectId = 0;
    std::uint32_t root = 0;
    std::string rootHeader;
    std::uint32_t kindFlags = 0;
    std::uint8_t leafTagFlags = kTagVersion;
};

class PageStore {
public:
    explicit PageStore(Geometry geometry) : geometry_(geometry) {}

    const Geometry& geometry() const { return geometry_; }

    void put(std::uint32_t number, std::string page) { pages_[number] = std::move(page); }

    std::uint32_t allocate() {
        while (!pool_.empty()) {
            const std::uint32_t number = pool_.front();
            pool_.erase(pool_.begin());
            if (!pages_.count(number))
                return number;
        }
        return next_++;
    }

    void usePool(std::vector<std::uint32_t> pool) { pool_ = std::move(pool); }

    std::uint32_t lastPage() const {
        return pages_.empty() ? 0 : std::max(pages_.rbegin()->first, next_ - 1);
    }

    std::string bytes(const std::string& header) const {
        const std::uint32_t last = lastPage();
        std::string out(PageOffset(last + 1, geometry_.pageSize), '\0');
        std::memcpy(out.data(), header.data(), header.size());
        std::memcpy(out.data() + geometry_.pageSize, header.data(), header.size());
        for (const auto& [number, page] : pages_)
            std::memcpy(out.data() + PageOffset(number, geometry_.pageSize), page.data(),
                        page.size());
        return out;
    }

private:
    Geometry geometry_;
    std::map<std::uint32_t, std::string> pages_;
    std::vector<std::uint32_t> pool_;
    std::uint32_t next_ = kFirstTablePage;
};

// Bytes an entry takes in a page other than the root, at most (common-key size included).
std::size_t nonRootCost(const TreeEntry& entry) {
    return 4 + 2 + 2 + entry.key.size() + entry.data.size();
}

std::size_t rootCost(const TreeEntry& entry) {
    return 4 + 2 + entry.key.size() + entry.data.size();
}

// A branch key strictly between the last key of one child and the first key of the next: the
// shortest prefix of the latter that sorts after the former, as the engine does. Readers that send
// a key equal to a branch key left and those that send it right both find every key.
std::string separator(const std::string& last, const std::string& next) {
    for (std::size_t n = 1; n < next.size(); ++n) {
        std::string prefix = next.substr(0, n);
        if (prefix > last)
            return prefix;
    }
    std::string after = last + '\0';
    return after < next ? after : last;
}

class TreeBuilder {
public:
    TreeBuilder(PageStore& store, const TreeSpec& spec) : store_(store), spec_(spec) {}

    TreeInfo build(std::vector<TreeEntry> level) {
        TreeInfo info;
        info.objectId = spec_.objectId;
        info.root = spec_.root;
        info.depth = 1;
        std::vector<std::string> lowKeys;
        std::vector<std::string> highKeys;
        for (const TreeEntry& entry : level) {
            lowKeys.push_back(entry.key);
            highKeys.push_back(entry.key);
        }
        bool leaf = true;
        while (!fitsRoot(level)) {
            const std::vector<std::size_t> starts = pack(level);
            std::vector<std::uint32_t> numbers;
            for (std::size_t i = 0; i < starts.size(); ++i)
                numbers.push_back(store_.allocate());
            std::vector<TreeEntry> parents;
            std::vector<std::string> parentLows;
            std::vector<std::string> parentHighs;
            for (std::size_t i = 0; i < starts.size(); ++i) {
                const std::size_t begin = starts[i];
                const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : level.size();
                std::vector<TreeEntry> group(level.begin() + begin, level.begin() + end);
                PageContent content;
                content.objectId = spec_.objectId;
                // Only leaves are chained: readers refuse a sibling link on a branch page.
                if (leaf) {
                    content.previous = i > 0 ? numbers[i - 1] : 0;
                    content.next = i + 1 < numbers.size() ? numbers[i + 1] : 0;
                }
                content.flags = (leaf ? kPageLeaf : kPageParent) | spec_.kindFlags;
                content.tag0 = commonPrefix(group);
                for (const TreeEntry& entry : group) {
                    content.values.push_back(nodeValue(entry, content.tag0.size()));
                    if (leaf)
                        content.values.back().flags |= spec_.leafTagFlags;
                }
                store_.put(numbers[i], assemblePage(numbers[i], content, store_.geometry()));
                info.pages.push_back(numbers[i]);
                TreeEntry parent;
                if (i + 1 < starts.size())
                    parent.key = separator(highKeys[end - 1], lowKeys[end]);
                parent.data = le32Bytes(numbers[i]);
                parents.push_back(std::move(parent));
                parentLows.push_back(lowKeys[begin]);
                parentHighs.push_back(highKeys[end - 1]);
            }
            level = std::move(parents);
            lowKeys = std::move(parentLows);
            highKeys = std::move(parentHighs);
            leaf = false;
            ++info.depth;
        }
        PageContent root;
        root.objectId = spec_.objectId;
        root.flags = kPageRoot | (leaf ? kPageLeaf : kPageParent) | spec_.kindFlags;
        root.tag0 = spec_.rootHeader;
        for (const TreeEntry& entry : level) {
            root.values.push_back(nodeValue(entry, 0));
            if (leaf)
                root.values.back().flags |= spec_.leafTagFlags;
        }
        store_.put(spec_.root, assemblePage(spec_.root, root, store_.geometry()));
        info.pages.push_back(spec_.root);
        return info;
    }

private:
    bool fitsRoot(const std::vector<TreeEntry>& level) const {
        const Geometry& g = store_.geometry();
        if (g.maxEntries != 0 && level.size() > g.maxEntries)
            return false;
        std::size_t used = 4 + spec_.rootHeader.size();
        for (const TreeEntry& entry : level)
            used += rootCost(entry);
        return used <= g.capacity();
    }

    // The index of the first entry of each page, filling pages in order.
    std::vector<std::size_t> pack(const std::vector<TreeEntry>& level) const {
        const Geometry& g = store_.geometry();
        std::vector<std::size_t> starts;
        std::size_t used = 0;
        std::size_t count = 0;
        for (std::size_t i = 0; i < level.size(); ++i) {
            const std::size_t cost = nonRootCost(level[i]);
            const bool full =
                (g.maxEntries != 0 && count >= g.maxEntries) || used + cost > g.capacity();
            if (starts.empty() || full) {
                starts.push_back(i);
                used = 4 + level[i].key.size(); // tag 0: the page key, at most the first key
                count = 0;
                if (used + cost > g.capacity())
                    throw std::length_error("an entry does not fit in a page");
            }
            used += cost;
            ++count;
        }
        if (starts.size() == 1) {
            if (level.size() < 2)
                throw std::length_error("an entry does not fit in the root page");
            starts.push_back(level.size() / 2);
        }
        return starts;
    }

    PageStore& store_;
    TreeSpec spec_;
};

// ---- columns and records ---------------------------------------------------------------------

std::uint32_t fixedSize(ColumnType type) {
    switch (type) {
    case ColumnType::Bit:
    case ColumnType::UnsignedByte:
        return 1;
    case ColumnType::Short:
    case ColumnType::UnsignedShort:
        return 2;
    case ColumnType::Long:
    case ColumnType::UnsignedLong:
    case ColumnType::IEEESingle:
        return 4;
    case ColumnType::Currency:
    case ColumnType::IEEEDouble:
    case ColumnType::DateTime:
    case ColumnType::LongLong:
        return 8;
    case ColumnType::Guid:
        return 16;
    default:
        return 0;
    }
}

bool isText(ColumnType type) {
    return type == ColumnType::Text || type == ColumnType::LongText;
}

bool isSignedInteger(ColumnType type) {
    return type == ColumnType::Short || type == ColumnType::Long || type == ColumnType::Currency ||
           type == ColumnType::LongLong;
}

bool isUnsignedInteger(ColumnType type) {
    return type == ColumnType::UnsignedByte || type == ColumnType::UnsignedShort ||
           type == ColumnType::UnsignedLong || type == ColumnType::Bit;
}

enum class Kind { Fixed, Variable, Tagged };

Kind kindOf(std::uint32_t id) {
    return id < 128 ? Kind::Fixed : id < 256 ? Kind::Variable : Kind::Tagged;
}

struct ColumnDef {
    Column column;
    Kind kind = Kind::Fixed;
};

struct TableDef {
    std::string name;
    std::vector<ColumnDef> columns; // by id
    std::map<std::string, std::size_t> byName;
    std::vector<std::size_t> key;
};

Kind defaultKind(const Column& column) {
    if (column.multiValued)
        return Kind::Tagged;
    if (fixedSize(column.type) != 0)
        return Kind::Fixed;
    if (column.type == ColumnType::Binary || column.type == ColumnType::Text)
        return Kind::Variable;
    return Kind::Tagged;
}

TableDef resolve(const Table& table) {
    TableDef def;
    def.name = table.name;
    std::set<std::uint32_t> taken;
    for (const Column& column : table.columns) {
        if (column.id != 0 && !taken.insert(column.id).second)
            throw std::invalid_argument(table.name + ": column id used twice");
    }
    std::uint32_t nextId[3] = {1, 128, 256};
    for (Column column : table.columns) {
        if (column.id == 0) {
            std::uint32_t& next = nextId[static_cast<int>(defaultKind(column))];
            while (taken.count(next))
                ++next;
            column.id = next;
            taken.insert(next);
        }
        if (column.codePage == 0 && isText(column.type))
            column.codePage = 1200;
        ColumnDef cd;
        cd.kind = kindOf(column.id);
        if (cd.kind == Kind::Fixed && fixedSize(column.type) == 0)
            throw std::invalid_argument(column.name + ": a fixed column needs a fixed-size type");
        if (column.multiValued && cd.kind != Kind::Tagged)
            throw std::invalid_argument(column.name + ": multi-valued columns are tagged");
        if (!def.byName.emplace(column.name, 0).second)
            throw std::invalid_argument(table.name + ": column name used twice: " + column.name);
        cd.column = std::move(column);
        def.columns.push_back(std::move(cd));
    }
    std::sort(def.columns.begin(), def.columns.end(),
              [](const ColumnDef& a, const ColumnDef& b) { return a.column.id < b.column.id; });
    std::uint32_t expect[2] = {1, 128};
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& cd = def.columns[i];
        def.byName[cd.column.name] = i;
        if (cd.kind != Kind::Tagged && cd.column.id != expect[static_cast<int>(cd.kind)]++)
            throw std::invalid_argument(table.name + ": fixed and variable ids must run from 1 "
                                                     "and 128 without gaps");
    }
    for (const std::string& name : table.keyColumns) {
        const auto found = def.byName.find(name);
        if (found == def.byName.end())
            throw std::invalid_argument(table.name + ": unknown key column " + name);
        const ColumnType type = def.columns[found->second].column.type;
        if (!isSignedInteger(type) && !isUnsignedInteger(type))
            throw std::invalid_argument(table.name + ": key columns must be integers");
        if (def.columns[found->second].kind != Kind::Fixed)
            throw std::invalid_argument(table.name + ": key columns must be fixed columns");
        def.key.push_back(found->second);
    }
    return def;
}

const Cell* cellFor(const Row& row, const std::string& name) {
    const auto found = row.find(name);
    if (found == row.end() || found->second.values.empty())
        return nullptr;
    return &found->second;
}

std::string rowKey(const TableDef& def, const Row& row, std::size_t index) {
    if (def.key.empty())
        return be32(static_cast<std::uint32_t>(index + 1));
    std::string key;
    for (std::size_t at : def.key) {
        const Column& column = def.columns[at].column;
        const Cell* cell = cellFor(row, column.name);
        if (!cell) {
            key.push_back('\0');
            continue;
        }
        std::string value = cell->values.front();
        std::reverse(value.begin(), value.end());
        if (isSignedInteger(column.type))
            value[0] = static_cast<char>(value[0] ^ 0x80);
        key.push_back('\x7F');
        key += value;
    }
    return key;
}

struct Limits {
    bool largePage = false;
    std::uint32_t longValueIdBytes = 4;
    std::size_t inlineLimit = 0;
    std::size_t maxRecord = 0;
};

class LongValueSink {
public:
    std::uint32_t add(std::string data) {
        values_.push_back(std::move(data));
        return static_cast<std::uint32_t>(values_.size());
    }
    const std::vector<std::string>& values() const { return values_; }

private:
    std::vector<std::string> values_;
};

bool isVariableSizeType(ColumnType type) {
    return fixedSize(type) == 0;
}

// Long-value ids: 4 bytes, or 8 with the high bits that real 8-byte ids carry.
std::uint64_t longValueId(std::uint32_t number, std::uint32_t bytes) {
    return bytes == 8 ? 0x8000000080000000ull + number : number;
}

std::string longValueReference(std::uint32_t number, std::uint32_t bytes) {
    const std::uint64_t id = longValueId(number, bytes);
    std::string out;
    for (std::uint32_t i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(id >> (8 * i)));
    return out;
}

std::string longValueKey(std::uint32_t number, std::uint32_t bytes) {
    std::string key = longValueReference(number, bytes);
    std::reverse(key.begin(), key.end());
    return key;
}

std::string multiValue(const std::vector<std::string>& values) {
    std::string out;
    std::size_t offset = 2 * values.size();
    for (const std::string& value : values) {
        if (offset > 0x7FFF)
            throw std::length_error("multi-value too large");
        le16(out, static_cast<std::uint16_t>(offset));
        offset += value.size();
    }
    for (const std::string& value : values)
        out += value;
    return out;
}

// The record of one row. `separate` names the tagged columns whose value goes to the long-value
// tree; `sink` receives those values (null: a trial run that only measures).
// The row's cell of each column (by the table's column order), null for NULL.
using RowCells = std::vector<const Cell*>;

RowCells cellsOf(const TableDef& def, const Row& row) {
    RowCells cells(def.columns.size(), nullptr);
    for (const auto& [name, cell] : row) {
        const auto found = def.byName.find(name);
        if (found == def.byName.end())
            throw std::invalid_argument(def.name + ": unknown column " + name);
        if (!cell.values.empty())
            cells[found->second] = &cell;
    }
    return cells;
}

std::string encodeRecord(const TableDef& def, const RowCells& cells, const Limits& limits,
                         const std::set<std::size_t>& separate, LongValueSink* sink) {
    std::uint32_t lastFixed = 0;
    std::uint32_t lastVariable = 127;
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& cd = def.columns[i];
        if (!cells[i])
            continue;
        if (cd.kind == Kind::Fixed)
            lastFixed = std::max(lastFixed, cd.column.id);
        else if (cd.kind == Kind::Variable)
            lastVariable = std::max(lastVariable, cd.column.id);
    }
    std::string fixed;
    std::string bitmap((lastFixed + 7) / 8, '\0');
    std::string variableOffsets;
    std::string variableData;
    std::vector<std::pair<std::uint16_t, std::pair<std::uint8_t, std::string>>> tagged;
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& cd = def.columns[i];
        const Column& column = cd.column;
        const Cell* cell = cells[i];
        if (cell && cell->values.size() > 1 && !column.multiValued)
            throw std::invalid_argument(column.name + ": several values in a single-value column");
        if (cd.kind == Kind::Fixed) {
            if (column.id > lastFixed)
                continue;
            if (!cell) {
                fixed.append(fixedSize(column.type), '\0');
                bitmap[(column.id - 1) / 8] |= static_cast<char>(1u << ((column.id - 1) % 8));
                continue;
            }
            if (cell->values.front().size() != fixedSize(column.type))
                throw std::invalid_argument(column.name + ": value of the wrong size");
            fixed += cell->values.front();
        } else if (cd.kind == Kind::Variable) {
            if (column.id > lastVariable)
                continue;
            if (!cell) {
                le16(variableOffsets, static_cast<std::uint16_t>(variableData.size() | 0x8000));
                continue;
            }
            if (cell->values.front().size() > 255)
                throw std::invalid_argument(column.name + ": variable values hold 255 bytes");
            variableData += cell->values.front();
            le16(variableOffsets, static_cast<std::uint16_t>(variableData.size()));
        } else if (cell) {
            std::uint8_t flags = isVariableSizeType(column.type) ? kTaggedVariable : 0;
            std::string payload;
            if (cell->values.size() > 1) {
                flags |= kTaggedMulti;
                payload = multiValue(cell->values);
            } else if (separate.count(i)) {
                flags |= kTaggedLongValue;
                payload = longValueReference(sink ? sink->add(cell->values.front()) : 0,
                                             limits.longValueIdBytes);
            } else if (cell->compression != Compression::None) {
                flags |= kTaggedCompressed;
                payload = Compress(cell->values.front(), cell->compression,
                                   isText(column.type) && column.codePage == 1200);
            } else {
                payload = cell->values.front();
            }
            tagged.push_back({static_cast<std::uint16_t>(column.id), {flags, std::move(payload)}});
        }
    }
    // Bits past the last fixed column are set, as the engine leaves them.
    for (std::uint32_t bit = lastFixed; bit < bitmap.size() * 8; ++bit)
        bitmap[bit / 8] |= static_cast<char>(1u << (bit % 8));

    std::string record;
    record.push_back(static_cast<char>(lastFixed));
    record.push_back(static_cast<char>(lastVariable));
    le16(record, static_cast<std::uint16_t>(4 + fixed.size() + bitmap.size()));
    record += fixed;
    record += bitmap;
    record += variableOffsets;
    record += variableData;

    std::string entries;
    std::string data;
    const std::size_t arrayBytes = 4 * tagged.size();
    for (const auto& [id, value] : tagged) {
        const auto& [flags, payload] = value;
        const bool withFlags = limits.largePage || (flags & ~kTaggedVariable) != 0;
        const std::size_t offset = arrayBytes + data.size();
        if (offset > (limits.largePage ? 0x7FFFu : 0x3FFFu))
            throw std::length_error(def.name + ": record too large");
        le16(entries, id);
        le16(entries,
             static_cast<std::uint16_t>(offset | (!limits.largePage && withFlags ? 0x4000 : 0)));
        if (withFlags)
            data.push_back(static_cast<char>(flags));
        data += payload;
    }
    record += entries;
    record += data;
    return record;
}

std::string encodeRow(const TableDef& def, const Row& row, const Limits& limits,
                      std::size_t keySize, LongValueSink& sink) {
    const RowCells cells = cellsOf(def, row);
    std::set<std::size_t> separate;
    std::vector<std::pair<std::size_t, std::size_t>> candidates; // size, column
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& cd = def.columns[i];
        const Cell* cell = cells[i];
        if (cd.kind != Kind::Tagged || !cell || cell->values.size() != 1)
            continue;
        // A compressed value counts with its compressed size; moved to the long-value tree it is
        // stored plain.
        const std::size_t size =
            cell->compression == Compression::None
                ? cell->values.front().size()
                : Compress(cell->values.front(), cell->compression,
                           isText(cd.column.type) && cd.column.codePage == 1200)
                      .size();
        if (cell->separate || size > limits.inlineLimit)
            separate.insert(i);
        else
            candidates.push_back({size, i});
    }
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    const std::size_t room = limits.maxRecord > 2 * keySize ? limits.maxRecord - 2 * keySize : 0;
    for (std::size_t next = 0;; ++next) {
        if (encodeRecord(def, cells, limits, separate, nullptr).size() <= room)
            break;
        if (next >= candidates.size())
            throw std::length_error(def.name + ": a row does not fit in a page");
        separate.insert(candidates[next].second);
    }
    return encodeRecord(def, cells, limits, separate, &sink);
}

std::vector<TreeEntry> longValueEntries(const LongValueSink& sink, std::uint32_t chunk,
                                        std::uint32_t idBytes) {
    std::vector<TreeEntry> entries;
    for (std::size_t i = 0; i < sink.values().size(); ++i) {
        const std::uint32_t id = static_cast<std::uint32_t>(i + 1);
        const std::string& value = sink.values()[i];
        TreeEntry head;
        head.key = longValueKey(id, idBytes);
        le32(head.data, 1);
        le32(head.data, static_cast<std::uint32_t>(value.size()));
        entries.push_back(std::move(head));
        for (std::size_t offset = 0; offset < value.size(); offset += chunk) {
            TreeEntry part;
            part.key = longValueKey(id, idBytes) + be32(static_cast<std::uint32_t>(offset));
            part.data = value.substr(offset, chunk);
            entries.push_back(std::move(part));
        }
    }
    return entries;
}

// ---- the catalog -----------------------------------------------------------------------------

Table catalogTable() {
    Table t;
    t.name = "MSysObjects";
    auto add = [&](const char* name, ColumnType type, std::uint32_t id) {
        Column c;
        c.name = name;
        c.type = type;
        c.id = id;
        c.codePage = 1252;
        t.columns.push_back(c);
    };
    add("ObjidTable", ColumnType::Long, 1);
    add("Type", ColumnType::Short, 2);
    add("Id", ColumnType::Long, 3);
    add("ColtypOrPgnoFDP", ColumnType::Long, 4);
    add("SpaceUsage", ColumnType::Long, 5);
    add("Flags", ColumnType::Long, 6);
    add("PagesOrLocale", ColumnType::Long, 7);
    add("RootFlag", ColumnType::Bit, 8);
    add("RecordOffset", ColumnType::Short, 9);
    add("LCMapFlags", ColumnType::Long, 10);
    add("KeyMost", ColumnType::UnsignedShort, 11);
    add("LVChunkMax", ColumnType::Long, 12);
    add("Name", ColumnType::Text, 128);
    add("Stats", ColumnType::Binary, 129);
    add("TemplateTable", ColumnType::Text, 130);
    add("DefaultValue", ColumnType::Binary, 131);
    add("KeyFldIDs", ColumnType::Binary, 132);
    add("VarSegMac", ColumnType::Binary, 133);
    add("ConditionalColumns", ColumnType::Binary, 134);
    add("TupleLimits", ColumnType::Binary, 135);
    add("Version", ColumnType::Binary, 136);
    add("SortID", ColumnType::Binary, 137);
    add("CallbackData", ColumnType::LongBinary, 256);
    add("CallbackDependencies", ColumnType::LongBinary, 257);
    add("SeparateLV", ColumnType::LongBinary, 258);
    add("SpaceHints", ColumnType::LongBinary, 259);
    add("SpaceDeferredLVHints", ColumnType::LongBinary, 260);
    add("LocaleName", ColumnType::LongBinary, 261);
    t.keyColumns = {"ObjidTable", "Type", "Id"};
    t.indexName = "Id";
    return t;
}

enum CatalogType : std::int16_t { kTable = 1, kColumn = 2, kIndex = 3, kLongValue = 4 };

Row catalogRow(std::uint32_t table, CatalogType type, std::uint32_t id, std::int32_t fdpOrType,
               std::int32_t spaceUsage, std::int32_t flags, std::int32_t pagesOrLocale,
               const std::string& name) {
    Row row;
    row["ObjidTable"] = Int32(static_cast<std::int32_t>(table));
    row["Type"] = Int16(type);
    row["Id"] = Int32(static_cast<std::int32_t>(id));
    row["ColtypOrPgnoFDP"] = Int32(fdpOrType);
    row["SpaceUsage"] = Int32(spaceUsage);
    row["Flags"] = Int32(flags);
    row["PagesOrLocale"] = Int32(pagesOrLocale);
    row["Name"] = Bytes(name);
    return row;
}

std::uint32_t defaultMaxSize(const Column& column) {
    if (const std::uint32_t size = fixedSize(column.type))
        return size;
    if (column.type == ColumnType::Binary || column.type == ColumnType::Text)
        return 255;
    return 0;
}

void describeTable(std::vector<Row>& rows, const TableDef& def, std::uint32_t objectId,
                   std::uint32_t root, std::int32_t tableFlags, std::int32_t initialPages,
                   const std::string& indexName) {
    Row table = catalogRow(objectId, kTable, objectId, static_cast<std::int32_t>(root), 80,
                           tableFlags, initialPages, def.name);
    table["RootFlag"] = UInt8(0xFF);
    rows.push_back(std::move(table));
    std::uint32_t recordOffset = 4;
    for (const ColumnDef& cd : def.columns) {
        const Column& c = cd.column;
        std::int32_t flags = c.notNull ? kColumnNotNull : 0;
        if (c.multiValued)
            flags |= kColumnMultiValued;
        Row column =
            catalogRow(objectId, kColumn, c.id, static_cast<std::int32_t>(c.type),
                       static_cast<std::int32_t>(c.maxSize ? c.maxSize : defaultMaxSize(c)), flags,
                       static_cast<std::int32_t>(c.codePage), c.name);
        if (cd.kind == Kind::Fixed) {
            column["RecordOffset"] = Int16(static_cast<std::int16_t>(recordOffset));
            recordOffset += fixedSize(c.type);
        }
        rows.push_back(std::move(column));
    }
    if (!def.key.empty()) {
        Row index = catalogRow(objectId, kIndex, objectId, static_cast<std::int32_t>(root), 80,
                               kPrimaryIndexFlags, 0, indexName);
        index["RootFlag"] = UInt8(0xFF);
        index["LCMapFlags"] = Int32(0x30401);
        std::string fields;
        for (std::size_t at : def.key) {
            le16(fields, 0);
            le16(fields, static_cast<std::uint16_t>(def.columns[at].column.id));
        }
        index["KeyFldIDs"] = Bytes(fields);
        rows.push_back(std::move(index));
    }
}

// ---- the header ------------------------------------------------------------------------------

void putLogTime(std::string& out, std::size_t at, int year, int month, int day, int hour,
                int minute, int second) {
    out[at] = static_cast<char>(second);
    out[at + 1] = static_cast<char>(minute);
    out[at + 2] = static_cast<char>(hour);
    out[at + 3] = static_cast<char>(day);
    out[at + 4] = static_cast<char>(month);
    out[at + 5] = static_cast<char>(year - 1900);
}

void putLogPosition(std::string& out, std::size_t at, std::uint16_t block,
                    std::uint32_t generation) {
    set16(out, at, block);
    set16(out, at + 2, 0);
    set32(out, at + 4, generation);
}

std::string fileHeader(const Options& options, std::uint32_t lastObject) {
    std::string h(options.pageSize, '\0');
    set32(h, 4, kSignature);
    set32(h, 8, kFormatVersion);
    set32(h, 12, 0); // a database, not a streaming file
    set64(h, 16, kDatabaseTime);
    set32(h, 24, 0x5EED0E5E); // database signature: a fixed "random" number and the creation time
    putLogTime(h, 28, 2023, 2, 24, 13, 26, 3);
    set32(h, 52, static_cast<std::uint32_t>(options.state));
    putLogTime(h, 72, 2023, 2, 24, 13, 26, 5); // attached
    putLogPosition(h, 80, 0x10, 2);
    if (options.state == DatabaseState::CleanShutdown) {
        putLogPosition(h, 56, 0x20, 7);
        putLogTime(h, 64, 2023, 2, 24, 14, 0, 0);
        putLogTime(h, 88, 2023, 2, 24, 14, 0, 0);
        putLogPosition(h, 96, 0x20, 7);
    }
    set32(h, 104, 0x1D6B8630); // log signature
    putLogTime(h, 108, 2023, 2, 24, 13, 26, 3);
    set32(h, 212, lastObject);
    set32(h, 216, 10);    // operating system major version
    set32(h, 224, 19045); // build
    set32(h, 232, options.formatRevision);
    set32(h, 236, options.pageSize);
    set32(h, 340, kFormatVersion);
    set32(h, 344, options.formatRevision);
    set32(h, 664, 0x01000000);
    set32(h, 0, xorWords(h, 8, 4096, 0));
    return h;
}

void checkOptions(const Options& options) {
    const std::uint32_t size = options.pageSize;
    if (size != 4096 && size != 8192 && size != 16384 && size != 32768)
        throw std::invalid_argument("page size must be 4, 8, 16 or 32 KiB");
    if (options.longValueIdBytes != 4 && options.longValueIdBytes != 8)
        throw std::invalid_argument("long-value ids have 4 or 8 bytes");
    if (options.maxEntriesPerPage == 1)
        throw std::invalid_argument("a tree page needs room for two entries");
    if (size >= 16384 && options.formatRevision < 0x11)
        throw std::invalid_argument("16 and 32 KiB pages need format revision 0x11 or later");
}

} // namespace

Cell Cell::compressed(Compression how) const {
    Cell copy = *this;
    copy.compression = how;
    return copy;
}

Cell Cell::longValue() const {
    Cell copy = *this;
    copy.separate = true;
    return copy;
}

Database Build(const std::vector<Table>& tables, const Options& options) {
    checkOptions(options);
    Geometry geometry;
    geometry.pageSize = options.pageSize;
    geometry.large = options.pageSize >= 16384;
    geometry.header = geometry.large ? 80 : 40;
    geometry.maxEntries = options.maxEntriesPerPage;
    PageStore store(geometry);

    Limits limits;
    limits.largePage = geometry.large;
    limits.inlineLimit = options.inlineLimit ? options.inlineLimit : options.pageSize / 16;
    limits.longValueIdBytes = options.longValueIdBytes;
    limits.maxRecord = geometry.capacity() - 40;
    const std::uint32_t chunk =
        options.longValueChunk ? options.longValueChunk : geometry.capacity() - 40;
    if (chunk == 0 || chunk > geometry.capacity() - 40)
        throw std::invalid_argument("long-value chunk larger than a page holds");

    std::set<std::string> names = {"MSysObjects", "MSysObjectsShadow"};
    std::vector<TableDef> defs;
    for (const Table& table : tables) {
        if (!names.insert(table.name).second)
            throw std::invalid_argument("table name used twice: " + table.name);
        defs.push_back(resolve(table));
    }

    Database db;
    db.pageSize = options.pageSize;
    std::uint32_t nextObject = kFirstUserObject;
    std::vector<std::uint32_t> tableObjects;
    for (std::size_t t = 0; t < tables.size(); ++t)
        tableObjects.push_back(nextObject++);

    std::vector<Row> catalogRows;
    for (std::size_t t = 0; t < tables.size(); ++t) {
        const TableDef& def = defs[t];
        std::vector<TreeEntry> entries;
        LongValueSink sink;
        for (std::size_t r = 0; r < tables[t].rows.size(); ++r) {
            TreeEntry entry;
            entry.key = rowKey(def, tables[t].rows[r], r);
            entry.data = encodeRow(def, tables[t].rows[r], limits, entry.key.size(), sink);
            if (tables[t].deletedRows.count(r))
                entry.flags = kTagDefunct;
            entries.push_back(std::move(entry));
        }
        std::sort(entries.begin(), entries.end(),
                  [](const TreeEntry& a, const TreeEntry& b) { return a.key < b.key; });
        for (std::size_t i = 1; i < entries.size(); ++i) {
            if (entries[i].key == entries[i - 1].key)
                throw std::invalid_argument(def.name + ": two rows with the same key");
        }
        TableInfo info;
        info.name = def.name;
        TreeSpec spec;
        spec.objectId = tableObjects[t];
        spec.root = store.allocate();
        spec.rootHeader = rootHeader(1, kDatabaseRootPage, 0, 0);
        info.data = TreeBuilder(store, spec).build(std::move(entries));
        describeTable(catalogRows, def, spec.objectId, spec.root, 0, 1, tables[t].indexName);
        if (!sink.values().empty()) {
            TreeSpec lv;
            lv.objectId = nextObject++;
            lv.root = store.allocate();
            lv.rootHeader = rootHeader(1, spec.root, 0, 0);
            lv.kindFlags = kPageLongValue;
            info.longValues = TreeBuilder(store, lv).build(
                longValueEntries(sink, chunk, limits.longValueIdBytes));
            catalogRows.push_back(catalogRow(spec.objectId, kLongValue, lv.objectId,
                                             static_cast<std::int32_t>(lv.root), 100, 0, 1, "LV"));
        }
        db.tables.push_back(std::move(info));
    }

    const Table catalog = catalogTable();
    const TableDef catalogDef = resolve(catalog);
    describeTable(catalogRows, catalogDef, kCatalogObject, kCatalogRootPage, kSystemTableFlags, 20,
                  "Id");
    TableDef shadowDef = catalogDef;
    shadowDef.name = "MSysObjectsShadow";
    describeTable(catalogRows, shadowDef, kShadowObject, kShadowRootPage, kSystemTableFlags, 5,
                  "Id");

    Limits catalogLimits = limits;
    catalogLimits.inlineLimit = geometry.capacity();
    std::vector<TreeEntry> catalogEntries;
    LongValueSink unused;
    for (std::size_t r = 0; r < catalogRows.size(); ++r) {
        TreeEntry entry;
        entry.key = rowKey(catalogDef, catalogRows[r], r);
        entry.data = encodeRow(catalogDef, catalogRows[r], catalogLimits, entry.key.size(), unused);
        catalogEntries.push_back(std::move(entry));
    }
    std::sort(catalogEntries.begin(), catalogEntries.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.key < b.key; });

    std::vector<std::uint32_t> pool;
    for (std::uint32_t page = kCatalogRootPage + 1; page < kCatalogPoolEnd; ++page)
        pool.push_back(page);
    store.usePool(pool);
    TreeSpec catalogSpec;
    catalogSpec.objectId = kCatalogObject;
    catalogSpec.root = kCatalogRootPage;
    catalogSpec.rootHeader = rootHeader(20, kDatabaseRootPage, 0, 0);
    db.catalog = TreeBuilder(store, catalogSpec).build(catalogEntries);
    store.usePool({});
    TreeSpec shadowSpec;
    shadowSpec.objectId = kShadowObject;
    shadowSpec.root = kShadowRootPage;
    shadowSpec.rootHeader = rootHeader(5, kDatabaseRootPage, 0, 0);
    db.shadowCatalog = TreeBuilder(store, shadowSpec).build(catalogEntries);

    // The database's own tree (object 1) and its space trees: everything is owned, nothing free.
    const std::uint32_t lastPage = std::max(store.lastPage(), kShadowRootPage);
    PageContent root;
    root.objectId = 1;
    root.flags = kPageRoot | kPageLeaf;
    root.tag0 = rootHeader(lastPage, 0, 1, kOwnedSpacePage);
    store.put(kDatabaseRootPage, assemblePage(kDatabaseRootPage, root, geometry));
    PageContent owned;
    owned.objectId = 1;
    owned.flags = kPageRoot | kPageLeaf | kPageSpaceTree;
    owned.tag0 = std::string(16, '\0');
    owned.values.push_back(nodeValue({be32(lastPage), le32Bytes(lastPage)}, 0));
    store.put(kOwnedSpacePage, assemblePage(kOwnedSpacePage, owned, geometry));
    PageContent available = owned;
    available.values.clear();
    store.put(kAvailableSpacePage, assemblePage(kAvailableSpacePage, available, geometry));

    db.bytes = store.bytes(fileHeader(options, nextObject - 1));
    return db;
}

void Write(const std::filesystem::path& file, const std::vector<Table>& tables,
           const Options& options) {
    const Database db = Build(tables, options);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(db.bytes.data(), static_cast<std::streamsize>(db.bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

// ---- cells -----------------------------------------------------------------------------------

namespace {

template <typename T> Cell littleEndian(T value, std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes.push_back(static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i)));
    Cell cell;
    cell.values.push_back(std::move(bytes));
    return cell;
}

} // namespace

Cell Null() {
    return {};
}
Cell Bool(bool value) {
    return littleEndian<std::uint8_t>(value ? 0xFF : 0, 1);
}
Cell UInt8(std::uint8_t value) {
    return littleEndian(value, 1);
}
Cell Int16(std::int16_t value) {
    return littleEndian(static_cast<std::uint16_t>(value), 2);
}
Cell UInt16(std::uint16_t value) {
    return littleEndian(value, 2);
}
Cell Int32(std::int32_t value) {
    return littleEndian(static_cast<std::uint32_t>(value), 4);
}
Cell UInt32(std::uint32_t value) {
    return littleEndian(value, 4);
}
Cell Int64(std::int64_t value) {
    return littleEndian(static_cast<std::uint64_t>(value), 8);
}

Cell Double(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return littleEndian(bits, 8);
}

std::string Utf16Bytes(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<std::uint8_t>(utf8[i]);
        std::uint32_t code = c;
        std::size_t length = 1;
        if (c >= 0xF0)
            code = c & 0x07, length = 4;
        else if (c >= 0xE0)
            code = c & 0x0F, length = 3;
        else if (c >= 0xC0)
            code = c & 0x1F, length = 2;
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
            code = (code << 6) | (static_cast<std::uint8_t>(utf8[i + k]) & 0x3F);
        i += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            le16(out, static_cast<std::uint16_t>(0xD800 | (code >> 10)));
            le16(out, static_cast<std::uint16_t>(0xDC00 | (code & 0x3FF)));
        } else {
            le16(out, static_cast<std::uint16_t>(code));
        }
    }
    return out;
}

Cell Utf16(std::string_view utf8) {
    Cell cell;
    cell.values.push_back(Utf16Bytes(utf8));
    return cell;
}

Cell Utf16z(std::string_view utf8) {
    Cell cell = Utf16(utf8);
    cell.values.front().append(2, '\0');
    return cell;
}

Cell Bytes(std::string bytes) {
    Cell cell;
    cell.values.push_back(std::move(bytes));
    return cell;
}

Cell Multi(std::vector<Cell> values) {
    Cell cell;
    for (Cell& value : values) {
        for (std::string& bytes : value.values)
            cell.values.push_back(std::move(bytes));
    }
    return cell;
}

} // namespace ese_writer
