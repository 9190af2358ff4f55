#include "platform/TimeConversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
constexpr std::int64_t kTicksPerSecond = 10'000'000;

win::FILETIME Stamp(std::uint64_t ticks) {
    win::FILETIME time;
    time.dwLowDateTime = static_cast<win::DWORD>(ticks);
    time.dwHighDateTime = static_cast<win::DWORD>(ticks >> 32);
    return time;
}

std::uint64_t Ticks(const win::FILETIME& time) {
    return std::uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::uint64_t TicksOfUnixTime(std::int64_t unixSeconds) {
    return std::uint64_t(unixSeconds + kSecondsFrom1601To1970) * kTicksPerSecond;
}

class TimeZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* zone = std::getenv("TZ"))
            saved_ = zone;
    }
    void TearDown() override {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    static void UseZone(const char* zone) { setenv("TZ", zone, 1); }

private:
    std::optional<std::string> saved_;
};

TEST_F(TimeZoneTest, LocalTimeUsesTheOffsetInForceAtTheStamp) {
    struct Case {
        const char* zone;
        std::int64_t unixSeconds;
        std::int64_t offsetSeconds;
    };
    const Case cases[] = {
        {"UTC", 1'719'835'200, 0},                      // 2024-07-01 12:00 UTC
        {"Europe/Berlin", 1'719'835'200, 2 * 3600},     // summer
        {"Europe/Berlin", 1'705'320'000, 3600},         // 2024-01-15, winter
        {"Europe/Berlin", 1'711'846'799, 3600},         // 2024-03-31 00:59:59 UTC
        {"Europe/Berlin", 1'711'846'800, 2 * 3600},     // the clocks go forward
        {"America/New_York", 1'719'835'200, -4 * 3600}, // summer
        {"Asia/Kathmandu", 1'705'320'000, 5 * 3600 + 45 * 60},
        {"UTC", 1'705'320'000, 0}, // a changed TZ is followed back
    };
    for (const Case& c : cases) {
        UseZone(c.zone);
        const std::uint64_t utcTicks = TicksOfUnixTime(c.unixSeconds) + 1234567; // sub-second
        const win::FILETIME utc = Stamp(utcTicks);
        win::FILETIME local;
        ASSERT_EQ(win::FileTimeToLocalFileTime(&utc, &local), win::TRUE) << c.zone;
        EXPECT_EQ(std::int64_t(Ticks(local) - utcTicks), c.offsetSeconds * kTicksPerSecond)
            << c.zone << " at " << c.unixSeconds;
    }
}

TEST_F(TimeZoneTest, EveryWayOfChangingTzIsFollowed) {
    const std::uint64_t winterTicks = TicksOfUnixTime(1'705'320'000);
    const auto offsetHours = [&] {
        const win::FILETIME utc = Stamp(winterTicks);
        win::FILETIME local;
        EXPECT_EQ(win::FileTimeToLocalFileTime(&utc, &local), win::TRUE);
        return std::int64_t(Ticks(local) - winterTicks) / (3600 * kTicksPerSecond);
    };
    UseZone("Asia/Tokyo");
    EXPECT_EQ(offsetHours(), 9);
    setenv("ZEZUVUR_TEST_UNRELATED", "1", 1); // moves the environment array
    EXPECT_EQ(offsetHours(), 9);
    unsetenv("ZEZUVUR_TEST_UNRELATED");
    unsetenv("TZ");
    UseZone("Europe/Berlin");
    EXPECT_EQ(offsetHours(), 1);
    static char edited[] = "TZ=Asia/Tokyo";
    putenv(edited);
    EXPECT_EQ(offsetHours(), 9);
    std::strcpy(edited, "TZ=UTC");
    EXPECT_EQ(offsetHours(), 0);
    UseZone("UTC"); // the environment no longer points at the buffer
}

TEST_F(TimeZoneTest, LocalTimeOutsideTheStampRangeFails) {
    win::FILETIME local;
    UseZone("America/New_York");
    const win::FILETIME earliest = Stamp(0);
    EXPECT_EQ(win::FileTimeToLocalFileTime(&earliest, &local), win::FALSE);
    UseZone("Asia/Tokyo");
    const win::FILETIME latest = Stamp(UINT64_MAX);
    EXPECT_EQ(win::FileTimeToLocalFileTime(&latest, &local), win::FALSE);
    EXPECT_EQ(win::FileTimeToLocalFileTime(nullptr, &local), win::FALSE);
}

TEST(SystemTime, FieldsOfKnownStamps) {
    struct Case {
        std::uint64_t ticks;
        win::SYSTEMTIME expected; // year, month, day of week, day, hour, minute, second, ms
    };
    const Case cases[] = {
        {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
        {133'536'879'301'230'000, {2024, 2, 4, 29, 13, 45, 30, 123}},
        {TicksOfUnixTime(0), {1970, 1, 4, 1, 0, 0, 0, 0}},
        {0x24C85A5ED1C018F0, {9999, 12, 5, 31, 23, 59, 59, 999}},
        {9'223'149'887'999'990'000, {30827, 12, 5, 31, 23, 59, 59, 999}},
    };
    for (const Case& c : cases) {
        const win::FILETIME time = Stamp(c.ticks);
        win::SYSTEMTIME fields;
        ASSERT_EQ(win::FileTimeToSystemTime(&time, &fields), win::TRUE) << c.ticks;
        const win::SYSTEMTIME& e = c.expected;
        EXPECT_EQ(fields.wYear, e.wYear) << c.ticks;
        EXPECT_EQ(fields.wMonth, e.wMonth) << c.ticks;
        EXPECT_EQ(fields.wDayOfWeek, e.wDayOfWeek) << c.ticks;
        EXPECT_EQ(fields.wDay, e.wDay) << c.ticks;
        EXPECT_EQ(fields.wHour, e.wHour) << c.ticks;
        EXPECT_EQ(fields.wMinute, e.wMinute) << c.ticks;
        EXPECT_EQ(fields.wSecond, e.wSecond) << c.ticks;
        EXPECT_EQ(fields.wMilliseconds, e.wMilliseconds) << c.ticks;
    }
}

TEST(SystemTime, StampsPastYear30827Fail) {
    win::SYSTEMTIME fields;
    for (std::uint64_t ticks : {std::uint64_t{9'223'149'888'000'000'000}, std::uint64_t{INT64_MAX},
                                std::uint64_t{1} << 63, UINT64_MAX}) {
        const win::FILETIME time = Stamp(ticks);
        EXPECT_EQ(win::FileTimeToSystemTime(&time, &fields), win::FALSE) << ticks;
    }
}

TEST(TimeConversion, DosDateTimeBecomesFileTimeFieldByField) {
    using platform::FileTimeFromDosDateTime;
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
