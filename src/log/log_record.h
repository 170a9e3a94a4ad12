#pragma once
// What every message becomes before the log's channels write it.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Text limits of a record, in characters without the terminator. A record file
// stores at most 19 source bytes and 4,095 message or extra bytes per text.
inline constexpr size_t kLogSourceChars = 19;
inline constexpr size_t kLogMessageChars = 4095;

struct LogRecord {
  int32_t category = 0;  // caller-given; 0 for everything the updater logs
  int32_t level = 0;
  FILETIME time{};  // UTC
  std::wstring source;
  std::wstring message;
  std::wstring extra;  // always empty when the log writes
};
