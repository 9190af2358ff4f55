#include "platform/ByteReader.h"
#include "platform/UrlCacheFile.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {

using platform::ByteReader;

TEST(ByteReader, ReadsOnlyWhatLiesWhollyInside) {
    const std::string data("\x01\x02\x03\x04\x05\x06\x07\x08hi\0x", 12);
    const ByteReader reader(data);
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max();

    EXPECT_EQ(reader.u32(0), 0x04030201u);
    EXPECT_EQ(reader.u64(0), 0x0807060504030201ull);
    EXPECT_EQ(reader.u16(10), 0x7800u);
    EXPECT_EQ(reader.u32(8), 0x78006968u); // ends exactly at the end
    EXPECT_FALSE(reader.u32(9));
    EXPECT_FALSE(reader.u8(12));
    EXPECT_FALSE(reader.u32(huge - 1));
    EXPECT_FALSE(reader.bytes(4, huge - 2)); // offset + length wraps around
    EXPECT_FALSE(reader.bytes(huge, 1));
    EXPECT_TRUE(reader.contains(12, 0));
    EXPECT_FALSE(reader.contains(13, 0));

    EXPECT_EQ(reader.cString(8, 12), "hi");
    EXPECT_FALSE(reader.cString(8, 10));   // its NUL lies past the limit
    EXPECT_FALSE(reader.cString(11, 100)); // the limit is clipped to the data: no NUL left
    EXPECT_FALSE(reader.cString(huge, huge));

    auto sub = reader.sub(8, 4);
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->bytes(0, 2), "hi");
    EXPECT_FALSE(sub->u8(4));
    EXPECT_FALSE(reader.sub(10, 3));
    EXPECT_FALSE(ByteReader().u8(0));
}

TEST(UrlCacheFile, DosDateTimeBecomesFileTimeFieldByField) {
    using platform::urlcache::FileTimeFromDosDateTime;
    auto ticks = [](win::FILETIME time) {
        return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    };
    auto dos = [](int y, int mo, int d, int h, int mi, int s) {
        const unsigned date = static_cast<unsigned>(((y - 1980) << 9) | (mo << 5) | d);
        const unsigned time = static_cast<unsigned>((h << 11) | (mi << 5) | (s / 2));
        return date | (time << 16);
    };
    struct Case {
        std::uint32_t dos;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {dos(1980, 1, 1, 0, 0, 0), 119600064000000000ull},
        {dos(2000, 2, 29, 23, 59, 58), 125963423980000000ull},
        {dos(2107, 12, 31, 12, 30, 4), 159992514040000000ull},
        {0, 0},                                      // no date
        {dos(2001, 2, 29, 0, 0, 0), 0},              // no such day
        {dos(2001, 13, 1, 0, 0, 0), 0},              // month 13
        {dos(2001, 1, 1, 24, 0, 0), 0},              // hour 24
        {dos(2001, 1, 1, 0, 60, 0), 0},              // minute 60
        {dos(2001, 1, 1, 0, 0, 0) | (30u << 16), 0}, // second 60
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dos);
        EXPECT_EQ(ticks(FileTimeFromDosDateTime(c.dos)), c.expected);
    }
}

} // namespace
