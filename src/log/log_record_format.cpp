#include "log/log_record_format.h"

#include "logfront/log_bytes.h"

namespace {

void AppendUint32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void AppendUint64(std::string& out, uint64_t value) {
  for (int shift = 0; shift < 64; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::string StoredText(const std::wstring& text, uint32_t maxBytes, bool scramble, uint8_t rotation) {
  if (!scramble) return ToLogBytes(text, maxBytes);
  std::string bytes = ToLogBytes(text, maxBytes - 1);
  bytes.push_back('\0');
  for (char& b : bytes) b = static_cast<char>(RotateByteLeft(static_cast<uint8_t>(b), rotation));
  return bytes;
}

}  // namespace

std::string EncodeLogRecord(const LogRecord& record, bool scramble, uint8_t rotation) {
  const std::string source = StoredText(record.source, kLogRecordMaxSourceBytes, scramble, rotation);
  const std::string message = StoredText(record.message, kLogRecordMaxTextBytes, scramble, rotation);
  const std::string extra = StoredText(record.extra, kLogRecordMaxTextBytes, scramble, rotation);
  const uint32_t total = kLogRecordFixedBytes + static_cast<uint32_t>(source.size() + message.size() + extra.size());
  const uint64_t time = (static_cast<uint64_t>(record.time.dwHighDateTime) << 32) | record.time.dwLowDateTime;

  std::string out;
  out.reserve(total);
  AppendUint32(out, kLogRecordVersion);
  AppendUint32(out, static_cast<uint32_t>(record.category));
  AppendUint32(out, total);
  AppendUint32(out, kLogRecordLevelBytes);
  AppendUint32(out, static_cast<uint32_t>(record.level));
  AppendUint32(out, kLogRecordTimeBytes);
  AppendUint64(out, time);
  AppendUint32(out, static_cast<uint32_t>(source.size()));
  out += source;
  AppendUint32(out, static_cast<uint32_t>(message.size()));
  out += message;
  AppendUint32(out, static_cast<uint32_t>(extra.size()));
  out += extra;
  return out;
}
