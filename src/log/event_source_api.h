#pragma once
// The one system call of the log's event-log registration that tests replace:
// Wine accepts every event source, so a refused registration can't be
// provoked there for real.

#include <windows.h>

using RegisterEventSourceFunction = HANDLE(WINAPI*)(LPCWSTR server, LPCWSTR source);

// The function in use (RegisterEventSourceW unless replaced).
RegisterEventSourceFunction CurrentRegisterEventSource();
// Replaces it and returns the former one; null restores RegisterEventSourceW.
RegisterEventSourceFunction ReplaceRegisterEventSourceForTesting(RegisterEventSourceFunction function);
