#include "log/log_path.h"

#include <ctime>
#include <iterator>

namespace {

void ReplaceAll(std::wstring& text, std::wstring_view placeHolder, std::wstring_view value) {
  for (size_t at = text.find(placeHolder); at != std::wstring::npos; at = text.find(placeHolder, at + value.size())) {
    text.replace(at, placeHolder.size(), value);
  }
}

}  // namespace

std::wstring LogFileStamp() {
  const __time64_t now = ::_time64(nullptr);
  std::tm local{};
  if (::_localtime64_s(&local, &now) != 0) return std::wstring(14, L'0');
  local.tm_isdst = 0;
  const __time64_t asStandardTime = ::_mktime64(&local);
  std::tm shown{};
  if (asStandardTime == -1 || ::_gmtime64_s(&shown, &asStandardTime) != 0) return std::wstring(14, L'0');
  wchar_t stamp[32] = {};
  ::wcsftime(stamp, std::size(stamp), L"%Y%m%d%H%M%S", &shown);
  return stamp;
}

std::wstring ExpandLogPath(std::wstring_view path, std::wstring_view stamp, DWORD processId) {
  std::wstring expanded(path);
  ReplaceAll(expanded, L"%D", stamp);
  ReplaceAll(expanded, L"%P", std::to_wstring(processId));
  return expanded;
}

std::wstring ToLogFileName(std::wstring_view name) {
  std::wstring result(name);
  for (wchar_t& c : result) {
    if (c < L' ' || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) c = L'_';
  }
  return result;
}
