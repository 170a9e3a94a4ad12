#pragma once
// Log files are opened for appending: write access, shared for reading only,
// opened when they exist and created when not, positioned at their end.

#include <string>
#include <string_view>

#include "win/path_limit.h"
#include "win/unique_handle.h"

// writeThrough adds FILE_FLAG_WRITE_THROUGH. An invalid handle on failure.
win::UniqueFile OpenLogFileForAppend(const std::wstring& path, bool writeThrough);

// Writes all bytes in one call, then flushes when asked; false on any failure.
bool WriteLogBytes(HANDLE file, std::string_view bytes, bool flush);
