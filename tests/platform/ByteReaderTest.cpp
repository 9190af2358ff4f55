#include "platform/ByteReader.h"

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

} // namespace
