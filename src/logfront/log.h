#pragma once
// The log front: information, warning and error lines with the source "VLRN"
// in the process log, for every layer from the system operations up. The
// lines go to the log through LogFrontPrint, which the log defines
// (src/log/log_front.cpp), so that the log itself may rest on the system
// layer below it. Call as LogInfo(L"Copied %s (%d bytes)", path.c_str(), size):
// "%s" takes a const wchar_t*, "%S" a const char*, "%d", "%u", "%x" integers.
//
// At most six arguments (more does not compile), and a format with more than
// six conversions logs nothing ("%%" counts as one). Arguments keep their
// types, so a conversion that does not fit its argument is written as it
// stands instead of reading memory that was never passed (see log_format.h).

#include <array>
#include <span>

#include "logfront/log_format.h"
#include "logfront/log_level.h"

inline constexpr wchar_t kLogFrontSource[] = L"VLRN";
inline constexpr int kLogFrontMaxArguments = 6;

// The front's common path: the level test, the conversion count, then the
// process log's Print. Defined by the log.
void LogFrontPrint(int level, const wchar_t* format, std::span<const LogArg> args);

template <LogArgument... Args>
void LogAtLevel(int level, const wchar_t* format, Args... args) {
  static_assert(sizeof...(Args) <= kLogFrontMaxArguments, "the log front takes at most six arguments");
  const std::array<LogArg, sizeof...(Args)> list{MakeLogArg(args)...};
  LogFrontPrint(level, format, list);
}

template <LogArgument... Args>
void LogInfo(const wchar_t* format, Args... args) {
  LogAtLevel(kLogLevelInfo, format, args...);
}
template <LogArgument... Args>
void LogWarning(const wchar_t* format, Args... args) {
  LogAtLevel(kLogLevelWarning, format, args...);
}
template <LogArgument... Args>
void LogError(const wchar_t* format, Args... args) {
  LogAtLevel(kLogLevelError, format, args...);
}
