#pragma once
// Stopping running programs by image name.

#include <windows.h>

#include <string>

// Terminates every process whose image name is imageName (any case) and, when
// processId is not 0, whose id is processId. A process that can't be ended is
// tried again with a fresh list, up to 100 times. True when the last listing
// went through without a failure.
bool StopProcess(const std::wstring& imageName, DWORD processId, int attempt);
