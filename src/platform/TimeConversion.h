#pragma once
// Time stamps: UTC to local time with the process's time zone, and into calendar fields.

#include "WinTypes.h"

namespace win {

// FALSE when the local time cannot be represented (before 1601 or past the FILETIME range).
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
// FALSE when the stamp is past the range of SYSTEMTIME (year 30827).
BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields);

} // namespace win
