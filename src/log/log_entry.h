#pragma once
// What the record reader hands back for one record of a record file.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

struct LogEntry {
  uint32_t version = 0;
  int32_t category = 0;
  int32_t level = 0;
  FILETIME time{};  // UTC
  std::wstring source;
  std::wstring message;
  std::wstring extra;
};

// A zeroed entry.
std::unique_ptr<LogEntry> NewLogEntry();
// Frees the entry and leaves the pointer empty.
void FreeLogEntry(std::unique_ptr<LogEntry>& entry);
// Frees the entry's texts and zeroes it.
void ClearLogEntry(LogEntry& entry);

// The entry's text line, the same line the text channel writes for its message.
std::wstring FormatLogLine(const LogEntry& entry);
