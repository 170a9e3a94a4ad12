#include "protocol/utc_time.h"

#include <windows.h>

namespace {

// The number of `count` digits at text[at], or -1.
int Digits(std::string_view text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

uint64_t Ticks(const FILETIME& time) { return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime; }

}  // namespace

std::optional<uint64_t> ParseUtcTime(std::string_view text) {
  // 0123456789012345678 9
  // YYYY-MM-DDTHH:MM:SS Z
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':' ||
      text[19] != 'Z') {
    return std::nullopt;
  }
  const int fields[] = {Digits(text, 0, 4),  Digits(text, 5, 2),  Digits(text, 8, 2),
                        Digits(text, 11, 2), Digits(text, 14, 2), Digits(text, 17, 2)};
  for (const int field : fields) {
    if (field < 0) return std::nullopt;
  }
  // Checked here: Wine's SystemTimeToFileTime takes a 29th of February in
  // any year.
  const int year = fields[0], month = fields[1], day = fields[2];
  if (year < 1601 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || fields[3] > 23 ||
      fields[4] > 59 || fields[5] > 59) {
    return std::nullopt;
  }
  SYSTEMTIME system{};
  system.wYear = static_cast<WORD>(fields[0]);
  system.wMonth = static_cast<WORD>(fields[1]);
  system.wDay = static_cast<WORD>(fields[2]);
  system.wHour = static_cast<WORD>(fields[3]);
  system.wMinute = static_cast<WORD>(fields[4]);
  system.wSecond = static_cast<WORD>(fields[5]);
  FILETIME file{};
  // The day of the week, which the text doesn't give, is not looked at.
  if (!::SystemTimeToFileTime(&system, &file)) return std::nullopt;
  return Ticks(file);
}

uint64_t UtcNow() {
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  return Ticks(now);
}
