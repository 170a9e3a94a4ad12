#pragma once
// The true operating-system version, not the one Windows shows programs
// without a compatibility manifest.

#include <windows.h>

// Fills info (size field 284) from ntdll's RtlGetVersion, looked up at run
// time. Returns 0 on success, otherwise the loader's failure status.
LONG GetOsVersion(OSVERSIONINFOEXW& info);
