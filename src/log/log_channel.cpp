#include "log/log_channel.h"

#include "log/log_file.h"
#include "log/log_line.h"
#include "log/log_record_format.h"
#include "logfront/log_bytes.h"

bool LogChannel::Open(const std::wstring& path, bool scramble, uint8_t rotation, bool writeThrough) {
  file_.reset();
  path_ = path;
  scramble_ = scramble;
  rotation_ = rotation;
  file_ = OpenLogFileForAppend(path, writeThrough);
  return file_.valid();
}

void LogChannel::Truncate() {
  if (!file_) return;
  LARGE_INTEGER zero{};
  if (::SetFilePointerEx(file_.get(), zero, nullptr, FILE_BEGIN)) ::SetEndOfFile(file_.get());
}

void LogChannel::Write(const LogRecord& record, std::wstring_view line, bool flush) {
  if (!file_) return;
  if (type_ == kLogTextChannel) {
    std::string bytes = ToLogBytes(line, kLogLineMaxBytes);
    bytes += "\r\n";
    WriteLogBytes(file_.get(), bytes, flush);
  } else {
    WriteLogBytes(file_.get(), EncodeLogRecord(record, scramble_, rotation_), flush);
  }
}
