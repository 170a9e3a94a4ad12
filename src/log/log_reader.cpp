#include "log/log_reader.h"

#include <string>
#include <string_view>

#include "log/log_file.h"
#include "log/log_file_cursor.h"
#include "log/log_line.h"
#include "log/log_record_format.h"
#include "logfront/log_bytes.h"
#include "logfront/log_level.h"
#include "win/unique_handle.h"

struct LogReader {
  win::UniqueFile file;
  LogFileCursor cursor;
  bool scramble = false;
  uint8_t rotation = 0;

  explicit LogReader(win::UniqueFile opened) : file(std::move(opened)), cursor(file.get()) {}
};

namespace {

// One record as stored; texts still single-byte.
struct RawRecord {
  uint32_t version = 0;
  uint32_t category = 0;
  uint32_t level = 0;
  uint64_t time = 0;
  std::string source;
  std::string message;
  std::string extra;
};

class RecordParser {
 public:
  explicit RecordParser(LogFileCursor& cursor) : cursor_(cursor), start_(cursor.position()) {}

  // S_OK, S_FALSE at the end of the file, kLogReadBadVersion or kLogReadCorrupt.
  // On failure the cursor stands where the attempt began.
  HRESULT Parse(RawRecord& record) {
    unsigned char first[4];
    const size_t got = cursor_.Read(first, sizeof(first));
    if (got == 0) return S_FALSE;
    if (got < sizeof(first)) return Fail(kLogReadCorrupt);
    record.version = Uint32(first);
    if (record.version != kLogRecordVersion) return Fail(kLogReadBadVersion);

    uint32_t total = 0;
    uint32_t levelLength = 0;
    uint32_t timeLength = 0;
    const bool ok = ReadUint32(record.category) && ReadUint32(total) && ReadUint32(levelLength) &&
                    levelLength == kLogRecordLevelBytes && ReadUint32(record.level) && ReadUint32(timeLength) &&
                    timeLength == kLogRecordTimeBytes && ReadUint64(record.time) &&
                    ReadText(record.source, kLogRecordMaxSourceBytes) &&
                    ReadText(record.message, kLogRecordMaxTextBytes) &&
                    ReadText(record.extra, kLogRecordMaxTextBytes) && cursor_.position() - start_ == total;
    return ok ? S_OK : Fail(kLogReadCorrupt);
  }

 private:
  static uint32_t Uint32(const unsigned char* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  }

  bool ReadUint32(uint32_t& value) {
    unsigned char bytes[4];
    if (cursor_.Read(bytes, sizeof(bytes)) != sizeof(bytes)) return false;
    value = Uint32(bytes);
    return true;
  }

  bool ReadUint64(uint64_t& value) {
    uint32_t low = 0;
    uint32_t high = 0;
    if (!ReadUint32(low) || !ReadUint32(high)) return false;
    value = (static_cast<uint64_t>(high) << 32) | low;
    return true;
  }

  // The length is checked before anything is allocated, so a record claiming
  // gigabytes costs nothing.
  bool ReadText(std::string& text, uint32_t maxBytes) {
    uint32_t length = 0;
    if (!ReadUint32(length) || length > maxBytes) return false;
    text.resize(length);
    return cursor_.Read(text.data(), length) == length;
  }

  HRESULT Fail(HRESULT result) {
    cursor_.Seek(start_);
    return result;
  }

