// Stands in for the ad viewer REVoRuzure.exe, which the updater downloads into
// a product's cache folder and starts for an advertising campaign. It shows
// nothing: it appends its command line to a record and exits with the code the
// test asks for, so that the tests see how the updater started it.
// README.md beside this file describes the record and the exit code.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// What a record that cannot be written ends the run with, so that a test
// never mistakes a lost record for a run (ERROR_WRITE_FAULT).
constexpr DWORD kRecordFailed = 29;

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::wstring Environment(const wchar_t* name) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), size);
  value.resize(length < size ? length : 0);
  return value;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                          nullptr);
  }
  return out;
}

// One write per run with FILE_APPEND_DATA, so that the lines of several runs
// add up whole.
bool AppendRecord(const std::wstring& path, const std::wstring& commandLine) {
  HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::string line = ToUtf8(commandLine) + "\r\n";
  DWORD written = 0;
  const bool ok = ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
                  written == line.size();
  ::CloseHandle(file);
  return ok;
}

std::wstring RecordPath() {
  std::wstring path = Environment(L"VLRN_AD_VIEWER_RECORD");
  if (!path.empty()) return path;
  path = ModulePath();
  const size_t slash = path.find_last_of(L'\\');
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + L"ad-viewer-record.txt";
}

// VLRN_AD_VIEWER_EXIT as a decimal number up to 4294967295; 0 when unset or unreadable.
DWORD ChosenExitCode() {
  const std::wstring text = Environment(L"VLRN_AD_VIEWER_EXIT");
  if (text.empty()) return 0;
  wchar_t* end = nullptr;
  const unsigned long long value = std::wcstoull(text.c_str(), &end, 10);
  if (end == text.c_str() || *end != L'\0' || value > 0xFFFFFFFFull) return 0;
  return static_cast<DWORD>(value);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (!AppendRecord(RecordPath(), ::GetCommandLineW())) return static_cast<int>(kRecordFailed);
  return static_cast<int>(ChosenExitCode());
}
