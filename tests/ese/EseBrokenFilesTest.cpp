// Broken files: each case damages the real WebCache sample in one way and checks that the
// reader skips what it cannot read, counts it, and keeps the rest; never a crash or a hang.
// Compressed values that lie about their size are checked on the decompressor directly.

#include "EseTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using platform::ese::Database;

namespace {

constexpr std::uint32_t kPageSize = 32768;
// Pages of the sample (from its catalog): the content container of the main partition, a leaf
// root with 22 rows, and its long-value tree; the low-integrity content container, a branch root
// over 339 rows.
constexpr std::uint32_t kContentRoot = 463;
constexpr std::uint32_t kContentLongValues = 464;
constexpr std::uint32_t kLowContentRoot = 357;

std::size_t PageAt(std::uint32_t page) {
    return (std::size_t{page} + 1) * kPageSize;
}

void Put16(std::string& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// Where tag `tag` of `page` lies (its size word; the offset word follows).
std::size_t TagAt(std::uint32_t page, int tag) {
    return PageAt(page) + kPageSize - 4 * (tag + 1);
}

// Where the value of tag `tag` of a large page starts.
std::size_t ValueAt(const std::string& bytes, std::uint32_t page, int tag) {
    const std::size_t at = TagAt(page, tag) + 2;
    const unsigned offset =
        (static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8)) &
        0x7FFF;
    return PageAt(page) + 80 + offset;
}

void SetTagCount(std::string& bytes, std::uint32_t page, std::uint16_t count) {
    Put16(bytes, PageAt(page) + 34, count);
}

// The child page that branch entry 1 of the low-integrity container's root points to: its
// value is a 2-byte key size, a 6-byte key, the 4-byte child page number.
void SetFirstChild(std::string& bytes, std::uint32_t child) {
    Put32(bytes, ValueAt(bytes, kLowContentRoot, 1) + 8, child);
}

struct Outcome {
    std::unique_ptr<Database> database;
    std::map<std::string, std::size_t> rows;
    std::size_t totalRows = 0;
};

Outcome ReadAll(std::string bytes) {
    Outcome outcome;
    outcome.database = Database::fromBytes(std::move(bytes));
    if (!outcome.database)
        return outcome;
    for (const auto& table : outcome.database->tables()) {
        platform::ese::TableCursor cursor(*outcome.database, table);
        platform::ese::Row row;
        std::size_t rows = 0;
        while (cursor.next(row))
            ++rows;
        outcome.rows[table.name] = rows;
        outcome.totalRows += rows;
    }
    return outcome;
}

struct BrokenCase {
    const char* name;
    std::function<void(std::string&)> damage;
    std::function<void(const Outcome&, const Outcome& intact)> check;
};

void OpensNot(const Outcome& outcome, const Outcome&) {
    EXPECT_FALSE(outcome.database);
}

const BrokenCase kBrokenCases[] = {
    {"cut inside the header", [](std::string& b) { b.resize(2000); }, OpensNot},
    {"cut before the catalog", [](std::string& b) { b.resize(PageAt(3)); }, OpensNot},
    {"cut in the middle", [](std::string& b) { b.resize(PageAt(kLowContentRoot)); },
     [](const Outcome& o, const Outcome&) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.rows.at("Container_21"), 0u);
         EXPECT_EQ(o.rows.at("PartitionsEx"), 21u);
         EXPECT_GT(o.database->skipped().pages, 0u);
     }},
    {"first header unreadable, the shadow copy is used",
     [](std::string& b) { std::memset(b.data(), 0, 4096); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_TRUE(o.database->header().fromShadowCopy);
         EXPECT_EQ(o.rows, intact.rows);
     }},
    {"both headers unreadable", [](std::string& b) { std::memset(b.data(), 0, 2 * kPageSize); },
     OpensNot},
    {"header checksum wrong", [](std::string& b) { b[1000] ^= 0x5A; },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_FALSE(o.database->header().checksumMatches);
         EXPECT_EQ(o.rows, intact.rows);
     }},
    {"catalog root unreadable, the shadow catalog is used",
     [](std::string& b) { std::memset(b.data() + PageAt(4), 0xFF, kPageSize); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         auto rows = o.rows;
         EXPECT_EQ(rows["MSysObjects"], 0u); // its own tree starts at the broken page
         rows["MSysObjects"] = intact.rows.at("MSysObjects");
         EXPECT_EQ(rows, intact.rows);
     }},
    {"a page tag runs past the page",
     [](std::string& b) { Put16(b, TagAt(kContentRoot, 5), 0x7FFF); },
     [](const Outcome& o, const Outcome&) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.rows.at("Container_1"), 21u);
         EXPECT_EQ(o.database->skipped().rows, 1u);
     }},
    {"more tags than the page holds", [](std::string& b) { SetTagCount(b, kContentRoot, 0xFFFF); },
     [](const Outcome& o, const Outcome&) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.rows.at("Container_1"), 0u);
         EXPECT_EQ(o.database->skipped().pages, 1u);
     }},
    {"a branch points back at its root", [](std::string& b) { SetFirstChild(b, kLowContentRoot); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_LT(o.rows.at("Container_21"), intact.rows.at("Container_21"));
         EXPECT_GT(o.rows.at("Container_21"), 0u);
         EXPECT_EQ(o.database->skipped().loops, 1u);
     }},
    {"a branch points into another table", [](std::string& b) { SetFirstChild(b, kContentRoot); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_LT(o.rows.at("Container_21"), intact.rows.at("Container_21"));
         EXPECT_EQ(o.rows.at("Container_1"), intact.rows.at("Container_1"));
         EXPECT_EQ(o.database->skipped().pages, 1u);
     }},
    {"a branch points past the file", [](std::string& b) { SetFirstChild(b, 0x7FFFFFFF); },
     [](const Outcome& o, const Outcome&) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.database->skipped().pages, 1u);
     }},
    {"long values point nowhere", [](std::string& b) { SetTagCount(b, kContentLongValues, 1); },
     [](const Outcome& o, const Outcome& intact) {
         ASSERT_TRUE(o.database);
         EXPECT_EQ(o.rows, intact.rows); // the rows stay, their long values are unreadable
         EXPECT_EQ(o.database->skipped().values, 3u);
     }},
    {"every page's tag count at its largest",
     [](std::string& b) {
         for (std::uint32_t page = 0; PageAt(page) + kPageSize <= b.size(); ++page)
             SetTagCount(b, page, 0xFFFF);
     },
     [](const Outcome& o, const Outcome&) {
         if (o.database) {
             EXPECT_EQ(o.totalRows, 0u);
         }
     }},
};

