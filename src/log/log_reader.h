#pragma once
// Reads record files written by the log's record channel back into entries.
// A damaged record can be skipped by resynchronising on the next record start;
// the reader then counts the bytes it skipped and can mark the place with a
// visible entry. No locks: a reader belongs to one thread at a time.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "log/log_entry.h"

// Results besides S_OK (an entry), S_FALSE (end of file) and the system's errors.
inline constexpr HRESULT kLogReadBadVersion = static_cast<HRESULT>(0x80040301);  // not a record start
inline constexpr HRESULT kLogReadCorrupt = static_cast<HRESULT>(0x80040302);     // short, inconsistent, over a limit
// Part of the file format's set of results; bit rotation can't fail, so this
// reader never returns it.
inline constexpr HRESULT kLogReadUnscrambleFailed = static_cast<HRESULT>(0x80040303);

// Options of ReadLogRecord(s).
inline constexpr DWORD kLogReadResynchronize = 0x1;
inline constexpr DWORD kLogReadMarkCorruption = 0x2;  // ReadLogRecords only
// Out flag of ReadLogRecord: a corrupt stretch came before the entry.
inline constexpr DWORD kLogReadFoundCorruption = 0x1;

// The marker entry that stands for a skipped stretch.
inline constexpr int32_t kLogCorruptMarkerCategory = 0x200000;
inline constexpr wchar_t kLogCorruptMarkerSource[] = L"LOG";
inline constexpr wchar_t kLogCorruptMarkerText[] =
    L"### <CORRUPT> #################################################################";

struct LogReader;
struct LogReaderDeleter {
  void operator()(LogReader* reader) const;
};
using LogReaderPtr = std::unique_ptr<LogReader, LogReaderDeleter>;

// Opens an existing record file for reading, shared with other readers only.
// E_POINTER without a path, E_INVALIDARG for an empty path or one longer than
// 260 characters, E_FAIL when the file can't be opened (missing, or open in a log).
HRESULT OpenLogReader(const wchar_t* path, bool scramble, uint8_t rotation, LogReaderPtr& reader);
// Closes the file and frees the reader; S_OK.
HRESULT CloseLogReader(LogReaderPtr& reader);
// Back to the start of the file; S_OK.
HRESULT RewindLogReader(LogReader& reader);

// S_OK with the next entry, S_FALSE at the end of the file, or an error.
// flags is set to kLogReadFoundCorruption when a corrupt record was met; with
// kLogReadResynchronize the reader then moves on to the next good record and
// adds the bytes it passed over to skippedBytes.
HRESULT ReadLogRecord(LogReader& reader, LogEntry& entry, DWORD& flags, DWORD options, uint64_t& skippedBytes);

// Reads up to count records (0: all) and appends them to entries (null:
// discarded), with a marker entry before each record that followed a corrupt
// stretch when kLogReadMarkCorruption is set. read receives the number of
// records. S_OK, S_FALSE when the file held no record at all, or an error.
HRESULT ReadLogRecords(LogReader& reader, size_t count, size_t& read, std::vector<LogEntry>* entries, DWORD options,
                       uint64_t& skippedBytes);

// Appends the entries' text lines to the file at path (opened like a log
// file, without place-holders). S_OK or E_FAIL.
HRESULT ExportLogText(const wchar_t* path, const std::vector<LogEntry>& entries);
