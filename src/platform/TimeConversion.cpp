#include "TimeConversion.h"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

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

// Notices a change of the TZ variable. getenv on every stamp would cost more than the rest of
// the conversion, so the environment array is first checked for being untouched since the last
// look: the same array, the same TZ entry with the same text (or still no TZ entry and no entry
// added). Anything else leads to a full look, which reports a change only when the value
// itself changed.
class TimeZoneVariable {
public:
    bool Changed() {
        if (looked_ && EnvironmentUntouched())
            return false;
        return LookAgain();
    }

private:
    bool EnvironmentUntouched() const {
        char** const entries = environ;
        if (entries != entries_ || entries == nullptr)
            return false;
        if (index_ >= 0)
            return entries[index_] == entry_ &&
                   std::memcmp(entry_, entryText_.data(), entryText_.size() + 1) == 0;
        return entries[count_] == nullptr && (count_ == 0 || entries[count_ - 1] == last_);
    }

    bool LookAgain() {
        char** const entries = environ;
        std::ptrdiff_t index = -1;
        std::ptrdiff_t count = 0;
        for (; entries != nullptr && entries[count] != nullptr; ++count)
            if (index < 0 && std::strncmp(entries[count], "TZ=", 3) == 0)
                index = count;
        const bool present = index >= 0;
        const std::string text = present ? entries[index] : "";
        const bool changed = !looked_ || present != (index_ >= 0) || text != entryText_;
        looked_ = true;
        entries_ = entries;
        index_ = index;
        count_ = count;
        entry_ = present ? entries[index] : nullptr;
        last_ = count > 0 ? entries[count - 1] : nullptr;
        entryText_ = text;
        return changed;
    }

    bool looked_ = false;
    char** entries_ = nullptr;
    std::ptrdiff_t index_ = -1;
    std::ptrdiff_t count_ = 0;
    const char* entry_ = nullptr;
    const char* last_ = nullptr;
    std::string entryText_;
};

// The local time's offset from UTC, in seconds, at a UTC instant.
//
// A cache holds four stamps per entry and may hold a million entries, so asking the C library
// for every stamp is too slow. Zones change their offset rarely (the closest two changes of any
// zone in the time-zone database are days apart), so the offset is remembered per UTC day: a
// day whose first and last second have the same offset has it all day long. On the few days
// with a change, each stamp is looked up on its own. Days rather than shorter spans keep the
// memo small enough to hit for stamps spread over many years.
class LocalOffsets {
public:
    std::optional<long> At(std::int64_t unixSeconds) {
        FollowTimeZoneChanges();
        const std::int64_t day = FloorDiv(unixSeconds, kSecondsPerDay);
        Slot& slot = slots_[static_cast<std::size_t>(day) & (kSlotCount - 1)];
        if (!slot.filled || slot.day != day)
            slot = Fill(day);
        if (slot.uniform)
            return slot.offset;
        return Lookup(unixSeconds);
    }

private:
    // Direct-mapped by day: over 22 years of distinct days before two days share a slot.
    static constexpr std::size_t kSlotCount = 8192;

    struct Slot {
        std::int64_t day = 0;
        std::int32_t offset = 0;
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

    static Slot Fill(std::int64_t day) {
        Slot slot;
        slot.day = day;
        slot.filled = true;
        const std::optional<long> first = Lookup(day * kSecondsPerDay);
        const std::optional<long> last = Lookup(day * kSecondsPerDay + kSecondsPerDay - 1);
        slot.uniform = first && last && *first == *last;
        slot.offset = static_cast<std::int32_t>(first.value_or(0));
        return slot;
    }

    // localtime_r reads TZ only once, so a change of TZ needs tzset and a fresh memo.
    void FollowTimeZoneChanges() {
        if (!zone_.Changed())
            return;
        tzset();
        slots_.assign(kSlotCount, Slot());
    }

    TimeZoneVariable zone_;
    std::vector<Slot> slots_;
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

// Days since 1 January 1970 of a proleptic Gregorian date; the inverse of CivilFromDays.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    // Shifting the year to start in March puts the leap day last.
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = FloorDiv(year, 400);
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
    const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + dayOfEra - 719'468;
}

bool IsValidDate(std::int64_t year, unsigned month, unsigned day) {
    static constexpr unsigned kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Days since 1601 of every DOS date word, or -1 for a word that is no date; built once, since
// every cache entry converts two of them.
const std::vector<std::int32_t>& DayOfDosDate() {
    static const std::vector<std::int32_t> table = [] {
        std::vector<std::int32_t> days(0x10000, -1);
        for (unsigned date = 0; date < days.size(); ++date) {
            const std::int64_t year = 1980 + (date >> 9);
            const unsigned month = (date >> 5) & 0x0F;
            const unsigned day = date & 0x1F;
            if (IsValidDate(year, month, day))
                days[date] = static_cast<std::int32_t>(DaysFromCivil(year, month, day) +
                                                       kDaysFrom1601To1970);
        }
        return days;
    }();
    return table;
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

namespace platform {

win::FILETIME FileTimeFromDosDateTime(std::uint32_t dosDateTime) {
    const std::int32_t days = DayOfDosDate()[dosDateTime & 0xFFFF];
    const unsigned time = dosDateTime >> 16;
    const unsigned hour = time >> 11;
    const unsigned minute = (time >> 5) & 0x3F;
    const unsigned second = (time & 0x1F) * 2;
    if (days < 0 || hour > 23 || minute > 59 || second > 59)
        return {};
    const std::uint64_t seconds =
        static_cast<std::uint64_t>(days) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return FromTicks(seconds * kTicksPerSecond);
}

} // namespace platform
