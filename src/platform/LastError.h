#pragma once
// The calling thread's last error code, as the platform's calls leave it.

#include "WinTypes.h"

namespace win {

DWORD GetLastError();
void SetLastError(DWORD code);

} // namespace win