  LogFileCursor& cursor_;
  const uint64_t start_;
};

bool StartsWithVersion(const unsigned char* bytes) {
  return bytes[0] == (kLogRecordVersion & 0xFF) && bytes[1] == ((kLogRecordVersion >> 8) & 0xFF) &&
         bytes[2] == ((kLogRecordVersion >> 16) & 0xFF) && bytes[3] == ((kLogRecordVersion >> 24) & 0xFF);
}

// Moves byte by byte until a record parses, counting every byte passed over.
// S_OK with the record, S_FALSE at the end of the file, or another error.
HRESULT Resynchronize(LogFileCursor& cursor, RawRecord& record, uint64_t& skippedBytes) {
  for (;;) {
    const uint64_t at = cursor.position();
    unsigned char bytes[4];
    const size_t got = cursor.Read(bytes, sizeof(bytes));
    if (got < sizeof(bytes)) {
      skippedBytes += got;  // the last few bytes were passed over as well
      return S_FALSE;
    }
    cursor.Seek(at);
    if (StartsWithVersion(bytes)) {
      const HRESULT result = RecordParser(cursor).Parse(record);
      if (result != kLogReadCorrupt) return result;
    }
    cursor.Seek(at + 1);
    ++skippedBytes;
  }
}

void Unscramble(std::string& text, uint8_t rotation) {
  for (char& b : text) b = static_cast<char>(RotateByteRight(static_cast<uint8_t>(b), rotation));
}

// Text up to its first zero byte: scrambled texts carry their terminator.
std::wstring ToEntryText(const std::string& bytes) { return FromLogBytes(std::string_view(bytes.c_str())); }

void FillEntry(const RawRecord& record, LogEntry& entry) {
  entry.version = record.version;
  entry.category = static_cast<int32_t>(record.category);
  entry.level = static_cast<int32_t>(record.level);
  entry.time.dwLowDateTime = static_cast<DWORD>(record.time & 0xFFFFFFFF);
  entry.time.dwHighDateTime = static_cast<DWORD>(record.time >> 32);
  entry.source = ToEntryText(record.source);
  entry.message = ToEntryText(record.message);
  entry.extra = ToEntryText(record.extra);
}

// Stamped with the time of the record that follows the damage.
LogEntry CorruptMarker(const LogEntry& next) {
  LogEntry marker;
  marker.version = kLogRecordVersion;
  marker.category = kLogCorruptMarkerCategory;
  marker.level = kLogLevelAlways;
  marker.time = next.time;
  marker.source = kLogCorruptMarkerSource;
  marker.message = kLogCorruptMarkerText;
  return marker;
}

}  // namespace

HRESULT OpenLogReader(const wchar_t* path, bool scramble, uint8_t rotation, LogReaderPtr& reader) {
  reader.reset();
  if (path == nullptr) return E_POINTER;
  const std::wstring name(path, ::wcsnlen(path, kMaxPathChars + 1));
  if (name.empty() || name.size() > kMaxPathChars) return E_INVALIDARG;
  // Shared for reading only: a file that a log still writes can't be opened,
  // and no log opens one while it is being read.
  win::UniqueFile file(::CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return E_FAIL;
  reader.reset(new LogReader(std::move(file)));
  reader->scramble = scramble;
  reader->rotation = rotation;
  return S_OK;
}

void LogReaderDeleter::operator()(LogReader* reader) const { delete reader; }

HRESULT CloseLogReader(LogReaderPtr& reader) {
  reader.reset();
  return S_OK;
}

HRESULT RewindLogReader(LogReader& reader) {
  reader.cursor.Seek(0);
  return S_OK;
}

HRESULT ReadLogRecord(LogReader& reader, LogEntry& entry, DWORD& flags, DWORD options, uint64_t& skippedBytes) {
  flags = 0;
  RawRecord record;
  HRESULT result = RecordParser(reader.cursor).Parse(record);
  if (result == kLogReadCorrupt) {
    flags |= kLogReadFoundCorruption;
    if ((options & kLogReadResynchronize) == 0) return result;
    result = Resynchronize(reader.cursor, record, skippedBytes);
  }
  if (result != S_OK) return result;
  if (reader.scramble) {
    Unscramble(record.source, reader.rotation);
    Unscramble(record.message, reader.rotation);
    Unscramble(record.extra, reader.rotation);
  }
  FillEntry(record, entry);
  return S_OK;
}

HRESULT ReadLogRecords(LogReader& reader, size_t count, size_t& read, std::vector<LogEntry>* entries, DWORD options,
                       uint64_t& skippedBytes) {
  read = 0;
  while (count == 0 || read < count) {
    LogEntry entry;
    DWORD flags = 0;
    const HRESULT result = ReadLogRecord(reader, entry, flags, options, skippedBytes);
    if (result == S_FALSE) return read == 0 ? S_FALSE : S_OK;
    if (result != S_OK) return result;
    ++read;
    if (entries == nullptr) continue;
    if ((flags & kLogReadFoundCorruption) != 0 && (options & kLogReadMarkCorruption) != 0) {
      entries->push_back(CorruptMarker(entry));
    }
    entries->push_back(std::move(entry));
  }
  return S_OK;
}

HRESULT ExportLogText(const wchar_t* path, const std::vector<LogEntry>& entries) {
  if (path == nullptr) return E_FAIL;
  win::UniqueFile file = OpenLogFileForAppend(std::wstring(path, ::wcsnlen(path, kMaxPathChars + 1)), false);
  if (!file) return E_FAIL;
  for (const LogEntry& entry : entries) {
    std::string bytes = ToLogBytes(FormatLogLine(entry), kLogLineMaxBytes);
    bytes += "\r\n";
    if (!WriteLogBytes(file.get(), bytes, false)) return E_FAIL;
  }
  return ::FlushFileBuffers(file.get()) ? S_OK : E_FAIL;
}
