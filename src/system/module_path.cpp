#include "system/module_path.h"

#include <windows.h>

#include <vector>

#include "logfront/log.h"
#include "system/error_text.h"
#include "system/file_system.h"

namespace {

// The program's full path, or empty when the system gives none. A path that does
// not fit the buffer counts as none: cut, it would name another folder.
std::wstring RunningProgramPath() {
  std::vector<wchar_t> buffer(kMaxPathChars, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0) return {};
  if (length >= buffer.size()) {
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return {};
  }
  return std::wstring(buffer.data(), length);
}

}  // namespace

bool GetModulDirectory(std::wstring& folder) {
  const std::wstring path = RunningProgramPath();
  if (path.empty()) {
    const std::wstring reason = GetLastErrorText();
    LogError(L"GetModulDirectory failed: %s", reason.c_str());
    return false;
  }
  // A path without "\" leaves the folder empty apart from the separator.
  const size_t slash = path.rfind(L'\\');
  folder = (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash)) + L"\\";
  return true;
}

bool GetModuleName(std::wstring& name) {
  const std::wstring path = RunningProgramPath();
  if (path.empty()) {
    const std::wstring reason = GetLastErrorText();
    LogError(L"GetModuleFileName failed: %s", reason.c_str());
    return false;
  }
  const size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) {
    LogError(L"GetModuleFileName failed!");
    return false;
  }
  name = path.substr(slash + 1);
  return true;
}
