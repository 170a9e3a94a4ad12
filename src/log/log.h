#pragma once
// The log front: information, warning and error lines with the source "VLRN".
// Call as LogInfo(L"Copied %s (%d bytes)", path.c_str(), size): "%s" takes a
// const wchar_t*, "%d", "%u", "%x" take integers.
//
// Interim front until the log component lands: formats and hands the line to
// the debugger output only.

#include <windows.h>

#include "win/strings.h"

template <typename... Args>
void LogInfo(const wchar_t* format, const Args&... args) {
  ::OutputDebugStringW(win::FormatW(format, args...).c_str());
}
template <typename... Args>
void LogWarning(const wchar_t* format, const Args&... args) {
  ::OutputDebugStringW(win::FormatW(format, args...).c_str());
}
template <typename... Args>
void LogError(const wchar_t* format, const Args&... args) {
  ::OutputDebugStringW(win::FormatW(format, args...).c_str());
}
