#include "log/log_line.h"

#include <cwchar>
#include <iterator>

#include "logfront/log_level.h"

namespace {

constexpr int kStampColumnWidth = 20;

SYSTEMTIME ToLocalTime(const FILETIME& utc) {
  SYSTEMTIME universal{};
  SYSTEMTIME local{};
  if (!::FileTimeToSystemTime(&utc, &universal)) return local;
  // Today's time-zone rules for that moment, daylight saving included.
  if (!::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) return universal;
  return local;
}

}  // namespace

std::wstring FormatLogStamp(const FILETIME& utc) {
  const SYSTEMTIME t = ToLocalTime(utc);
  wchar_t stamp[64] = {};
  ::swprintf(stamp, std::size(stamp), L"%02u.%02u.%04u %02u:%02u:%02u:%03u", t.wDay, t.wMonth, t.wYear, t.wHour,
             t.wMinute, t.wSecond, t.wMilliseconds);
  return stamp;
}

std::wstring FormatLogHead(int level, std::wstring_view source) {
  std::wstring head = LogLevelCode(level);
  head += L": ";
  if (!source.empty()) {
    head += source;
    head += L':';
  }
  return head;
}

std::wstring FormatLogLine(int level, const FILETIME& utc, std::wstring_view source, std::wstring_view message) {
  std::wstring line = FormatLogStamp(utc);
  if (line.size() < kStampColumnWidth) line.resize(kStampColumnWidth, L' ');
  line += L' ';
  line += FormatLogHead(level, source);
  line += message;
  return line;
}
