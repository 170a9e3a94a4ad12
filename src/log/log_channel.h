#pragma once
// One output file of the log. Channel 0 writes text lines, channel 1 binary
// records; a channel's type is its index. The owning log serialises all calls.

#include <cstdint>
#include <string>
#include <string_view>

#include "log/log_record.h"
#include "win/unique_handle.h"

inline constexpr int kLogTextChannel = 0;
inline constexpr int kLogRecordChannel = 1;
inline constexpr int kLogChannelCount = 2;

class LogChannel {
 public:
  explicit LogChannel(int type) : type_(type) {}

  // Opens (or creates) the file at its end. path has its place-holders expanded.
  bool Open(const std::wstring& path, bool scramble, uint8_t rotation, bool writeThrough);
  void Close() { file_.reset(); }
  bool IsOpen() const { return file_.valid(); }
  const std::wstring& path() const { return path_; }

  // Sets the open file's length to zero.
  void Truncate();

  // Writes one message: the text channel writes line and "\r\n" in one piece,
  // the record channel the record. Write errors are ignored: a message is
  // never retried.
  void Write(const LogRecord& record, std::wstring_view line, bool flush);

 private:
  int type_;
  std::wstring path_;
  win::UniqueFile file_;
  bool scramble_ = false;
  uint8_t rotation_ = 0;
};
