#pragma once
// Time stamps: UTC to local time with the process's time zone, into calendar fields, and from
// the DOS date and time fields of a cache record. The calendar arithmetic of the program lives
// here.

#include "WinTypes.h"

#include <cstdint>

namespace win {

// FALSE when the local time cannot be represented (before 1601 or past the FILETIME range).
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
// FALSE when the stamp is past the range of SYSTEMTIME (year 30827).
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields);

} // namespace win

namespace platform {

// A DOS date (low word) and time (high word) as a FILETIME, field by field with no time-zone
// shift. Zero (no date) and invalid fields give a zero FILETIME.
win::FILETIME FileTimeFromDosDateTime(std::uint32_t dosDateTime);

} // namespace platform