TEST(EseBrokenFiles, EachIsSkippedAndCounted) {
    if (!zz_test::WebCacheSample())
        GTEST_SKIP() << "no WebCache sample at " << zz_test::WebCacheSamplePath();
    const Outcome intact = ReadAll(*zz_test::WebCacheSample());
    ASSERT_TRUE(intact.database);
    for (const auto& broken : kBrokenCases) {
        SCOPED_TRACE(broken.name);
        std::string bytes = *zz_test::WebCacheSample();
        broken.damage(bytes);
        broken.check(ReadAll(std::move(bytes)), intact);
    }
}

// Every cut of the file, at page boundaries and inside pages, reads without fault.
TEST(EseBrokenFiles, CutAnywhere) {
    if (!zz_test::WebCacheSample())
        GTEST_SKIP() << "no WebCache sample at " << zz_test::WebCacheSamplePath();
    const std::string& whole = *zz_test::WebCacheSample();
    for (std::size_t size = 0; size < whole.size(); size += 7 * kPageSize + 4099) {
        SCOPED_TRACE(size);
        const Outcome cut = ReadAll(whole.substr(0, size));
        if (cut.database) {
            EXPECT_LE(cut.totalRows, 5000u);
        }
    }
}

struct CompressedCase {
    const char* name;
    std::string stored;
    std::optional<std::string> expected;
};

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

TEST(EseCompressedValues, DecodeOrRefuse) {
    using namespace std::string_literals;
    const CompressedCase cases[] = {
        {"7-bit 8-bit text", Bytes({0x0C, 0x61, 0xF1, 0x18}), "abc"s},
        {"7-bit UTF-16 text", Bytes({0x14, 0x61, 0xF1, 0x18}), "a\0b\0c\0"s},
        {"XPRESS literals", Bytes({0x18, 3, 0, 0, 0, 0, 0, 'a', 'b', 'c'}), "abc"s},
        {"XPRESS with a match", Bytes({0x18, 9, 0, 0, 0, 0, 0x10, 'a', 'b', 'c', 0x13, 0x00}),
         "abcabcabc"s},
        {"XPRESS claiming more than it holds",
         Bytes({0x18, 0x60, 0xEA, 0, 0, 0, 0x10, 'a', 'b', 'c', 0x13, 0x00}), std::nullopt},
        {"XPRESS match before the start", Bytes({0x18, 9, 0, 0, 0, 0, 0x80, 0x50, 0x00}),
         std::nullopt},
        {"XPRESS match past the size it announced",
         Bytes({0x18, 5, 0, 0, 0, 0, 0x10, 'a', 'b', 'c', 0x13, 0x00}), std::nullopt},
        {"an unknown kind", Bytes({0x28, 1, 2, 3}), std::nullopt},
        {"nothing at all", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::ese::decompressValue(c.stored, 1 << 20), c.expected);
    }
    // A limit below the size announced refuses before decoding.
    EXPECT_EQ(platform::ese::decompressValue(Bytes({0x18, 3, 0, 0, 0, 0, 0, 'a', 'b', 'c'}), 2),
              std::nullopt);
}

} // namespace
