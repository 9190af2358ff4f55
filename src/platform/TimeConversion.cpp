#include "TimeConversion.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kTicksPerMillisecond = 10'000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
constexpr std::int64_t kDaysFrom1601To1970 = 134'774;
constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr int kLastSystemTimeYear = 30827;

std::uint64_t ToTicks(const win::FILETIME& time) {
    return std::uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

win::FILETIME FromTicks(std::uint64_t ticks) {
    win::FILETIME time;
    time.dwLowDateTime = static_cast<win::DWORD>(ticks & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<win::DWORD>(ticks >> 32);
    return time;
}

std::int64_t FloorDiv(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

// The local time's offset from UTC, in seconds, at a UTC instant.
//
// A cache holds four stamps per entry and may hold a million entries, so asking the C library
// for every stamp is too slow. Offsets change only at zone transitions, which fall on quarter
// hours, so the offset is remembered per quarter-hour bucket. A bucket whose two ends disagree
// holds a transition; its stamps are looked up one by one.
class LocalOffsets {
public:
    std::optional<long> At(std::int64_t unixSeconds) {
        FollowTimeZoneChanges();
        const std::int64_t bucket = FloorDiv(unixSeconds, kBucketSeconds);
        Slot& slot = slots_[static_cast<std::size_t>(bucket) & (kSlotCount - 1)];
        if (!slot.filled || slot.bucket != bucket)
            slot = Fill(bucket);
        if (slot.uniform)
            return slot.offset;
        return Lookup(unixSeconds);
    }

private:
    static constexpr std::int64_t kBucketSeconds = 15 * 60;
    static constexpr std::size_t kSlotCount = 1024;

    struct Slot {
        std::int64_t bucket = 0;
        long offset = 0;
        bool filled = false;
        bool uniform = false;
    };

    static std::optional<long> Lookup(std::int64_t unixSeconds) {
        const std::time_t instant = static_cast<std::time_t>(unixSeconds);
        std::tm fields{};
        if (localtime_r(&instant, &fields) == nullptr)
            return std::nullopt;
        return fields.tm_gmtoff;
    }

    static Slot Fill(std::int64_t bucket) {
        Slot slot;
        slot.bucket = bucket;
        slot.filled = true;
        const std::optional<long> first = Lookup(bucket * kBucketSeconds);
        const std::optional<long> last = Lookup(bucket * kBucketSeconds + kBucketSeconds - 1);
        slot.uniform = first && last && *first == *last;
        slot.offset = first.value_or(0);
        return slot;
    }

    // localtime_r reads TZ only once, so a change of TZ needs tzset and a fresh memo.
    void FollowTimeZoneChanges() {
        const char* zone = std::getenv("TZ");
        const bool unchanged =
            zone == nullptr ? (followed_ && !zoneSet_) : (followed_ && zoneSet_ && zone_ == zone);
        if (unchanged)
            return;
        tzset();
        followed_ = true;
        zoneSet_ = zone != nullptr;
        zone_ = zone != nullptr ? zone : "";
        slots_.fill(Slot());
    }

    std::array<Slot, kSlotCount> slots_{};
    bool followed_ = false;
    bool zoneSet_ = false;
    std::string zone_;
};

LocalOffsets& Offsets() {
    thread_local LocalOffsets offsets;
    return offsets;
}

struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};

// Proleptic Gregorian date of a count of days since 1 January 1970.
CivilDate CivilFromDays(std::int64_t days) {
    days += 719'468;
    const std::int64_t era = FloorDiv(days, 146'097);
    const std::int64_t dayOfEra = days - era * 146'097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const auto day = static_cast<unsigned>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    const auto month =
        static_cast<unsigned>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

} // namespace

namespace win {

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
    if (utc == nullptr || local == nullptr)
        return FALSE;
    const std::uint64_t ticks = ToTicks(*utc);
    const auto unixSeconds =
        static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
    const std::optional<long> offset = Offsets().At(unixSeconds);
    if (!offset)
        return FALSE;
    const std::uint64_t shift =
        static_cast<std::uint64_t>(*offset < 0 ? -*offset : *offset) * kTicksPerSecond;
    if (*offset < 0 && ticks < shift)
        return FALSE;
    if (*offset > 0 && ticks > UINT64_MAX - shift)
        return FALSE;
    *local = FromTicks(*offset < 0 ? ticks - shift : ticks + shift);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields) {
    if (time == nullptr || fields == nullptr)
        return FALSE;
    const std::uint64_t ticks = ToTicks(*time);
    if (ticks >> 63 != 0)
        return FALSE;
    const std::uint64_t milliseconds = ticks / kTicksPerMillisecond;
    const auto seconds = static_cast<std::int64_t>(milliseconds / 1000);
    const std::int64_t days = seconds / kSecondsPerDay;
    const std::int64_t secondOfDay = seconds % kSecondsPerDay;
    const CivilDate date = CivilFromDays(days - kDaysFrom1601To1970);
    if (date.year > kLastSystemTimeYear)
        return FALSE;
    fields->wYear = static_cast<WORD>(date.year);
    fields->wMonth = static_cast<WORD>(date.month);
    fields->wDay = static_cast<WORD>(date.day);
    // 1 January 1601 was a Monday; Sunday is 0.
    fields->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
    fields->wHour = static_cast<WORD>(secondOfDay / 3600);
    fields->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
    fields->wSecond = static_cast<WORD>(secondOfDay % 60);
    fields->wMilliseconds = static_cast<WORD>(milliseconds % 1000);
    return TRUE;
}

} // namespace win
