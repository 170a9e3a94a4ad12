#include "log/log_entry.h"

#include "log/log_line.h"

std::unique_ptr<LogEntry> NewLogEntry() { return std::make_unique<LogEntry>(); }

void FreeLogEntry(std::unique_ptr<LogEntry>& entry) { entry.reset(); }

void ClearLogEntry(LogEntry& entry) { entry = LogEntry{}; }

std::wstring FormatLogLine(const LogEntry& entry) {
  return FormatLogLine(entry.level, entry.time, entry.source, entry.message);
}
